// What the program does with its command line before anything else: help, version, or a refusal.
#include "core/CommandLine.h"

#include <QtTest>

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void arguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("text"); // a part of what is printed
        const auto row = [](const char* name, const QString& args, CommandLine::Action action,
                            const char* text) {
            QTest::newRow(name) << args.split(QLatin1Char(' ')) << int(action) << QString::fromUtf8(text);
        };
        using A = CommandLine::Action;
        row("none", QStringLiteral("/usr/bin/PivotrixEntertainment"), A::Run, "");
        row("minimized and Qt's", QStringLiteral("p --minimized -platform xcb --style=fusion -reverse --"),
            A::Run, "");
        row("unknown option", QStringLiteral("/x/p --version --bogus2 -h"), A::Refuse,
            "p: unknown option '--bogus2'");
        row("help", QStringLiteral("/x/p --version --help"), A::ShowHelp, "Usage: p [--minimized]");
        row("version", QStringLiteral("p --minimized --version"), A::ShowVersion,
            "Pivotrix Entertainment 1.0.1\n");
        row("capital M", QStringLiteral("p --Minimized"), A::Refuse, "unknown option '--Minimized'");
        row("value glued", QStringLiteral("p --help=1"), A::Refuse, "unknown option '--help=1'");
        row("value missing", QStringLiteral("p -display"), A::Refuse, "option '-display' needs a value");
        row("positional", QStringLiteral("p file"), A::Refuse, "unexpected argument 'file'\nTry 'p --help'");
        row("after --", QStringLiteral("p -- -h"), A::Refuse, "unexpected argument '-h'");
        row("lone dash", QStringLiteral("p -"), A::Refuse, "unexpected argument '-'");
    }
    void arguments()
    {
        QFETCH(QStringList, args);
        QFETCH(int, action);
        QFETCH(QString, text);
        const CommandLine commandLine(args);
        QCOMPARE(int(commandLine.action()), action);
        QCOMPARE(commandLine.exitStatus(), action == int(CommandLine::Action::Refuse) ? 2 : 0);
        QVERIFY2(commandLine.text().contains(text), qPrintable(commandLine.text()));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
