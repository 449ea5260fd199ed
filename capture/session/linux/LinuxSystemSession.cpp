#include "capture/session/linux/LinuxSystemSession.h"

#include "capture/session/linux/X11DisplayPowerMonitor.h"
#include "core/DiagnosticLog.h"

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDebug>
#include <QTimer>

namespace {
const QString kLogin1 = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManagerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kPortalSettings = QStringLiteral("org.freedesktop.portal.Settings");
constexpr int kCallTimeoutMs = 5000;
} // namespace

LinuxSystemSession::LinuxSystemSession(const QDBusConnection& systemBus, const QDBusConnection& sessionBus,
                                       const QByteArray& displayName, QObject* parent)
    : SystemSession(parent)
    , m_systemBus(systemBus)
    , m_sessionBus(sessionBus)
    , m_sleepRelease(new QTimer(this))
{
    m_sleepRelease->setSingleShot(true);
    m_sleepRelease->setInterval(kDefaultSleepReleaseMs);
    connect(m_sleepRelease, &QTimer::timeout, this, &LinuxSystemSession::releaseSleepInhibitor);

    if (m_systemBus.isConnected()) {
        const bool sleep =
            m_systemBus.connect(kLogin1, kManagerPath, kManagerInterface, QStringLiteral("PrepareForSleep"),
                                this, SLOT(onPrepareForSleep(bool)));
        const bool shutdown =
            m_systemBus.connect(kLogin1, kManagerPath, kManagerInterface,
                                QStringLiteral("PrepareForShutdown"), this, SLOT(onPrepareForShutdown(bool)));
        if (!sleep || !shutdown)
            qCDebug(lcPivotrix) << "failed to subscribe on session notifications"
                                << m_systemBus.lastError().message();
        resolveSession();
        takeSleepInhibitor();
    } else {
        qCDebug(lcPivotrix) << "failed to subscribe on session notifications"
                            << "no system bus" << m_systemBus.lastError().message();
    }

    if (m_sessionBus.isConnected()) {
        m_sessionBus.connect(kPortal, kPortalPath, kPortalSettings, QStringLiteral("SettingChanged"), this,
                             SLOT(onSettingChanged(QString, QString, QDBusVariant)));
    }

    m_display = new X11DisplayPowerMonitor(displayName, this);
    connect(m_display, &X11DisplayPowerMonitor::displayPowerChanged, this,
            &LinuxSystemSession::onDisplayPowerChanged);
}

LinuxSystemSession::~LinuxSystemSession() = default;

bool LinuxSystemSession::nativeEventFilter(const QByteArray& eventType, void* message, long* result)
{
    Q_UNUSED(eventType)
    Q_UNUSED(message)
    Q_UNUSED(result)
    return false;
}

void LinuxSystemSession::setSleepReleaseDelay(int ms)
{
    m_sleepRelease->setInterval(ms);
}

void LinuxSystemSession::resolveSession()
{
    QDBusMessage call = QDBusMessage::createMethodCall(kLogin1, kManagerPath, kManagerInterface,
                                                       QStringLiteral("GetSessionByPID"));
    call << quint32(QCoreApplication::applicationPid());
    auto* watcher = new QDBusPendingCallWatcher(m_systemBus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (!reply.isError()) {
            subscribeSession(reply.value().path());
            return;
        }
        // Started outside the login session (a user service, for instance): fall back to the session
        // the environment names.
        const QString id = qEnvironmentVariable("XDG_SESSION_ID");
        if (!id.isEmpty()) {
            resolveSessionById(id);
            return;
        }
        qCDebug(lcPivotrix) << "failed to subscribe on session notifications" << reply.error().message();
    });
}

void LinuxSystemSession::resolveSessionById(const QString& id)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kLogin1, kManagerPath, kManagerInterface,
                                                       QStringLiteral("GetSession"));
    call << id;
    auto* watcher = new QDBusPendingCallWatcher(m_systemBus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError())
            qCDebug(lcPivotrix) << "failed to subscribe on session notifications" << reply.error().message();
        else
            subscribeSession(reply.value().path());
    });
}

