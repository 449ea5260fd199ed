#include "core/AutostartRegistration.h"

#include <QtGlobal>

#if defined(Q_OS_WIN)
#include "core/win/RunKeyAutostart.h"
#else
#include "core/linux/XdgAutostart.h"
#endif

std::unique_ptr<AutostartRegistration> AutostartRegistration::create()
{
#if defined(Q_OS_WIN)
    return std::make_unique<RunKeyAutostart>();
#else
    return std::make_unique<XdgAutostart>();
#endif
}
