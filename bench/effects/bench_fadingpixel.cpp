// Time per frame of the fading band effect, as a device thread pays it every 30 ms.
//   bench_fadingpixel [frames per run]
#include "effects/AbstractColorProvider.h"
#include "effects/EffectGeneratorFadingPixel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSharedPointer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {
// CPU time of this thread: the machine is shared, and time spent descheduled is not the generator's.
qint64 threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Result
{
    double bestNs;
    double medianNs;
    double wallMedianNs;
};

Result measure(QSize size, bool fading, int angle, int frames)
{
    QSharedPointer<AbstractColorProvider> provider(new AbstractColorProvider);
    provider->updateColors(
        {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 255, 0), QColor(0, 255, 255)});
    EffectGeneratorFadingPixel generator;
    generator.setColorProvider(provider);
    generator.resize(size);
    generator.setAngle(angle);
    generator.setShowFadingPixels(fading);
    // The receiver reads the frame, as the device link does when it packs it.
    quint32 sink = 0;
    QObject::connect(&generator, &EffectGenerator::canvasUpdated,
                     [&sink](const QImage& img) { sink += img.pixel(img.width() - 1, img.height() - 1); });

    for (int i = 0; i < frames / 10 + 10; ++i)
        generator.update();
    std::vector<double> runs;
    std::vector<double> wall;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer timer;
        timer.start();
        const qint64 start = threadCpuNs();
        for (int i = 0; i < frames; ++i)
            generator.update();
        runs.push_back(double(threadCpuNs() - start) / frames);
        wall.push_back(double(timer.nsecsElapsed()) / frames);
    }
    std::sort(runs.begin(), runs.end());
    std::sort(wall.begin(), wall.end());
    if (sink == 0xdeadbeef)
        std::puts("");
    return {runs.front(), runs[runs.size() / 2], wall[wall.size() / 2]};
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 20000;

    std::printf("EffectGeneratorFadingPixel::update(), 5 colours, %d frames per run, thread CPU time, best "
                "and median of 7 runs\n",
                frames);
    std::printf("%-8s %-7s %-6s %10s %10s %18s %14s\n", "canvas", "fading", "angle", "best us", "median us",
                "frames/s (1 core)", "wall med. us");
    const QSize sizes[] = {QSize(4, 8), QSize(16, 16), QSize(64, 64)};
    for (const QSize& size : sizes) {
        const int n = size.width() * size.height() > 1000 ? qMax(1, frames / 20) : frames;
        for (bool fading : {false, true}) {
            for (int angle : {0, 45}) {
                const Result r = measure(size, fading, angle, n);
                const QString canvas = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
                std::printf("%-8s %-7s %-6d %10.2f %10.2f %18.0f %14.2f\n", qPrintable(canvas),
                            fading ? "on" : "off", angle, r.bestNs / 1000.0, r.medianNs / 1000.0,
                            1e9 / r.medianNs, r.wallMedianNs / 1000.0);
            }
        }
    }
    return 0;
}
