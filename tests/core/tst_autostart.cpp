#include "core/ResourceManager.h"
#include "core/SettingsManager.h"
#include "core/linux/XdgAutostart.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestAutostart : public QObject
{
    Q_OBJECT
private slots:
    void execArgumentQuoting_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QStringLiteral("/usr/bin/pivotrix") << QStringLiteral("/usr/bin/pivotrix");
        QTest::newRow("space") << QStringLiteral("/opt/My Apps/pivotrix")
                               << QStringLiteral("\"/opt/My Apps/pivotrix\"");
        QTest::newRow("percent unquoted") << QStringLiteral("/opt/100%/p") << QStringLiteral("/opt/100%%/p");
        QTest::newRow("dollar") << QStringLiteral("/opt/$HOME/p") << QStringLiteral("\"/opt/\\\\$HOME/p\"");
        QTest::newRow("quote") << QStringLiteral("/opt/a\"b/p") << QStringLiteral("\"/opt/a\\\\\"b/p\"");
        QTest::newRow("backslash") << QStringLiteral("/opt/a\\b/p")
                                   << QStringLiteral("\"/opt/a\\\\\\\\b/p\"");
    }
    void execArgumentQuoting()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(XdgAutostart::quoteExecArgument(path), expected);
    }

    void enableWritesEntryAndDisableRemovesIt()
    {
        QTemporaryDir dir;
        XdgAutostart autostart(dir.filePath(QStringLiteral("config/autostart")));
        QVERIFY(!autostart.isEnabled());
        QVERIFY(autostart.disable()); // nothing to remove is fine
        QVERIFY(autostart.enable(QStringLiteral("/opt/pivotrix/PivotrixEntertainment")));
        QCOMPARE(autostart.filePath(),
                 dir.filePath(QStringLiteral("config/autostart/PivotrixEntertainment.desktop")));
        QFile f(autostart.filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("\nType=Application\n"));
        QVERIFY(text.contains("\nExec=/opt/pivotrix/PivotrixEntertainment --minimized\n"));
        QVERIFY(autostart.disable());
        QVERIFY(!QFile::exists(autostart.filePath()));
    }

    void registryFollowsRunOnStart()
    {
        QTemporaryDir dir;
        const QString settings = dir.filePath(QStringLiteral("settings.json"));
        auto* autostart = new XdgAutostart(dir.filePath(QStringLiteral("autostart")));
        ResourceManager* rm = ResourceManager::instance();
        rm->setAutostartRegistration(std::unique_ptr<AutostartRegistration>(autostart));

        // No file: run_on_start defaults to true and start-up registers the entry.
        rm->loadSettings(settings);
        QVERIFY(rm->runOnStart());
        QVERIFY(autostart->isEnabled());

        rm->setRunOnStart(false);
        QVERIFY(!autostart->isEnabled());
        QCOMPARE(rm->settingsManager()->value(QStringLiteral("run_on_start")), QVariant(false));

        // A restart with run_on_start false removes an entry someone put back meanwhile.
        autostart->enable(QStringLiteral("/x"));
        rm->loadSettings(settings);
        QVERIFY(!autostart->isEnabled());

        rm->setRunOnStart(true);
        QVERIFY(autostart->isEnabled());
        QFile f(autostart->filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains(QCoreApplication::applicationFilePath().toUtf8() + " --minimized\n"));
        ResourceManager::destroyInstance();
    }
};

QTEST_MAIN(TestAutostart)
#include "tst_autostart.moc"
