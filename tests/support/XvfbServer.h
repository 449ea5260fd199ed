#pragma once

#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QSize>
#include <QStringList>

// A private X server for one test, plus the means to draw on its root window and reconfigure its monitors.
class XvfbServer
{
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Starts on a free display number; extraArgs go before the screen option.
    bool start(const QSize& size, const QStringList& extraArgs = {});
    // Starts again on the display number of the previous start.
    bool restart();
    void kill();

    QByteArray display() const { return m_display; }
    qint64 pid() const { return m_process.processId(); }

    // Draws img with its top-left corner at (x, y) of the root window and waits until the server did it.
    bool paint(const QImage& img, int x = 0, int y = 0);
    bool xrandr(const QStringList& args);

private:
    bool launch(const QStringList& args, bool readDisplay);

    QProcess m_process;
    QByteArray m_display;
    QSize m_size;
    QStringList m_extraArgs;
};
