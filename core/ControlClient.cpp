#include "core/ControlClient.h"

#include "core/ControlBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QStringList>

namespace {
const int kCallTimeoutMs = 10000;

QDBusMessage call(const QDBusConnection& bus, const char* method, const QVariantList& arguments = {})
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(QLatin1String(ControlBus::kService), QLatin1String(ControlBus::kPath),
                                       QLatin1String(ControlBus::kInterface), QLatin1String(method));
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, kCallTimeoutMs);
}

QString yesNo(bool value, const char* yes, const char* no)
{
    return QLatin1String(value ? yes : no);
}

// One line a device, tab-separated, in words a script can match whatever the language.
QString listing(const QVariant& reply)
{
    ControlBus::DeviceStates devices;
    reply.value<QDBusArgument>() >> devices;
    QString text;
    for (const QVariantMap& d : qAsConst(devices)) {
        const QString source = d.value(QStringLiteral("source")).toString();
        text += QStringList{d.value(QStringLiteral("id")).toString(),
                            d.value(QStringLiteral("name")).toString(),
                            d.value(QStringLiteral("address")).toString(),
                            yesNo(d.value(QStringLiteral("online")).toBool(), "online", "offline"),
                            yesNo(d.value(QStringLiteral("streaming")).toBool(), "on", "off"),
                            source.isEmpty() ? QStringLiteral("-") : source,
                            d.value(QStringLiteral("mirror_mode")).toString(),
                            d.value(QStringLiteral("color_mode")).toString()}
                    .join(QLatin1Char('\t')) +
                QLatin1Char('\n');
    }
    return text;
}
} // namespace

int ControlClient::run(const QList<Request>& requests, QString* out, QString* err)
{
    ControlBus::registerTypes();
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        *err = tr("No session bus to reach Pivotrix Entertainment on: %1\n").arg(bus.lastError().message());
        return 1;
    }
    if (!bus.interface()->isServiceRegistered(QLatin1String(ControlBus::kService))) {
        *err = tr("Pivotrix Entertainment is not running; start it first.\n");
        return 1;
    }
    for (const Request& request : requests) {
        QDBusMessage reply;
        if (request.option == QLatin1String("--list"))
            reply = call(bus, "ListDevices");
        else if (request.option == QLatin1String("--stream"))
            reply = call(bus, "SetStreaming", {request.device, request.value == QLatin1String("on")});
        else if (request.option == QLatin1String("--source"))
            reply = call(bus, "SetSource", {request.device, request.value});
        else if (request.option == QLatin1String("--mirror-mode"))
            reply = call(bus, "SetMirrorMode", {request.device, request.value});
        else
            reply = call(bus, "SetColorMode", {request.device, request.value});
        if (reply.type() == QDBusMessage::ErrorMessage) {
            const QString name = reply.errorName();
            // The instance went away between the look-up and the call, or hangs.
            if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
                name == QLatin1String("org.freedesktop.DBus.Error.NoReply"))
                *err += tr("Pivotrix Entertainment did not answer: %1\n").arg(reply.errorMessage());
            else
                *err += reply.errorMessage() + QLatin1Char('\n');
            return 1;
        }
        if (request.option == QLatin1String("--list") && !reply.arguments().isEmpty())
            *out += listing(reply.arguments().constFirst());
    }
    return 0;
}
