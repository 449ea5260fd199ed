// Work the main window leaves until the user has something on screen still happens, once.
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
    QTemporaryDir m_dir;
    TestHttpServer m_server;

private slots:
    void initTestCase()
    {
        ResourceManager::instance()->setAutostartRegistration(nullptr);
        ResourceManager::instance()->loadSettings(m_dir.filePath(QStringLiteral("settings.json")));
        UpdateChecker::instance()->setServiceUrl(m_server.baseUrl());
    }

    void cleanupTestCase() { ResourceManager::destroyInstance(); }

    // Shown or started minimised, the window asks once; only a newer version opens a dialog.
    void automaticCheck_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("status");
        QTest::newRow("shown, newer") << true << 200;
        QTest::newRow("shown, service fails") << true << 500;
        QTest::newRow("minimised, newer") << false << 200;
        QTest::newRow("minimised, service fails") << false << 500;
    }

    void automaticCheck()
    {
        QFETCH(bool, shown);
        QFETCH(int, status);
        m_server.status = status;
        m_server.body = "{\"version\":\"1.1.0\"}";
        m_server.requestLines.clear();
        QSignalSpy finished(UpdateChecker::instance(), &UpdateChecker::updateCheckFinished);
        MainWindow window;
        window.setVisible(shown);
        QTRY_COMPARE(finished.count(), 1);
        // Hidden, shown and painted again: no second request.
        window.hide();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(100);
        QCOMPARE(m_server.requestLines.size(), 1);
        QList<UpdateDialog*> dialogs;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<UpdateDialog*>(w); dialog && dialog->isVisible())
                dialogs << dialog;
        }
        QCOMPARE(dialogs.size(), status == 200 ? 1 : 0);
        qDeleteAll(dialogs);
    }

    // Drawn at last, the arrow is the style's own, at every size it offers.
    void extensionArrowDrawnOnDemand()
    {
        LazyIconStyle style(QStyleFactory::create(QStringLiteral("fusion")));
        const QIcon deferred = style.standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton);
        const QIcon direct = style.baseStyle()->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton);
        QVERIFY(!direct.availableSizes().isEmpty());
        QCOMPARE(deferred.availableSizes(), direct.availableSizes());
        for (const QSize& size : direct.availableSizes())
            QCOMPARE(deferred.pixmap(size, QIcon::Disabled).toImage(),
                     direct.pixmap(size, QIcon::Disabled).toImage());
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
