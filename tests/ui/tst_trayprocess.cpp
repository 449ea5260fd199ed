// The real application, each run on an X server and a session bus of its own: which tray hosts exist, and
// when they appear, is then the run's alone (Qt settles its tray protocol once per process).
#include "tests/session/PrivateBus.h"
#include "tests/session/PrivateXServer.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

QVector<uint32_t> property(xcb_connection_t* c, xcb_window_t w, xcb_atom_t name)
{
    QVector<uint32_t> values;
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, name, XCB_ATOM_ANY, 0, 1024), nullptr);
    if (reply && reply->format == 32) {
        const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
        values = QVector<uint32_t>(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

QByteArray windowName(xcb_connection_t* c, xcb_window_t w)
{
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 256), nullptr);
    QByteArray name;
    if (reply)
        name = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                          xcb_get_property_value_length(reply));
    std::free(reply);
    return name;
}

void sendClientMessage(xcb_connection_t* c, xcb_window_t to, xcb_window_t about, xcb_atom_t type,
                       std::initializer_list<uint32_t> data, uint32_t mask)
{
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = about;
    message.type = type;
    std::copy(data.begin(), data.end(), message.data.data32);
    xcb_send_event(c, 0, to, mask, reinterpret_cast<const char*>(&message));
    xcb_flush(c);
}
} // namespace

// A desktop panel's StatusNotifier watcher, as far as an application sees it.
class FakeStatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    int registrations = 0;
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return {}; }
public slots:
    void RegisterStatusNotifierItem(const QString&) { ++registrations; }
    void RegisterStatusNotifierHost(const QString&) {}
};

// One X server, one session bus, one home; the application and the tray hosts the test plays.
class Desktop
{
public:
    PrivateXServer x;
    PrivateBus bus;
    QTemporaryDir home;
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    QProcess app;
    QByteArray output;
    FakeStatusNotifierWatcher watcher;
    int dockRequests = 0;

    Desktop()
    {
        if (!x.isRunning() || !bus.isRunning() || !home.isValid())
            return;
        QDir(home.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        c = xcb_connect(x.display().constData(), nullptr);
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        m_dbus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromLatin1(bus.address()), QStringLiteral("desktop")));
    }
    ~Desktop()
    {
        for (QProcess* p : {&m_wm, &app}) {
            p->kill();
            p->waitForFinished(5000);
        }
        m_dbus.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
        if (c)
            xcb_disconnect(c);
    }
    bool isReady() const { return c && !xcb_connection_has_error(c) && m_dbus && m_dbus->isConnected(); }

    void start(QProcess& p)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(x.display()));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(bus.address()));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(APP_PATH), QStringList());
    }
    bool said(const QByteArray& text)
    {
        output += app.readAll();
        return output.contains(text);
    }

    bool startWindowManager()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(x.display()));
        env.insert(QStringLiteral("HOME"), home.path());
        m_wm.setProcessEnvironment(env);
        m_wm.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        return m_wm.waitForStarted(5000);
    }
    bool windowManagerReady() { return !property(c, root, atom(c, "_NET_SUPPORTING_WM_CHECK")).isEmpty(); }

    // The application's main window among the window manager's clients, or 0.
    xcb_window_t managedMainWindow()
    {
        for (uint32_t w : property(c, root, atom(c, "_NET_CLIENT_LIST"))) {
            if (windowName(c, w) == "Pivotrix Entertainment")
                return w;
        }
        return 0;
    }
    // 1 normal, 3 iconic, 0 withdrawn (or never managed).
    uint32_t wmState(xcb_window_t w)
    {
        const QVector<uint32_t> state = property(c, w, atom(c, "WM_STATE"));
        return state.isEmpty() ? 0 : state.first();
    }
    bool viewable(xcb_window_t w)
    {
        xcb_get_window_attributes_reply_t* a =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        const bool result = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(a);
        return result;
    }

    bool startStatusNotifierHost()
    {
        return m_dbus->registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                      QDBusConnection::ExportAllSlots |
                                          QDBusConnection::ExportAllProperties) &&
               m_dbus->registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }

    // Takes the XEmbed tray selection and announces it, as a panel's notification area does.
    void startTrayManager()
    {
        m_trayWindow = xcb_generate_id(c);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, m_trayWindow, root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const xcb_atom_t selection = atom(c, "_NET_SYSTEM_TRAY_S0");
        xcb_set_selection_owner(c, m_trayWindow, selection, XCB_CURRENT_TIME);
        sendClientMessage(c, root, root, atom(c, "MANAGER"),
                          {XCB_CURRENT_TIME, selection, m_trayWindow, 0, 0}, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    }
    // Counts the dock requests that reached the tray manager.
    int docked()
    {
        const xcb_atom_t opcode = atom(c, "_NET_SYSTEM_TRAY_OPCODE");
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
            const auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
            if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE && m->type == opcode &&
                m->window == m_trayWindow && m->data.data32[1] == 0)
                ++dockRequests;
            std::free(e);
        }
        return dockRequests;
    }

