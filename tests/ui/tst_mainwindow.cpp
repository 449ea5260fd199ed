// The main window on the test X server, with a session bus of its own where a panel's StatusNotifier
// watcher runs from the start (Qt settles its tray protocol with the first icon of the process).
#include "common/LogCapture.h"
#include "core/AutostartRegistration.h"
#include "core/ResourceManager.h"
#include "core/SettingsManager.h"
#include "tests/session/PrivateBus.h"
#include "tests/ui/TestHttpServer.h"
#include "ui/AboutDialog.h"
#include "ui/MainWindow.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdateDialog.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

Q_DECLARE_METATYPE(QSystemTrayIcon::ActivationReason)

namespace {
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

template <class T> QList<T*> visibleTopLevels()
{
    QList<T*> found;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* w : widgets) {
        if (auto* t = qobject_cast<T*>(w); t && t->isVisible())
            found << t;
    }
    return found;
}

QAction* action(MainWindow& window, const char* name)
{
    return window.findChild<QAction*>(QLatin1String(name));
}
} // namespace

// A desktop panel's StatusNotifier watcher, as far as an application sees it. Lives on a thread of its own:
// Qt asks the host synchronously from the GUI thread.
class FakeStatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    std::atomic<int> registrations{0};
    bool hostRegistered() const { return true; }
public slots:
    void RegisterStatusNotifierItem(const QString&) { ++registrations; }
};

class TestMainWindow : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<LogCapture> m_log;
    QThread m_panelThread;
    FakeStatusNotifierWatcher m_watcher;

    static QDBusConnection panel() { return QDBusConnection(QStringLiteral("panel")); }

    void answer(const QByteArray& body, int status = 200, int delayMs = 0)
    {
        m_server->body = body;
        m_server->status = status;
        m_server->delayMs = delayMs;
    }

    // The automatic check of a new window has been answered.
    static void settle() { QTRY_VERIFY(!UpdateChecker::instance()->isChecking()); }

    // Runs the application's event loop around `action`, as the real program does; the result is the loop's
    // exit code, or -1 if nothing ended it.
    static int runApplication(const std::function<void()>& action)
    {
        qApp->setQuitOnLastWindowClosed(true);
        QTimer::singleShot(0, qApp, action);
        QTimer::singleShot(1000, qApp, [] { QCoreApplication::exit(-1); });
        const int result = QCoreApplication::exec();
        qApp->setQuitOnLastWindowClosed(false);
        return result;
    }

