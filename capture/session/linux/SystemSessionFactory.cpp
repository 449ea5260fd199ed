#include "capture/session/SystemSession.h"
#include "capture/session/linux/LinuxSystemSession.h"

SystemSession* SystemSession::create(QObject* parent)
{
    return new LinuxSystemSession(QDBusConnection::systemBus(), QDBusConnection::sessionBus(), QByteArray(),
                                  parent);
}
