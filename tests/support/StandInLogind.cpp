#include "StandInLogind.h"

#include <QDBusConnection>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

StandInLogind::~StandInLogind()
{
    for (int fd : qAsConst(inhibitorReadEnds))
        ::close(fd);
}

bool StandInLogind::registerOn(QDBusConnection& bus)
{
    return bus.registerObject(managerPath(), this, QDBusConnection::ExportAllSlots) &&
           bus.registerService(service());
}

bool StandInLogind::inhibitorReleased(int index) const
{
    pollfd p{inhibitorReadEnds.at(index), POLLIN, 0};
    if (::poll(&p, 1, 0) != 1)
        return false;
    char c;
    return ::read(p.fd, &c, 1) == 0;
}

QDBusObjectPath StandInLogind::GetSessionByPID(uint pid)
{
    lastPid = pid;
    if (failByPid) {
        sendErrorReply(QStringLiteral("org.freedesktop.login1.NoSessionForPID"),
                       QStringLiteral("no session"));
        return {};
    }
    return QDBusObjectPath(ourSession());
}

QDBusObjectPath StandInLogind::GetSession(const QString& id)
{
    return QDBusObjectPath(QStringLiteral("/org/freedesktop/login1/session/_3") + id);
}

QDBusUnixFileDescriptor StandInLogind::Inhibit(const QString& what, const QString& /*who*/,
                                               const QString& /*why*/, const QString& mode)
{
    ++inhibitCalls;
    if (what != QLatin1String("sleep") || mode != QLatin1String("delay")) {
        sendErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), what + mode);
        return {};
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    inhibitorReadEnds << fds[0];
    QDBusUnixFileDescriptor handle(fds[1]);
    ::close(fds[1]);
    return handle;
}