private slots:
    void initTestCase()
    {
        m_log = std::make_unique<LogCapture>();
        QVERIFY(m_dir.isValid());
        ResourceManager* registry = ResourceManager::instance();
        registry->setAutostartRegistration(nullptr);
        registry->loadSettings(m_dir.filePath(QStringLiteral("settings.json")));

        QDBusConnection bus = QDBusConnection::connectToBus(
            QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("panel"));
        m_watcher.moveToThread(&m_panelThread);
        m_panelThread.start();
        QVERIFY(bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &m_watcher,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        QVERIFY(bus.registerService(kWatcherService));
    }

    void init()
    {
        m_log->clear();
        m_server = std::make_unique<TestHttpServer>();
        UpdateChecker::instance()->setServiceUrl(m_server->baseUrl());
        answer("{\"version\":\"1.0.1\"}");
    }

    void cleanup()
    {
        settle();
        const QWidgetList widgets = QApplication::topLevelWidgets();
        for (QWidget* w : widgets) {
            if (qobject_cast<QDialog*>(w))
                w->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_server.reset();
        if (!panel().interface()->isServiceRegistered(kWatcherService))
            QVERIFY(panel().registerService(kWatcherService));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
        m_panelThread.quit();
        m_panelThread.wait(5000);
        ResourceManager::destroyInstance();
        m_log.reset();
    }

    // A restarted panel knows nothing of the icon the last one had: the icon registers with it anew.
    void trayIconFollowsARestartedPanel()
    {
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(window.hasTray(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(m_watcher.registrations.load() >= 1, 5000);
        QCOMPARE(window.trayIcon()->contextMenu(), window.trayMenu());
        const int before = m_watcher.registrations.load();

        QVERIFY(panel().unregisterService(kWatcherService));
        QTRY_VERIFY(!window.hasTray());
        QVERIFY(panel().registerService(kWatcherService));
        QTRY_VERIFY_WITH_TIMEOUT(window.hasTray(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(m_watcher.registrations.load() > before, 5000);
        QCOMPARE(m_log->count(QStringLiteral("tray icon created")), 2);
    }

    // Hidden with no tray to come back from, the window would be lost until the next start.
    void closeGoesToTheTrayOrTheTaskBar_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::newRow("tray") << true;
        QTest::newRow("no tray") << false;
    }

    void closeGoesToTheTrayOrTheTaskBar()
    {
        QFETCH(bool, tray);
        if (!tray)
            QVERIFY(panel().unregisterService(kWatcherService));
        MainWindow window;
        QTRY_COMPARE_WITH_TIMEOUT(window.hasTray(), tray, 5000);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!window.close());
        QCOMPARE(window.isHidden(), tray);
        QCOMPARE(window.isMinimized(), !tray);
        QCOMPARE(m_log->count(QStringLiteral("no tray to return to")), tray ? 0 : 1);
    }

    void launchOnStartup_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("checked");
        QTest::newRow("absent") << QVariant() << true;
        QTest::newRow("off") << QVariant(false) << false;
    }

    void launchOnStartup()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, checked);
        SettingsManager* settings = ResourceManager::instance()->settingsManager();
        if (stored.isValid())
            settings->setValue(QStringLiteral("run_on_start"), stored);
        else
            settings->load(m_dir.filePath(QStringLiteral("fresh.json")));
        MainWindow window;
        QAction* launch = action(window, "actionRun_on_startup");
        QCOMPARE(launch->isChecked(), checked);
        launch->trigger();
        QCOMPARE(settings->value(QStringLiteral("run_on_start")), QVariant(!checked));
    }

    // The tray entry offers what the user can do with the window as it stands; showing brings a minimised
    // window back to the front.
    void trayShowsAndHides_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("reason"); // -1: the tray menu's entry
        QTest::addColumn<QString>("offered");
        QTest::addColumn<bool>("shown");
        const int entry = -1;
        QTest::newRow("hidden, entry") << "hidden" << entry << "Show" << true;
        QTest::newRow("visible, entry") << "visible" << entry << "Hide" << false;
        QTest::newRow("minimised, entry") << "minimised" << entry << "Show" << true;
        QTest::newRow("minimised, click") << "minimised" << int(QSystemTrayIcon::Trigger) << "Show" << true;
        QTest::newRow("hidden, click") << "hidden" << int(QSystemTrayIcon::Trigger) << "Show" << true;
        QTest::newRow("hidden, double click")
            << "hidden" << int(QSystemTrayIcon::DoubleClick) << "Show" << false;
        QTest::newRow("minimised, context")
            << "minimised" << int(QSystemTrayIcon::Context) << "Show" << false;
    }

    void trayShowsAndHides()
    {
        QFETCH(QString, state);
        QFETCH(int, reason);
        QFETCH(QString, offered);
        QFETCH(bool, shown);
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(window.hasTray(), 5000);
        if (state != QLatin1String("hidden")) {
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
        }
        if (state == QLatin1String("minimised"))
            window.showMinimized();
        QTRY_COMPARE(window.showHideAction()->text(), offered);

        if (reason < 0)
            window.showHideAction()->trigger();
        else
            emit window.trayIcon()->activated(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(window.isVisible() && !window.isMinimized(), shown);
        QTRY_COMPARE(window.showHideAction()->text(), QLatin1String(shown ? "Hide" : "Show"));
        if (shown)
            QTRY_VERIFY_WITH_TIMEOUT(window.isActiveWindow(), 5000);
    }

    void handleMessage_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("shows");
        QTest::newRow("show") << QStringLiteral("show") << 1;
        QTest::newRow("capitalised") << QStringLiteral("Show") << 0;
        QTest::newRow("trailing blank") << QStringLiteral("show ") << 0;
        QTest::newRow("empty") << QString() << 0;
    }

    void handleMessage()
    {
        QFETCH(QString, message);
        QFETCH(int, shows);
        MainWindow window;
        QSignalSpy spy(&window, &MainWindow::needToShow);
        window.handleMessage(message);
        QCOMPARE(spy.count(), shows);
        QCOMPARE(m_log->count(QStringLiteral("handle external msg")), 1);
    }

    void exitEndsTheApplicationEvenWithADialogOpen()
    {
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(window.hasTray(), 5000);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        action(window, "actionAbout")->trigger();
        QCOMPARE(visibleTopLevels<AboutDialog>().size(), 1);
        QCOMPARE(runApplication([&window] { action(window, "actionExit")->trigger(); }), 0);
        QVERIFY(window.isHidden());
        QVERIFY(!window.trayIcon()->isVisible());
    }

    void closingWindowAndDialogKeepsTheApplication()
    {
        MainWindow window;
        QTRY_VERIFY_WITH_TIMEOUT(window.hasTray(), 5000);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        action(window, "actionAbout")->trigger();
        const QPointer<AboutDialog> dialog = visibleTopLevels<AboutDialog>().value(0);
        QVERIFY(dialog);
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
        QCOMPARE(runApplication([&window, dialog] {
                     window.close();
                     dialog->close();
                 }),
                 -1);
        QVERIFY(window.isHidden());
        QVERIFY(!dialog); // deleted on close
    }

    void automaticCheck_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("dialogs");
        QTest::newRow("newer") << QByteArray(
                                      "{\"version\":\"1.1.0\",\"download_url\":\"https://example.org/p\"}")
                               << 200 << 1;
        QTest::newRow("same") << QByteArray("{\"version\":\"1.0.1\"}") << 200 << 0;
        QTest::newRow("error") << QByteArray() << 503 << 0;
    }

    void automaticCheck()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(int, dialogs);
        answer(body, status);
        MainWindow window;
        QTRY_COMPARE(m_server->requests, 1);
        settle();
        QCOMPARE(visibleTopLevels<UpdateDialog>().size(), dialogs);
    }

    // The manual check joins the automatic one still on its way; its answer opens one dialog, not two.
    void manualCheckWhileTheAutomaticOneWaits()
    {
        answer("{\"version\":\"1.1.0\",\"download_url\":\"https://example.org/p\"}", 200, 300);
        MainWindow window;
        QTRY_COMPARE(m_server->requests, 1);
        action(window, "actionCheck_For_Update")->trigger();
        settle();
        QCOMPARE(m_server->requests, 1);
        const QList<UpdateDialog*> dialogs = visibleTopLevels<UpdateDialog>();
        QCOMPARE(dialogs.size(), 1);
        QVERIFY(dialogs.first()->statusLabel()->text().contains(QStringLiteral("1.1.0")));
    }
};

int main(int argc, char** argv)
{
    // The session bus must be ours before Qt first looks at it.
    PrivateBus bus;
    if (!bus.isRunning()) {
        std::fprintf(stderr, "dbus-daemon did not start\n");
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address());
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
