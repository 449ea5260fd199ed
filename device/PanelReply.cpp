#include "device/PanelReply.h"

#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
bool isHexText(const QString& text)
{
    if (text.isEmpty() || text.size() % 2 != 0)
        return false;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        const bool hex = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
        if (!hex)
            return false;
    }
    return true;
}
} // namespace

QVariantMap PanelReply::map(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return {};
    return document.object().toVariantMap();
}

PanelReply::DeviceInfo PanelReply::deviceInfo(const QVariantMap& reply)
{
    DeviceInfo info;
    info.name = reply.value(QStringLiteral("name")).toString();
    info.serial = reply.value(QStringLiteral("serial")).toString();
    info.osVersion = reply.value(QStringLiteral("os_version")).toString();
    info.model = reply.value(QStringLiteral("model")).toString();
    return info;
}

QString PanelReply::status(const QVariantMap& reply)
{
    return reply.value(QStringLiteral("status")).toString();
}

QSize PanelReply::canvas(const QVariantMap& reply, const QSize& whenMissing)
{
    const QVariantMap pixel =
        reply.value(QStringLiteral("canvas")).toMap().value(QStringLiteral("pixel")).toMap();
    if (!pixel.contains(QStringLiteral("size")))
        return whenMissing;
    const QVariantMap size = pixel.value(QStringLiteral("size")).toMap();
    return QSize(size.value(QStringLiteral("width")).toInt(), size.value(QStringLiteral("height")).toInt());
}

PanelReply::StartGrant PanelReply::startGrant(const QVariantMap& reply)
{
    const QVariantMap data =
        reply.value(QStringLiteral("success")).toMap().value(QStringLiteral("data")).toMap();
    StartGrant grant;
    grant.status = status(data);
    bool portOk = false;
    const qlonglong port = data.value(QStringLiteral("port")).toLongLong(&portOk);
    const QVariant sessionValue = data.value(QStringLiteral("session_id"));
    const QString session =
        sessionValue.userType() == QMetaType::QString ? sessionValue.toString() : QString();
    if (portOk && port > 0 && port <= 65535 && isHexText(session)) {
        grant.port = int(port);
        grant.sessionId = QByteArray::fromHex(session.toLatin1());
    } else {
        qCDebug(lcPivotrix) << "invalid stream session" << data.value(QStringLiteral("port")) << sessionValue;
    }
    return grant;
}
