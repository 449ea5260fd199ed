#include "core/LocalIpcPlatform.h"

#include <sys/socket.h>
#include <unistd.h>

QString LocalIpcPlatform::serverName(const QString& runtimeDir, const QString& key)
{
    return runtimeDir + QLatin1Char('/') + key + QStringLiteral(".sock");
}

bool LocalIpcPlatform::peerIsCurrentUser(qintptr socketDescriptor)
{
    ucred cred{};
    socklen_t len = sizeof(cred);
    if (getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return false;
    return cred.uid == getuid();
}
