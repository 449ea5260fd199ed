#include "capture/ScreenGrabberImpFactory.h"

#include <QtGlobal>

#if defined(Q_OS_WIN)
#include "capture/win/D3D11Grabber.h"
#else
#include "capture/linux/XcbGrabber.h"
#endif

ScreenGrabberImp* createScreenGrabberImp()
{
#if defined(Q_OS_WIN)
    return new D3D11Grabber();
#else
    return new XcbGrabber();
#endif
}
