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
        QTest::newRow("prefix only") << QStringList{QStringLiteral("app"), QStringLiteral("--minimized=1")}
                                     << false;
    }
    void minimizedFlag()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, minimized);
        QCOMPARE(ApplicationShell::hasMinimizedFlag(args), minimized);
    }
};

QTEST_MAIN(TestApplicationShell)
#include "tst_applicationshell.moc"
