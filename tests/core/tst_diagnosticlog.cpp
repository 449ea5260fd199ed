// The program's log: a bounded file for bug reports, and the terminal or journal only when asked for.
#include "core/DiagnosticLog.h"
#include "support/LogCapture.h"

#include <QtTest>

class TestDiagnosticLog : public QObject
{
    Q_OBJECT
private slots:
    void standardErrorOnlyWhenAsked_data()
    {
        QTest::addColumn<bool>("asked");
        QTest::newRow("quiet") << false;
        QTest::newRow("verbose") << true;
    }

    // The handler in place before stands for standard error; the file takes everything either way.
    void standardErrorOnlyWhenAsked()
    {
        QFETCH(bool, asked);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("app.log"));
        LogCapture terminal;
        DiagnosticLog::install(path, asked);
        qCDebug(lcPivotrix) << "check online";
        qCWarning(lcPivotrix) << "cannot write";
        DiagnosticLog::uninstall();
        QCOMPARE(terminal.count(QStringLiteral("check online")), asked ? 1 : 0);
        QCOMPARE(terminal.count(QStringLiteral("cannot write")), 1);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        QVERIFY(written.contains("check online") && written.contains("cannot write"));
    }

    // A program left running for weeks keeps at most the limit in each of two files, the newest lines last.
    void staysWithinItsBound()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("app.log"));
        DiagnosticLog::install(path, false, 1000);
        for (int i = 0; i < 200; ++i)
            qCDebug(lcPivotrix) << "line" << i;
        DiagnosticLog::uninstall();
        QFile current(path), older(path + QStringLiteral(".1"));
        QVERIFY(current.open(QIODevice::ReadOnly) && older.open(QIODevice::ReadOnly));
        QVERIFY(current.size() <= 1000 && older.size() <= 1000 && older.size() > 900);
        QVERIFY(current.readAll().endsWith("line 199\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestDiagnosticLog)
#include "tst_diagnosticlog.moc"
