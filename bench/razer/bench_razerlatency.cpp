// Latency of a Chroma colour change: from the publisher sending new colours to the first datagram at an
// emulated panel that carries the new colour. The path is the real one: publisher, broadcast library,
// Razer source, indexed provider, fading band generator on a device controller streaming at the 30 ms
// tick. The Razer path has no blend, so the first frame that moves toward a colour shows it in full.
//   bench_razerlatency [--changes 100] [--block 61]
#include "../BenchWait.h"
#include "broadcast/ChromaBroadcastChannel.h"
#include "broadcast/ChromaPublisher.h"
#include "device/PivotrixDeviceController.h"
#include "effects/EffectGeneratorFadingPixel.h"
#include "effects/RazerIndexedColorProvider.h"
#include "effects/RazerSdkColorProvider.h"
#include "emulator/EmulatedPanel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {
int fail(const char* what)
{
    std::fprintf(stderr, "bench_razerlatency: %s\n", what);
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCommandLineParser parser;
    const QCommandLineOption changesOption(QStringLiteral("changes"), QStringLiteral("Colour changes."),
                                           QStringLiteral("n"), QStringLiteral("100"));
    const QCommandLineOption blockOption(QStringLiteral("block"),
                                         QStringLiteral("127.0.<block>.1 for the panel."),
                                         QStringLiteral("n"), QStringLiteral("61"));
    parser.addOption(changesOption);
    parser.addOption(blockOption);
    parser.process(app);
    const int changes = std::max(1, parser.value(changesOption).toInt());

    PanelConfig config;
    config.address = QStringLiteral("127.0.%1.1").arg(parser.value(blockOption).toInt());
    config.id = QStringLiteral("bench-razer");
    config.canvas = QSize(4, 8);
    EmulatedPanel panel(config);
    QString error;
    if (!panel.start(&error))
        return fail(qPrintable(error));

    RazerSdkColorProvider* razer = RazerSdkColorProvider::instance();
    if (!razer->init())
        return fail("the broadcast library did not initialise");
    const QString channel = ChromaBroadcastChannel::socketPath(&error);
    ChromaPublisher publisher;
    if (channel.isEmpty() || !publisher.connectTo(channel, &error))
        return fail(qPrintable(error));
    publisher.setLive(true);

    auto indexed = QSharedPointer<RazerIndexedColorProvider>(new RazerIndexedColorProvider(razer),
                                                             &QObject::deleteLater);
    indexed->updateIndexes({0});
    auto generator =
        QSharedPointer<EffectGeneratorFadingPixel>(new EffectGeneratorFadingPixel, &QObject::deleteLater);
    generator->setColorProvider(indexed);
    generator->setShowFadingPixels(false);

    auto device = std::make_unique<PivotrixDeviceController>(panel.address(), 8080, panel.apiKey(),
                                                             panel.name(), panel.model(), panel.id());
    device->setEffectGenerator(generator);
    if (!spin([&] { return device->isOnline(); }, 20000))
        return fail("panel not online");
    device->startStream();
    if (!spin([&] { return device->isStreaming(); }, 20000))
        return fail("panel not streaming");

    QList<QColor> five{Qt::black, Qt::red, Qt::green, Qt::blue, Qt::white};
    std::vector<double> latenciesMs;
    QRandomGenerator random(42);
    // The first change also waits for the first frame; it is not counted.
    for (int i = -1; i < changes; ++i) {
        const QColor target = QColor::fromHsv((i * 47 + 360) % 360, 255, 40 + (i & 1) * 200);
        five[0] = target;
        // Start at a random point of the 30 ms tick.
        QThread::usleep(random.bounded(30000));
        QElapsedTimer clock;
        clock.start();
        publisher.sendColors(five);
        const QRgb want = target.rgb() & 0xFFFFFF;
        const bool arrived = spin(
            [&] {
                const QImage frame = panel.lastFrame();
                return !frame.isNull() && (frame.pixel(0, 0) & 0xFFFFFF) == want;
            },
            5000, 200);
        if (!arrived)
            return fail("a colour never reached the panel");
        if (i >= 0)
            latenciesMs.push_back(double(clock.nsecsElapsed()) / 1e6);
    }

    std::printf("razer colour change -> first datagram with it at the panel, %d changes (frame tick 30 ms)\n",
                changes);
    std::printf("  p50 %.1f ms  p99 %.1f ms  max %.1f ms  (target p99 <= 70 ms)\n",
                percentile(latenciesMs, 0.5), percentile(latenciesMs, 0.99), percentile(latenciesMs, 1.0));
    device->stopStream();
    spin([] { return false; }, 300);
    device.reset();
    delete razer;
    return 0;
}
