#include "PanelProcess.h"

#include <QFile>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QThread>

namespace {
constexpr int kStatusPort = 8081;
constexpr int kHttpTimeoutMs = 3000;

// One request on a connection of its own; the body of a 200 answer, or an empty array.
QByteArray httpCall(const QString& address, const QByteArray& verb, const QByteArray& path,
                    const QByteArray& body = QByteArray())
{
    QTcpSocket socket;
    socket.connectToHost(address, kStatusPort);
    if (!socket.waitForConnected(kHttpTimeoutMs))
        return QByteArray();
    QByteArray request = verb + ' ' + path + " HTTP/1.1\r\nHost: " + address.toLatin1() +
                         "\r\nConnection: close\r\nContent-Type: application/json\r\nContent-Length: " +
                         QByteArray::number(body.size()) + "\r\n\r\n" + body;
    socket.write(request);
    QByteArray reply;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(kHttpTimeoutMs))
        reply += socket.readAll();
    reply += socket.readAll();
    const int headerEnd = reply.indexOf("\r\n\r\n");
    if (!reply.startsWith("HTTP/1.1 200") || headerEnd < 0)
        return QByteArray();
    return reply.mid(headerEnd + 4);
}
} // namespace

PanelProcess::PanelProcess(const Config& config)
    : m_config(config)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                     [this](int, QProcess::ExitStatus) {
                         if (!m_killing)
                             m_endedUnasked = true;
                     });
    // Drained as it comes, so a chatty emulator never blocks on a full pipe; the tail is kept for reports.
    QObject::connect(&m_process, &QProcess::readyRead,
                     [this] { m_output = (m_output + m_process.readAll()).right(8192); });
}

PanelProcess::~PanelProcess()
{
    if (isRunning()) {
        m_killing = true;
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            kill();
    }
}

bool PanelProcess::start(QString* error)
{
    m_killing = false;
    const QStringList args{
        QStringLiteral("--address"),  m_config.address, QStringLiteral("--id"),      m_config.id,
        QStringLiteral("--name"),     m_config.name,    QStringLiteral("--api-key"), m_config.apiKey,
        QStringLiteral("--key-file"), m_config.keyFile};
    m_process.start(m_config.program, args);
    if (!m_process.waitForStarted(5000)) {
        *error = QStringLiteral("%1 did not start").arg(m_config.program);
        return false;
    }
    m_output.clear();
    while (!m_output.contains("ready\n")) {
        if (!m_process.waitForReadyRead(10000)) {
            *error = QStringLiteral("panel %1 not ready: %2")
                         .arg(m_config.address, QString::fromLocal8Bit(m_output));
            m_killing = true;
            m_process.kill();
            m_process.waitForFinished(3000);
            return false;
        }
    }
    return true;
}

void PanelProcess::kill()
{
    if (!isRunning())
        return;
    m_killing = true;
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString PanelProcess::key() const
{
    QFile file(m_config.keyFile);
    if (file.open(QIODevice::ReadOnly)) {
        const QString stored = QString::fromUtf8(file.readAll()).trimmed();
        if (!stored.isEmpty())
            return stored;
    }
    return m_config.apiKey;
}

QJsonObject PanelProcess::status() const
{
    return QJsonDocument::fromJson(httpCall(m_config.address, "GET", "/emulator/status")).object();
}

bool PanelProcess::control(const QJsonObject& change) const
{
    return !httpCall(m_config.address, "PUT", "/emulator/control",
                     QJsonDocument(change).toJson(QJsonDocument::Compact))
                .isEmpty();
}
