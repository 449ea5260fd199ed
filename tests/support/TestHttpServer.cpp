#include "TestHttpServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace {
QByteArray replyBytes(int status, const QByteArray& body)
{
    return "HTTP/1.1 " + QByteArray::number(status) +
           " X\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}
} // namespace

TestHttpServer::TestHttpServer(QObject* parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
    m_server.listen(QHostAddress::LocalHost);
}

TestHttpServer::~TestHttpServer()
{
    // The sockets would report their end to the half-destroyed server.
    for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>()) {
        socket->disconnect(this);
        delete socket;
    }
}

bool TestHttpServer::listen(const QHostAddress& address, quint16 port)
{
    m_server.close();
    return m_server.listen(address, port);
}

QUrl TestHttpServer::baseUrl() const
{
    return QUrl(
        QStringLiteral("http://%1:%2").arg(m_server.serverAddress().toString()).arg(m_server.serverPort()));
}

void TestHttpServer::setReply(const QByteArray& verbAndPath, int status, const QByteArray& body)
{
    m_replies.insert(verbAndPath, replyBytes(status, body));
}

void TestHttpServer::onReadyRead(QTcpSocket* socket)
{
    QByteArray& buffer = m_buffers[socket];
    buffer.append(socket->readAll());
    for (;;) {
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray headers = buffer.left(end);
        int length = 0;
        for (const QByteArray& line : headers.split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toInt();
        }
        if (buffer.size() < end + 4 + length)
            return;
        const QByteArray requestLine = headers.left(headers.indexOf("\r\n"));
        const QList<QByteArray> parts = requestLine.split(' ');
        const QByteArray key = parts.value(0) + ' ' + parts.value(1);
        m_bodies.insert(key, buffer.mid(end + 4, length));
        buffer.remove(0, end + 4 + length);
        ++m_counts[key];
        requestLines << requestLine;
        if (delayMs <= 0) {
            answer(socket, key);
            if (socket->state() != QAbstractSocket::ConnectedState)
                return;
        } else {
            QPointer<QTcpSocket> guard(socket);
            QTimer::singleShot(delayMs, this, [this, guard, key] {
                if (guard)
                    answer(guard, key);
            });
        }
    }
}

void TestHttpServer::answer(QTcpSocket* socket, const QByteArray& key)
{
    if (!m_huge.contains(key)) {
        socket->write(m_replies.value(key, replyBytes(status, body)));
        return;
    }
    const qint64 size = 8 * 1024 * 1024;
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(size) + "\r\n\r\n");
    const QByteArray chunk(64 * 1024, ' ');
    for (qint64 sent = 0; sent < size; sent += chunk.size())
        socket->write(chunk);
}
