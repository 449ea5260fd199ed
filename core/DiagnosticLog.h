#pragma once

#include <QLoggingCategory>
#include <QString>

// Every diagnostic line of the program goes through this category ("pivotrix").
Q_DECLARE_LOGGING_CATEGORY(lcPivotrix)

// Where diagnostics go once the program runs for a user: always into a size-bounded file in the data
// folder, for bug reports; onto standard error (the journal, for a program started from the menu) only
// when asked for, and warnings always.
class DiagnosticLog
{
public:
    static constexpr qint64 kDefaultLimit = 1024 * 1024;

    // The file keeps at most `limit` bytes, and the one before it as "<file>.1".
    static void install(const QString& filePath, bool toStandardError, qint64 limit = kDefaultLimit);
    static void uninstall();
    // --verbose, or Qt's own logging rules set by the user.
    static bool standardErrorWanted(bool verbose);
};
