// The two device tabs against emulated panels, the real registry, a stand-in logind on a private bus and
// capture on a private X screen. Razer Chroma: our broadcast library fed by the publisher; what the user
// picks reaches the panel as bands, streams follow lock, unlock and the panel's own standby, and the
// preview follows the broadcast; end to end, the main window with the chroma-publisher tool broadcasting as
// a Chroma application would. Screen Mirror: the choices, monitors, capture loss and processors; end to
// end, the application itself mirroring the screen onto a panel it has paired.
#include "broadcast/ChromaBroadcastChannel.h"
#include "broadcast/ChromaPublisher.h"
#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "capture/GrabManager.h"
#include "capture/session/linux/LinuxSystemSession.h"
#include "core/ResourceManager.h"
#include "core/SettingsManager.h"
#include "device/PivotrixDeviceController.h"
#include "effects/EffectScaledImageWithBlur.h"
#include "effects/RazerSdkColorProvider.h"
#include "effects/ScreenMapColorProvider.h"
#include "effects/ScreenMirrorPipeline.h"
#include "support/AppHome.h"
#include "support/LogCapture.h"
#include "support/PanelFixture.h"
#include "support/PrivateBus.h"
#include "support/StandInLogind.h"
#include "support/TestHttpServer.h"
#include "support/TestPictures.h"
#include "support/TestRegistry.h"
#include "support/XvfbServer.h"
#include "ui/DeviceListRazerPage.h"
#include "ui/DeviceListScreenMirrorPage.h"
#include "ui/MainWindow.h"
#include "ui/RazerDevicePage.h"
#include "ui/RazerDeviceTabLabel.h"
#include "ui/RazerPreviewPage.h"
#include "ui/RoundRectWidget.h"
#include "ui/ScreenMirrorDevicePage.h"
#include "ui/ScreenMirrorPreview.h"
#include "ui/UpdateChecker.h"

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

namespace {
PivotrixDeviceController* controllerFor(const EmulatedPanel* panel)
{
    for (PivotrixDeviceController* c : ResourceManager::instance()->devices()) {
        if (c->deviceId() == panel->id())
            return c;
    }
    return nullptr;
}

QVariantMap storedRecord(const EmulatedPanel* panel)
{
    return ResourceManager::instance()->deviceSettings(panel->id());
}

bool receiving(const EmulatedPanel* panel)
{
    return panel->stream().status == QLatin1String("receiving");
}

// "<post-process type> <render mode>" of the stream the panel was last asked for.
QString streamKind(const EmulatedPanel* panel)
{
    const QJsonObject canvas = panel->stream().params.value(QStringLiteral("canvas")).toObject();
    return canvas.value(QStringLiteral("post_process")).toObject().value(QStringLiteral("type")).toString() +
           QLatin1Char(' ') + canvas.value(QStringLiteral("render_mode")).toString();
}

const QString kMirror = QStringLiteral("screen_mirror");
const QString kEnabled = QStringLiteral("stream_enabled");
const QString kSource = QStringLiteral("stream_source");
const QSize kScreen(640, 480);
using Procs = QList<QWeakPointer<FrameProcessorBase>>;

QVariantMap mirrorRecord(const QVariantMap& screenMirror, bool streaming = false)
{
    return {{kEnabled, streaming}, {kSource, QStringLiteral("mirror")}, {kMirror, screenMirror}};
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
const QList<QColor> kColors{QColor(250, 10, 10), QColor(10, 250, 10), QColor(10, 10, 250),
                            QColor(240, 240, 10), QColor(10, 240, 240)};

// A choice on the mirror page: the combo, its key in the record, the entry shown, chosen and then stored.
struct SlotChoice
{
    const char* combo;
    const char* key;
    QVariantMap stored;
    int shown, chosen;
    int saved; // -1: nothing saved, "same mode" is logged
};

struct StreamRule
{
    const char* source;
    // "lock" (and unlock), "drop" (the panel leaves streaming), "capture-loss", a panel fault by its
    // emulator name, "slow <ms>", "canvas", "renew" (another client takes the panel) or none
    const char* event;
    int fadingPixels; // "show_fading_pixels"; -1: no razer settings
    const char* shown;
    const char* stream; // post-process type and render mode asked for; null: another tab streams
    bool streamsAfter;
    bool enabledAfter;
    int unreachable = 0; // times the panel is logged unreachable (and answering again)
};

// The tab's page for panel's controller, once it exists.
template <typename Page> Page* pageIn(const DeviceListPage* list, const EmulatedPanel* panel)
{
    PivotrixDeviceController* c = controllerFor(panel);
    Page* page = nullptr;
    const bool found = QTest::qWaitFor(
        [&] { return (page = qobject_cast<Page*>(list->pageForController(c))) != nullptr; }, 10000);
    return found ? page : nullptr;
}
} // namespace
Q_DECLARE_METATYPE(StreamRule)
Q_DECLARE_METATYPE(SlotChoice)

class TestDevicePages : public QObject
{
    Q_OBJECT
private:
    TestRegistry m_registry;
    PanelFixture m_panels{22};
    std::vector<std::unique_ptr<EmulatedPanel>> m_started;
    std::unique_ptr<QDBusConnection> m_logindBus;
    StandInLogind m_logind;
    XvfbServer m_server;
    std::unique_ptr<DeviceListScreenMirrorPage> m_page;
    EmulatedPanel* m_panel = nullptr;

