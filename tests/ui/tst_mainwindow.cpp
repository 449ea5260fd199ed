// The main window on the test X server, with a session bus of its own where a tray host can appear.
#include "support/LogCapture.h"
#include "core/AutostartRegistration.h"
#include "core/ResourceManager.h"
#include "core/SettingsManager.h"
#include "support/PrivateBus.h"
#include "support/TestHttpServer.h"
#include "ui/AboutDialog.h"
#include "ui/MainWindow.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdateDialog.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTabWidget>
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
LogCapture* g_capture = nullptr;

template <class T> QList<T*> topLevels()
{
    QList<T*> found;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* w : widgets) {
        if (auto* t = qobject_cast<T*>(w); t && t->isVisible())
            found << t;
    }
    return found;
}

void closeDialogs()
{
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* w : widgets) {
        if (qobject_cast<QDialog*>(w))
            w->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
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
    // Lives on a thread of its own: Qt asks the host synchronously from the GUI thread.
    std::atomic<int> registrations{0};
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return {}; }
public slots:
    void RegisterStatusNotifierItem(const QString& service)
    {
        Q_UNUSED(service)
        ++registrations;
    }
    void RegisterStatusNotifierHost(const QString& service) { Q_UNUSED(service) }
};

class TestMainWindow : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<TestHttpServer> m_server;

    void answer(const QByteArray& body, int status = 200, int delayMs = 0)
    {
        m_server->body = body;
        m_server->status = status;
        m_server->delayMs = delayMs;
    }

    static QStringList actionTexts(const QList<QAction*>& actions)
    {
        QStringList texts;
        for (QAction* a : actions)
            texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return texts;
    }

    static int logCount(const QString& start)
    {
        int n = 0;
        for (const QString& line : g_capture->lines())
            n += line.startsWith(start) ? 1 : 0;
        return n;
    }

    // The automatic check of a new window has been answered.
    void settle() { QTRY_VERIFY(!UpdateChecker::instance()->isChecking()); }

