// The real application, each run on an X server and a session bus of its own: which tray hosts exist, and
// when they appear, is then the run's alone (Qt settles its tray protocol once per process). Further starts
// find the running instance.
#include "support/AppHome.h"
#include "support/PanelFixture.h"
#include "support/PrivateBus.h"
#include "support/TestRegistry.h"
#include "support/XvfbServer.h"

#include <QtDBus>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <signal.h>

// A desktop panel's StatusNotifier watcher, as far as an application sees it.
class FakeStatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    int registrations = 0;
    bool hostRegistered() const { return true; }
public slots:
    void RegisterStatusNotifierItem(const QString&) { ++registrations; }
};

// One X server, one session bus, one home; the application and the tray hosts the test plays.
class Desktop
{
public:
    XvfbServer x;
    const bool xStarted = x.start(QSize(800, 600));
    PrivateBus bus;
    AppHome home;
    xcb_connection_t* c = xcb_connect(x.display().constData(), nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    QDBusConnection dbus =
        QDBusConnection::connectToBus(QString::fromLatin1(bus.address()), QStringLiteral("d"));
    QProcess app, wm;
    QByteArray output;
    FakeStatusNotifierWatcher watcher;
    xcb_window_t trayManager = 0;
    int docks = 0;

    ~Desktop()
    {
        for (QProcess* p : {&wm, &app}) {
            p->kill();
            p->waitForFinished(5000);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("d"));
        xcb_disconnect(c);
    }
    bool isReady() const { return xStarted && !xcb_connection_has_error(c) && dbus.isConnected(); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = home.environment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(x.display()));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(bus.address()));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("QT_XCB_GL_INTEGRATION"));
        return env;
    }
    void start(QProcess& p, const QString& program = QStringLiteral(APP_PATH), const QStringList& args = {},
               const QProcessEnvironment& env = {})
    {
        home.start(p, program, args, env.isEmpty() ? environment() : env);
    }
    // A further start of the application: it hands "show" over and exits 0.
    bool startAgain()
    {
        QProcess again;
        start(again);
        return again.waitForFinished(10000) && again.exitStatus() == QProcess::NormalExit &&
               again.exitCode() == 0;
    }
    int times(const QByteArray& text)
    {
        output += app.readAll();
        return output.count(text);
    }
    bool said(const QByteArray& text) { return times(text) > 0; }

    xcb_atom_t atom(const char* name)
    {
        xcb_intern_atom_reply_t* r =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(r);
        return a;
    }
    QByteArray property(xcb_window_t w, const char* name)
    {
        xcb_get_property_reply_t* r =
            xcb_get_property_reply(c, xcb_get_property(c, 0, w, atom(name), XCB_ATOM_ANY, 0, 1024), nullptr);
        const QByteArray value = r ? QByteArray(static_cast<const char*>(xcb_get_property_value(r)),
                                                xcb_get_property_value_length(r))
                                   : QByteArray();
        std::free(r);
        return value;
    }
    void send(xcb_window_t to, xcb_window_t about, const char* type, std::initializer_list<uint32_t> data,
              uint32_t mask)
    {
        xcb_client_message_event_t m{};
        m.response_type = XCB_CLIENT_MESSAGE;
        m.format = 32;
        m.window = about;
        m.type = atom(type);
        std::copy(data.begin(), data.end(), m.data.data32);
        xcb_send_event(c, 0, to, mask, reinterpret_cast<const char*>(&m));
        xcb_flush(c);
    }

    // The application's main window among the window manager's clients, or 0.
    xcb_window_t managedMainWindow()
    {
        const QByteArray list = property(root, "_NET_CLIENT_LIST");
        for (int i = 0; i + 4 <= list.size(); i += 4) {
            const xcb_window_t w = *reinterpret_cast<const uint32_t*>(list.constData() + i);
            if (property(w, "WM_NAME") == "Pivotrix Entertainment")
                return w;
        }
        return 0;
    }
    // 1 normal, 3 iconic, 0 withdrawn.
    uint32_t wmState(xcb_window_t w)
    {
        const QByteArray state = property(w, "WM_STATE");
        return state.size() >= 4 ? *reinterpret_cast<const uint32_t*>(state.constData()) : 0;
    }

    // A StatusNotifier watcher (statusNotifier) or an XEmbed tray manager, as a desktop panel runs them.
    bool startHost(bool statusNotifier)
    {
        if (statusNotifier)
            return (dbus.objectRegisteredAt(QStringLiteral("/StatusNotifierWatcher")) ||
                    dbus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                        QDBusConnection::ExportAllSlots |
                                            QDBusConnection::ExportAllProperties)) &&
                   dbus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        trayManager = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, trayManager, root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          xcb_setup_roots_iterator(xcb_get_setup(c)).data->root_visual, 0, nullptr);
        xcb_set_selection_owner(c, trayManager, atom("_NET_SYSTEM_TRAY_S0"), XCB_CURRENT_TIME);
        send(root, root, "MANAGER", {XCB_CURRENT_TIME, atom("_NET_SYSTEM_TRAY_S0"), trayManager},
             XCB_EVENT_MASK_STRUCTURE_NOTIFY);
        return true;
    }
    bool stopHost(bool statusNotifier)
    {
        if (statusNotifier)
            return dbus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        xcb_destroy_window(c, trayManager);
        xcb_flush(c);
        return true;
    }
    // Icons the host was asked to show.
    int hostRequests(bool statusNotifier)
    {
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
            const auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
            docks += (e->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                     m->type == atom("_NET_SYSTEM_TRAY_OPCODE") && m->data.data32[1] == 0;
            std::free(e);
        }
        return statusNotifier ? watcher.registrations : docks;
    }
};

