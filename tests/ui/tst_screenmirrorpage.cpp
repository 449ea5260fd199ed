// The "Screen Mirror" tab against emulated panels, the real registry and capture on a private X screen.
#include "PageTestBench.h"
#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "capture/GrabManager.h"
#include "capture/XvfbServer.h"
#include "common/LogCapture.h"
#include "core/SettingsManager.h"
#include "effects/EffectScaledImageWithBlur.h"
#include "effects/ScreenMapColorProvider.h"
#include "effects/ScreenMirrorPipeline.h"
#include "ui/DeviceListScreenMirrorPage.h"
#include "ui/ScreenMirrorDevicePage.h"
#include "ui/ScreenMirrorPreview.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTabWidget>

namespace {
const QString kMirror = QStringLiteral("screen_mirror");

QVariantMap mirrorRecord(const QVariantMap& screenMirror, bool streaming = false,
                         const QString& source = QStringLiteral("mirror"))
{
    return {{QStringLiteral("stream_enabled"), streaming},
            {QStringLiteral("stream_source"), source},
            {kMirror, screenMirror}};
}
} // namespace

class TestScreenMirrorPage : public QObject
{
    Q_OBJECT
private:
    XvfbServer m_server;
    PageTestBench m_bench{72};
    std::unique_ptr<DeviceListScreenMirrorPage> m_page;

    ScreenMirrorDevicePage* pageFor(EmulatedPanel* panel)
    {
        PivotrixDeviceController* c = PageTestBench::controllerFor(panel);
        ScreenMirrorDevicePage* page = nullptr;
        QTest::qWaitFor(
            [&]() {
                page = c && m_page ? qobject_cast<ScreenMirrorDevicePage*>(m_page->pageForController(c))
                                   : nullptr;
                return page != nullptr;
            },
            10000);
        return page;
    }

    ScreenMirrorDevicePage* openWith(const QVariantMap& extra, EmulatedPanel** panelOut = nullptr)
    {
        EmulatedPanel* panel = m_bench.startPanel();
        if (!panel)
            return nullptr;
        m_bench.loadRegistry({PageTestBench::record(panel, 1, extra)});
        m_page = std::make_unique<DeviceListScreenMirrorPage>();
        if (panelOut)
            *panelOut = panel;
        return pageFor(panel);
    }

    static int storedInt(EmulatedPanel* panel, const QString& key)
    {
        return PageTestBench::storedRecord(panel).value(kMirror).toMap().value(key, -1).toInt();
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
        m_server.xrandr({QStringLiteral("--delmonitor"), QStringLiteral("second")});
    }

    void placeholderWithoutDevices()
    {
        m_bench.loadRegistry({});
        m_page = std::make_unique<DeviceListScreenMirrorPage>();
        QVERIFY(!m_page->previewPage()->isHidden());
        QVERIFY(m_page->tabWidget()->isHidden());
        auto* text = m_page->previewPage()->findChild<QLabel*>(QStringLiteral("label_2"));
        QVERIFY(text);
        QCOMPARE(text->text(), QStringLiteral("Pair your Pivotrix Device to enjoy"));
    }

    // The stored choices are shown without being written back; choosing them again saves nothing.
    void settingsSlots_data()
    {
        QTest::addColumn<QString>("combo");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<int>("shownIndex");
        QTest::addColumn<int>("chosenIndex");
        QTest::addColumn<int>("saved");
        QTest::addColumn<QString>("message");

        const QVariantMap stored{{QStringLiteral("monitor_idx"), 0},
                                 {QStringLiteral("effect_mode"), 2},
                                 {QStringLiteral("device_location"), 3},
                                 {QStringLiteral("effect_type"), 1},
                                 {QStringLiteral("color_mode"), 0}};
        QTest::newRow("same mode") << "modeSelector"
                                   << "effect_mode" << stored << 2 << 2 << -2 << "same mode";
        QTest::newRow("new mode") << "modeSelector"
                                  << "effect_mode" << stored << 2 << 1 << 1 << "";
        QTest::newRow("same location") << "prismLocation"
                                       << "device_location" << stored << 3 << 3 << -2 << "same mode";
        QTest::newRow("new location") << "prismLocation"
                                      << "device_location" << stored << 3 << 7 << 7 << "";
        QTest::newRow("same seasoning") << "effectSelect"
                                        << "effect_type" << stored << 1 << 1 << -2 << "same seasoning";
        QTest::newRow("new seasoning") << "effectSelect"
                                       << "effect_type" << stored << 1 << 0 << 0 << "";
        // Colour modes are listed Natural first.
        QTest::newRow("same colours") << "colorModeComboBox"
                                      << "color_mode" << stored << 1 << 1 << -2 << "same mode";
        QTest::newRow("natural colours") << "colorModeComboBox"
                                         << "color_mode" << stored << 1 << 0 << 1 << "";
        // Nothing stored yet: the page shows "Fading Triangles", and "No Effect" must still be saved.
        QTest::newRow("no effect over a missing key") << "effectSelect"
                                                      << "effect_type" << QVariantMap() << 2 << 0 << 0 << "";
    }

