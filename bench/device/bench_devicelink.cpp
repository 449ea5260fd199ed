// N emulated panels, each streaming a generated canvas at the 30 ms tick through its own device controller.
// Prints per N: frames sent, frames the panels accepted (loss), inter-arrival p50/p99 at the panels and the
// controller threads' CPU time per frame.
//   bench_devicelink [--panels 1,8,32,64] [--seconds 20] [--canvas 4x8] [--block 7]

#include "../BenchWait.h"
#include "device/PivotrixDeviceController.h"
#include "emulator/EmulatedPanel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLoggingCategory>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

class BenchGenerator : public QObject
{
    Q_OBJECT
signals:
    void canvasUpdated(QImage img);

public slots:
    void resize(QSize size) { m_size = size; }
    void update()
    {
        if (m_size.width() <= 0 || m_size.height() <= 0)
            return;
        QImage image(m_size, QImage::Format_RGB32);
        for (int y = 0; y < m_size.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < m_size.width(); ++x)
                line[x] = qRgb((x * 16 + m_phase) & 0xFF, (y * 8 + m_phase) & 0xFF, m_phase & 0xFF);
        }
        ++m_phase;
        emit canvasUpdated(image);
    }

private:
    QSize m_size;
    int m_phase = 0;
};

namespace {
double threadCpuSeconds(QObject* onThread)
{
    double seconds = 0;
    QMetaObject::invokeMethod(
        onThread,
        [&seconds] {
            timespec ts{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
            seconds = double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
        },
        Qt::BlockingQueuedConnection);
    return seconds;
}

// The frame path alone, without the timer wake-up: generator paint, frame build and datagram send,
// driven in a tight loop on the controller's thread.
double framePathUs(const QSize& canvas, int block)
{
    PanelConfig config;
    config.address = QStringLiteral("127.0.%1.250").arg(block);
    config.id = QStringLiteral("bench-path");
    config.canvas = canvas;
    EmulatedPanel panel(config);
    if (!panel.start())
        return -1;
    PivotrixDeviceController device(panel.address(), 8080, panel.apiKey(), panel.name(), panel.model(),
                                    panel.id());
    if (!spin([&device] { return device.isOnline(); }, 10000))
        return -1;
    QMetaObject::invokeMethod(device.controller(), "startStream", Qt::BlockingQueuedConnection);
    BenchGenerator generator;
    generator.resize(canvas);
    constexpr int kFrames = 20000;
    double us = 0;
    PivotrixController* controller = device.controller();
    QMetaObject::invokeMethod(
        controller,
        [&] {
            QObject::connect(&generator, &BenchGenerator::canvasUpdated, controller,
                             &PivotrixController::sendStreamImage, Qt::DirectConnection);
            timespec a{}, b{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
            for (int i = 0; i < kFrames; ++i)
                generator.update();
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
            us = (double(b.tv_sec - a.tv_sec) * 1e6 + double(b.tv_nsec - a.tv_nsec) / 1e3) / kFrames;
            QObject::disconnect(&generator, nullptr, controller, nullptr);
        },
        Qt::BlockingQueuedConnection);
    spin([] { return false; }, 200);
    return us;
}

struct Result
{
    int panels = 0;
    quint64 sent = 0;
    quint64 good = 0;
    quint64 rejected = 0;
    double p50Median = 0;
    double p99Worst = 0;
    double maxGap = 0;
    double cpuUsPerFrame = 0;
    bool ok = true;
};

Result runOnce(int count, int seconds, const QSize& canvas, int block)
{
    Result result;
    result.panels = count;
    std::vector<std::unique_ptr<EmulatedPanel>> panels;
    std::vector<std::unique_ptr<PivotrixDeviceController>> devices;
    std::vector<QSharedPointer<BenchGenerator>> generators;
    for (int i = 0; i < count; ++i) {
        PanelConfig config;
        config.address = QStringLiteral("127.0.%1.%2").arg(block).arg(i + 1);
        config.id = QStringLiteral("bench-%1").arg(i + 1);
        config.canvas = canvas;
        auto panel = std::make_unique<EmulatedPanel>(config);
        QString error;
        if (!panel->start(&error)) {
            std::fprintf(stderr, "panel %d: %s\n", i + 1, qPrintable(error));
            result.ok = false;
            return result;
        }
        panels.push_back(std::move(panel));
    }
    for (const auto& panel : panels) {
        auto device = std::make_unique<PivotrixDeviceController>(panel->address(), 8080, panel->apiKey(),
                                                                 panel->name(), panel->model(), panel->id());
        QSharedPointer<BenchGenerator> generator(new BenchGenerator, &QObject::deleteLater);
        device->setEffectGenerator(generator);
        generators.push_back(generator);
        devices.push_back(std::move(device));
    }
    const auto allOnline = [&devices] {
        return std::all_of(devices.begin(), devices.end(), [](const auto& d) { return d->isOnline(); });
    };
    if (!spin(allOnline, 20000)) {
        std::fprintf(stderr, "not every panel came online\n");
        result.ok = false;
        return result;
    }
    for (const auto& device : devices)
        device->startStream();
    const auto allStreaming = [&devices] {
        return std::all_of(devices.begin(), devices.end(), [](const auto& d) { return d->isStreaming(); });
    };
    if (!spin(allStreaming, 20000)) {
        std::fprintf(stderr, "not every panel is streaming\n");
        result.ok = false;
        return result;
    }
    // Let the first frames settle, then measure from a clean slate.
    spin([] { return false; }, 300);
    std::vector<quint64> sentBefore;
    std::vector<double> cpuBefore;
    for (size_t i = 0; i < devices.size(); ++i) {
        panels[i]->statistics().reset();
        sentBefore.push_back(devices[i]->controller()->framesSent());
        cpuBefore.push_back(threadCpuSeconds(devices[i]->controller()));
    }
    spin([] { return false; }, seconds * 1000);
    double cpu = 0;
    quint64 sentInWindow = 0;
    for (size_t i = 0; i < devices.size(); ++i) {
        cpu += threadCpuSeconds(devices[i]->controller()) - cpuBefore[i];
        sentInWindow += devices[i]->controller()->framesSent() - sentBefore[i];
    }
    // Stop the ticks, let the frames in flight land, then compare what was sent with what arrived.
    for (const auto& device : devices)
        device->stopStream();
    spin([] { return false; }, 300);
    for (size_t i = 0; i < devices.size(); ++i)
        result.sent += devices[i]->controller()->framesSent() - sentBefore[i];
    std::vector<double> p50s;
    for (const auto& panel : panels) {
        const FrameStatistics::Snapshot s = panel->statistics().snapshot();
        result.good += s.good;
        result.rejected += s.rejected;
        p50s.push_back(s.gapP50Ms);
        result.p99Worst = std::max(result.p99Worst, s.gapP99Ms);
        result.maxGap = std::max(result.maxGap, s.gapMaxMs);
    }
    std::sort(p50s.begin(), p50s.end());
    result.p50Median = p50s[p50s.size() / 2];
    result.cpuUsPerFrame = sentInWindow ? cpu * 1e6 / double(sentInWindow) : 0;

    std::vector<QPointer<QThread>> threads;
    for (const auto& device : devices)
        threads.emplace_back(device->controllerThread());
    generators.clear();
    devices.clear();
    spin(
        [&threads] {
            return std::all_of(threads.begin(), threads.end(), [](const auto& t) { return t.isNull(); });
        },
        10000);
    return result;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption panelsOption(QStringLiteral("panels"),
                                          QStringLiteral("Panel counts, comma-separated."),
                                          QStringLiteral("list"), QStringLiteral("1,8,32,64"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Streaming time per run."), QStringLiteral("s"),
                                           QStringLiteral("20"));
    const QCommandLineOption canvasOption(QStringLiteral("canvas"), QStringLiteral("Canvas WIDTHxHEIGHT."),
                                          QStringLiteral("size"), QStringLiteral("4x8"));
    const QCommandLineOption blockOption(QStringLiteral("block"),
                                         QStringLiteral("Panels bind 127.0.<block>.x."), QStringLiteral("n"),
                                         QStringLiteral("7"));
    parser.addOptions({panelsOption, secondsOption, canvasOption, blockOption});
    parser.process(app);
    const int seconds = qMax(1, parser.value(secondsOption).toInt());
    const QStringList sizes = parser.value(canvasOption).split(QLatin1Char('x'));
    const QSize canvas(sizes.value(0).toInt(), sizes.value(1).toInt());
    const int block = parser.value(blockOption).toInt();
    if (canvas.isEmpty() || block < 0 || block > 255) {
        std::fprintf(stderr, "bad --canvas or --block\n");
        return 2;
    }
    // The controllers' debug lines would swamp the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    std::printf("device link: %d s per run, canvas %dx%d, 30 ms frame tick, loopback\n", seconds,
                canvas.width(), canvas.height());
    std::printf("%6s %10s %10s %8s %9s %9s %9s %9s %12s\n", "panels", "sent", "good", "loss%", "rejected",
                "p50 ms", "p99 ms", "max ms", "cpu us/frame");
    int status = 0;
    for (const QString& text : parser.value(panelsOption).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int count = text.toInt();
        if (count < 1 || count > 250) {
            std::fprintf(stderr, "bad panel count %s\n", qPrintable(text));
            return 2;
        }
        const Result r = runOnce(count, seconds, canvas, block);
        if (!r.ok) {
            status = 1;
            continue;
        }
        const double loss = r.sent ? 100.0 * double(r.sent - qMin(r.sent, r.good)) / double(r.sent) : 0;
        std::printf("%6d %10llu %10llu %8.3f %9llu %9.2f %9.2f %9.2f %12.2f\n", r.panels,
                    static_cast<unsigned long long>(r.sent), static_cast<unsigned long long>(r.good), loss,
                    static_cast<unsigned long long>(r.rejected), r.p50Median, r.p99Worst, r.maxGap,
                    r.cpuUsPerFrame);
        std::fflush(stdout);
    }
    std::printf("frame path alone (paint + build + send, no timer wake-up): %.2f us/frame\n",
                framePathUs(canvas, block));
    std::printf(
        "p50: median over panels; p99 and max: worst panel; cpu: controller threads (generator, frame "
        "build, send, checks) per frame sent\n");
    return status;
}

#include "bench_devicelink.moc"
