#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

// A panel that misbehaves at the HTTP level: for each "VERB path" it answers with canned raw bytes,
// resets the connection, or streams an endless body. Runs on the thread that created it.
class HostileHttpServer : public QObject
{
    Q_OBJECT
public:
    enum class Mode
    {
        Raw,
        Reset,
        HugeBody
    };

    explicit HostileHttpServer(QObject* parent = nullptr);
    bool listen(const QHostAddress& address, quint16 port = 8080);

    // An HTTP/1.1 reply with the given status and body.
    void setReply(const QByteArray& verbAndPath, int status, const QByteArray& body);
    void setRawReply(const QByteArray& verbAndPath, const QByteArray& raw);
    void setMode(const QByteArray& verbAndPath, Mode mode);

    int requestCount(const QByteArray& verbAndPath) const { return m_counts.value(verbAndPath); }
    QByteArray lastBody(const QByteArray& verbAndPath) const { return m_bodies.value(verbAndPath); }
    QByteArray lastHeaders() const { return m_lastHeaders; }

private:
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& key);

    QTcpServer* m_server;
    QHash<QByteArray, QByteArray> m_replies;
    QHash<QByteArray, Mode> m_modes;
    QHash<QByteArray, int> m_counts;
    QHash<QByteArray, QByteArray> m_bodies;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QByteArray m_lastHeaders;
};
