#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// An HTTP/1.1 server for tests that answers each "VERB /path" route as scripted (a reply or an endless
// body); other routes get the default reply below. Runs on the thread that created it; listens on
// 127.0.0.1 until told otherwise.
class TestHttpServer : public QObject
{
    Q_OBJECT
public:
    // The default reply.
    int status = 200;
    QByteArray body;
    // Every answer waits this long first.
    int delayMs = 0;

    // The request lines of all requests in order of arrival.
    QList<QByteArray> requestLines;

    explicit TestHttpServer(QObject* parent = nullptr);
    ~TestHttpServer() override;
    // Moves the server to address:port.
    bool listen(const QHostAddress& address, quint16 port = 8080);
    QUrl baseUrl() const;

    void setReply(const QByteArray& verbAndPath, int status, const QByteArray& body);
    // 200 with an 8 MiB body.
    void setHugeBody(const QByteArray& verbAndPath) { m_huge.insert(verbAndPath); }

    int requestCount(const QByteArray& verbAndPath) const { return m_counts.value(verbAndPath); }
    QByteArray lastBody(const QByteArray& verbAndPath) const { return m_bodies.value(verbAndPath); }

private:
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& key);

    QTcpServer m_server;
    QHash<QByteArray, QByteArray> m_replies;
    QSet<QByteArray> m_huge;
    QHash<QByteArray, int> m_counts;
    QHash<QByteArray, QByteArray> m_bodies;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};
