#include "emulator/EmulatorCommandLine.h"

#include <QCommandLineParser>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>

namespace {
bool parsePort(const QString& text, int* port)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    *port = value;
    return true;
}
} // namespace

bool EmulatorCommandLine::parse(const QStringList& arguments, QString* error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Stands in for Pivotrix PRISM light panels on this machine."));
    parser.addHelpOption();
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("Bind address of a panel (repeat for more panels)."),
                                     QStringLiteral("ip"));
    const QCommandLineOption count(QStringLiteral("count"),
                                   QStringLiteral("Panels on consecutive addresses from the last --address."),
                                   QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption name(QStringLiteral("name"), QStringLiteral("Panel name."),
                                  QStringLiteral("text"), QStringLiteral("Emulated PRISM"));
    const QCommandLineOption id(QStringLiteral("id"), QStringLiteral("Panel identifier."),
                                QStringLiteral("text"));
    const QCommandLineOption model(QStringLiteral("model"), QStringLiteral("Model code."),
                                   QStringLiteral("text"), QStringLiteral("px3"));
    const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("Serial number."),
                                    QStringLiteral("text"));
    const QCommandLineOption canvas(QStringLiteral("canvas"), QStringLiteral("Pixel canvas, WIDTHxHEIGHT."),
                                    QStringLiteral("size"), QStringLiteral("4x8"));
    const QCommandLineOption apiKey(QStringLiteral("api-key"), QStringLiteral("Pre-shared API key."),
                                    QStringLiteral("key"), QStringLiteral("emulator-key"));
    const QCommandLineOption keyFile(
        QStringLiteral("key-file"),
        QStringLiteral("Keep the key in this file: read at the start, written when a "
                       "pairing replaces it."),
        QStringLiteral("path"));
    const QCommandLineOption sessionId(QStringLiteral("session-id"),
                                       QStringLiteral("Hex session id for every session (default: random)."),
                                       QStringLiteral("hex"));
    const QCommandLineOption noCanvasSize(QStringLiteral("no-canvas-size"),
                                          QStringLiteral("Leave the canvas size out of the stream reply."));
    const QCommandLineOption apiPort(QStringLiteral("api-port"), QStringLiteral("Control API port."),
                                     QStringLiteral("port"), QStringLiteral("8080"));
    const QCommandLineOption statusPort(QStringLiteral("status-port"),
                                        QStringLiteral("Port of /emulator/status and /emulator/control."),
                                        QStringLiteral("port"), QStringLiteral("8081"));
    const QCommandLineOption fault(
        QStringLiteral("fault"),
        QStringLiteral("Injected fault: none, offline, http500, standby, hang or reset."),
        QStringLiteral("fault"), QStringLiteral("none"));
    const QCommandLineOption slow(QStringLiteral("slow"), QStringLiteral("Delay every reply by this much."),
                                  QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption window(QStringLiteral("window"),
                                    QStringLiteral("Show each panel's received canvas in a window."));
    const QCommandLineOption noPairing(QStringLiteral("no-pairing"),
                                       QStringLiteral("Answer pairing requests with 401 (feature missing)."));
    const QCommandLineOption pairingDuration(QStringLiteral("pairing-duration"),
                                             QStringLiteral("Seconds a pairing challenge lasts."),
                                             QStringLiteral("s"), QStringLiteral("30"));
    const QCommandLineOption noDirectMdns(
        QStringLiteral("no-direct-mdns"),
        QStringLiteral("Ignore mDNS queries sent straight to a panel's address (as from another subnet)."));
    parser.addOptions({address, count, name, id, model, serial, canvas, apiKey, keyFile, sessionId,
                       noCanvasSize, apiPort, statusPort, fault, slow, window, noPairing, pairingDuration,
                       noDirectMdns});
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        *error = parser.helpText();
        return false;
    }

    PanelConfig base;
    base.name = parser.value(name);
    base.model = parser.value(model);
    base.serial = parser.value(serial);
    base.apiKey = parser.value(apiKey);
    base.reportCanvasSize = !parser.isSet(noCanvasSize);
    const QRegularExpressionMatch size =
        QRegularExpression(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$")).match(parser.value(canvas));
    if (!size.hasMatch() || size.captured(1).toInt() < 1 || size.captured(2).toInt() < 1) {
        *error = QStringLiteral("--canvas wants WIDTHxHEIGHT, e.g. 4x8");
        return false;
    }
    base.canvas = QSize(size.captured(1).toInt(), size.captured(2).toInt());
    const QString session = parser.value(sessionId);
    if (!session.isEmpty() && (session.size() % 2 != 0 || QByteArray::fromHex(session.toLatin1()).toHex() !=
                                                              session.toLower().toLatin1())) {
        *error = QStringLiteral("--session-id wants an even number of hex digits");
        return false;
    }
    base.sessionId = session;
    if (!parsePort(parser.value(apiPort), &base.apiPort) ||
        !parsePort(parser.value(statusPort), &base.statusPort) || base.apiPort == base.statusPort) {
        *error = QStringLiteral("--api-port and --status-port want two different ports 1-65535");
        return false;
    }
    if (!faultFromName(parser.value(fault), &base.fault)) {
        *error = QStringLiteral("--fault wants none, offline, http500, standby, hang or reset");
        return false;
    }
    bool ok = false;
    base.replyDelayMs = parser.value(slow).toInt(&ok);
    if (!ok || base.replyDelayMs < 0 || base.replyDelayMs > 600000) {
        *error = QStringLiteral("--slow wants milliseconds 0-600000");
        return false;
    }
    base.pairingSupported = !parser.isSet(noPairing);
    base.pairingDurationS = parser.value(pairingDuration).toInt(&ok);
    if (!ok || base.pairingDurationS < 0 || base.pairingDurationS > 3600) {
        *error = QStringLiteral("--pairing-duration wants seconds 0-3600");
        return false;
    }
    const int panelCount = parser.value(count).toInt(&ok);
    if (!ok || panelCount < 1 || panelCount > 250) {
        *error = QStringLiteral("--count wants 1-250");
        return false;
    }

    QStringList addresses = parser.values(address);
    if (addresses.isEmpty())
        addresses << base.address;
    QList<QHostAddress> hosts;
    for (const QString& text : qAsConst(addresses)) {
        const QHostAddress host(text);
        if (host.isNull()) {
            *error = QStringLiteral("--address wants a numeric IPv4 or IPv6 address: %1").arg(text);
            return false;
        }
        hosts << host;
    }
    const bool ipv4 = hosts.constLast().protocol() == QAbstractSocket::IPv4Protocol;
    if (panelCount > 1 && !ipv4) {
        *error = QStringLiteral("--count wants an IPv4 --address");
        return false;
    }
    for (int i = 1; i < panelCount; ++i)
        hosts << QHostAddress(hosts.constLast().toIPv4Address() + 1);
    base.keyFile = parser.value(keyFile);
    if (!base.keyFile.isEmpty()) {
        if (hosts.size() > 1) {
            *error = QStringLiteral("--key-file keeps the key of one panel only");
            return false;
        }
        QFile file(base.keyFile);
        if (file.exists() && !file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("--key-file %1 cannot be read: %2").arg(base.keyFile, file.errorString());
            return false;
        }
        // A key is short; an empty or blank file leaves --api-key in force.
        const QString kept = file.isOpen() ? QString::fromUtf8(file.read(4096)).trimmed() : QString();
        if (!kept.isEmpty())
            base.apiKey = kept;
    }

    const QString baseId = parser.value(id);
    for (int i = 0; i < hosts.size(); ++i) {
        PanelConfig config = base;
        config.address = hosts.at(i).toString();
        const QString suffix = hosts.size() > 1 ? QStringLiteral(" %1").arg(i + 1) : QString();
        config.name = base.name + suffix;
        config.id = baseId.isEmpty()
                        ? QStringLiteral("emu-") +
                              QString(config.address)
                                  .replace(QRegularExpression(QStringLiteral("[.:%]")), QStringLiteral("-"))
                        : baseId + (hosts.size() > 1 ? QStringLiteral("-%1").arg(i + 1) : QString());
        if (config.serial.isEmpty())
            config.serial =
                QStringLiteral("EMU") +
                QString::number(ipv4 ? hosts.at(i).toIPv4Address() : qHash(hosts.at(i)), 16).toUpper();
        panels << config;
    }
    this->window = parser.isSet(window);
    directMdns = !parser.isSet(noDirectMdns);
    return true;
}
