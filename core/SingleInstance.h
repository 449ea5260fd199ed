#pragma once

#include "core/SingleInstanceMessage.h"

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;

// One running instance per user: a lock file decides who serves, a user-private local socket carries
// messages from later starts. Frames are a 4-byte big-endian length and UTF-8 text; the server answers
// one ack byte once it has a whole message.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Role
    {
        Primary,
        MessageDelivered,
        Unreachable
    };
    static constexpr int kMaxMessageBytes = SingleInstanceMessage::kMaxBytes;
    static constexpr char kAck = 0x06;

    // An empty runtimeDir means the user's runtime directory (XDG_RUNTIME_DIR or a private fallback).
    explicit SingleInstance(QString key = QStringLiteral("pivotrix-entertainment"),
                            QString runtimeDir = QString(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Delivers `message` to a running instance within timeoutMs, or becomes the running instance.
    Role start(const QString& message, int timeoutMs);
    bool isPrimary() const { return m_server != nullptr; }

    QString serverName() const { return m_serverName; }
    // Connections that have not sent a whole message by then are dropped.
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }

    static bool sendMessage(const QString& serverName, const QString& message, int timeoutMs);

signals:
    void messageReceived(const QString& message);

private:
    bool listen();
    void acceptConnections();
    void readClient(QLocalSocket* socket);

    QString m_serverName;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    int m_idleTimeoutMs = 2000;
};
