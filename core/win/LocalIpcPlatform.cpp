#include "core/LocalIpcPlatform.h"

QString LocalIpcPlatform::serverName(const QString& runtimeDir, const QString& key)
{
    Q_UNUSED(runtimeDir)
    // Pipe names are global; QLocalServer::UserAccessOption limits the pipe's ACL to this user.
    return key;
}

bool LocalIpcPlatform::peerIsCurrentUser(qintptr socketDescriptor)
{
    Q_UNUSED(socketDescriptor)
    return true;
}
