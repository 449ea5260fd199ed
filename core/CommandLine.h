#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// The program's own options ("--help", "--version", "--minimized", "--verbose"), read before the application
// object exists so that help and version need no display. Qt's standard options are left for it to take.
class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
public:
    enum class Action
    {
        Run,
        ShowHelp,
        ShowVersion,
        Refuse
    };

    // `arguments` starts with the program's name, as argv does.
    explicit CommandLine(const QStringList& arguments);

    Action action() const { return m_action; }
    // Help or version for standard output, or the reason for refusing for standard error.
    QString text() const { return m_text; }
    int exitStatus() const { return m_action == Action::Refuse ? 2 : 0; }

    // Prints what the arguments ask for; false when the program ends here with `*exitStatus`.
    static bool proceed(int argc, char** argv, int* exitStatus);

private:
    void refuse(const QString& reason);

    Action m_action = Action::Run;
    QString m_program;
    QString m_text;
};
