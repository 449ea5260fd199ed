// The "Screen Mirror" tab against emulated panels, the real registry and capture on a private X screen.
#include "PageTestBench.h"
#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "capture/GrabManager.h"
#include "core/SettingsManager.h"
#include "effects/EffectScaledImageWithBlur.h"
#include "effects/ScreenMapColorProvider.h"
#include "effects/ScreenMirrorPipeline.h"
#include "support/LogCapture.h"
#include "support/XvfbServer.h"
#include "ui/DeviceListScreenMirrorPage.h"
#include "ui/ScreenMirrorDevicePage.h"
#include "ui/ScreenMirrorPreview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTabWidget>

namespace {
const QString kMirror = QStringLiteral("screen_mirror");
using Procs = QList<QWeakPointer<FrameProcessorBase>>;

QVariantMap mirrorRecord(const QVariantMap& screenMirror, bool streaming = false,
                         const QString& source = QStringLiteral("mirror"))
{
    return {{QStringLiteral("stream_enabled"), streaming},
            {QStringLiteral("stream_source"), source},
            {kMirror, screenMirror}};
}

// The processors the pipeline holds now.
Procs processorsOf(const ScreenMirrorPipeline& p)
{
    Procs procs;
    if (auto* blur = qobject_cast<EffectScaledImageWithBlur*>(p.generator().data()))
        procs << QSharedPointer<FrameProcessorBase>(blur->processor()).toWeakRef();
    if (p.colorSource())
        procs << QSharedPointer<FrameProcessorBase>(p.colorSource()->processor()).toWeakRef();
    return procs;
}
} // namespace

class TestScreenMirrorPage : public QObject
{
    Q_OBJECT
private:
    XvfbServer m_server;
    PageTestBench m_bench{72};
    std::unique_ptr<DeviceListScreenMirrorPage> m_page;
    EmulatedPanel* m_panel = nullptr;

    ScreenMirrorDevicePage* openWith(const QVariantMap& extra)
    {
        m_panel = m_bench.startPanel();
        if (!m_panel)
            return nullptr;
        m_bench.loadRegistry({PageTestBench::record(m_panel, 1, extra)});
        m_page = std::make_unique<DeviceListScreenMirrorPage>();
        PivotrixDeviceController* c = PageTestBench::controllerFor(m_panel);
        QTest::qWaitFor([&] { return m_page->pageForController(c) != nullptr; }, 10000);
        return qobject_cast<ScreenMirrorDevicePage*>(m_page->pageForController(c));
    }

