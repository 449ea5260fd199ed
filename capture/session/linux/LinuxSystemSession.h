#pragma once

#include "capture/session/SystemSession.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QStringList>
#include <QVariantMap>

class QDBusVariant;
class QTimer;
class X11DisplayPowerMonitor;

// systemd-logind (lock, unlock, sleep, shutdown of this session) on the system bus, display blanking
// from the X server, and the desktop's colour scheme from the settings portal on the session bus.
class LinuxSystemSession : public SystemSession
{
    Q_OBJECT
public:
    // Long enough for the queued stream stops to leave; logind allows a delay of 5 s by default.
    static constexpr int kDefaultSleepReleaseMs = 1500;

    // An empty display name means the one in DISPLAY.
    LinuxSystemSession(const QDBusConnection& systemBus, const QDBusConnection& sessionBus,
                       const QByteArray& displayName, QObject* parent = nullptr);
    ~LinuxSystemSession() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, long* result) override;

    // The logind object path of this process's session, empty until resolved.
    QString sessionPath() const { return m_sessionPath; }
    bool holdsSleepInhibitor() const { return m_inhibitor.isValid(); }
    void setSleepReleaseDelay(int ms);
    X11DisplayPowerMonitor* displayMonitor() const { return m_display; }

public slots:
    // Lets the machine go to sleep; called once the streams had time to stop.
    void releaseSleepInhibitor();

signals:
    void sessionPathResolved(const QString& path);

private slots:
    void onLock();
    void onUnlock();
    void onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                    const QStringList& invalidated);
    void onPrepareForSleep(bool start);
    void onPrepareForShutdown(bool start);
    void onSettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);

private:
    void resolveSession();
    void resolveSessionById(const QString& id);
    void subscribeSession(const QString& path);
    void takeSleepInhibitor();
    void setSessionLocked(bool locked);
    void onDisplayPowerChanged(bool on);

    QDBusConnection m_systemBus;
    QDBusConnection m_sessionBus;
    X11DisplayPowerMonitor* m_display = nullptr;
    QTimer* m_sleepRelease = nullptr;
    QString m_sessionPath;
    QDBusUnixFileDescriptor m_inhibitor;
    bool m_inhibitPending = false;
    bool m_sessionLocked = false;
};