private slots:
    void initTestCase()
    {
        g_capture = new LogCapture;
        QVERIFY(m_dir.isValid());
        ResourceManager* registry = ResourceManager::instance();
        registry->setAutostartRegistration(nullptr);
        registry->loadSettings(m_dir.filePath(QStringLiteral("settings.json")));
        QVERIFY(QDBusConnection::sessionBus().isConnected());
    }

    void init()
    {
        g_capture->clear();
        m_server = std::make_unique<TestHttpServer>();
        UpdateChecker::instance()->setServiceUrl(m_server->baseUrl());
        answer("{\"version\":\"1.0.1\"}");
    }

    void cleanup()
    {
        settle();
        closeDialogs();
        m_server.reset();
    }

    void cleanupTestCase()
    {
        ResourceManager::destroyInstance();
        delete g_capture;
        g_capture = nullptr;
    }

    // First, before anything made a tray icon: Qt looks for a tray host only once per process.
    void trayIconWaitsForAHostAndFollowsIt()
    {
        MainWindow window;
        QVERIFY(!window.trayIcon());
        QCOMPARE(logCount(QStringLiteral("no status notifier host yet")), 1);
        QSignalSpy created(&window, &MainWindow::trayIconCreated);

        QDBusConnection panel = QDBusConnection::connectToBus(
            QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("panel"));
        QThread panelThread;
        FakeStatusNotifierWatcher watcher;
        watcher.moveToThread(&panelThread);
        panelThread.start();
        auto stopPanel = qScopeGuard([&] {
            panel.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
            panel.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
            QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
            panelThread.quit();
            panelThread.wait(5000);
        });
        QVERIFY(panel.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        QVERIFY(panel.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));

        QTRY_COMPARE_WITH_TIMEOUT(created.count(), 1, 5000);
        QVERIFY(window.trayIcon());
        QVERIFY(window.trayIcon()->isVisible());
        QCOMPARE(window.trayIcon()->toolTip(), QStringLiteral("Pivotrix Entertainment"));
        QCOMPARE(window.trayIcon()->contextMenu(), window.trayMenu());
        // Qt's own StatusNotifier item announced itself to the host.
        QTRY_COMPARE_WITH_TIMEOUT(watcher.registrations.load(), 1, 5000);

        // The panel restarts: a fresh icon registers with the new host.
        QVERIFY(panel.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher")));
        QTest::qWait(100);
        QVERIFY(panel.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
        QTRY_COMPARE_WITH_TIMEOUT(created.count(), 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(watcher.registrations.load(), 2, 5000);

        // A window made while the host is there shows its icon at once.
        {
            MainWindow second;
            QVERIFY(second.trayIcon());
        }
    }

    void trayIconFallsBackAfterTheWait()
    {
        MainWindow window;
        QVERIFY(!window.trayIcon());
        window.setTrayHostWait(50);
        QTRY_VERIFY(window.trayIcon());
        QVERIFY(window.trayIcon()->isVisible());
    }

    void form()
    {
        MainWindow window;
        QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Pivotrix Entertainment"));
        QCOMPARE(window.size(), QSize(1221, 616));
        QVERIFY(!window.windowIcon().isNull());
        QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));

        QTabWidget* tabs = window.chapterTab();
        QCOMPARE(tabs->objectName(), QStringLiteral("chapterTab"));
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(0), QStringLiteral("Razer Chroma"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("Screen Mirror"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("Pivotrix Devices"));
        QCOMPARE(tabs->currentIndex(), 1);
        const QStringList pages = {QStringLiteral("razerWidget"), QStringLiteral("screenMirrorWidget"),
                                   QStringLiteral("searchDevicesWidget")};
        for (int i = 0; i < pages.size(); ++i)
            QVERIFY2(tabs->widget(i)->findChild<QWidget*>(pages.at(i)), qPrintable(pages.at(i)));

        auto* menu = window.menuBar()->findChild<QMenu*>(QStringLiteral("menuAbout"));
        QVERIFY(menu);
        QCOMPARE(menu->title(), QStringLiteral("Options"));
        QCOMPARE(actionTexts(menu->actions()),
                 (QStringList{QStringLiteral("Launch On Startup"), QStringLiteral("-"),
                              QStringLiteral("Check For Update"), QStringLiteral("About")}));
        QVERIFY(menu->actions().first()->isCheckable());
        QCOMPARE(menu->actions().first()->objectName(), QStringLiteral("actionRun_on_startup"));
        QCOMPARE(actionTexts(window.trayMenu()->actions()),
                 (QStringList{QStringLiteral("Show"), QStringLiteral("Exit")}));
    }

    void launchOnStartup_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("checked");
        QTest::newRow("absent") << QVariant() << true;
        QTest::newRow("on") << QVariant(true) << true;
        QTest::newRow("off") << QVariant(false) << false;
    }

    void launchOnStartup()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, checked);
        SettingsManager* settings = ResourceManager::instance()->settingsManager();
        if (stored.isValid()) {
            settings->setValue(QStringLiteral("run_on_start"), stored);
        } else {
            settings->load(m_dir.filePath(
                QStringLiteral("fresh-%1.json").arg(QString::fromLatin1(QTest::currentDataTag()))));
        }
        MainWindow window;
        QAction* action = window.findChild<QAction*>(QStringLiteral("actionRun_on_startup"));
        QCOMPARE(action->isChecked(), checked);
        action->trigger();
        QCOMPARE(settings->value(QStringLiteral("run_on_start")), QVariant(!checked));
        QCOMPARE(ResourceManager::instance()->runOnStart(), !checked);
    }

    void closeHidesAndShowHideToggles()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.showHideAction()->text(), QStringLiteral("Hide"));
        QSignalSpy last(qApp, &QGuiApplication::lastWindowClosed);

        QVERIFY(!window.close());
        QVERIFY(window.isHidden());
        QCOMPARE(window.showHideAction()->text(), QStringLiteral("Show"));
        QCOMPARE(logCount(QStringLiteral("close event")), 1);
        // Without any tray the close says how to get the window back.
        QCOMPARE(logCount(QStringLiteral("no tray to return from")), 1);
        QCOMPARE(last.count(), 0);

        window.showHideAction()->trigger();
        QVERIFY(window.isVisible());
        QCOMPARE(window.showHideAction()->text(), QStringLiteral("Hide"));
        window.showHideAction()->trigger();
        QVERIFY(window.isHidden());
        QCOMPARE(last.count(), 0);
    }

    void trayActivation_data()
    {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::addColumn<bool>("shown");
        QTest::newRow("click") << QSystemTrayIcon::Trigger << true;
        QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << false;
        QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << false;
        QTest::newRow("context") << QSystemTrayIcon::Context << false;
    }

    void trayActivation()
    {
        QFETCH(QSystemTrayIcon::ActivationReason, reason);
        QFETCH(bool, shown);
        MainWindow window;
        window.setTrayHostWait(0);
        QTRY_VERIFY(window.trayIcon());
        emit window.trayIcon()->activated(reason);
        QCOMPARE(window.isVisible(), shown);
    }

    void handleMessage_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("shows");
        QTest::newRow("show") << QStringLiteral("show") << 1;
        QTest::newRow("capitalised") << QStringLiteral("Show") << 0;
        QTest::newRow("trailing blank") << QStringLiteral("show ") << 0;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("other") << QStringLiteral("hide") << 0;
    }

    void handleMessage()
    {
        QFETCH(QString, message);
        QFETCH(int, shows);
        MainWindow window;
        QSignalSpy spy(&window, &MainWindow::needToShow);
        window.handleMessage(message);
        QCOMPARE(spy.count(), shows);
        QCOMPARE(logCount(QStringLiteral("handle external msg")), 1);
        QVERIFY(window.isHidden());
    }

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

    void exitEndsTheApplicationEvenWithADialogOpen()
    {
        MainWindow window;
        window.setTrayHostWait(0);
        QTRY_VERIFY(window.trayIcon());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.findChild<QAction*>(QStringLiteral("actionAbout"))->trigger();
        QCOMPARE(topLevels<AboutDialog>().size(), 1);
        QSignalSpy last(qApp, &QGuiApplication::lastWindowClosed);
        const int result = runApplication(
            [&window] { window.findChild<QAction*>(QStringLiteral("actionExit"))->trigger(); });
        QCOMPARE(result, 0);
        // One per window that was last to close: the automatic update dialog may be up as well on a slow run.
        QVERIFY(last.count() >= 1);
        QVERIFY(window.isHidden());
        QVERIFY(!window.trayIcon()->isVisible());
    }

    void closingWindowOrDialogKeepsTheTrayApplication()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.findChild<QAction*>(QStringLiteral("actionAbout"))->trigger();
        const QList<AboutDialog*> about = topLevels<AboutDialog>();
        QCOMPARE(about.size(), 1);
        QCOMPARE(about.first()->size(), about.first()->minimumSize());
        QCOMPARE(about.first()->size(), about.first()->maximumSize());
        QPointer<AboutDialog> dialog = about.first();
        const int result = runApplication([&window, dialog] {
            window.close();
            dialog->close();
        });
        QCOMPARE(result, -1);
        QVERIFY(window.isHidden());
        QVERIFY(!dialog); // deleted on close
    }

    void checkForUpdateOpensItsDialog()
    {
        MainWindow window;
        settle();
        const int before = m_server->requests;
        answer("{\"version\":\"1.2.0\",\"download_url\":\"https://example.org/p\"}");
        window.findChild<QAction*>(QStringLiteral("actionCheck_For_Update"))->trigger();
        QList<UpdateDialog*> dialogs = topLevels<UpdateDialog>();
        QCOMPARE(dialogs.size(), 1);
        QCOMPARE(dialogs.first()->statusLabel()->text(), QStringLiteral("Checking..."));
        QTRY_VERIFY(dialogs.first()->statusLabel()->text().contains(QStringLiteral("1.2.0")));
        QCOMPARE(m_server->requests, before + 1);
        // A manual answer is the dialog's alone.
        QCOMPARE(topLevels<UpdateDialog>().size(), 1);
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
        QTest::newRow("garbage") << QByteArray("\x01\x02") << 200 << 0;
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
        QCOMPARE(topLevels<UpdateDialog>().size(), dialogs);
        if (dialogs)
            QVERIFY(
                topLevels<UpdateDialog>().first()->statusLabel()->text().contains(QStringLiteral("1.1.0")));
    }

    void manualCheckWhileTheAutomaticOneWaits()
    {
        answer("{\"version\":\"1.1.0\",\"download_url\":\"https://example.org/p\"}", 200, 300);
        MainWindow window;
        QTRY_COMPARE(m_server->requests, 1);
        window.findChild<QAction*>(QStringLiteral("actionCheck_For_Update"))->trigger();
        settle();
        QCOMPARE(m_server->requests, 1);
        const QList<UpdateDialog*> dialogs = topLevels<UpdateDialog>();
        QCOMPARE(dialogs.size(), 1);
        QVERIFY(dialogs.first()->statusLabel()->text().contains(QStringLiteral("1.1.0")));
    }

    void themeChangeKeepsTheIcon()
    {
        MainWindow window;
        window.setTrayHostWait(0);
        QTRY_VERIFY(window.trayIcon());
        window.onSystemThemeChanged();
        QVERIFY(!window.trayIcon()->icon().isNull());
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
