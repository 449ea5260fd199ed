// The main window, its dialogs and the update check on the test X server against a local HTTP server, with
// no tray host (tst_appprocess has those, one process each).
#include "core/ResourceManager.h"
#include "core/SettingsManager.h"
#include "support/PrivateBus.h"
#include "support/TestHttpServer.h"
#include "support/TestRegistry.h"
#include "ui/AboutDialog.h"
#include "ui/LazyIconStyle.h"
#include "ui/MainWindow.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdateDialog.h"

#include <QtTest>
#include <QtWidgets>

namespace {
template <class T> int visible()
{
    int found = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        found += qobject_cast<T*>(w) && w->isVisible();
    return found;
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
public slots:
    // Stands in for the browser: records what would have been opened.
    void open(const QUrl& url) { m_opened << url; }

private:
    QList<QUrl> m_opened;
    TestRegistry m_registry;
    std::unique_ptr<TestHttpServer> m_server;

private slots:
    void initTestCase()
    {
        m_registry.load();
        for (const char* scheme : {"http", "https", "javascript", "file"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }

    void init()
    {
        m_server = std::make_unique<TestHttpServer>();
        m_server->body = "{\"version\":\"1.0.1\"}";
        UpdateChecker::instance()->setServiceUrl(m_server->baseUrl());
        m_opened.clear();
    }

    void cleanup()
    {
        UpdateChecker::instance()->setUpdatesByPackageManager(false);
        QTRY_VERIFY(!UpdateChecker::instance()->isChecking());
        QApplication::closeAllWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void cleanupTestCase() { ResourceManager::destroyInstance(); }

    // The tray entry offers what the user can do with the window as it stands; showing (by the tray or a
    // second start's exact "show") brings a hidden or minimised window back to the front.
    void showAndHide_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("how"); // the tray entry, a tray click (activation reason) or a message
        QTest::addColumn<bool>("shown");
        const auto row = [](const char* name, const char* state, const char* how, bool shown) {
            QTest::newRow(name) << QString::fromLatin1(state) << QString::fromLatin1(how) << shown;
        };
        row("hidden, entry", "hidden", "entry", true);
        row("visible, entry", "visible", "entry", false);
        row("minimised, entry", "minimised", "entry", true);
        row("minimised, click", "minimised", "3", true);
        row("hidden, double click", "hidden", "2", false);
        row("hidden, other message", "hidden", "Show", false);
    }
    void showAndHide()
    {
        QFETCH(QString, state);
        QFETCH(QString, how);
        QFETCH(bool, shown);
        MainWindow window;
        connect(&window, &MainWindow::needToShow, &window, &MainWindow::showToUser);
        if (state != QLatin1String("hidden")) {
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
        }
        if (state == QLatin1String("minimised"))
            window.showMinimized();
        // Only a window in sight, not a minimised one, offers to hide.
        const bool inSight = state == QLatin1String("visible");
        QTRY_COMPARE(window.showHideAction()->text(), QLatin1String(inSight ? "Hide" : "Show"));

        bool isReason = false;
        const int reason = how.toInt(&isReason);
        if (how == QLatin1String("entry"))
            window.showHideAction()->trigger();
        else if (isReason)
            window.trayActivated(QSystemTrayIcon::ActivationReason(reason));
        else
            window.handleMessage(how);
        QCOMPARE(window.isVisible() && !window.isMinimized(), shown);
        QTRY_COMPARE(window.showHideAction()->text(), QLatin1String(shown ? "Hide" : "Show"));
        if (shown)
            QTRY_VERIFY_WITH_TIMEOUT(window.isActiveWindow(), 5000);
    }

    // Only Exit ends the application; closing the window and a dialog leaves it running. The menu's launch
    // entry writes the stored choice.
    void quitting_data()
    {
        QTest::addColumn<bool>("exit");
        QTest::newRow("exit with a dialog open") << true;
        QTest::newRow("close window and dialog") << false;
    }
    void quitting()
    {
        QFETCH(bool, exit);
        SettingsManager* settings = ResourceManager::instance()->settingsManager();
        settings->setValue(QStringLiteral("run_on_start"), exit);
        MainWindow window;
        window.findChild<QAction*>(QStringLiteral("actionRun_on_startup"))->trigger();
        QCOMPARE(settings->value(QStringLiteral("run_on_start")), QVariant(!exit));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.findChild<QAction*>(QStringLiteral("actionAbout"))->trigger();
        QCOMPARE(visible<AboutDialog>(), 1);
        qApp->setQuitOnLastWindowClosed(true);
        QTimer::singleShot(0, qApp, [&] {
            if (exit) {
                window.findChild<QAction*>(QStringLiteral("actionExit"))->trigger();
            } else {
                for (QWidget* w : QApplication::topLevelWidgets())
                    w->close();
            }
        });
        QTimer::singleShot(1000, qApp, [] { QCoreApplication::exit(-1); });
        QCOMPARE(QCoreApplication::exec(), exit ? 0 : -1);
        qApp->setQuitOnLastWindowClosed(false);
        QCOMPARE(window.isHidden(), exit);
    }

    // A manual check shows the version or the error; anything but a version record is an error, never
    // "latest". The automatic check opens a dialog only for a newer version and stays silent on errors.
    void answers_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("version"); // "error": the check failed
        QTest::addColumn<bool>("newer");
        const auto offer = [](const QString& version) {
            return QJsonDocument(QJsonObject{{QStringLiteral("version"), version}})
                .toJson(QJsonDocument::Compact);
        };
        const auto row = [&](const char* name, const QString& version, bool newer) {
            QTest::newRow(name) << offer(version) << 200 << version << newer;
        };
        row("next patch", QStringLiteral("1.0.2"), true);
        row("parts are numbers", QStringLiteral("1.0.10"), true);
        row("overflowing part", QStringLiteral("1.0.99999999999999999999"), true);
        row("same", QStringLiteral("1.0.1"), false);
        row("older", QStringLiteral("0.9.99"), false);
        row("trailing newline", QStringLiteral("1.0.2\n"), false);
        row("non-ASCII digit", QStringLiteral("1.0.\u0662"), false);
        const QByteArray v12 = offer(QStringLiteral("1.2.0"));
        QTest::newRow("html page") << QByteArray("<html>hello</html>") << 200 << "error" << false;
        QTest::newRow("json array") << QByteArray("[1,2,3]") << 200 << "error" << false;
        QTest::newRow("version a number") << QByteArray("{\"version\":102}") << 200 << "error" << false;
        QTest::newRow("redirect") << v12 << 302 << "error" << false;
        QTest::newRow("server error") << v12 << 500 << "error" << false;
        QTest::newRow("oversized") << v12.left(v12.size() - 1) + ",\"pad\":\"" +
                                          QByteArray(UpdateChecker::kMaxResponseBytes, 'x') + "\"}"
                                   << 200 << "error" << false;
    }
    void answers()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, version);
        QFETCH(bool, newer);
        m_server->body = body;
        m_server->status = status;
        UpdateDialog dialog;
        QSignalSpy spy(UpdateChecker::instance(), &UpdateChecker::updateCheckFinished);
        dialog.startManualCheck();
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
        // A Linux user must never be offered a Windows download.
        QCOMPARE(m_server->requestLines.value(0),
                 QByteArray("GET /api/razer/apps/latest?os_code=linux_x64 HTTP/1.1"));
        QCOMPARE(spy.first().at(2).toString(), version);
        QCOMPARE(spy.first().at(1).toBool(), newer);
        const QString shown = dialog.statusLabel()->text();
        if (version == QLatin1String("error"))
            QVERIFY2(shown.startsWith(QStringLiteral("An error occurred")), qPrintable(shown));
        else
            QCOMPARE(shown.contains(QStringLiteral("latest version")), !newer);

        MainWindow window; // starts the automatic check
        QTRY_COMPARE(m_server->requestLines.size(), 2);
        QTRY_VERIFY(!UpdateChecker::instance()->isChecking());
        QCOMPARE(visible<UpdateDialog>(), newer ? 1 : 0);
    }

