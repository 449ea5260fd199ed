#pragma once

#include "support/AppHome.h"
#include "support/PrivateBus.h"

#include <QImage>
#include <QProcess>
#include <QSize>

#include <memory>
#include <vector>

// The screen-sharing side of a desktop: PipeWire with WirePlumber, the real xdg-desktop-portal and a
// stand-in for the desktop's screen-cast back end showing pictures the test sets, on a private session bus,
// all in one home. start() moves this process into that home and onto that bus (programs it starts later
// find the desktop), so it must run before QtDBus first reaches the session bus. Everything it started, and
// what the bus started for it, ends with it.
class ScreenCastDesktop
{
public:
    enum class Part
    {
        Portal,
        Backend
    };

    ScreenCastDesktop();
    virtual ~ScreenCastDesktop();

    // The first part not installed here, or empty.
    static QString missing();
    // Outputs 1 .. outputs, each of outputSize, side by side from the origin. Returns why it failed, or
    // empty.
    QString start(const QSize& outputSize, int outputs = 1);

    const AppHome& home() const { return m_home; }

    // Shows img on output 1, 2, ...; flip() shows the picture before the last again.
    bool paint(const QImage& img, int output = 1);
    bool flip(int output = 1);
    // Whether choices of outputs are granted (hostile: with broken stream properties).
    void grantChoice(bool granted, bool hostile = false);
    // How often the back end was asked for a choice since it started.
    int choices();
    // Any command of the back end's last program (ScreenCastBackend.cpp); its answer.
    QByteArray command(const QString& line);

    void kill(Part part);
    // Starts again what was killed; returns why it failed, or empty.
    QString revive();

    // The back end's first program, which fills the streams' buffers.
    qint64 backendPid() const { return m_backend.front().process->processId(); }
    QList<qint64> pipeWirePids() const { return {m_pipewire->processId(), m_wireplumber->processId()}; }

protected:
    // A program of the back end, started in order (once the one before has its bus name) and ended together.
    struct Program
    {
        QString path;
        QStringList args;
        QString busName;
        std::unique_ptr<QProcess> process;
    };
    void addProgram(const QString& path, const QStringList& args, const QString& busName = {});

    QByteArray m_desktopName = "sway";

private:
    bool launch(QProcess& process, const QString& program, const QStringList& args = {});

    AppHome m_home;
    std::unique_ptr<PrivateBus> m_bus;
    // Each dies with this process, also when a test crashes.
    std::unique_ptr<QProcess> m_pipewire;
    std::unique_ptr<QProcess> m_wireplumber;
    std::vector<Program> m_backend;
    std::unique_ptr<QProcess> m_portal;
};
