#include "core/SettingsFile.h"

#include <QJsonDocument>
#include <QJsonObject>

bool SettingsFile::parse(const QByteArray& text, QVariantMap* settings, QString* reason)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        *reason = error.error != QJsonParseError::NoError ? error.errorString()
                                                          : QStringLiteral("root not an object");
        return false;
    }
    *settings = doc.object().toVariantMap();
    return true;
}

QByteArray SettingsFile::compose(const QVariantMap& settings)
{
    return QJsonDocument(QJsonObject::fromVariantMap(settings)).toJson(QJsonDocument::Indented);
}

QVector<SettingsFile::Device> SettingsFile::devices(const QVariantMap& devicesEntry)
{
    QVector<Device> devices;
    for (auto it = devicesEntry.cbegin(); it != devicesEntry.cend(); ++it) {
        const QVariantMap record = it.value().toMap();
        Device device;
        device.address = record.value(QStringLiteral("address")).toString();
        device.port = record.value(QStringLiteral("port")).toInt();
        device.apiKey = record.value(QStringLiteral("auth")).toString();
        device.name = record.value(QStringLiteral("name")).toString();
        device.model = record.value(QStringLiteral("model")).toString();
        device.id = record.value(QStringLiteral("id")).toString();
        device.index = record.value(QStringLiteral("index")).toInt();
        devices.append(device);
    }
    return devices;
}
