// Saves ever-growing settings in a loop until killed; the parent kills it mid-save.
#include "core/SettingsManager.h"

#include <QCoreApplication>
#include <QVariantMap>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    SettingsManager settings;
    settings.load(QString::fromLocal8Bit(argv[1]));
    const QString filler(4096, QLatin1Char('x'));
    for (int round = 0;; ++round) {
        QVariantMap devices;
        for (int i = 0; i < 200; ++i)
            devices.insert(QStringLiteral("dev%1").arg(i),
                           QVariantMap{{QStringLiteral("auth"), filler}, {QStringLiteral("index"), round}});
        settings.setValue(QStringLiteral("devices"), devices);
        settings.setValue(QStringLiteral("round"), round);
        settings.save();
    }
}
