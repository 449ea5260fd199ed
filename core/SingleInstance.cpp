#include "core/SingleInstance.h"

#include "core/DiagnosticLog.h"
#include "core/LocalIpcPlatform.h"
#include "core/SingleInstanceMessage.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace {
const char* const kBufferProperty = "pivotrixBuffer";
} // namespace

SingleInstance::SingleInstance(QString key, QString runtimeDir, QObject* parent)
    : QObject(parent)
{
    if (runtimeDir.isEmpty())
        runtimeDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtimeDir.isEmpty())
        runtimeDir = QDir::tempPath();
    m_serverName = LocalIpcPlatform::serverName(runtimeDir, key);
    m_lock = std::make_unique<QLockFile>(runtimeDir + QLatin1Char('/') + key + QStringLiteral(".lock"));
    // A lock whose owner died is taken over at once; a live owner is never considered stale.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

SingleInstance::Role SingleInstance::start(const QString& message, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (sendMessage(m_serverName, message, int(deadline.remainingTime())))
            return Role::MessageDelivered;
        if (m_lock->tryLock(0)) {
            if (!listen())
                qCDebug(lcPivotrix) << "single instance: cannot listen, later starts will not reach us"
                                    << m_serverName;
            return Role::Primary;
        }
        // The lock holder is alive but not answering yet (starting up) or stuck; retry until the deadline.
        if (deadline.hasExpired())
            break;
        QThread::msleep(100);
    }
    qCDebug(lcPivotrix) << "single instance: another instance holds the lock but did not take the message";
    return Role::Unreachable;
}

bool SingleInstance::sendMessage(const QString& serverName, const QString& message, int timeoutMs)
{
    const QByteArray frame = SingleInstanceMessage::frame(message);
    if (frame.isEmpty())
        return false;
    QDeadlineTimer deadline(qMax(timeoutMs, 0));
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false;
    socket.write(frame);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    }
    while (socket.bytesAvailable() < 1) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    char ack = 0;
    return socket.getChar(&ack) && ack == kAck;
}

bool SingleInstance::listen()
{
    // The lock is ours, so a socket file still there belongs to a dead instance.
    QLocalServer::removeServer(m_serverName);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(8);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return m_server->listen(m_serverName);
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!LocalIpcPlatform::peerIsCurrentUser(socket->socketDescriptor())) {
            qCDebug(lcPivotrix) << "single instance: refusing a client of another user";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket] {
            qCDebug(lcPivotrix) << "single instance: dropping an idle client";
            socket->abort();
            socket->deleteLater();
        });
        idle->start(m_idleTimeoutMs);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readClient(socket); });
    }
}

void SingleInstance::readClient(QLocalSocket* socket)
{
    QByteArray buffer = socket->property(kBufferProperty).toByteArray();
    buffer += socket->read(4 + kMaxMessageBytes + 1 - buffer.size());
    auto drop = [socket](const char* why) {
        qCDebug(lcPivotrix) << "single instance: dropping client," << why;
        socket->abort();
        socket->deleteLater();
    };
    QString message;
    const char* why = nullptr;
    switch (SingleInstanceMessage::read(buffer, socket->bytesAvailable() > 0, &message, &why)) {
    case SingleInstanceMessage::Reading::Incomplete:
        socket->setProperty(kBufferProperty, buffer);
        return;
    case SingleInstanceMessage::Reading::Refused:
        return drop(why);
    case SingleInstanceMessage::Reading::Complete:
        break;
    }

    socket->setProperty(kBufferProperty, QVariant());
    socket->write(&kAck, 1);
    socket->flush();
    socket->disconnectFromServer();
    emit messageReceived(message);
}
