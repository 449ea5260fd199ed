#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

// A home of its own for runs of the real application: HOME and the XDG directories inside a temporary
// directory (the runtime directory owner-only), log lines on stderr.
class AppHome
{
public:
    AppHome();

    QString filePath(const QString& relative) const { return m_dir.filePath(relative); }
    QProcessEnvironment environment() const;
    // Starts program with env (environment() and more), its output merged into stdout.
    void start(QProcess& process, const QString& program, const QStringList& args,
               const QProcessEnvironment& env) const;

private:
    QTemporaryDir m_dir;
};