    // One panel with this record in the registry, and its page.
    ScreenMirrorDevicePage* openWith(const QVariantMap& extra)
    {
        m_panel = startPanel();
        if (!m_panel)
            return nullptr;
        m_registry.load({TestRegistry::record(m_panel, 1, extra)});
        m_page = std::make_unique<DeviceListScreenMirrorPage>();
        return pageIn<ScreenMirrorDevicePage>(m_page.get(), m_panel);
    }

    EmulatedPanel* startPanel(const QString& name = QString())
    {
        PanelConfig config;
        if (!name.isEmpty())
            config.name = name;
        m_started.push_back(m_panels.start(config));
        return m_started.back().get();
    }

    // Locks or unlocks this session as logind announces it; waits until the registry's session saw it.
    void setLocked(bool locked)
    {
        auto* session = qobject_cast<LinuxSystemSession*>(ResourceManager::instance()->systemSession());
        QVERIFY(session);
        QTRY_COMPARE_WITH_TIMEOUT(session->sessionPath(), StandInLogind::ourSession(), 10000);
        QVERIFY(m_logindBus->send(QDBusMessage::createSignal(
            StandInLogind::ourSession(), QStringLiteral("org.freedesktop.login1.Session"),
            locked ? QStringLiteral("Lock") : QStringLiteral("Unlock"))));
        QTRY_COMPARE_WITH_TIMEOUT(session->isLocked(), locked, 10000);
    }

    // Ends the test's pages, panels and registry.
    void reset()
    {
        if (m_publisher && RazerSdkColorProvider::instance()->isAvailable())
            publish(false); // the next test's broadcast goes live on its own cue
        m_tab.reset();
        m_page.reset();
        m_publisher.reset();
        ResourceManager::destroyInstance();
        m_started.clear();
    }

    int stored(const QString& key) const
    {
        return storedRecord(m_panel).value(kMirror).toMap().value(key, -1).toInt();
    }

    std::unique_ptr<DeviceListRazerPage> m_tab;
    std::unique_ptr<ChromaPublisher> m_publisher;

    void publish(bool live, const QList<QColor>& colors = {})
    {
        if (!m_publisher) {
            m_publisher = std::make_unique<ChromaPublisher>();
            QString error;
            QVERIFY2(m_publisher->connectTo(ChromaBroadcastChannel::socketPath(&error), &error),
                     qPrintable(error));
        }
        RazerSdkColorProvider* provider = RazerSdkColorProvider::instance();
        const bool change = provider->isAvailable() != live;
        QSignalSpy changed(provider, &RazerSdkColorProvider::availableChanged);
        if (!colors.isEmpty())
            QVERIFY(m_publisher->sendColors(colors));
        QVERIFY(m_publisher->setLive(live));
        QTRY_COMPARE_WITH_TIMEOUT(provider->isAvailable(), live, 5000);
        // The tabs, connected before the spy, have had the change posted to them by now.
        QTRY_COMPARE(changed.count(), change ? 1 : 0);
        QCoreApplication::sendPostedEvents();
    }