private:
    std::unique_ptr<QDBusConnection> m_dbus;
    QProcess m_wm;
    xcb_window_t m_trayWindow = 0;
};

class TestTrayProcess : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            QSKIP("needs Xvfb");
    }

    // A host, of either kind, gets the icon whenever it comes: before the start, or long after it.
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
        auto startHost = [&] {
            if (statusNotifier)
                QVERIFY(desktop.startStatusNotifierHost());
            else
                desktop.startTrayManager();
        };
        if (delayMs < 0)
            startHost();
        desktop.start(desktop.app);
        if (delayMs >= 0) {
            QTRY_VERIFY_WITH_TIMEOUT(desktop.said("tray icon waits"), 20000);
            QTest::qWait(delayMs);
            QVERIFY2(!desktop.said("tray icon created"), desktop.output.constData());
            startHost();
        }
        if (statusNotifier)
            QTRY_VERIFY_WITH_TIMEOUT(desktop.watcher.registrations >= 1, 10000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(desktop.docked() >= 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.said("tray icon created"), 5000);
        QCOMPARE(desktop.output.count("tray icon created"), 1);
    }

    // Under a window manager, closing sends the window to the tray, or to the task bar when there is no tray;
    // from either, a second start brings it back.
    void closeThenStartAgain_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::addColumn<uint32_t>("stateAfterClose");
        QTest::newRow("no tray") << false << 3u;        // iconic
        QTest::newRow("status notifier") << true << 0u; // withdrawn
    }

    void closeThenStartAgain()
    {
        QFETCH(bool, tray);
        QFETCH(uint32_t, stateAfterClose);
        if (QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty())
            QSKIP("needs openbox");
        Desktop desktop;
        QVERIFY(desktop.isReady());
        QVERIFY(desktop.startWindowManager());
        QTRY_VERIFY_WITH_TIMEOUT(desktop.windowManagerReady(), 10000);
        if (tray)
            QVERIFY(desktop.startStatusNotifierHost());
        desktop.start(desktop.app);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.managedMainWindow(), 20000);
        const xcb_window_t window = desktop.managedMainWindow();
        QTRY_COMPARE_WITH_TIMEOUT(desktop.wmState(window), 1u, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.said(tray ? "tray icon created" : "tray icon waits"), 10000);

        // The window manager's close button.
        sendClientMessage(desktop.c, desktop.root, window, atom(desktop.c, "_NET_CLOSE_WINDOW"), {0, 2},
                          XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.said("close event"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(desktop.wmState(window), stateAfterClose, 10000);
        QVERIFY(!desktop.viewable(window));
        QCOMPARE(desktop.said("no tray to return to"), !tray);

        QProcess second;
        desktop.start(second);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(desktop.wmState(window), 1u, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.viewable(window), 5000);
        QCOMPARE(desktop.app.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestTrayProcess)
#include "tst_trayprocess.moc"