class TestAppProcess : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty())
            QSKIP("needs Xvfb and openbox");
    }

    // A host, of either kind, gets the icon whenever it comes: before the start, long after it, and again
    // when it restarts (a new host knows nothing of the icons the last one had).
    void trayHostGetsTheIcon_data()
    {
        QTest::addColumn<bool>("statusNotifier");
        QTest::addColumn<int>("delayMs"); // after the application settled; -1: before it starts
        QTest::newRow("status notifier before the start") << true << -1;
        QTest::newRow("status notifier 21 s after the start") << true << 21000;
        QTest::newRow("tray manager before the start") << false << -1;
        QTest::newRow("tray manager after the start") << false << 1000;
    }

    void trayHostGetsTheIcon()
    {
        QFETCH(bool, statusNotifier);
        QFETCH(int, delayMs);
        Desktop desktop;
        QVERIFY(desktop.isReady());
        if (delayMs < 0)
            QVERIFY(desktop.startHost(statusNotifier));
        desktop.start(desktop.app);
        if (delayMs >= 0) {
            QTRY_VERIFY_WITH_TIMEOUT(desktop.said("tray icon waits"), 20000);
            QTest::qWait(delayMs);
            QVERIFY2(!desktop.said("tray icon created"), desktop.output.constData());
            QVERIFY(desktop.startHost(statusNotifier));
        }
        QTRY_VERIFY_WITH_TIMEOUT(desktop.hostRequests(statusNotifier) >= 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(desktop.times("tray icon created"), 1, 5000);

        QVERIFY(desktop.stopHost(statusNotifier));
        QTRY_VERIFY_WITH_TIMEOUT(
            desktop.said(statusNotifier ? "status notifier host gone" : "tray manager gone"), 10000);
        QVERIFY(desktop.startHost(statusNotifier));
        QTRY_VERIFY_WITH_TIMEOUT(desktop.hostRequests(statusNotifier) >= 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(desktop.times("tray icon created"), 2, 5000);
    }

    // Under a window manager: started minimised (after a kill -9 too), the window is made only when a further
    // start asks for it,
    // and loads no GL driver (about 50 MB) unless the user chose one. Closing sends it to the tray, or to the
    // task bar when there is no tray (any more); from either, a further start brings it back.
    void closeThenStartAgain_data()
    {
        QTest::addColumn<QString>("tray");
        QTest::addColumn<uint32_t>("stateAfterClose"); // 3 iconic, 0 withdrawn
        QTest::addColumn<QString>("glChoice");
        QTest::addColumn<bool>("killFirst"); // the first instance dies by kill -9
        QTest::newRow("no tray, after a kill") << "" << 3u << "" << true;
        QTest::newRow("status notifier, GLX chosen") << "status notifier" << 0u << "xcb_glx" << false;
        QTest::newRow("tray manager gone") << "tray manager" << 3u << "" << false;
    }
    void closeThenStartAgain()
    {
        QFETCH(QString, tray);
        QFETCH(uint32_t, stateAfterClose);
        QFETCH(QString, glChoice);
        QFETCH(bool, killFirst);
        Desktop desktop;
        QVERIFY(desktop.isReady());
        desktop.start(desktop.wm, QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        QTRY_VERIFY_WITH_TIMEOUT(!desktop.property(desktop.root, "_NET_SUPPORTING_WM_CHECK").isEmpty(),
                                 10000);
        if (!tray.isEmpty())
            QVERIFY(desktop.startHost(tray == QLatin1String("status notifier")));
        QProcessEnvironment env = desktop.environment();
        if (!glChoice.isEmpty())
            env.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), glChoice);
        const QByteArray trayNews = tray.isEmpty() ? "tray icon waits" : "tray icon created";
        desktop.start(desktop.app, QStringLiteral(APP_PATH), {QStringLiteral("--minimized")}, env);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.said(trayNews), 20000);
        if (killFirst) { // the next start serves in its place, its socket left behind notwithstanding
            ::kill(pid_t(desktop.app.processId()), SIGKILL);
            QVERIFY(desktop.app.waitForFinished(5000));
            QVERIFY(
                QFile::exists(desktop.home.filePath(QStringLiteral("runtime/pivotrix-entertainment.sock"))));
            desktop.output.clear();
            desktop.start(desktop.app, QStringLiteral(APP_PATH), {QStringLiteral("--minimized")}, env);
            QTRY_VERIFY_WITH_TIMEOUT(desktop.said(trayNews), 20000);
        }
        QVERIFY(!desktop.managedMainWindow());
        QVERIFY(desktop.startAgain());
        QTRY_VERIFY_WITH_TIMEOUT(desktop.managedMainWindow(), 20000);
        const xcb_window_t window = desktop.managedMainWindow();
        QTRY_COMPARE_WITH_TIMEOUT(desktop.wmState(window), 1u, 10000);
        QFile maps(QStringLiteral("/proc/%1/maps").arg(desktop.app.processId()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray files = maps.readAll();
        if (glChoice.isEmpty())
            QVERIFY(!files.contains("/xcbglintegrations/"));
        else
            QVERIFY(files.contains("qxcb-glx-integration") && !files.contains("qxcb-egl-integration"));
        if (desktop.trayManager) {
            QVERIFY(desktop.stopHost(false));
            QTRY_VERIFY_WITH_TIMEOUT(desktop.said("tray manager gone"), 10000);
        }

        // The window manager's close button.
        desktop.send(desktop.root, window, "_NET_CLOSE_WINDOW", {0, 2},
                     XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.said("close event"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(desktop.wmState(window), stateAfterClose, 10000);
        QCOMPARE(desktop.said("no tray to return to"), stateAfterClose == 3u);
        QVERIFY(desktop.startAgain());
        QTRY_COMPARE_WITH_TIMEOUT(desktop.wmState(window), 1u, 10000);
        QCOMPARE(desktop.app.state(), QProcess::Running);
    }

    // Ended from outside (a logout, kill, a closed terminal), the application shuts down as on "Exit": the
    // streaming panel is told to stop, the settings stay as saved, the exit status is 0.
    void endedBySignal()
    {
        Desktop desktop;
        QVERIFY(desktop.isReady());
        const std::unique_ptr<EmulatedPanel> panel = PanelFixture(25).start();
        QVERIFY(panel);
        QFile settings(desktop.home.filePath(QStringLiteral("data/PivotrixEntertainment/settings.json")));
        const QVariantMap streaming{{QStringLiteral("stream_enabled"), true},
                                    {QStringLiteral("stream_source"), QStringLiteral("mirror")}};
        QVERIFY(QDir().mkpath(QFileInfo(settings).path()) &&
                TestRegistry::writeSettings(settings.fileName(),
                                            {TestRegistry::record(panel.get(), 1, streaming)}) &&
                settings.open(QIODevice::ReadOnly));
        const QByteArray saved = settings.readAll();
        desktop.start(desktop.app, QStringLiteral(APP_PATH), {QStringLiteral("--minimized")});
        QTRY_VERIFY_WITH_TIMEOUT(panel->statistics().snapshot().good > 0, 20000);
        ::kill(pid_t(desktop.app.processId()), SIGTERM);
        QVERIFY(desktop.app.waitForFinished(10000));
        QVERIFY(desktop.app.exitStatus() == QProcess::NormalExit && desktop.app.exitCode() == 0);
        QCOMPARE(panel->requestCounts().value(QStringLiteral("stop")), 1u);
        QVERIFY(settings.seek(0) && settings.readAll() == saved);
    }
};

QTEST_GUILESS_MAIN(TestAppProcess)
#include "tst_appprocess.moc"
