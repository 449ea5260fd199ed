#include "discovery/AddressProbe.h"

#include "core/DiagnosticLog.h"
#include "device/PivotrixController.h"
#include "device/SharedNetworkManager.h"
#include "discovery/MdnsMessage.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>
#include <QUrl>

#include <cstring>

namespace {
// Queries sent in one answer period: a lost datagram is sent again.
constexpr int kQueries = 3;
// Longest part of the user's text echoed in a message.
constexpr int kEchoChars = 60;

QString echo(const QString& text)
{
    return text.size() > kEchoChars ? text.left(kEchoChars) + QStringLiteral("...") : text;
}

bool isSingleHost(const QHostAddress& address)
{
    return !address.isNull() && !address.isMulticast() && !address.isBroadcast() &&
           address != QHostAddress::AnyIPv4 && address != QHostAddress::AnyIPv6;
}

bool sameHost(const QHostAddress& a, const QHostAddress& b)
{
    if (a.protocol() != b.protocol())
        return false;
    if (a.protocol() == QAbstractSocket::IPv4Protocol)
        return a.toIPv4Address() == b.toIPv4Address();
    const Q_IPV6ADDR x = a.toIPv6Address(), y = b.toIPv6Address();
    return std::memcmp(&x, &y, sizeof x) == 0;
}
} // namespace

AddressProbe::AddressProbe(QObject* parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &AddressProbe::tick);
}

AddressProbe::~AddressProbe()
{
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
    // The reply belongs to the shared manager: it must not outlive its reader unfinished.
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

QString AddressProbe::parseInput(const QString& text, QString* error)
{
    QString host = text.trimmed();
    if (host.isEmpty()) {
        *error = QCoreApplication::translate("SearchPivotrixDevicePage",
                                             "Enter the IP address or host name of the panel.");
        return QString();
    }
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    // Only the plain dotted form counts as IPv4: "10.1" or "0x7f.1" would reach unexpected hosts.
    static const QRegularExpression dotted(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    static const QRegularExpression label(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    const QHostAddress address(host);
    static const QRegularExpression ipv6(QStringLiteral("^[0-9A-Fa-f:.]*:[0-9A-Fa-f:.]*(%[^\\s/%]+)?$"));
    if (ipv6.match(host).hasMatch() || dotted.match(host).hasMatch()) {
        if (address.isNull()) {
            *error =
                QCoreApplication::translate("SearchPivotrixDevicePage", "\"%1\" is not a valid IP address.")
                    .arg(echo(text.trimmed()));
            return QString();
        }
        if (!isSingleHost(address)) {
            *error = QCoreApplication::translate("SearchPivotrixDevicePage",
                                                 "%1 is not the address of a single device.")
                         .arg(address.toString());
            return QString();
        }
        return address.toString();
    }
    QString name = host;
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    const QStringList labels = name.split(QLatin1Char('.'));
    bool valid = !name.isEmpty() && name.size() <= 253;
    for (const QString& part : labels)
        valid = valid && label.match(part).hasMatch();
    // A name never ends in a number: that is a mistyped address.
    static const QRegularExpression digits(QStringLiteral("^\\d+$"));
    if (!valid || digits.match(labels.constLast()).hasMatch()) {
        *error = QCoreApplication::translate("SearchPivotrixDevicePage",
                                             "\"%1\" is not an IP address or host name.")
                     .arg(echo(text.trimmed()));
        return QString();
    }
    return name;
}

void AddressProbe::start(const QString& host)
{
    if (m_state != Idle)
        return;
    m_host = host;
    m_collector = MdnsRecordCollector();
    const QHostAddress numeric(host);
    if (!numeric.isNull()) {
        resolved(numeric);
        return;
    }
    qCDebug(lcPivotrix) << "look up" << host;
    enter(Resolving);
    m_lookupId = QHostInfo::lookupHost(host, this, [this](const QHostInfo& info) {
        m_lookupId = -1;
        if (m_state != Resolving)
            return;
        // IPv4 first: it is what panels are most often reached at.
        QHostAddress chosen;
        for (const QHostAddress& address : info.addresses()) {
            if (isSingleHost(address) &&
                (chosen.isNull() || (address.protocol() == QAbstractSocket::IPv4Protocol &&
                                     chosen.protocol() != address.protocol())))
                chosen = address;
        }
        if (chosen.isNull()) {
            qCDebug(lcPivotrix) << "lookup failed" << m_host << info.errorString();
            enter(Idle);
            emit failed(
                QCoreApplication::translate("SearchPivotrixDevicePage", "The name \"%1\" could not be found.")
                    .arg(m_host));
            return;
        }
        resolved(chosen);
    });
}

void AddressProbe::resolved(const QHostAddress& address)
{
    m_address = address;
    delete m_socket;
    m_socket = new QUdpSocket(this);
    const bool ipv4 = address.protocol() == QAbstractSocket::IPv4Protocol;
    // Any port but 5353: the answer then comes straight back here.
    if (!m_socket->bind(ipv4 ? QHostAddress::AnyIPv4 : QHostAddress::AnyIPv6, 0)) {
        qCDebug(lcPivotrix) << "direct query: no socket" << m_socket->errorString();
        probeApi();
        return;
    }
    connect(m_socket, &QUdpSocket::readyRead, this, &AddressProbe::readReplies);
    m_queryId = quint16(QRandomGenerator::global()->bounded(1, 0x10000));
    enter(Querying);
    sendQuery();
}

void AddressProbe::sendQuery()
{
    QByteArray datagram(MdnsMessage::bufferSize, Qt::Uninitialized);
    const int length = MdnsMessage::composeQuery(datagram.data(), datagram.size(), true);
    datagram.truncate(length);
    // The answer repeats the id, which tells it from stray datagrams.
    datagram[0] = char(m_queryId >> 8);
    datagram[1] = char(m_queryId & 0xFF);
    qCDebug(lcPivotrix) << "direct query to" << m_address.toString();
    if (m_socket->writeDatagram(datagram, m_address, MdnsMessage::mdnsPort) < 0)
        qCDebug(lcPivotrix) << "direct query not sent" << m_socket->errorString();
}

void AddressProbe::readReplies()
{
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram(MdnsMessage::bufferSize);
        const QByteArray data = datagram.data();
        if (m_state != Querying || !sameHost(datagram.senderAddress(), m_address) ||
            datagram.senderPort() != MdnsMessage::mdnsPort || data.size() < MdnsMessage::headerSize ||
            MdnsMessage::readU16(reinterpret_cast<const uchar*>(data.constData())) != m_queryId)
            continue;
        const MdnsSource source = MdnsSource::fromNumericHost(
            m_address.toString(), m_address.protocol() == QAbstractSocket::IPv6Protocol);
        const QVector<PivotrixBSS> found = m_collector.addDatagram(data.constData(), data.size(), source);
        if (found.isEmpty())
            continue;
        // The datagram's last report carries all of it.
        const PivotrixBSS device = found.constLast();
        enter(Idle);
        if (device.model != QLatin1String("px3")) {
            qCDebug(lcPivotrix) << "not a panel" << device.address << device.model;
            emit failed(QCoreApplication::translate("SearchPivotrixDevicePage",
                                                    "%1 is not a Pivotrix PRISM panel (model \"%2\").")
                            .arg(m_host, device.model));
        } else {
            qCDebug(lcPivotrix) << "identified" << device.address << device.name;
            emit identified(device);
        }
        return;
    }
}

void AddressProbe::probeApi()
{
    enter(ProbingApi);
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_address.toString());
    url.setPort(PivotrixController::kApiPort);
    url.setPath(QStringLiteral("/api/v2/device"));
    QNetworkRequest request(url);
    request.setTransferTimeout(m_answerMs);
    qCDebug(lcPivotrix) << "no direct answer, asking" << url;
    m_reply = sharedNetworkManager()->get(request);
    QNetworkReply* reply = m_reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { apiAnswered(reply); });
}