    RazerDevicePage* pageOf(EmulatedPanel* panel) { return pageIn<RazerDevicePage>(m_tab.get(), panel); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start(kScreen));
        qputenv("DISPLAY", m_server.display());
        m_logindBus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
            QString::fromLocal8Bit(qgetenv("DBUS_SYSTEM_BUS_ADDRESS")), QStringLiteral("logind")));
        QVERIFY(m_logindBus->isConnected() && m_logind.registerOn(*m_logindBus));
    }

    void cleanup() { reset(); }

    // The panel's own effect as stored, shown and asked for at the stream start, with frames flowing, also to
    // a panel still receiving a session of an earlier run. Lock stops what streams (both tabs ask) and a
    // start still unanswered, and unlock restarts the record's source, even while the stops are still
    // answered, also to a panel out of reach whose frames might still arrive; while locked neither a save
    // nor the broadcast starts a stream. Only a panel that leaves a
    // running stream by itself loses "stream_enabled", not an idle one, one back from an outage or our own
    // stop. A capture loss switches off a mirroring panel only.
    void streamRules_data()
    {
        QTest::addColumn<StreamRule>("rule");
        const auto row = [](const char* name, const StreamRule& rule) {
            QTest::newRow(name) << rule;
        };
        row("idle, no effect stored", {"razer", "", -1, "Fading Triangles", "effect triangle", true, true});
        row("receiving at start",
            {"razer", "receiving", 2, "Fading Triangles", "effect triangle", true, true});
        row("lock in an outage, fading pixels",
            {"razer", "lock-outage", 1, "Fading Pixels", "effect pixel", true, true, 1});
        row("lock while starting", {"razer", "lock-start", 0, "No Effect", "effect pixel", true, true});
        row("lock and unlock, other source", {"mirror", "lock", 0, "No Effect", nullptr, true, true});
        row("capture lost, no effect", {"razer", "capture-loss", 0, "No Effect", "none pixel", true, true});
        row("capture lost, mirroring", {"mirror", "capture-loss", 0, "No Effect", nullptr, false, false});
        row("panel leaves, unknown effect", {"razer", "drop", 7, "No Effect", "none pixel", false, false});
        // Panel faults over real sockets, against a request bound of 2 s.
        const auto fault = [&row](const char* name, const char* event, int unreachable) {
            row(name, {"razer", event, 1, "Fading Pixels", "effect pixel", true, true, unreachable});
        };
        fault("panel reboots", "offline", 1);
        fault("panel hangs mid-stream", "hang", 1);
        fault("panel answers 500", "http500", 1);
        fault("panel resets connections", "reset", 1);
        fault("panel slow, under the bound", "slow 1500", 0);
        fault("panel slow, over the bound", "slow 2500", 1);
        fault("panel changes its canvas", "canvas", 0);
        fault("another client takes the panel", "renew", 0);
    }
    void streamRules()
    {
        QFETCH(StreamRule, rule);
        const QLatin1String event(rule.event);
        QVariantMap razer{{QStringLiteral("color_indexes"), QVariantList{0}}};
        if (rule.fadingPixels >= 0)
            razer.insert(QStringLiteral("show_fading_pixels"), rule.fadingPixels);
        QVariantMap extra{
            {kEnabled, true}, {kSource, QLatin1String(rule.source)}, {QStringLiteral("razer"), razer}};
        EmulatedPanel* panel = startPanel();
        QVERIFY(panel);
        int status = 0;
        if (event == QLatin1String("receiving")) // a session of an earlier run
            panel->startStream("{}", &status);
        m_registry.load({TestRegistry::record(panel, 1, extra)}, 400, 2000);
        m_tab = std::make_unique<DeviceListRazerPage>();
        PivotrixDeviceController* c = controllerFor(panel);
        // The panel's page comes, then the broadcast goes live with the test colours.
        RazerDevicePage* page = pageOf(panel);
        QVERIFY(page);
        panel->setReplyDelay(event == QLatin1String("lock-start") ? 1000 : 0);
        publish(true, kColors);
        QCOMPARE(page->seasoningSelect()->currentText(), QLatin1String(rule.shown));
        if (!rule.stream)
            c->startStream();
        if (event != QLatin1String("lock-start"))
            QTRY_VERIFY_WITH_TIMEOUT(receiving(panel) && c->isStreaming(), 10000);
        const auto count = [panel](const char* call) {
            return panel->requestCounts().value(QLatin1String(call));
        };
        LogCapture log;
        PanelFault fault = PanelFault::None;
        if (event == QLatin1String("lock-outage")) { // a 500 fails the checks while our frames still arrive
            panel->setFault(PanelFault::Http500);
            QTRY_COMPARE_WITH_TIMEOUT(c->networkState(), PivotrixController::Offline, 10000);
        }
        if (event.startsWith(QLatin1String("lock"))) {
            // Both source tabs see the lock, as in the application; slow replies bring the unlock while
            // the lock's stop is still on its way.
            m_page = std::make_unique<DeviceListScreenMirrorPage>();
            const quint64 stops = count("stop");
            panel->setReplyDelay(200);
            setLocked(true);
            QTRY_COMPARE_WITH_TIMEOUT(count("stop"), stops + 1, 10000);
            if (event == QLatin1String("lock-start")) { // a save and the broadcast going live start nothing
                const quint64 starts = count("start");
                razer.insert(QStringLiteral("show_fading_pixels"), 1);
                extra.insert(QStringLiteral("razer"), razer);
                ResourceManager::instance()->setDeviceSettings(panel->id(),
                                                               TestRegistry::record(panel, 1, extra));
                publish(false);
                publish(true);
                QTest::qWait(500);
                QVERIFY(!receiving(panel) && count("start") == starts);
            }
            setLocked(false);
            panel->setFault(PanelFault::None); // the outage ends after the unlock
            panel->setReplyDelay(0);
        } else if (event == QLatin1String("drop")) {
            panel->dropToStandby();
        } else if (event == QLatin1String("canvas")) {
            panel->setCanvas(QSize(5, 3));
        } else if (event == QLatin1String("renew")) { // it keeps the panel until our next start
            panel->renewSession();
            m_tab->switchStream(c, true);
        } else if (faultFromName(event, &fault) || event.startsWith(QLatin1String("slow"))) {
            panel->setFault(fault);
            panel->setReplyDelay(QString(event).section(QLatin1Char(' '), 1).toInt());
            // Several checks fail, or crawl, meanwhile.
            QTRY_COMPARE_WITH_TIMEOUT(c->isOnline(), rule.unreachable == 0, 10000);
            QTest::qWait(2500);
            QCOMPARE(c->isOnline(), rule.unreachable == 0);
            panel->setFault(PanelFault::None);
            panel->setReplyDelay(0);
        } else if (event == QLatin1String("capture-loss")) { // the mirror tab's news
            m_page = std::make_unique<DeviceListScreenMirrorPage>();
            emit ResourceManager::instance()->grabManager()->userDisabledGrab();
        }
        // Several online checks (400 ms apart) pass.
        QTest::qWait(1500);
        QCOMPARE(receiving(panel), rule.streamsAfter);
        extra.insert(kEnabled, rule.enabledAfter); // nothing else of the record changes
        QCOMPARE(storedRecord(panel), TestRegistry::record(panel, 1, extra));
        const quint64 frames = panel->statistics().snapshot().good;
        if (rule.stream)
            QCOMPARE(streamKind(panel), QLatin1String(rule.stream));
        if (rule.stream && rule.streamsAfter)
            QTRY_VERIFY_WITH_TIMEOUT(panel->statistics().snapshot().good > frames + 3, 5000);
        QCOMPARE(log.count(QStringLiteral("unreachable:")), rule.unreachable);
        QCOMPARE(log.count(QStringLiteral("answers again")), rule.unreachable);
        QCOMPARE(log.count(QStringLiteral("device not open")), 0); // Qt's warning on a reply given up on
        QMap<QString, int> repeats;
        for (QString line : log.lines(QString()))
            ++repeats[line.remove(QRegularExpression(QStringLiteral("0x[0-9a-f]+|\\d+")))];
        // Nothing is logged every tick (30 ms): the checks (400 ms apart) are the most frequent lines.
        QVERIFY(*std::max_element(repeats.cbegin(), repeats.cend()) <= 30);
    }

    // Not live: the preview with its message, no stream. Live after the panels came online: the stored
    // choice is re-applied and frames flow, new colours reach the swatches, the active tab is marked and the
    // selection is followed across tabs. Not live again: only the preview, "stream_enabled" kept. A device
    // taken over by the other source is shown off; one gone offline loses its page.
    void broadcastAndTabs()
    {
        EmulatedPanel* first = startPanel(QStringLiteral("A"));
        EmulatedPanel* second = startPanel(QStringLiteral("Panel with a much longer name"));
        QVERIFY(first && second);
        const QVariantMap razer{{QStringLiteral("color_indexes"), QVariantList{2}}};
        const QVariantMap streaming{
            {kEnabled, true}, {kSource, QStringLiteral("razer")}, {QStringLiteral("razer"), razer}};
        m_registry.load({TestRegistry::record(first, 1, streaming), TestRegistry::record(second, 2)});
        m_tab = std::make_unique<DeviceListRazerPage>();
        m_tab->show();
        DeviceListRazerPage other;
        connect(m_tab.get(), &DeviceListPage::deviceSelected, &other, &DeviceListPage::selectDevice);
        connect(&other, &DeviceListPage::deviceSelected, m_tab.get(), &DeviceListPage::selectDevice);
        QPointer<RazerDevicePage> a = pageOf(first);
        RazerDevicePage* b = pageOf(second);
        QVERIFY(a && b);
        QVERIFY(m_tab->previewPage()->isVisible());
        QCOMPARE(m_tab->previewPage()->errorText(), QStringLiteral("Enable Pivotrix app in Razer Synapse"));
        QVERIFY(!a->streamToggle()->isChecked());
        QTest::qWait(300);
        QVERIFY(!receiving(first));

        publish(true, kColors);
        QTRY_VERIFY_WITH_TIMEOUT(m_tab->tabWidget()->isVisible(), 5000);
        QVERIFY(!m_tab->previewPage()->isVisible() && a->streamToggle()->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(first->lastFrame().pixelColor(0, 0) == kColors.at(2), 10000);
        QTRY_COMPARE(a->colorSwatch(4)->fillColor(), kColors.at(4));
        QTRY_COMPARE_WITH_TIMEOUT(other.tabWidget()->count(), 2, 10000);
        QTabBar* bar = m_tab->tabWidget()->tabBar();
        auto label = [bar](int i) {
            return qobject_cast<RazerDeviceTabLabel*>(bar->tabButton(i, QTabBar::LeftSide));
        };
        for (QWidget* page : {static_cast<QWidget*>(b), static_cast<QWidget*>(a.data())}) {
            m_tab->tabWidget()->setCurrentWidget(page);
            const int current = m_tab->tabWidget()->currentIndex();
            QVERIFY(label(current)->isActive() && !label(1 - current)->isActive());
            QCOMPARE(other.pageControllers().value(other.tabWidget()->currentWidget()),
                     m_tab->pageControllers().value(page));
        }

        // What the other tab's switch writes, while the broadcast is live.
        QVariantMap record = storedRecord(first);
        record.insert(kSource, QStringLiteral("mirror"));
        ResourceManager::instance()->setDeviceSettings(first->id(), record);
        QVERIFY(!a->streamToggle()->isChecked());

        publish(false);
        QTRY_VERIFY_WITH_TIMEOUT(m_tab->previewPage()->isVisible() && !m_tab->tabWidget()->isVisible(), 5000);
        QVERIFY(storedRecord(first).value(kEnabled).toBool());
        first->setFault(PanelFault::Offline);
        QTRY_VERIFY_WITH_TIMEOUT(a.isNull(), 10000);
        QCOMPARE(m_tab->tabWidget()->count(), 1);
    }

    // Which message the preview gives, by rank: library unusable, broadcast not live, no device.
    void previewMessages_data()
    {
        QTest::addColumn<bool>("libraryUsable");
        QTest::addColumn<QString>("text");
        QTest::newRow("library unusable") << false << "Install Razer Synapse to ligth up Pivotrix device";
        QTest::newRow("live without devices") << true << "Pair your Pivotrix Device to enjoy";
    }
    void previewMessages()
    {
        QFETCH(bool, libraryUsable);
        QFETCH(QString, text);
        // A private runtime directory whose path is too long for a socket leaves the library without a
        // channel, so its "Init" fails.
        QTemporaryDir longRuntime;
        const QString longPath = longRuntime.filePath(QString(120, QLatin1Char('r')));
        QVERIFY(QDir().mkpath(longPath));
        QVERIFY(QFile::setPermissions(longPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (!libraryUsable)
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(longPath));
        m_registry.load({});
        qputenv("XDG_RUNTIME_DIR", runtime);
        QCOMPARE(RazerSdkColorProvider::instance()->isInitialized(), libraryUsable);
        m_tab = std::make_unique<DeviceListRazerPage>();
        m_tab->show();
        if (libraryUsable)
            publish(true);
        QTRY_COMPARE(m_tab->previewPage()->errorText(), text);
        QVERIFY(m_tab->previewPage()->isVisible() && !m_tab->tabWidget()->isVisible());
        // The mirror tab has its placeholder.
        m_page = std::make_unique<DeviceListScreenMirrorPage>();
        QVERIFY(!m_page->previewPage()->isHidden() && m_page->tabWidget()->isHidden());
    }

    // End to end, the user's clicks on the main window's Razer Chroma tab decide what the panel receives:
    // ticked rows become bands in row order and the direction turns them; while none is ticked a line
    // beside the switch says a colour is needed; switching off sends the stop and clears "stream_enabled".
    // The effect list shows its current entry readably.
    void endToEnd_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QLine>("bands"); // from a pixel of the first band (red) to one of the last (yellow)
        QTest::newRow("rows 0 and 3") << 0 << QLine(0, 7, 3, 0);
        QTest::newRow("rows 0 and 3 at 90 degrees") << 2 << QLine(3, 0, 0, 7);
    }
    void endToEnd()
    {
        QFETCH(int, direction);
        QFETCH(QLine, bands);
        EmulatedPanel* panel = startPanel(QStringLiteral("Living room"));
        QVERIFY(panel);
        m_registry.load({TestRegistry::record(panel, 1)}, 15000);
        TestHttpServer updates;
        updates.body = "{\"version\":\"1.0.1\"}";
        UpdateChecker::instance()->setServiceUrl(updates.baseUrl());
        MainWindow window;
        window.show();
        window.chapterTab()->setCurrentIndex(0);
        for (const char* arguments : {"live on", "colors #ff0000 #00ff00 #0000ff #ffff00 #00ffff"}) {
            const QStringList words = QString::fromLatin1(arguments).split(QLatin1Char(' '));
            QVERIFY(QProcess::execute(QStringLiteral(CHROMA_PUBLISHER), words) == 0);
        }
        const auto razer = [panel](const char* key) {
            return storedRecord(panel).value(QStringLiteral("razer")).toMap().value(QLatin1String(key));
        };
        RazerDevicePage* page = nullptr;
        QVERIFY(QTest::qWaitFor(
            [&]() { return (page = window.findChild<RazerDevicePage*>()) && page->isVisible(); }, 10000));

        QVERIFY(page->colorHint()->isHidden());
        QTest::mouseClick(page->streamToggle(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(receiving(panel), 10000);
        QVERIFY(page->colorHint()->isVisible()); // no colour ticked
        page->seasoningSelect()->showPopup();
        QAbstractItemView* list = page->seasoningSelect()->view();
        QVERIFY(QTest::qWaitForWindowExposed(list->window()));
        const QImage item = list->viewport()->grab(list->visualRect(list->currentIndex())).toImage();
        int darkest = 255;
        for (int i = 0; i < item.width() * item.height(); ++i)
            darkest = qMin(darkest, qGray(item.pixel(i % item.width(), i / item.width())));
        QVERIFY2(darkest < 80, qPrintable(QString::number(darkest)));
        page->seasoningSelect()->hidePopup();
        const auto tick = [page](int row) { // on the tick box's indicator, at its left
            QTest::mouseClick(page->colorCheck(row), Qt::LeftButton, {},
                              QPoint(15, page->colorCheck(row)->height() / 2));
        };
        tick(3);
        tick(0);
        QCOMPARE(razer("color_indexes").toList(), (QVariantList{0, 3}));
        QVERIFY(page->colorHint()->isHidden());
        page->directionCombo()->setCurrentIndex(direction);
        QCOMPARE(razer("angle").toInt(), direction);
        QTRY_VERIFY_WITH_TIMEOUT(panel->lastFrame().pixelColor(bands.p1()) == QColor(255, 0, 0) &&
                                     panel->lastFrame().pixelColor(bands.p2()) == QColor(255, 255, 0),
                                 10000);
        tick(0);
        tick(3);
        QCOMPARE(razer("color_indexes").toList(), QVariantList());
        QVERIFY(page->colorHint()->isVisible());

        const quint64 stops = panel->requestCounts().value(QStringLiteral("stop"));
        QTest::mouseClick(page->streamToggle(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(panel->requestCounts().value(QStringLiteral("stop")), stops + 1, 10000);
        QVERIFY(!storedRecord(panel).value(kEnabled).toBool() && page->colorHint()->isHidden());
    }

    // The stored choices are shown without being written back; choosing one again saves nothing.
    void settingsSlots_data()
    {
        QTest::addColumn<SlotChoice>("choice");
        const QVariantMap s{{QStringLiteral("effect_mode"), 2},
                            {QStringLiteral("device_location"), 3},
                            {QStringLiteral("effect_type"), 1},
                            {QStringLiteral("color_mode"), 0}};
        QTest::newRow("new mode") << SlotChoice{"modeSelector", "effect_mode", s, 2, 1, 1};
        QTest::newRow("new location") << SlotChoice{"prismLocation", "device_location", s, 3, 7, 7};
        // Colour modes are listed Natural first.
        QTest::newRow("same colours") << SlotChoice{"colorModeComboBox", "color_mode", s, 1, 1, -1};
        QTest::newRow("natural colours") << SlotChoice{"colorModeComboBox", "color_mode", s, 1, 0, 1};
        // Nothing stored: the page shows "Fading Triangles", and "No Effect" must still be saved.
        QTest::newRow("missing key, no effect") << SlotChoice{"effectSelect", "effect_type", {}, 2, 0, 0};
    }
    void settingsSlots()
    {
        QFETCH(SlotChoice, choice);
        ScreenMirrorDevicePage* page = openWith(mirrorRecord(choice.stored));
        QVERIFY(page);
        auto* box = page->findChild<QComboBox*>(QLatin1String(choice.combo));
        QCOMPARE(box->currentIndex(), choice.shown);

        LogCapture log;
        QSignalSpy saves(ResourceManager::instance()->settingsManager(), &SettingsManager::settingsChanged);
        box->setCurrentIndex(choice.chosen);
        // The combo stays quiet when nothing changes; the user picks the entry again.
        if (choice.chosen == choice.shown)
            QMetaObject::invokeMethod(box, "currentIndexChanged", Q_ARG(int, choice.chosen));
        if (choice.saved < 0) {
            QCOMPARE(log.count(QStringLiteral("same mode")), 1);
            QCOMPARE(saves.count(), 0);
        } else {
            QTRY_COMPARE(stored(QLatin1String(choice.key)), choice.saved);
            const int count = saves.count();
            QTest::qWait(100); // The refresh shows the choice again without saving it again.
            QCOMPARE(saves.count(), count);
            QCOMPARE(box->currentIndex(), choice.chosen);
        }
        // The location row belongs to "Continue Screen" only.
        QCOMPARE(!page->prismLocation()->isHidden(), page->modeSelector()->currentIndex() == ContinueScreen);
        QCOMPARE(page->locationLabel()->isHidden(), page->prismLocation()->isHidden());
    }

    // One streaming page: the stored monitor is shown once the list holds it and kept while it is gone,
    // until the user picks another; switching colours and modes back and forth leaves only the current
    // pipeline's processors on the capture worker, which holds the last reference to the others. Then the
    // window and the registry go while the panel streams the dominant colour: device threads still read the
    // colour source until their stop returns.
    void mirrorPage()
    {
        // Streaming, so that the capture worker is busy and follows the layout.
        ScreenMirrorDevicePage* page = openWith(
            mirrorRecord({{QStringLiteral("effect_mode"), 1}, {QStringLiteral("monitor_idx"), 1}}, true));
        QVERIFY(page);
        QTRY_COMPARE_WITH_TIMEOUT(page->monitorSelect()->count(), 1, 10000);
        QVERIFY(m_server.xrandr({QStringLiteral("--setmonitor"), QStringLiteral("second"),
                                 QStringLiteral("320/80x240/60+320+240"), QStringLiteral("none")}));
        QTRY_COMPARE_WITH_TIMEOUT(page->monitorSelect()->count(), 2, 10000);
        QCOMPARE(page->monitorSelect()->currentIndex(), 1);
        QVERIFY(m_server.xrandr({QStringLiteral("--delmonitor"), QStringLiteral("second")}));
        QTRY_COMPARE_WITH_TIMEOUT(page->monitorSelect()->count(), 1, 10000);
        QCOMPARE(page->monitorSelect()->currentIndex(), -1);
        QCOMPARE(stored(QStringLiteral("monitor_idx")), 1);
        page->monitorSelect()->setCurrentIndex(0);
        QTRY_COMPARE(stored(QStringLiteral("monitor_idx")), 0);

        QTRY_VERIFY_WITH_TIMEOUT(receiving(m_panel), 10000);
        const ScreenMirrorPipeline& pipeline = *m_page->pipeline(page);
        Procs earlier;
        const QList<QPair<QComboBox*, int>> steps{{page->colorModeComboBox(), 0},
                                                  {page->colorModeComboBox(), 1},
                                                  {page->modeSelector(), ContinueScreen},
                                                  {page->modeSelector(), ScreenSeason},
                                                  {page->modeSelector(), DominantSeason}};
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
        QTRY_VERIFY_WITH_TIMEOUT(m_panel->statistics().snapshot().good > 3, 10000);
        reset();
        QTest::qWait(100);
    }

    // The application started minimised from a stored record: the panel shows the screen as the mode
    // picks it and asks for the stored seasoning (lock and unlock: streamRules).
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
        m_panel = startPanel();
        QVERIFY(m_panel);
        QVariantMap choices{{QStringLiteral("effect_mode"), mode},
                            {QStringLiteral("device_location"), 2},
                            {QStringLiteral("color_mode"), 1}};
        if (seasoning >= 0)
            choices.insert(QStringLiteral("effect_type"), seasoning);
        AppHome home;
        const QString dir = home.filePath(QStringLiteral("data/PivotrixEntertainment"));
        QVERIFY(QDir().mkpath(dir) &&
                TestRegistry::writeSettings(dir + QStringLiteral("/settings.json"),
                                            {TestRegistry::record(m_panel, 1, mirrorRecord(choices, true))}));
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
        QCOMPARE(streamKind(m_panel), stream);
        QVERIFY(m_server.paint(TestPictures::solid(kScreen, 0xff00ff00)));
        QVERIFY2(shows(QStringLiteral("gggg")), qPrintable(columns(m_panel->lastFrame())));
        app.kill();
        QVERIFY(app.waitForFinished(10000));
    }

    // The X server killed under the application mirroring it onto a panel: Qt ends the program (status 1),
    // not a crash, once the panel's stream is stopped; the settings file is left alone.
    void displayKilled()
    {
        QVERIFY(m_panel = startPanel());
        AppHome home;
        const QString settings = home.filePath(QStringLiteral("data/PivotrixEntertainment/settings.json"));
        QVERIFY(QDir().mkpath(QFileInfo(settings).path()) &&
                TestRegistry::writeSettings(settings,
                                            {TestRegistry::record(m_panel, 1, mirrorRecord({}, true))}));
        const QDateTime saved = QFileInfo(settings).lastModified();
        QProcessEnvironment env = home.environment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM")); // on the X server, as in a session
        QProcess app;
        home.start(app, QStringLiteral(APP_PATH), {QStringLiteral("--minimized")}, env);
        QTRY_VERIFY_WITH_TIMEOUT(m_panel->statistics().snapshot().good > 5, 20000);
        m_server.kill();
        const bool ended = app.waitForFinished(10000);
        QVERIFY(m_server.restart());
        QVERIFY2(ended && app.exitStatus() == QProcess::NormalExit && app.exitCode() == 1,
                 app.readAll().constData());
        QCOMPARE(m_panel->stream().status, QStringLiteral("standby"));
        QCOMPARE(QFileInfo(settings).lastModified(), saved);
    }
};

int main(int argc, char** argv)
{
    return execOnPrivateBus<TestDevicePages>(argc, argv);
}

#include "tst_devicepages.moc"