    // The automatic check waits until the window is on screen (or, minimised, until the tray is settled),
    // then asks once however often the window is hidden, shown and painted again.
    void automaticCheckAsksOnce_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::newRow("shown") << true;
        QTest::newRow("minimised") << false;
    }
    void automaticCheckAsksOnce()
    {
        QFETCH(bool, shown);
        MainWindow window;
        window.setVisible(shown);
        QTRY_COMPARE(m_server->requestLines.size(), 1);
        window.hide();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(100);
        QCOMPARE(m_server->requestLines.size(), 1);
    }

    // Installed from a distribution package, neither the automatic check nor "Check For Update" asks the
    // service; the dialog names the package manager instead.
    void packageManagerBringsUpdates()
    {
        UpdateChecker::instance()->setUpdatesByPackageManager(true);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        UpdateDialog dialog;
        dialog.startManualCheck();
        QTest::qWait(100);
        QVERIFY(dialog.statusLabel()->text().contains(QStringLiteral("package manager")));
        QCOMPARE(m_server->requestLines.size(), 0);
    }

    // Drawn at last, the menu bar's arrow is the style's own at every size it offers.
    void extensionArrowDrawnOnDemand()
    {
        LazyIconStyle style(QStyleFactory::create(QStringLiteral("fusion")));
        const auto arrow = QStyle::SP_ToolBarHorizontalExtensionButton;
        const QIcon deferred = style.standardIcon(arrow);
        const QIcon direct = style.baseStyle()->standardIcon(arrow);
        QVERIFY(!direct.availableSizes().isEmpty());
        QCOMPARE(deferred.availableSizes(), direct.availableSizes());
        for (const QSize& size : direct.availableSizes())
            QCOMPARE(deferred.pixmap(size, QIcon::Disabled).toImage(),
                     direct.pixmap(size, QIcon::Disabled).toImage());
    }

    // "Check For Update" while the automatic check waits sends no second request, and the one answer is
    // delivered as manual; once idle, the next call asks anew.
    void manualCheckWhileAutomaticWaitsSendsOneRequest()
    {
        UpdateChecker checker;
        checker.setServiceUrl(m_server->baseUrl());
        m_server->delayMs = 300;
        QSignalSpy spy(&checker, &UpdateChecker::updateCheckFinished);
        checker.startCheck(false);
        QTRY_COMPARE(m_server->requestLines.size(), 1);
        checker.startCheck(true);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(m_server->requestLines.size(), 1);
        QCOMPARE(spy.first().at(0).toBool(), true);
        checker.startCheck(false);
        QTRY_COMPARE(spy.count(), 2);
        QCOMPARE(m_server->requestLines.size(), 2);
        QCOMPARE(spy.last().at(0).toBool(), false);
    }

    void untrustedAnswersStayText_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("linked");
        const auto row = [](const char* name, const char* version, const char* url, bool linked) {
            QTest::newRow(name) << QString::fromLatin1(version) << QString::fromLatin1(url) << linked;
        };
        row("web link", "1.4.0", "https://example.org/get?a=1&b=2", true);
        row("javascript url", "1.2.0", "javascript:alert(1)", false);
        row("quote breaks out", "1.2.0", "https://example.org/\" onclick=\"x", false);
        row("markup in version", "<a href=\"javascript:x\">1.2.0</a>", "https://example.org/", true);
    }

    void untrustedAnswersStayText()
    {
        QFETCH(QString, version);
        QFETCH(QString, url);
        QFETCH(bool, linked);
        const QByteArray quoted = QJsonDocument(QJsonArray{url}).toJson(QJsonDocument::Compact);
        m_server->body = "{\"version\":\"1.2.0\",\"download_url\":" + quoted.mid(1, quoted.size() - 2) + "}";
        UpdateDialog dialog;
        dialog.startManualCheck();
        QTRY_VERIFY(dialog.statusLabel()->text() != QStringLiteral("Checking..."));
        // The main window hands results over directly; a hostile version must still show as text.
        dialog.updateFinished(false, true, version);
        const QString shown = dialog.statusLabel()->text();
        QCOMPARE(shown.count(QStringLiteral("<a ")), linked ? 1 : 0);
        QVERIFY(!shown.contains(QStringLiteral("javascript:x\">")) &&
                !shown.contains(QStringLiteral("\" onclick")));
        QVERIFY(shown.contains(version.toHtmlEscaped()));
        QCOMPARE(shown.contains(url.toHtmlEscaped()), linked);
        // Whatever the label offers, only web links reach the browser.
        emit dialog.statusLabel()->linkActivated(url);
        QCOMPARE(m_opened.size(), linked ? 1 : 0);
    }

    // Both dialogs accept a button release on their own surface inside the button, and only there.
    void releaseOverTheButtonAccepts()
    {
        UpdateDialog update;
        AboutDialog about;
        const QList<QPair<QDialog*, QWidget*>> dialogs = {{&update, update.buttonBox()},
                                                          {&about, about.okButton()}};
        for (const auto& [dialog, button] : dialogs) {
            dialog->show();
            QSignalSpy accepted(dialog, &QDialog::accepted);
            QTest::mouseRelease(dialog, Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
            QCOMPARE(accepted.count(), 0);
            QTest::mouseRelease(dialog, Qt::LeftButton, Qt::NoModifier, button->geometry().center());
            QCOMPARE(accepted.count(), 1);
        }
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
