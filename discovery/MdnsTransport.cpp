#include "discovery/MdnsTransport.h"

#include <QtGlobal>

#if defined(Q_OS_WIN)
#include "discovery/win/WinMdnsTransport.h"
#else
#include "discovery/linux/PosixMdnsTransport.h"
#endif

std::unique_ptr<MdnsTransport> MdnsTransport::create()
{
#if defined(Q_OS_WIN)
    return std::make_unique<WinMdnsTransport>();
#else
    return std::make_unique<PosixMdnsTransport>();
#endif
}
