#pragma once

#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// The screen-sharing side of a desktop for one test program: PipeWire with WirePlumber, the real
// xdg-desktop-portal, and a stand-in for the desktop's screen-cast back end whose outputs are PipeWire video
// sources showing pictures the test sets; all on a private session bus and runtime directory. start() points
// this process's session bus at the private one, so it must run before QtDBus first reaches the session bus.
class ScreenCastDesktop
{
public:
    ScreenCastDesktop();
    ~ScreenCastDesktop();
    ScreenCastDesktop(const ScreenCastDesktop&) = delete;
    ScreenCastDesktop& operator=(const ScreenCastDesktop&) = delete;

    // Outputs 1 .. outputs, each of outputSize, side by side from the origin.
    bool start(const QSize& outputSize, int outputs = 1);
    // Why start() failed; unavailable() when a part is not installed here.
    QString failure() const { return m_failure; }
    bool unavailable() const { return m_unavailable; }

    // Shows img (of the output size) on output 1, 2, ...
    bool paint(const QImage& img, int output = 1);

    // Shows the picture before the last again: a cheap change for benchmarks.
    bool flip(int output = 1);

    // Whether the next choice of outputs is granted (hostile: with wrongly typed or absurd stream
    // properties), and how often one was asked for.
    void grantChoice(bool granted, bool hostile = false);
    int choices() const;

    // What a program started on this desktop needs (session bus, runtime directory).
    QProcessEnvironment environment() const { return m_env; }

    qint64 backendPid() const { return m_backend->processId(); }
    QList<qint64> pipeWirePids() const { return {m_pipewire->processId(), m_wireplumber->processId()}; }

    void killPortal();
    bool restartPortal();
    // The back end, and with it every output's stream, goes away.
    void killBackend();
    bool restartBackend();

private:
    QDBusConnection probe() const;
    bool command(const QString& line);
    bool launch(QProcess& process, const QString& program, const QStringList& args, const QString& log);
    bool waitForBusName(const QString& name);
    bool startBackend();
    bool startPortal();
    void stop(QProcess& process);
    bool fail(const QString& why, bool unavailable = false);

    std::unique_ptr<PrivateBus> m_bus;
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    QSize m_outputSize;
    int m_outputs = 0;
    // Each dies with this process, also when a test crashes before the destructor runs.
    std::unique_ptr<QProcess> m_pipewire;
    std::unique_ptr<QProcess> m_wireplumber;
    std::unique_ptr<QProcess> m_backend;
    std::unique_ptr<QProcess> m_portal;
    QString m_failure;
    bool m_unavailable = false;
};