    void settingsSlots()
    {
        QFETCH(QString, combo);
        QFETCH(QString, key);
        QFETCH(QVariantMap, stored);
        QFETCH(int, shownIndex);
        QFETCH(int, chosenIndex);
        QFETCH(int, saved);
        QFETCH(QString, message);

        EmulatedPanel* panel = nullptr;
        ScreenMirrorDevicePage* page = openWith(mirrorRecord(stored), &panel);
        QVERIFY(page);
        auto* box = page->findChild<QComboBox*>(combo);
        QVERIFY(box);
        QCOMPARE(box->currentIndex(), shownIndex);

        LogCapture log;
        QSignalSpy saves(ResourceManager::instance()->settingsManager(), &SettingsManager::settingsChanged);
        box->setCurrentIndex(chosenIndex);
        if (chosenIndex == shownIndex) // The combo itself stays quiet; the user picks the same entry.
            QMetaObject::invokeMethod(box, "currentIndexChanged", Q_ARG(int, chosenIndex));
        if (saved == -2) {
            QCOMPARE(log.count(message), 1);
            QCOMPARE(saves.count(), 0);
            QCOMPARE(storedInt(panel, key), stored.value(key, -1).toInt());
        } else {
            QTRY_COMPARE(storedInt(panel, key), saved);
            QVERIFY(saves.count() >= 1);
            // The refresh puts the same choice back on the page without saving again.
            const int count = saves.count();
            QTest::qWait(100);
            QCOMPARE(saves.count(), count);
            QCOMPARE(box->currentIndex(), chosenIndex);
        }
    }

