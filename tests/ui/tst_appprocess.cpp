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

// One X server, one session bus, one home; the application, a window manager and a real tray host.
class Desktop
{
public:
    XvfbServer x;
    const bool xStarted = x.start(QSize(800, 600));
    AppHome home;
    // The bus hands its environment on to the services it starts: xfconfd keeps what the panel learns in
    // this home, not in the test's.
    const bool servicesAtHome =
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    PrivateBus bus;
    xcb_connection_t* c = xcb_connect(x.display().constData(), nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    QDBusConnection dbus =
        QDBusConnection::connectToBus(QString::fromLatin1(bus.address()), QStringLiteral("d"));
    QProcess app, wm, host;
    QByteArray output;

    ~Desktop()
    {
        for (QProcess* p : {&wm, &app, &host}) {
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
        env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1")); // GTK's accessibility bus is no part
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
    bool startWindowManager()
    {
        start(wm, QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        return QTest::qWaitFor([this] { return !property(root, "_NET_SUPPORTING_WM_CHECK").isEmpty(); },
                               10000);
    }
    // The user's mouse and keyboard, through the X server's test extension.
    bool xdotool(const QString& command)
    {
        QProcess p;
        start(p, QStringLiteral("xdotool"), command.split(QLatin1Char(' ')));
        return p.waitForFinished(10000) && p.exitCode() == 0;
    }
    bool click(QPoint at, int button)
    {
        return !at.isNull() &&
               xdotool(QStringLiteral("mousemove %1 %2 click %3").arg(at.x()).arg(at.y()).arg(button));
    }

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

    // A real host along the top edge, ready: xfce4-panel with only its systray plugin (a StatusNotifier
    // watcher and host, and an XEmbed tray), or trayer, an XEmbed tray manager.
    bool startHost(bool statusNotifier)
    {
        start(host, QLatin1String(statusNotifier ? "xfce4-panel" : "trayer"),
              QString(QLatin1String(statusNotifier ? "--disable-wm-check" : "--edge top --SetDockType true"))
                  .split(QLatin1Char(' ')));
        const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
        return QTest::qWaitFor(
            [&] {
                if (statusNotifier)
                    return QDBusInterface(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, dbus)
                        .property("IsStatusNotifierHostRegistered")
                        .toBool();
                xcb_get_selection_owner_reply_t* r = xcb_get_selection_owner_reply(
                    c, xcb_get_selection_owner(c, atom("_NET_SYSTEM_TRAY_S0")), nullptr);
                const bool owned = r && r->owner;
                std::free(r);
                return owned;
            },
            10000);
    }
    bool stopHost() { return (host.terminate(), host.waitForFinished(10000)); }
    // Where the icon shows: the middle of what differs from the host's own background on the strip along
    // the top edge that both hosts fill, or a null point.
    QPoint iconOnScreen()
    {
        const int width = 800, height = 24;
        xcb_get_image_reply_t* r = xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, 1, width, height, ~0u), nullptr);
        QRect icon;
        for (int y = 0; r && y < height; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(xcb_get_image_data(r)) + y * width;
            for (int x = 0; x < width; ++x)
                icon |= row[x] == row[width - 1] ? QRect() : QRect(x, y + 1, 1, 1);
        }
        std::free(r);
        return icon.width() < 16 || icon.height() < 16 ? QPoint()
                                                       : icon.center(); // not a host still laid out
    }
    // The open menu (the tallest override-redirect window shown: not a tooltip), or an empty rectangle.
    QRect menuOnScreen()
    {
        QRect menu;
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        for (int i = 0; tree && i < xcb_query_tree_children_length(tree); ++i) {
            const xcb_window_t w = xcb_query_tree_children(tree)[i];
            auto* a = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
            auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
            if (a && g && a->override_redirect && a->map_state == XCB_MAP_STATE_VIEWABLE &&
                g->height > menu.height())
                menu = QRect(g->x, g->y, g->width, g->height);
            std::free(a);
            std::free(g);
        }
        std::free(tree);
        return menu;
    }
    // Opens the icon's menu as a user does and clicks its entry (of its two: "Show" or "Hide", "Exit").
    bool pickFromMenu(int entry)
    {
        QRect menu;
        return click(iconOnScreen(), 3) &&
               QTest::qWaitFor([&] { return !(menu = menuOnScreen()).isEmpty(); }, 10000) &&
               click(QPoint(menu.center().x(), menu.y() + menu.height() * (2 * entry + 1) / 4), 1);
    }
};

class TestAppProcess : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Named as their packages are, but Xvfb's, xvfb.
        for (const char* program : {"Xvfb", "openbox", "trayer", "xfce4-panel", "xdotool"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
                QSKIP(qPrintable(QString(QLatin1String(program)).toLower() + QLatin1String(" is missing")));
    }

    // A host, of either kind, shows the icon whenever it comes: before the start, long after it, and again
    // when it restarts; the icon's menu works.
    void trayHostGetsTheIcon_data()
    {
        QTest::addColumn<bool>("statusNotifier");
        QTest::addColumn<int>("delayMs"); // after the application settled; -1: before it starts
        QTest::newRow("status notifier before the start") << true << -1;
        QTest::newRow("status notifier 30 s after the start") << true << 30000;
        QTest::newRow("tray manager before the start") << false << -1;
        QTest::newRow("tray manager after the start") << false << 1000;
    }

    void trayHostGetsTheIcon()
    {
        QFETCH(bool, statusNotifier);
        QFETCH(int, delayMs);
        Desktop desktop;
        QVERIFY(desktop.isReady() && desktop.startWindowManager());
        if (delayMs < 0)
            QVERIFY(desktop.startHost(statusNotifier));
        desktop.start(desktop.app, QStringLiteral(APP_PATH), {QStringLiteral("--minimized")});
        if (delayMs >= 0) {
            QTRY_VERIFY_WITH_TIMEOUT(desktop.said("tray icon waits"), 20000);
            QTest::qWait(delayMs);
            QVERIFY2(!desktop.said("tray icon created"), desktop.output.constData());
            QVERIFY(desktop.startHost(statusNotifier));
        }
        // Qt picks the kind with the first icon; the application must know which it got.
        const QByteArray created = QByteArray("tray icon created for the ") +
                                   (statusNotifier ? "status notifier host" : "tray manager");
        QTRY_VERIFY_WITH_TIMEOUT(!desktop.iconOnScreen().isNull(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(desktop.times(created), 1, 5000);

        QVERIFY(desktop.stopHost());
        QTRY_VERIFY_WITH_TIMEOUT(
            desktop.said(statusNotifier ? "status notifier host gone" : "tray manager gone"), 10000);
        QVERIFY(desktop.startHost(statusNotifier));
        QTRY_VERIFY_WITH_TIMEOUT(desktop.said("tray host back"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!desktop.iconOnScreen().isNull(), 10000);
        QCOMPARE(desktop.times(created), 1); // the same icon, not one that blinks out for a new one

        // A click on the icon shows the window; its menu hides and shows it, and ends the application.
        QVERIFY(desktop.click(desktop.iconOnScreen(), 1));
        QTRY_VERIFY_WITH_TIMEOUT(desktop.managedMainWindow(), 10000);
        QVERIFY(desktop.pickFromMenu(0));
        QTRY_VERIFY_WITH_TIMEOUT(!desktop.managedMainWindow(), 10000);
        QVERIFY(desktop.pickFromMenu(0));
        QTRY_VERIFY_WITH_TIMEOUT(desktop.managedMainWindow(), 10000);
        QVERIFY(desktop.pickFromMenu(1) && desktop.app.waitForFinished(10000));
        QVERIFY(desktop.app.exitStatus() == QProcess::NormalExit && desktop.app.exitCode() == 0);
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
        QVERIFY(desktop.isReady() && desktop.startWindowManager());
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
        if (tray == QLatin1String("tray manager")) {
            QVERIFY(desktop.stopHost());
            QTRY_VERIFY_WITH_TIMEOUT(desktop.said("tray manager gone"), 10000);
        }

        // The window manager's key for closing the window in front.
        QVERIFY(desktop.xdotool(QStringLiteral("key alt+F4")));
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
