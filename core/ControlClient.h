#pragma once

#include <QCoreApplication>
#include <QList>
#include <QString>

// The command line's side of the controls: asks the running instance over the session bus. It needs no
// display and never takes the single-instance lock, so scripts and hotkeys may call it at any time.
class ControlClient
{
    Q_DECLARE_TR_FUNCTIONS(ControlClient)
public:
    struct Request
    {
        QString option; // "--list", "--stream", "--source", "--mirror-mode" or "--color-mode"
        QString value;
        QString device;
    };

    // Carries the requests out in order, stopping at the first refusal. What to print goes to `out`
    // (standard output) and `err` (standard error); returns the exit status: 0 done, 1 not done.
    static int run(const QList<Request>& requests, QString* out, QString* err);
};
