#include "core/ApplicationShell.h"

#include "ui/Resources.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QMovie>
#include <QTest>

class TestApplicationShell : public QObject
{
    Q_OBJECT
private slots:
    void minimizedFlag_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("minimized");
        QTest::newRow("none") << QStringList{QStringLiteral("app")} << false;
        QTest::newRow("exact") << QStringList{QStringLiteral("app"), QStringLiteral("--minimized")} << true;
        QTest::newRow("anywhere") << QStringList{QStringLiteral("app"), QStringLiteral("-x"),
                                                 QStringLiteral("--minimized"), QStringLiteral("y")}
                                  << true;
        QTest::newRow("capital M") << QStringList{QStringLiteral("app"), QStringLiteral("--Minimized")}
                                   << false;
        QTest::newRow("prefix only") << QStringList{QStringLiteral("app"), QStringLiteral("--minimized=1")}
                                     << false;
        QTest::newRow("single dash") << QStringList{QStringLiteral("app"), QStringLiteral("-minimized")}
                                     << false;
    }
    void minimizedFlag()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, minimized);
        QCOMPARE(ApplicationShell::hasMinimizedFlag(args), minimized);
    }

    void settingsPath_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("path");
        QTest::newRow("empty location") << QString() << QStringLiteral("./settings.json");
        QTest::newRow("data dir") << QStringLiteral("/home/u/.local/share/PivotrixEntertainment")
                                  << QStringLiteral(
                                         "/home/u/.local/share/PivotrixEntertainment/settings.json");
    }
    void settingsPath()
    {
        QFETCH(QString, location);
        QFETCH(QString, path);
        QCOMPARE(ApplicationShell::settingsPath(location), path);
    }

    void embeddedResourcesLoad_data()
    {
        QTest::addColumn<QString>("path");
        for (const char* name :
             {":/images/icon.ico", ":/images/icon.png", ":/images/aboutIcon.png", ":/images/toggle_on.png",
              ":/images/toggle_off.png", ":/images/checked.png", ":/images/drop-down-combo.png",
              ":/images/comp.png", ":/images/screen-mirror-bg.png", ":/images/razer-logo.png"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void embeddedResourcesLoad()
    {
        QFETCH(QString, path);
        ensureResourcesLoaded();
        QVERIFY2(!QImage(path).isNull(), qPrintable(path));
    }

    void loadingAnimationAndFont()
    {
        ensureResourcesLoaded();
        QMovie loading(QStringLiteral(":videos/loading.gif"));
        QVERIFY(loading.isValid());
        QVERIFY(loading.frameCount() > 1);
        ApplicationShell::installApplicationFont();
        QStringList families;
        for (int id = 0; id < 4; ++id)
            families += QFontDatabase::applicationFontFamilies(id);
        QVERIFY(families.contains(QStringLiteral("Inter")));
        QCOMPARE(QApplication::font().family(), QStringLiteral("Inter"));
        QCOMPARE(QApplication::font().pointSize(), 13);
    }

    void fixedSize_data()
    {
        QTest::addColumn<QList<qreal>>("ratios");
        QTest::addColumn<QSize>("designed");
        QTest::addColumn<QSize>("fixed");
        QTest::newRow("1.5") << QList<qreal>{1.0, 1.5} << QSize(400, 300) << QSize(600, 450);
        QTest::newRow("below 1 never shrinks") << QList<qreal>{0.75} << QSize(400, 300) << QSize(400, 300);
        QTest::newRow("no screens") << QList<qreal>{} << QSize(1221, 616) << QSize(1221, 616);
        QTest::newRow("halves away from zero") << QList<qreal>{1.5} << QSize(401, 301) << QSize(602, 452);
        QTest::newRow("1.25") << QList<qreal>{1.25} << QSize(1221, 616) << QSize(1526, 770);
        QTest::newRow("largest wins") << QList<qreal>{2.0, 1.0, 1.25} << QSize(10, 10) << QSize(20, 20);
    }
    void fixedSize()
    {
        QFETCH(QList<qreal>, ratios);
        QFETCH(QSize, designed);
        QFETCH(QSize, fixed);
        QCOMPARE(ApplicationShell::scaledFixedSize(designed, ApplicationShell::scaleFactor(ratios)), fixed);
    }
};

QTEST_MAIN(TestApplicationShell)
#include "tst_applicationshell.moc"