    int stored(const QString& key) const
    {
        return PageTestBench::storedRecord(m_panel).value(kMirror).toMap().value(key, -1).toInt();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start(QSize(640, 480)));
        qputenv("DISPLAY", m_server.display());
        QVERIFY(m_bench.serveLogind());
    }

    void cleanup()
    {
        m_page.reset();
        m_bench.reset();
    }

    void placeholderWithoutDevices()
    {
        m_bench.loadRegistry({});
        m_page = std::make_unique<DeviceListScreenMirrorPage>();
        QVERIFY(!m_page->previewPage()->isHidden() && m_page->tabWidget()->isHidden());
    }

    // The stored choices are shown without being written back; choosing one again saves nothing.
    void settingsSlots_data()
    {
        QTest::addColumn<QString>("combo");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<int>("saved"); // -1: nothing saved, the message is written
        QTest::addColumn<QString>("message");
        const QVariantMap s{{QStringLiteral("effect_mode"), 2},
                            {QStringLiteral("device_location"), 3},
                            {QStringLiteral("effect_type"), 1},
                            {QStringLiteral("color_mode"), 0}};
        const auto row = [](const char* name, const char* combo, const char* key, const QVariantMap& stored,
                            int shown, int chosen, int saved, const char* message) {
            QTest::newRow(name) << QString::fromLatin1(combo) << QString::fromLatin1(key) << stored << shown
                                << chosen << saved << QString::fromLatin1(message);
        };
        row("same mode", "modeSelector", "effect_mode", s, 2, 2, -1, "same mode");
        row("new mode", "modeSelector", "effect_mode", s, 2, 1, 1, "");
        row("new location", "prismLocation", "device_location", s, 3, 7, 7, "");
        // Colour modes are listed Natural first.
        row("same colours", "colorModeComboBox", "color_mode", s, 1, 1, -1, "same mode");
        row("natural colours", "colorModeComboBox", "color_mode", s, 1, 0, 1, "");
        // Nothing stored: the page shows "Fading Triangles", and "No Effect" must still be saved.
        row("no effect over a missing key", "effectSelect", "effect_type", {}, 2, 0, 0, "");
    }
    void settingsSlots()
    {
        QFETCH(QString, combo);
        QFETCH(QString, key);
        QFETCH(QVariantMap, stored);
        QFETCH(int, shown);
        QFETCH(int, chosen);
        QFETCH(int, saved);
        QFETCH(QString, message);
        ScreenMirrorDevicePage* page = openWith(mirrorRecord(stored));
        QVERIFY(page);
        auto* box = page->findChild<QComboBox*>(combo);
        QCOMPARE(box->currentIndex(), shown);

        LogCapture log;
        QSignalSpy saves(ResourceManager::instance()->settingsManager(), &SettingsManager::settingsChanged);
        box->setCurrentIndex(chosen);
        if (chosen == shown) // The combo stays quiet when nothing changes; the user picks the entry again.
            QMetaObject::invokeMethod(box, "currentIndexChanged", Q_ARG(int, chosen));
        if (saved < 0) {
            QCOMPARE(log.count(message), 1);
            QCOMPARE(saves.count(), 0);
        } else {
            QTRY_COMPARE(this->stored(key), saved);
            const int count = saves.count();
            QTest::qWait(100); // The refresh shows the choice again without saving it again.
            QCOMPARE(saves.count(), count);
            QCOMPARE(box->currentIndex(), chosen);
        }
        // The location row belongs to "Continue Screen" only.
        QCOMPARE(!page->prismLocation()->isHidden(), page->modeSelector()->currentIndex() == ContinueScreen);
        QCOMPARE(page->locationLabel()->isHidden(), page->prismLocation()->isHidden());
    }

    void monitorCountChangeStoresTheFirstMonitor()
    {
        // Streaming, so that the capture worker is busy and follows the layout.
        ScreenMirrorDevicePage* page = openWith(mirrorRecord({}, true));
        QVERIFY(page);
        QTRY_COMPARE_WITH_TIMEOUT(page->monitorSelect()->count(), 1, 10000);
        QVERIFY(m_server.xrandr({QStringLiteral("--setmonitor"), QStringLiteral("second"),
                                 QStringLiteral("320/80x240/60+320+240"), QStringLiteral("none")}));
        QTRY_COMPARE_WITH_TIMEOUT(page->monitorSelect()->count(), 2, 10000);
        page->monitorSelect()->setCurrentIndex(1);
        QTRY_COMPARE(stored(QStringLiteral("monitor_idx")), 1);
        QVERIFY(m_server.xrandr({QStringLiteral("--delmonitor"), QStringLiteral("second")}));
        QTRY_COMPARE_WITH_TIMEOUT(page->monitorSelect()->count(), 1, 10000);
        QTRY_COMPARE(stored(QStringLiteral("monitor_idx")), 0);
    }

    // Capture going away switches off what this tab streams, nothing that another tab drives.
    void captureLossStopsOnlyMirrorStreams_data()
    {
        QTest::addColumn<QString>("source");
        QTest::newRow("mirror") << "mirror";
        QTest::newRow("razer") << "razer";
    }
    void captureLossStopsOnlyMirrorStreams()
    {
        QFETCH(QString, source);
        const bool mine = source == QLatin1String("mirror");
        ScreenMirrorDevicePage* page = openWith(mirrorRecord({}, true, source));
        QVERIFY(page);
        PivotrixDeviceController* device = PageTestBench::controllerFor(m_panel);
        device->startStream();
        QTRY_VERIFY_WITH_TIMEOUT(device->isStreaming(), 10000);
        QCOMPARE(page->streamToggle()->isChecked(), mine);
        emit ResourceManager::instance()->grabManager()->userDisabledGrab();
        QTRY_COMPARE_WITH_TIMEOUT(!PageTestBench::receiving(m_panel), mine, 10000);
        QCOMPARE(PageTestBench::storedRecord(m_panel).value(QStringLiteral("stream_enabled")).toBool(),
                 !mine);
        QVERIFY(!page->streamToggle()->isChecked() && !m_page->pipeline(page)->generator());
    }

    // Switching colours and modes back and forth leaves only the current pipeline's processors on the
    // capture worker, which holds the last reference to the others.
    void onlyCurrentProcessorsStayRegistered()
    {
        ScreenMirrorDevicePage* page = openWith(mirrorRecord({{QStringLiteral("effect_mode"), 1}}));
        QVERIFY(page);
        page->streamToggle()->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::receiving(m_panel), 10000);
        const ScreenMirrorPipeline& pipeline = *m_page->pipeline(page);
        Procs earlier;
        const QList<QPair<QComboBox*, int>> steps{{page->colorModeComboBox(), 0},
                                                  {page->colorModeComboBox(), 1},
                                                  {page->modeSelector(), ContinueScreen},
                                                  {page->modeSelector(), DominantSeason},
                                                  {page->modeSelector(), ScreenSeason}};
        for (const auto& step : steps) {
            const Procs before = processorsOf(pipeline);
            QCOMPARE(before.size(), 1);
            earlier += before;
            step.first->setCurrentIndex(step.second);
            QTRY_VERIFY(processorsOf(pipeline).size() == 1 &&
                        processorsOf(pipeline).first() != before.first());
            QTRY_VERIFY_WITH_TIMEOUT(
                std::all_of(earlier.cbegin(), earlier.cend(), [](auto& w) { return w.isNull(); }), 10000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::goodFrames(m_panel) > 0, 10000);
        page->streamToggle()->setChecked(false);
        QTRY_VERIFY_WITH_TIMEOUT(!PageTestBench::receiving(m_panel), 10000);
        QVERIFY(processorsOf(pipeline).isEmpty());
    }

    // The window and then the registry go while the panel streams the dominant colour: device threads
    // still read the colour source until their stop request returns.
    void quitWhileDominantSeasonStreams()
    {
        QVERIFY(openWith(mirrorRecord({{QStringLiteral("effect_mode"), 1}}, true)));
        QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::goodFrames(m_panel) > 3, 10000);
        m_page.reset();
        m_bench.reset();
        QTest::qWait(100);
    }
};

PAGE_TEST_MAIN(TestScreenMirrorPage)
#include "tst_screenmirrorpage.moc"
