#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <QVector>

// The text of "settings.json" and the paired panels it holds. Pure, so that whatever a user, another
// program or a crash left in the file is fuzzed as the program reads it.
class SettingsFile
{
public:
    struct Device
    {
        QString address;
        int port = 0;
        QString apiKey;
        QString name;
        QString model;
        QString id;
        int index = 0;
    };

    // The top-level object; false with the reason, and `settings` untouched, when the text is not one.
    static bool parse(const QByteArray& text, QVariantMap* settings, QString* reason);
    static QByteArray compose(const QVariantMap& settings);
    // The panels in the map saved under "devices", in the map's order.
    static QVector<Device> devices(const QVariantMap& devicesEntry);
};