void AddressProbe::apiAnswered(QNetworkReply* reply)
{
    reply->deleteLater();
    if (m_state != ProbingApi)
        return;
    enter(Idle);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    qCDebug(lcPivotrix) << "api answered" << status << reply->errorString();
    const QString model = QJsonDocument::fromJson(reply->read(PivotrixController::kMaxReplyBytes))
                              .object()
                              .value(QStringLiteral("model"))
                              .toString();
    // A panel asks for its key (401) or, without one, may tell its model.
    if (status == 0) {
        emit failed(QCoreApplication::translate(
                        "SearchPivotrixDevicePage",
                        "Nothing answers at %1. Check the address, and that the panel is on and reachable "
                        "from this PC.")
                        .arg(m_host));
    } else if ((status != 200 && status != 401 && status != 403) ||
               (status == 200 && model != QLatin1String("px3") && !model.isEmpty())) {
        emit failed(QCoreApplication::translate("SearchPivotrixDevicePage",
                                                "%1 answers, but not as a Pivotrix PRISM panel does.")
                        .arg(m_host));
    } else {
        PivotrixBSS device;
        device.address = m_address.toString();
        device.port = PivotrixController::kApiPort;
        device.name = m_host;
        device.ssFlag = 1;
        emit unidentified(device);
    }
}

void AddressProbe::tick()
{
    ++m_ticks;
    if (m_state == Querying && m_ticks < kQueries) {
        sendQuery();
    } else if (m_state == Querying) {
        probeApi();
    } else if (m_state == Resolving && m_ticks >= kQueries) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
        enter(Idle);
        emit failed(
            QCoreApplication::translate("SearchPivotrixDevicePage", "The name \"%1\" could not be found.")
                .arg(m_host));
    }
}

void AddressProbe::enter(State state)
{
    qCDebug(lcPivotrix) << "address probe" << m_state << "->" << state;
    m_state = state;
    m_ticks = 0;
    if (state == Resolving || state == Querying)
        m_timer->start(std::max(1, m_answerMs / kQueries));
    else
        m_timer->stop();
    if (state == Idle && m_socket) {
        m_socket->deleteLater();
        m_socket = nullptr;
    }
}
