// The main window on the test X server, with no tray host (tst_trayprocess has those, one process each).
#include "core/AutostartRegistration.h"
#include "core/ResourceManager.h"
#include "core/SettingsManager.h"
#include "support/PrivateBus.h"
#include "support/TestHttpServer.h"
#include "ui/AboutDialog.h"
#include "ui/MainWindow.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdateDialog.h"

#include <QAction>
#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {
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

// Runs the application's event loop around `action`, as the real program does; the result is the loop's exit
// code, or -1 if nothing ended it.
int runApplication(const std::function<void()>& action)
{
    qApp->setQuitOnLastWindowClosed(true);
    QTimer::singleShot(0, qApp, action);
    QTimer::singleShot(1000, qApp, [] { QCoreApplication::exit(-1); });
    const int result = QCoreApplication::exec();
    qApp->setQuitOnLastWindowClosed(false);
    return result;
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    TestHttpServer m_server;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        ResourceManager* registry = ResourceManager::instance();
        registry->setAutostartRegistration(nullptr);
        registry->loadSettings(m_dir.filePath(QStringLiteral("settings.json")));
        UpdateChecker::instance()->setServiceUrl(m_server.baseUrl());
    }

    void init() { m_server.body = "{\"version\":\"1.0.1\"}"; }

    void cleanup()
    {
        QTRY_VERIFY(!UpdateChecker::instance()->isChecking());
        const QWidgetList widgets = QApplication::topLevelWidgets();
        for (QWidget* w : widgets) {
            if (qobject_cast<QDialog*>(w))
                w->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void cleanupTestCase() { ResourceManager::destroyInstance(); }

    // The tray entry offers what the user can do with the window as it stands; showing brings a minimised
    // window back to the front.
    void trayShowsAndHides_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("reason"); // -1: the tray menu's entry
        QTest::addColumn<QString>("offered");
        QTest::addColumn<bool>("shown");
        const auto row = [](const char* name, const char* state, int reason, const char* offered,
                            bool shown) {
            QTest::newRow(name) << QString::fromLatin1(state) << reason << QString::fromLatin1(offered)
                                << shown;
        };
        row("hidden, entry", "hidden", -1, "Show", true);
        row("visible, entry", "visible", -1, "Hide", false);
        row("minimised, entry", "minimised", -1, "Show", true);
        row("minimised, click", "minimised", QSystemTrayIcon::Trigger, "Show", true);
        row("hidden, double click", "hidden", QSystemTrayIcon::DoubleClick, "Show", false);
    }

    void trayShowsAndHides()
    {
        QFETCH(QString, state);
        QFETCH(int, reason);
        QFETCH(QString, offered);
        QFETCH(bool, shown);
        MainWindow window;
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
            window.trayActivated(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(window.isVisible() && !window.isMinimized(), shown);
        QTRY_COMPARE(window.showHideAction()->text(), QLatin1String(shown ? "Hide" : "Show"));
        if (shown)
            QTRY_VERIFY_WITH_TIMEOUT(window.isActiveWindow(), 5000);
    }

    // Only Exit ends the application; closing the window and a dialog leaves it running.
    void quitting_data()
    {
        QTest::addColumn<bool>("exit");
        QTest::addColumn<int>("result");
        QTest::newRow("exit with a dialog open") << true << 0;
        QTest::newRow("close window and dialog") << false << -1;
    }

    void quitting()
    {
        QFETCH(bool, exit);
        QFETCH(int, result);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        action(window, "actionAbout")->trigger();
        const QPointer<AboutDialog> dialog = visibleTopLevels<AboutDialog>().value(0);
        QVERIFY(dialog);
        QCOMPARE(runApplication([&] {
                     if (exit) {
                         action(window, "actionExit")->trigger();
                     } else {
                         window.close();
                         dialog->close();
                     }
                 }),
                 result);
        QCOMPARE(window.isHidden(), exit);
    }

    void launchOnStartupFollowsTheStoredChoice()
    {
        SettingsManager* settings = ResourceManager::instance()->settingsManager();
        settings->setValue(QStringLiteral("run_on_start"), false);
        MainWindow window;
        QAction* launch = action(window, "actionRun_on_startup");
        QVERIFY(!launch->isChecked());
        launch->trigger();
        QCOMPARE(settings->value(QStringLiteral("run_on_start")), QVariant(true));
    }

    // Only a newer version found by the automatic check opens a dialog by itself.
    void automaticCheck_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("dialogs");
        QTest::newRow("newer") << QByteArray(
                                      "{\"version\":\"1.1.0\",\"download_url\":\"https://example.org/p\"}")
                               << 1;
        QTest::newRow("same") << QByteArray("{\"version\":\"1.0.1\"}") << 0;
    }

    void automaticCheck()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, dialogs);
        m_server.body = body;
        QSignalSpy finished(UpdateChecker::instance(), &UpdateChecker::updateCheckFinished);
        MainWindow window;
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(visibleTopLevels<UpdateDialog>().size(), dialogs);
    }
};

int main(int argc, char** argv)
{
    // The session bus must be ours before Qt first looks at it.
    PrivateBus bus;
    if (!bus.isRunning())
        qFatal("dbus-daemon did not start");
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address());
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
