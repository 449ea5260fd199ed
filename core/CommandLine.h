#pragma once

#include "core/ControlClient.h"

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

// The program's own options ("--help", "--version", "--minimized", "--verbose" and the controls of a running
// instance), read before the application object exists so that help, version and controls need no display.
// Qt's standard options are left for it to take.
class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
public:
    enum class Action
    {
        Run,
        ShowHelp,
        ShowVersion,
        // Ask the running instance to do something, and end.
        Control,
        Refuse
    };

    // `arguments` starts with the program's name, as argv does.
    explicit CommandLine(const QStringList& arguments);

    Action action() const { return m_action; }
    // Help or version for standard output, or the reason for refusing for standard error.
    QString text() const { return m_text; }
    int exitStatus() const { return m_action == Action::Refuse ? 2 : 0; }
    QList<ControlClient::Request> controlRequests() const { return m_requests; }

    // Prints what the arguments ask for; false when the program ends here with `*exitStatus`.
    static bool proceed(int argc, char** argv, int* exitStatus);

private:
    void refuse(const QString& reason);
    // Takes a control option at `*i` with its value and device; false when `arg` is none.
    bool takeControl(const QStringList& arguments, int* i);

    Action m_action = Action::Run;
    QString m_program;
    QString m_text;
    QList<ControlClient::Request> m_requests;
};
