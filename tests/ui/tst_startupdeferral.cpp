// Work the main window leaves until after it shows still happens, once: the automatic update check and
// the menu bar's extension arrow.
#include "core/AutostartRegistration.h"
#include "core/ResourceManager.h"
#include "support/PrivateBus.h"
#include "support/TestHttpServer.h"
#include "ui/LazyIconStyle.h"
#include "ui/MainWindow.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdateDialog.h"

#include <QApplication>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>

class TestStartupDeferral : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    TestHttpServer m_server;

private slots:
    void initTestCase()
    {
        ResourceManager* registry = ResourceManager::instance();
        registry->setAutostartRegistration(nullptr);
        registry->loadSettings(m_dir.filePath(QStringLiteral("settings.json")));
        UpdateChecker::instance()->setServiceUrl(m_server.baseUrl());
    }

    void cleanupTestCase() { ResourceManager::destroyInstance(); }

    // Shown or started minimised, the window asks once, and only a newer version opens a dialog; a
    // failing service shows nothing.
    void automaticCheck_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("dialogs");
        QTest::newRow("shown, newer") << true << 200 << 1;
        QTest::newRow("shown, service fails") << true << 500 << 0;
        QTest::newRow("minimised, newer") << false << 200 << 1;
        QTest::newRow("minimised, service fails") << false << 500 << 0;
    }

    void automaticCheck()
    {
        QFETCH(bool, shown);
        QFETCH(int, status);
        QFETCH(int, dialogs);
        m_server.status = status;
        m_server.body = "{\"version\":\"1.1.0\",\"download_url\":\"https://example.org/p\"}";
        m_server.requests = 0;
        QSignalSpy finished(UpdateChecker::instance(), &UpdateChecker::updateCheckFinished);
        {
            MainWindow window;
            if (shown) {
                window.show();
                QVERIFY(QTest::qWaitForWindowExposed(&window));
            }
            QTRY_COMPARE(finished.count(), 1);
            // Painted again, hidden, shown: no second request.
            window.hide();
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.repaint();
            QTest::qWait(100);
            QCOMPARE(m_server.requests, 1);
        }
        int opened = 0;
        const QWidgetList widgets = QApplication::topLevelWidgets();
        for (QWidget* w : widgets) {
            if (qobject_cast<UpdateDialog*>(w) && w->isVisible()) {
                ++opened;
                w->close();
            }
        }
        QCOMPARE(opened, dialogs);
    }

    // Drawn at last, the arrow is the platform style's own, at every size it offers.
    void extensionArrowDrawnOnDemand()
    {
        LazyIconStyle style(QStyleFactory::create(QStringLiteral("fusion")));
        const QIcon deferred = style.standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton);
        const QIcon direct = style.baseStyle()->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton);
        QVERIFY(!direct.availableSizes().isEmpty());
        QCOMPARE(deferred.availableSizes(), direct.availableSizes());
        for (const QSize& size : direct.availableSizes()) {
            for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled})
                QCOMPARE(deferred.pixmap(size, mode).toImage(), direct.pixmap(size, mode).toImage());
        }
    }
};

int main(int argc, char** argv)
{
    PrivateBus bus;
    if (!bus.isRunning())
        qFatal("dbus-daemon did not start");
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address());
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestStartupDeferral test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startupdeferral.moc"
