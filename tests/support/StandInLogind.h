#pragma once

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QList>
#include <QObject>
#include <QString>

class QDBusConnection;

// Answers what the session back end asks of logind. Sessions are "/org/freedesktop/login1/session/_3<id>";
// this process is in ourSession().
class StandInLogind : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    static QString service() { return QStringLiteral("org.freedesktop.login1"); }
    static QString managerPath() { return QStringLiteral("/org/freedesktop/login1"); }
    static QString ourSession() { return QStringLiteral("/org/freedesktop/login1/session/_32"); }

    quint32 lastPid = 0;
    // GetSessionByPID answers NoSessionForPID.
    bool failByPid = false;
    int inhibitCalls = 0;
    QList<int> inhibitorReadEnds;

    ~StandInLogind() override;
    // Exports the manager on bus and takes the logind name.
    bool registerOn(QDBusConnection& bus);
    // The write end went away everywhere: the inhibitor is released.
    bool inhibitorReleased(int index) const;

public slots:
    QDBusObjectPath GetSessionByPID(uint pid);
    QDBusObjectPath GetSession(const QString& id);
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode);
};
