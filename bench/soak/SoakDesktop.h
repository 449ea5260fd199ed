#pragma once

#include "support/AppHome.h"
#include "support/PrivateBus.h"
#include "support/StandInLogind.h"
#include "support/XvfbServer.h"

#include <QDBusConnection>
#include <QImage>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>

#include <memory>

struct xcb_connection_t;

// The desktop the soak plays with: an X server with monitors set by xrandr, one private bus standing in for
// both the system and the session bus (with logind on it), and a home of its own. The driver itself takes
// that home, display and bus as its environment, so that what the bus starts on demand (the accessibility
// bus) lives there too and not in the user's own.
class SoakDesktop
{
public:
    SoakDesktop();
    ~SoakDesktop();
    SoakDesktop(const SoakDesktop&) = delete;
    SoakDesktop& operator=(const SoakDesktop&) = delete;

    bool start(const QSize& screen, QString* error);

    QString filePath(const QString& relative) const { return m_home.filePath(relative); }
    // For the application, the Chroma publisher and the command line: this desktop, nothing of the user's.
    QProcessEnvironment environment() const;
    QDBusConnection bus() const { return m_connection; }

    // What logind says when the screen locks and unlocks, or the machine goes to sleep and wakes.
    bool sendLock(bool locked);
    bool sendSleep(bool start);

    bool xrandr(const QStringList& args) { return m_x.xrandr(args); }
    // Fills the root window, which the mirror reads wherever no window covers it.
    bool paintRoot(quint32 rgb);
    QImage grab(const QRect& area);

private:
    AppHome m_home;
    XvfbServer m_x;
    std::unique_ptr<PrivateBus> m_bus;
    QDBusConnection m_connection{QString()};
    StandInLogind m_logind;
    xcb_connection_t* m_xcb = nullptr;
};