    void locationRowOnlyForContinueScreen_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("shown");
        QTest::newRow("screen season") << int(ScreenSeason) << false;
        QTest::newRow("dominant season") << int(DominantSeason) << false;
        QTest::newRow("continue screen") << int(ContinueScreen) << true;
    }

    void locationRowOnlyForContinueScreen()
    {
        QFETCH(int, mode);
        QFETCH(bool, shown);
        ScreenMirrorDevicePage* page =
            openWith(mirrorRecord({{QStringLiteral("effect_mode"), 1 - qMin(mode, 1)}}));
        QVERIFY(page);
        page->modeSelector()->setCurrentIndex(mode);
        QCOMPARE(!page->prismLocation()->isHidden(), shown);
        QCOMPARE(!page->locationLabel()->isHidden(), shown);
    }

    void monitorCountChangeStoresTheFirstMonitor()
    {
        EmulatedPanel* panel = nullptr;
        // Streaming, so that the capture worker is busy and follows the layout.
        ScreenMirrorDevicePage* page =
            openWith(mirrorRecord({{QStringLiteral("monitor_idx"), 0}}, true), &panel);
        QVERIFY(page);
        QTRY_COMPARE_WITH_TIMEOUT(page->monitorSelect()->count(), 1, 10000);
        QVERIFY(m_server.xrandr({QStringLiteral("--setmonitor"), QStringLiteral("second"),
                                 QStringLiteral("320/80x240/60+320+240"), QStringLiteral("none")}));
        QTRY_COMPARE_WITH_TIMEOUT(page->monitorSelect()->count(), 2, 10000);
        page->monitorSelect()->setCurrentIndex(1);
        QTRY_COMPARE(storedInt(panel, QStringLiteral("monitor_idx")), 1);

        QVERIFY(m_server.xrandr({QStringLiteral("--delmonitor"), QStringLiteral("second")}));
        QTRY_COMPARE_WITH_TIMEOUT(page->monitorSelect()->count(), 1, 10000);
        QTRY_COMPARE(storedInt(panel, QStringLiteral("monitor_idx")), 0);
        QCOMPARE(page->monitorSelect()->currentIndex(), 0);
    }

    // Capture going away switches off what this tab streams, nothing that another tab drives.
    void captureLossStopsOnlyMirrorStreams_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("stopped");
        QTest::newRow("mirror") << "mirror" << true;
        QTest::newRow("razer") << "razer" << false;
    }

    void captureLossStopsOnlyMirrorStreams()
    {
        QFETCH(QString, source);
        QFETCH(bool, stopped);
        EmulatedPanel* panel = nullptr;
        ScreenMirrorDevicePage* page = openWith(mirrorRecord({}, true, source), &panel);
        QVERIFY(page);
        PivotrixDeviceController* c = PageTestBench::controllerFor(panel);
        c->startStream();
        QTRY_VERIFY_WITH_TIMEOUT(c->isStreaming(), 10000);
        QCOMPARE(page->streamToggle()->isChecked(), source == QLatin1String("mirror"));

        emit ResourceManager::instance()->grabManager()->userDisabledGrab();
        QTRY_COMPARE_WITH_TIMEOUT(!PageTestBench::receiving(panel), stopped, 10000);
        QCOMPARE(PageTestBench::storedRecord(panel).value(QStringLiteral("stream_enabled")).toBool(),
                 !stopped);
        QVERIFY(!page->streamToggle()->isChecked());
        QCOMPARE(m_page->pipeline(page)->generator().isNull(), true);
    }

    // The toggle builds the pipeline and streams; switching a mode back and forth keeps one pipeline's
    // processors on the capture worker.
    void toggleAndModeChangesKeepOnlyCurrentProcessors()
    {
        EmulatedPanel* panel = nullptr;
        ScreenMirrorDevicePage* page = openWith(mirrorRecord({{QStringLiteral("effect_mode"), 1}}), &panel);
        QVERIFY(page);
        QVERIFY(!m_page->pipeline(page)->generator());
        page->streamToggle()->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::receiving(panel), 10000);
        QTRY_VERIFY(m_page->pipeline(page)->colorSource());

        QList<QWeakPointer<FrameProcessorBase>> earlier;
        for (int colorIndex : {0, 1, 0}) {
            earlier << QSharedPointer<FrameProcessorBase>(m_page->pipeline(page)->colorSource()->processor())
                           .toWeakRef();
            page->colorModeComboBox()->setCurrentIndex(colorIndex);
            QTRY_VERIFY(
                m_page->pipeline(page)->colorSource() &&
                QSharedPointer<FrameProcessorBase>(m_page->pipeline(page)->colorSource()->processor()) !=
                    earlier.last().toStrongRef());
        }
        page->modeSelector()->setCurrentIndex(ScreenSeason);
        QTRY_VERIFY(qobject_cast<EffectScaledImageWithBlur*>(m_page->pipeline(page)->generator().data()));
        QVERIFY(!m_page->pipeline(page)->colorSource());
        earlier << QSharedPointer<FrameProcessorBase>(
                       qobject_cast<EffectScaledImageWithBlur*>(m_page->pipeline(page)->generator().data())
                           ->processor())
                       .toWeakRef();
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(earlier.cbegin(), earlier.cend() - 1,
                        [](const QWeakPointer<FrameProcessorBase>& w) { return w.isNull(); }),
            10000);
        QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::goodFrames(panel) > 0, 10000);

        page->streamToggle()->setChecked(false);
        QTRY_VERIFY_WITH_TIMEOUT(!PageTestBench::receiving(panel), 10000);
        QVERIFY(!m_page->pipeline(page)->generator() && !m_page->pipeline(page)->colorSource());
    }

    // The window and then the registry go while the panel streams the dominant colour: device threads
    // still read the colour source until their stop request returns.
    void quitWhileDominantSeasonStreams()
    {
        EmulatedPanel* panel = nullptr;
        QVERIFY(openWith(mirrorRecord({{QStringLiteral("effect_mode"), 1}}, true), &panel));
        QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::goodFrames(panel) > 3, 10000);
        m_page.reset();
        m_bench.reset();
        QTest::qWait(100);
    }
};

int main(int argc, char** argv)
{
    if (!PageTestBench::startBus()->isRunning()) {
        std::fprintf(stderr, "dbus-daemon did not start\n");
        return 1;
    }
    QApplication app(argc, argv);
    TestScreenMirrorPage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screenmirrorpage.moc"
