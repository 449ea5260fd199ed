// What the program does with its command line before anything else: help, version, controls of a running
// instance, or a refusal.
#include "core/CommandLine.h"

#include <QtTest>

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void arguments_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("text"); // a part of what is printed
        const auto row = [](const char* args, CommandLine::Action action, const char* text) {
            QTest::newRow(args) << int(action) << QString::fromUtf8(text);
        };
        row("p --minimized -platform xcb --style=fusion -reverse --", CommandLine::Action::Run, "");
        row("/x/p --version --bogus2 -h", CommandLine::Action::Refuse, "p: unknown option '--bogus2'");
        row("/x/p --version --help", CommandLine::Action::ShowHelp, "Usage: p [--minimized]");
        row("p --minimized --version", CommandLine::Action::ShowVersion, "Pivotrix Entertainment 1.0.1\n");
        row("p --Minimized", CommandLine::Action::Refuse, "unknown option '--Minimized'");
        row("p -display", CommandLine::Action::Refuse, "option '-display' needs a value");
        row("p file", CommandLine::Action::Refuse, "unexpected argument 'file'\nTry 'p --help'");
        row("p -- -h", CommandLine::Action::Refuse, "unexpected argument '-h'");
        row("p -", CommandLine::Action::Refuse, "unexpected argument '-'");
        row("p --list --stream off lamp --minimized", CommandLine::Action::Control, "");
        row("p --list --version", CommandLine::Action::ShowVersion, "Pivotrix Entertainment");
        row("p --source tv lamp", CommandLine::Action::Refuse,
            "option '--source' takes razer|mirror, not 'tv'");
        row("p --color-mode natural", CommandLine::Action::Refuse,
            "'--color-mode' needs boosted|natural and a device");
    }
    void arguments()
    {
        QFETCH(int, action);
        QFETCH(QString, text);
        const CommandLine commandLine(QString::fromUtf8(QTest::currentDataTag()).split(QLatin1Char(' ')));
        QCOMPARE(int(commandLine.action()), action);
        QCOMPARE(commandLine.exitStatus(), action == int(CommandLine::Action::Refuse) ? 2 : 0);
        QVERIFY2(commandLine.text().contains(text), qPrintable(commandLine.text()));
        QCOMPARE(commandLine.controlRequests().size() == 2, action == int(CommandLine::Action::Control));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
