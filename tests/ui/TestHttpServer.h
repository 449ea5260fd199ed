#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

// A one-route HTTP/1.1 server for tests: every request gets the configured answer, optionally late,
// or the connection is dropped without one.
class TestHttpServer : public QObject
{
    Q_OBJECT
public:
    int status = 200;
    QByteArray body;
    int delayMs = 0;
    bool dropConnection = false;
    int requests = 0;
    QList<QByteArray> requestLines;

    explicit TestHttpServer(QObject* parent = nullptr)
        : QObject(parent)
    {
        connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::accept);
        m_server.listen(QHostAddress::LocalHost);
    }

    QUrl baseUrl() const
    {
        QUrl url;
        url.setScheme(QStringLiteral("http"));
        url.setHost(QStringLiteral("127.0.0.1"));
        url.setPort(m_server.serverPort());
        return url;
    }

private:
    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        }
    }

    void read(QTcpSocket* socket)
    {
        QByteArray& pending = m_pending[socket];
        pending += socket->readAll();
        if (!pending.contains("\r\n\r\n"))
            return;
        ++requests;
        requestLines << pending.left(pending.indexOf("\r\n"));
        m_pending.remove(socket);
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(delayMs, this, [this, guard] {
            if (!guard)
                return;
            if (dropConnection) {
                guard->abort();
                return;
            }
            QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) +
                                " X\r\nContent-Type: application/json\r\n"
                                "Content-Length: " +
                                QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
            guard->write(answer + body);
            guard->disconnectFromHost();
        });
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
