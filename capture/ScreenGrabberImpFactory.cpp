#include "capture/ScreenGrabberImpFactory.h"

#include <QtGlobal>

#if defined(Q_OS_WIN)
#include "capture/win/D3D11Grabber.h"
#else
#include "capture/linux/PipeWireGrabber.h"
#include "capture/linux/XcbGrabber.h"
#endif

#if !defined(Q_OS_WIN)
namespace {

bool waylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace
#endif

ScreenGrabberImp* createScreenGrabberImp()
{
#if defined(Q_OS_WIN)
    return new D3D11Grabber();
#else
    // XWayland's root window shows no native Wayland window: a Wayland session is captured through its
    // portal.
    if (waylandSession())
        return new PipeWireGrabber();
    return new XcbGrabber();
#endif
}
