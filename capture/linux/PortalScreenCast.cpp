#include "capture/linux/PortalScreenCast.h"

#include "core/DiagnosticLog.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDebug>

#include <fcntl.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kObject = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

constexpr uint SourceMonitor = 1;
// Remembered until the user revokes it, not only while this process runs.
constexpr uint PersistUntilRevoked = 2;

} // namespace

PortalScreenCast::PortalScreenCast(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
{
    // A portal that goes away takes its sessions along without a Closed signal.
    auto* watcher =
        new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        if (m_phase == Phase::Busy)
            fail(QStringLiteral("portal went away"));
        else if (m_phase == Phase::Started)
            sessionEnded(false);
    });
}

PortalScreenCast::~PortalScreenCast()
{
    close();
}

QString PortalScreenCast::newToken()
{
    return QStringLiteral("pivotrix%1_%2").arg(quintptr(this), 0, 16).arg(++m_tokenCounter);
}

void PortalScreenCast::open(const QString& restoreToken)
{
    close();
    m_phase = Phase::Busy;
    m_failure.clear();
    m_refusedByUser = false;
    m_closedByDesktop = false;
    m_restoreToken = restoreToken;
    if (!m_bus.isConnected()) {
        fail(QStringLiteral("no session bus"));
        return;
    }
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), newToken());
    request(Step::CreateSession, QStringLiteral("CreateSession"), {}, options);
}

bool PortalScreenCast::request(Step step, const QString& method, const QVariantList& leadingArgs,
                               QVariantMap options)
{
    unsubscribeRequest();
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    // Subscribed before the call, so an answer that comes at once is not missed.
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    m_requestPath = kObject + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    m_bus.connect(kService, m_requestPath, kRequest, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap)));
    m_step = step;

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObject, kScreenCast, method);
    QVariantList args = leadingArgs;
    args << options;
    call.setArguments(args);
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, m_callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        const QString why = QStringLiteral("%1 failed: %2").arg(method, reply.errorMessage());
        unsubscribeRequest();
        // A refused restore token is retried without it on the same session.
        if (step == Step::SelectSources && options.contains(QStringLiteral("restore_token")))
            m_failure = why;
        else
            fail(why);
        return false;
    }
    const QString handle = reply.arguments().constFirst().value<QDBusObjectPath>().path();
    if (!handle.isEmpty() && handle != m_requestPath) {
        // Portals before the handle token convention answer on a path of their own.
        unsubscribeRequest();
        m_requestPath = handle;
        m_bus.connect(kService, m_requestPath, kRequest, QStringLiteral("Response"), this,
                      SLOT(onResponse(uint, QVariantMap)));
        m_step = step;
    }
    return true;
}

void PortalScreenCast::selectSources()
{
    QVariantMap options;
    options.insert(QStringLiteral("types"), SourceMonitor);
    options.insert(QStringLiteral("multiple"), true);
    options.insert(QStringLiteral("persist_mode"), PersistUntilRevoked);
    if (!m_restoreToken.isEmpty())
        options.insert(QStringLiteral("restore_token"), m_restoreToken);
    const QVariantList session = {QVariant::fromValue(QDBusObjectPath(m_sessionPath))};
    if (request(Step::SelectSources, QStringLiteral("SelectSources"), session, options) ||
        m_restoreToken.isEmpty())
        return;
    // A stored token the portal rejects outright must not block capture: the user chooses again.
    qCDebug(lcPivotrix) << "restore token refused:" << m_failure;
    m_restoreToken.clear();
    m_phase = Phase::Busy;
    m_failure.clear();
    options.remove(QStringLiteral("restore_token"));
    request(Step::SelectSources, QStringLiteral("SelectSources"), session, options);
}

void PortalScreenCast::unsubscribeRequest()
{
    if (!m_requestPath.isEmpty()) {
        m_bus.disconnect(kService, m_requestPath, kRequest, QStringLiteral("Response"), this,
                         SLOT(onResponse(uint, QVariantMap)));
    }
    m_requestPath.clear();
    m_step = Step::None;
}

