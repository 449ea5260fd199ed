// The application as shipped plus a stand-in for the Razer page, which is not in the window yet: every
// device whose record says it streams from "razer" gets the fading band generator once it is online,
// as the page will do. Lets the start-up benchmark measure a streaming process today.

#include "core/ApplicationShell.h"
#include "core/ResourceManager.h"
#include "device/PivotrixDeviceController.h"
#include "effects/AbstractColorProvider.h"
#include "effects/EffectDeviceSeasoning.h"
#include "effects/EffectGeneratorFadingPixel.h"
#include "effects/RazerIndexedColorProvider.h"

#include <QCoreApplication>
#include <QSet>
#include <QSharedPointer>
#include <QTimer>

namespace {
template <typename T, typename... Args> QSharedPointer<T> shared(Args&&... args)
{
    return QSharedPointer<T>(new T(std::forward<Args>(args)...), &QObject::deleteLater);
}

void attachGenerators()
{
    static QSharedPointer<AbstractColorProvider> broadcast;
    static QSet<QString> attached;
    // The generators hold their providers weakly; the page keeps them.
    static QList<QSharedPointer<AbstractColorProvider>> providers;
    if (!broadcast) {
        broadcast = shared<AbstractColorProvider>();
        broadcast->updateColors({QColor(250, 20, 20), QColor(20, 250, 20), QColor(20, 20, 250),
                                 QColor(240, 200, 10), QColor(255, 255, 255)});
    }
    ResourceManager* registry = ResourceManager::instance();
    const auto devices = registry->devices();
    for (PivotrixDeviceController* dev : devices) {
        const QVariantMap record = registry->deviceSettings(dev->deviceId());
        if (attached.contains(dev->deviceId()) || !dev->isOnline() ||
            !record.value(QStringLiteral("stream_enabled")).toBool() ||
            record.value(QStringLiteral("stream_source")).toString() != QLatin1String("razer"))
            continue;
        const QVariantMap razer = record.value(QStringLiteral("razer")).toMap();
        QList<int> indexes;
        for (const QVariant& v : razer.value(QStringLiteral("color_indexes")).toList())
            indexes << v.toInt();
        auto indexed = shared<RazerIndexedColorProvider>(broadcast.data());
        indexed->updateIndexes(indexes);
        providers << indexed;
        auto generator = shared<EffectGeneratorFadingPixel>();
        generator->setColorProvider(indexed);
        generator->setAngle(directionAngle(razer.value(QStringLiteral("angle")).toInt()));
        generator->setShowFadingPixels(razer.value(QStringLiteral("show_fading_pixels"), 2).toInt() != 0);
        dev->setEffectGenerator(generator);
        dev->startStream();
        attached.insert(dev->deviceId());
    }
}

void startStandInPage()
{
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, attachGenerators);
    timer->start(100);
}
} // namespace

Q_COREAPP_STARTUP_FUNCTION(startStandInPage)

int main(int argc, char** argv)
{
    return ApplicationShell::run(argc, argv);
}
