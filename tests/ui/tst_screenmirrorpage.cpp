// The "Screen Mirror" tab against emulated panels, the real registry and capture on a private X screen; and
// the application itself mirroring that screen onto a panel it has paired, locked and unlocked by a
// stand-in logind on a private bus.
#include "PageTestBench.h"
#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "capture/GrabManager.h"
#include "core/SettingsManager.h"
#include "effects/EffectScaledImageWithBlur.h"
#include "effects/ScreenMapColorProvider.h"
#include "effects/ScreenMirrorPipeline.h"
#include "support/AppHome.h"
#include "support/LogCapture.h"
#include "support/TestPictures.h"
#include "support/XvfbServer.h"
#include "ui/DeviceListScreenMirrorPage.h"
#include "ui/ScreenMirrorDevicePage.h"
#include "ui/ScreenMirrorPreview.h"

namespace {
const QString kMirror = QStringLiteral("screen_mirror");
const QSize kScreen(640, 480);
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

// The channel leading each column of the panel's middle row ('r', 'g', 'b', or '0' for none), left to right.
QString columns(const QImage& img)
{
    QString out;
    for (int x = 0; x < img.width(); ++x) {
        const QColor p = img.pixelColor(x, img.height() / 2);
        const int r = p.red(), g = p.green(), b = p.blue();
        out += QLatin1Char(r > qMax(g, b) + 60   ? 'r'
                           : g > qMax(r, b) + 60 ? 'g'
                           : b > qMax(r, g) + 60 ? 'b'
                                                 : '0');
    }
    return out;
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
        m_bench.load({PageTestBench::record(m_panel, 1, extra)});
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
        QVERIFY(m_server.start(kScreen));
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
        m_bench.load({});
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
        QTest::addColumn<int>("saved"); // -1: nothing saved, "same mode" is logged
        const QVariantMap s{{QStringLiteral("effect_mode"), 2},
                            {QStringLiteral("device_location"), 3},
                            {QStringLiteral("effect_type"), 1},
                            {QStringLiteral("color_mode"), 0}};
        const auto row = [](const char* name, const char* combo, const char* key, const QVariantMap& stored,
                            int shown, int chosen, int saved) {
            QTest::newRow(name) << QString::fromLatin1(combo) << QString::fromLatin1(key) << stored << shown
                                << chosen << saved;
        };
        row("same mode", "modeSelector", "effect_mode", s, 2, 2, -1);
        row("new mode", "modeSelector", "effect_mode", s, 2, 1, 1);
        row("new location", "prismLocation", "device_location", s, 3, 7, 7);
        // Colour modes are listed Natural first.
        row("same colours", "colorModeComboBox", "color_mode", s, 1, 1, -1);
        row("natural colours", "colorModeComboBox", "color_mode", s, 1, 0, 1);
        // Nothing stored: the page shows "Fading Triangles", and "No Effect" must still be saved.
        row("no effect over a missing key", "effectSelect", "effect_type", {}, 2, 0, 0);
    }
    void settingsSlots()
    {
        QFETCH(QString, combo);
        QFETCH(QString, key);
        QFETCH(QVariantMap, stored);
        QFETCH(int, shown);
        QFETCH(int, chosen);
        QFETCH(int, saved);
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
            QCOMPARE(log.count(QStringLiteral("same mode")), 1);
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

    // The application started minimised from a stored record: the panel shows the screen as the mode
    // picks it and asks for the stored seasoning; a lock stops the stream and the unlock resumes it.
    void applicationFollowsTheScreen_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("first");
        QTest::addColumn<int>("seasoning");  // -1: not stored
        QTest::addColumn<QString>("stream"); // post-process type and render mode the panel was asked for
        QTest::newRow("Screen Season") << 0 << "rrrr" << 0 << "none pixel";
        QTest::newRow("Dominant Season") << 1 << "rrrr" << -1 << "effect triangle";
        // Only the right fifth, unmirrored: its inner half green, its outer half blue.
        QTest::newRow("Continue Screen right") << 2 << "g[g0b]{2}b" << 1 << "effect pixel";
    }
    void applicationFollowsTheScreen()
    {
        QFETCH(int, mode);
        QFETCH(QString, first);
        QFETCH(int, seasoning);
        QFETCH(QString, stream);
        m_panel = m_bench.startPanel();
        QVERIFY(m_panel);
        QVariantMap choices{{QStringLiteral("effect_mode"), mode},
                            {QStringLiteral("device_location"), 2},
                            {QStringLiteral("color_mode"), 1}};
        if (seasoning >= 0)
            choices.insert(QStringLiteral("effect_type"), seasoning);
        AppHome home;
        const QString dir = home.filePath(QStringLiteral("data/PivotrixEntertainment"));
        QVERIFY(QDir().mkpath(dir) && PageTestBench::writeSettings(
                                          dir + QStringLiteral("/settings.json"),
                                          {PageTestBench::record(m_panel, 1, mirrorRecord(choices, true))}));
        QVERIFY(m_server.paint(TestPictures::solid(kScreen, 0xffff0000)));
        QVERIFY(m_server.paint(TestPictures::solid(QSize(64, 480), 0xff00ff00), 512, 0));
        QVERIFY(m_server.paint(TestPictures::solid(QSize(64, 480), 0xff0000ff), 576, 0));
        const auto shows = [this](const QString& want) {
            const QRegularExpression pattern(QRegularExpression::anchoredPattern(want));
            return QTest::qWaitFor([&] { return pattern.match(columns(m_panel->lastFrame())).hasMatch(); },
                                   20000);
        };

        // The window stays off the shared display; capture reads the private screen all the same.
        QProcessEnvironment env = home.environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess app;
        home.start(app, QStringLiteral(APP_PATH), {QStringLiteral("--minimized")}, env);
        QVERIFY2(shows(first), qPrintable(columns(m_panel->lastFrame())));
        QCOMPARE(PageTestBench::streamKind(m_panel), stream);
        QVERIFY(m_server.paint(TestPictures::solid(kScreen, 0xff00ff00)));
        QVERIFY2(shows(QStringLiteral("gggg")), qPrintable(columns(m_panel->lastFrame())));

        QVERIFY(m_bench.sendLock(true));
        QVERIFY2(QTest::qWaitFor([&] { return !PageTestBench::receiving(m_panel); }, 20000),
                 "the lock did not stop the stream");
        QVERIFY(m_server.paint(TestPictures::solid(kScreen, 0xff0000ff)));
        QVERIFY(PageTestBench::framesStopped(m_panel));
        QVERIFY(m_bench.sendLock(false));
        QVERIFY2(shows(QStringLiteral("bbbb")), "the unlock did not resume the stream");
        app.kill();
        QVERIFY(app.waitForFinished(10000));
    }
};

PAGE_TEST_MAIN(TestScreenMirrorPage)
#include "tst_screenmirrorpage.moc"
