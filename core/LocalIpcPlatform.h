#pragma once

#include <QString>
#include <QtGlobal>

// Platform details of the single-instance channel.
class LocalIpcPlatform
{
public:
    // Name to listen on / connect to for `key`, placed in the user-private `runtimeDir` where the platform
    // has one.
    static QString serverName(const QString& runtimeDir, const QString& key);
    // Whether the process at the other end of a connected local socket belongs to this user.
    static bool peerIsCurrentUser(qintptr socketDescriptor);
};
