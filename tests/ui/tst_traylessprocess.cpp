// The real application on the test X server with no tray at all: closing the window hides it and says so,
// and a second start brings it back.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {
// The top-level X window titled `title` (no window manager here, so a child of the root), or 0.
xcb_window_t findWindow(xcb_connection_t* c, const QByteArray& title, bool* viewable)
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, screen->root), nullptr);
    if (!tree)
        return 0;
    xcb_window_t found = 0;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
        xcb_get_property_reply_t* name = xcb_get_property_reply(
            c, xcb_get_property(c, 0, children[i], XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 256), nullptr);
        if (name && QByteArray(static_cast<const char*>(xcb_get_property_value(name)),
                               xcb_get_property_value_length(name)) == title) {
            found = children[i];
            xcb_get_window_attributes_reply_t* attributes =
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, found), nullptr);
            *viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(attributes);
        }
        std::free(name);
    }
    std::free(tree);
    return found;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}
} // namespace

class TestTraylessProcess : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_home;
    xcb_connection_t* m_x = nullptr;

    void startApp(QProcess& p, const QStringList& args = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(APP_PATH), args);
        QVERIFY(p.waitForStarted());
    }

    bool windowViewable()
    {
        bool viewable = false;
        return findWindow(m_x, "Pivotrix Entertainment", &viewable) && viewable;
    }

    static bool outputContains(QProcess& p, QByteArray& seen, const QByteArray& text)
    {
        seen += p.readAllStandardOutput();
        return seen.contains(text);
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the test X server");
        QVERIFY(m_home.isValid());
        QDir(m_home.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(m_home.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_x = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(m_x));
    }

    void cleanupTestCase()
    {
        if (m_x)
            xcb_disconnect(m_x);
    }

    void closeHidesAndASecondStartShows()
    {
        QProcess app;
        startApp(app);
        QTRY_VERIFY_WITH_TIMEOUT(windowViewable(), 15000);

        // What a window manager's close button sends.
        bool viewable = false;
        const xcb_window_t window = findWindow(m_x, "Pivotrix Entertainment", &viewable);
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom(m_x, "WM_PROTOCOLS");
        message.data.data32[0] = atom(m_x, "WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_x, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(m_x);

        QByteArray seen;
        QTRY_VERIFY_WITH_TIMEOUT(outputContains(app, seen, "no tray to return from"), 10000);
        QVERIFY(seen.contains("close event"));
        QTRY_VERIFY_WITH_TIMEOUT(!windowViewable(), 5000);
        QTest::qWait(300);
        QCOMPARE(app.state(), QProcess::Running);

        QProcess second;
        startApp(second);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(windowViewable(), 10000);
        QCOMPARE(app.state(), QProcess::Running);

        app.kill();
        app.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(TestTraylessProcess)
#include "tst_traylessprocess.moc"