void LinuxSystemSession::subscribeSession(const QString& path)
{
    // logind sends Lock/Unlock only on the session's real object path, never on session/auto.
    const bool lock =
        m_systemBus.connect(kLogin1, path, kSessionInterface, QStringLiteral("Lock"), this, SLOT(onLock()));
    const bool unlock = m_systemBus.connect(kLogin1, path, kSessionInterface, QStringLiteral("Unlock"), this,
                                            SLOT(onUnlock()));
    const bool hint =
        m_systemBus.connect(kLogin1, path, kProperties, QStringLiteral("PropertiesChanged"), this,
                            SLOT(onSessionPropertiesChanged(QString, QVariantMap, QStringList)));
    if (!lock || !unlock || !hint) {
        qCDebug(lcPivotrix) << "failed to subscribe on session notifications" << path;
        return;
    }
    qCDebug(lcPivotrix) << "session events of" << path;
    m_sessionPath = path;
    emit sessionPathResolved(path);
}

void LinuxSystemSession::takeSleepInhibitor()
{
    if (m_inhibitor.isValid() || m_inhibitPending || !m_systemBus.isConnected())
        return;
    if (!(m_systemBus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        qCDebug(lcPivotrix) << "no sleep inhibitor, the bus cannot pass file descriptors";
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kLogin1, kManagerPath, kManagerInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Pivotrix Entertainment")
         << QStringLiteral("Stop streaming to the light panels") << QStringLiteral("delay");
    m_inhibitPending = true;
    auto* watcher = new QDBusPendingCallWatcher(m_systemBus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        m_inhibitPending = false;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (reply.isError()) {
            qCDebug(lcPivotrix) << "sleep inhibitor refused" << reply.error().message();
            return;
        }
        m_inhibitor = reply.value();
        qCDebug(lcPivotrix) << "sleep inhibitor taken" << m_inhibitor.isValid();
    });
}

void LinuxSystemSession::releaseSleepInhibitor()
{
    m_sleepRelease->stop();
    if (!m_inhibitor.isValid())
        return;
    qCDebug(lcPivotrix) << "sleep inhibitor released";
    m_inhibitor = QDBusUnixFileDescriptor();
}

void LinuxSystemSession::setSessionLocked(bool locked)
{
    if (m_sessionLocked == locked)
        return;
    m_sessionLocked = locked;
    changeState(locked ? SessionLocked : SessionUnlocked);
}

void LinuxSystemSession::onLock()
{
    setSessionLocked(true);
}

void LinuxSystemSession::onUnlock()
{
    setSessionLocked(false);
}

void LinuxSystemSession::onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                                    const QStringList& invalidated)
{
    Q_UNUSED(invalidated)
    if (interface != kSessionInterface)
        return;
    const auto hint = changed.constFind(QStringLiteral("LockedHint"));
    if (hint == changed.constEnd())
        return;
    if (hint->userType() != QMetaType::Bool) {
        qCDebug(lcPivotrix) << "ignoring LockedHint of unexpected type" << hint->typeName();
        return;
    }
    setSessionLocked(hint->toBool());
}

void LinuxSystemSession::onPrepareForSleep(bool start)
{
    if (start) {
        changeState(SystemSuspending);
        m_sleepRelease->start();
    } else {
        m_sleepRelease->stop();
        changeState(SystemResumed);
        takeSleepInhibitor();
    }
}

void LinuxSystemSession::onPrepareForShutdown(bool start)
{
    if (start)
        changeState(SessionEnding);
}

void LinuxSystemSession::onSettingChanged(const QString& nameSpace, const QString& key,
                                          const QDBusVariant& value)
{
    Q_UNUSED(value)
    if (nameSpace == QLatin1String("org.freedesktop.appearance") && key == QLatin1String("color-scheme")) {
        qCDebug(lcPivotrix) << "system theme changed";
        emit systemThemeChanged();
    }
}

void LinuxSystemSession::onDisplayPowerChanged(bool on)
{
    changeState(on ? DisplayOn : DisplayOff);
}