void PortalScreenCast::onResponse(uint response, const QVariantMap& results)
{
    const Step step = m_step;
    unsubscribeRequest();
    if (m_phase != Phase::Busy || step == Step::None)
        return;
    if (response != 0) {
        m_refusedByUser = response == 1;
        fail(response == 1 ? QStringLiteral("screen cast refused by the user")
                           : QStringLiteral("screen cast refused by the portal %1").arg(response));
        return;
    }

    switch (step) {
    case Step::CreateSession: {
        m_sessionPath = results.value(QStringLiteral("session_handle")).toString();
        if (m_sessionPath.isEmpty()) {
            fail(QStringLiteral("portal gave no session"));
            return;
        }
        m_bus.connect(kService, m_sessionPath, kSession, QStringLiteral("Closed"), this,
                      SLOT(onSessionClosed()));
        selectSources();
        break;
    }
    case Step::SelectSources:
        request(Step::Start, QStringLiteral("Start"),
                {QVariant::fromValue(QDBusObjectPath(m_sessionPath)), QString()}, {});
        break;
    case Step::Start: {
        m_streams = PortalStream::readAll(results.value(QStringLiteral("streams")));
        if (m_streams.isEmpty()) {
            fail(QStringLiteral("portal granted no monitor"));
            return;
        }
        // Without a new token the old one stays valid (or there never was one).
        const QString token = results.value(QStringLiteral("restore_token")).toString();
        if (!token.isEmpty())
            m_restoreToken = token;
        m_phase = Phase::Started;
        emit finished();
        break;
    }
    case Step::None:
        break;
    }
}

void PortalScreenCast::onSessionClosed()
{
    sessionEnded(true);
}

void PortalScreenCast::sessionEnded(bool byDesktop)
{
    // A signal already on its way when the session was given up.
    if (m_phase != Phase::Busy && m_phase != Phase::Started)
        return;
    const bool wasStarted = m_phase == Phase::Started;
    if (!m_sessionPath.isEmpty())
        m_bus.disconnect(kService, m_sessionPath, kSession, QStringLiteral("Closed"), this,
                         SLOT(onSessionClosed()));
    m_sessionPath.clear();
    // A refusal closes the session before its answer arrives; the answer tells why.
    if (m_phase == Phase::Busy && m_step != Step::None)
        return;
    unsubscribeRequest();
    if (m_phase == Phase::Busy) {
        fail(QStringLiteral("portal closed the session"));
        return;
    }
    m_phase = Phase::Closed;
    m_closedByDesktop = byDesktop;
    m_failure = byDesktop ? QStringLiteral("the desktop stopped sharing the screen")
                          : QStringLiteral("portal closed the session");
    if (wasStarted)
        emit closed();
}

void PortalScreenCast::fail(const QString& why)
{
    unsubscribeRequest();
    if (!m_sessionPath.isEmpty()) {
        m_bus.disconnect(kService, m_sessionPath, kSession, QStringLiteral("Closed"), this,
                         SLOT(onSessionClosed()));
        m_bus.send(
            QDBusMessage::createMethodCall(kService, m_sessionPath, kSession, QStringLiteral("Close")));
        m_sessionPath.clear();
    }
    m_failure = why;
    m_streams.clear();
    m_phase = Phase::Failed;
    emit finished();
}

void PortalScreenCast::close()
{
    unsubscribeRequest();
    if (!m_sessionPath.isEmpty()) {
        m_bus.disconnect(kService, m_sessionPath, kSession, QStringLiteral("Closed"), this,
                         SLOT(onSessionClosed()));
        if (m_bus.isConnected())
            m_bus.send(
                QDBusMessage::createMethodCall(kService, m_sessionPath, kSession, QStringLiteral("Close")));
        m_sessionPath.clear();
    }
    m_streams.clear();
    m_phase = Phase::Idle;
}

int PortalScreenCast::openPipeWireRemote()
{
    if (m_phase != Phase::Started)
        return -1;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kObject, kScreenCast, QStringLiteral("OpenPipeWireRemote"));
    call.setArguments({QVariant::fromValue(QDBusObjectPath(m_sessionPath)), QVariantMap()});
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, m_callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        m_failure = QStringLiteral("OpenPipeWireRemote failed: %1").arg(reply.errorMessage());
        return -1;
    }
    const auto fd = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
    if (!fd.isValid()) {
        m_failure = QStringLiteral("OpenPipeWireRemote gave no descriptor");
        return -1;
    }
    // The message closes its own copy.
    return ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}
