#include "HostileHttpServer.h"

#include <QTcpServer>
#include <QTcpSocket>

HostileHttpServer::HostileHttpServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

bool HostileHttpServer::listen(const QHostAddress& address, quint16 port)
{
    return m_server->listen(address, port);
}

void HostileHttpServer::setReply(const QByteArray& verbAndPath, int status, const QByteArray& body)
{
    QByteArray raw = "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: application/json\r\n" +
                     "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    setRawReply(verbAndPath, raw);
}

void HostileHttpServer::setRawReply(const QByteArray& verbAndPath, const QByteArray& raw)
{
    m_replies.insert(verbAndPath, raw);
    m_modes.insert(verbAndPath, Mode::Raw);
}

void HostileHttpServer::setMode(const QByteArray& verbAndPath, Mode mode)
{
    m_modes.insert(verbAndPath, mode);
}

void HostileHttpServer::onReadyRead(QTcpSocket* socket)
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
        const QList<QByteArray> requestLine = headers.left(headers.indexOf("\r\n")).split(' ');
        const QByteArray key = requestLine.value(0) + ' ' + requestLine.value(1);
        m_lastHeaders = headers;
        m_bodies.insert(key, buffer.mid(end + 4, length));
        buffer.remove(0, end + 4 + length);
        ++m_counts[key];
        answer(socket, key);
        if (socket->state() != QAbstractSocket::ConnectedState)
            return;
    }
}

void HostileHttpServer::answer(QTcpSocket* socket, const QByteArray& key)
{
    switch (m_modes.value(key, Mode::Raw)) {
    case Mode::Reset:
        socket->abort();
        return;
    case Mode::HugeBody: {
        const qint64 size = 8 * 1024 * 1024;
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(size) + "\r\n\r\n");
        const QByteArray chunk(64 * 1024, ' ');
        for (qint64 sent = 0; sent < size; sent += chunk.size())
            socket->write(chunk);
        return;
    }
    case Mode::Raw:
        break;
    }
    if (m_replies.contains(key))
        socket->write(m_replies.value(key));
    else
        socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
}
