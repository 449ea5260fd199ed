// The screen-mirror pipeline on a private 1920 x 1080 X screen, streaming to emulated panels:
//  - latency from filling the screen with a colour, at a random moment, to the first frame carrying it at the
//    panel, p50/p99 over N changes;
//  - CPU of the capture and device threads plus the X server while 1 and 4 panels mirror a screen that
//    changes every 100 ms, per 30 ms tick, against a baseline with the same painting and no mirroring.
//   bench_screenmirror [--changes 200] [--seconds 10] [--panels 1,4] [--block 74]

#include "../BenchWait.h"
#include "../RootFill.h"
#include "capture/GrabManager.h"
#include "device/PivotrixDeviceController.h"
#include "effects/EffectGenerator.h"
#include "effects/ScreenMirrorModes.h"
#include "effects/ScreenMirrorPipeline.h"
#include "emulator/EmulatedPanel.h"
#include "support/XvfbServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QRandomGenerator>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {
const QSize kScreen(1920, 1080);

QImage solid(QColor color)
{
    QImage img(kScreen, QImage::Format_RGB32);
    img.fill(color);
    return img;
}

// utime + stime of a /proc stat line, in seconds.
double statCpu(const QString& path, QByteArray* comm = nullptr)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = f.readAll();
    const int open = line.indexOf('('), close = line.lastIndexOf(')');
    if (comm)
        *comm = line.mid(open + 1, close - open - 1);
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // Fields after the name start with the state: utime and stime are the 12th and 13th from there.
    if (fields.size() < 13)
        return 0;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// CPU of this process's capture and device threads, which are what the application would run.
double pipelineThreadsCpu()
{
    double total = 0;
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& tid : tasks) {
        QByteArray comm;
        const double cpu = statCpu(QStringLiteral("/proc/self/task/%1/stat").arg(tid), &comm);
        if (comm.startsWith("screen-grab") || comm.startsWith("controller-thr"))
            total += cpu;
    }
    return total;
}

double loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(0).toDouble() : -1;
}

bool shows(const QImage& img, QColor want)
{
    if (img.isNull())
        return false;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor got = img.pixelColor(x, y);
            const int apart = qAbs(got.hue() - want.hue());
            if (got.value() < 150 || qMin(apart, 360 - apart) > 12)
                return false;
        }
    return true;
}

struct Rig
{
    std::vector<std::unique_ptr<EmulatedPanel>> panels;
    std::vector<std::unique_ptr<PivotrixDeviceController>> devices;
    std::vector<std::unique_ptr<ScreenMirrorPipeline>> pipelines;

    bool start(int count, int block, GrabManager* grab)
    {
        for (int i = 0; i < count; ++i) {
            PanelConfig config;
            config.address = QStringLiteral("127.0.%1.%2").arg(block).arg(i + 1);
            config.id = QStringLiteral("bench-%1").arg(i + 1);
            auto panel = std::make_unique<EmulatedPanel>(config);
            QString error;
            if (!panel->start(&error)) {
                std::fprintf(stderr, "panel %d: %s\n", i, qPrintable(error));
                return false;
            }
            auto device = std::make_unique<PivotrixDeviceController>(
                panel->address(), 8080, panel->apiKey(), panel->name(), panel->model(), panel->id());
            PivotrixDeviceController* d = device.get();
            if (!spin([d] { return d->isOnline(); }, 15000))
                return false;
            auto pipeline = std::make_unique<ScreenMirrorPipeline>(grab);
            ScreenMirrorSettings settings;
            settings.mode = ScreenSeason;
            settings.colorMode = ColorNatural;
            pipeline->rebuild(settings);
            d->setEffectGenerator(pipeline->generator(), grab);
            d->startStream();
            if (!spin([d] { return d->isStreaming(); }, 15000))
                return false;
            panels.push_back(std::move(panel));
            devices.push_back(std::move(device));
            pipelines.push_back(std::move(pipeline));
        }
        return true;
    }

    void stop()
    {
        for (auto& d : devices)
            d->stopStream();
        pipelines.clear();
        for (auto& d : devices) {
            QPointer<QThread> thread = d->controllerThread();
            d.reset();
            spin([&thread] { return thread.isNull(); }, 10000);
        }
        devices.clear();
        panels.clear();
    }
};

// Paints a changing screen for `seconds` and returns (pipeline threads CPU, X server CPU) in seconds.
QPair<double, double> measureCpu(XvfbServer& server, double seconds)
{
    const QString xstat = QStringLiteral("/proc/%1/stat").arg(server.pid());
    const double app0 = pipelineThreadsCpu();
    const double x0 = statCpu(xstat);
    QElapsedTimer clock;
    clock.start();
    int step = 0;
    while (clock.elapsed() < qint64(seconds * 1000)) {
        server.paint(solid(QColor::fromHsv((step++ * 37) % 360, 255, 230)));
        spin([&] { return clock.elapsed() >= step * 100; }, 1000, 1000);
    }
    return {pipelineThreadsCpu() - app0, statCpu(xstat) - x0};
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{QStringLiteral("changes"), QStringLiteral("Colour changes timed."),
                        QStringLiteral("n"), QStringLiteral("200")},
                       {QStringLiteral("seconds"), QStringLiteral("Seconds per CPU run."),
                        QStringLiteral("s"), QStringLiteral("10")},
                       {QStringLiteral("panels"), QStringLiteral("Panel counts for the CPU runs."),
                        QStringLiteral("list"), QStringLiteral("1,4")},
                       {QStringLiteral("block"), QStringLiteral("Loopback block 127.0.<block>.x."),
                        QStringLiteral("n"), QStringLiteral("74")}});
    parser.process(app);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const int changes = parser.value(QStringLiteral("changes")).toInt();
    const double seconds = parser.value(QStringLiteral("seconds")).toDouble();
    const int block = parser.value(QStringLiteral("block")).toInt();

    XvfbServer server;
    if (!server.start(kScreen)) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", server.display());
    GrabManager grab;
    grab.init();
    grab.start();
    if (!spin([&grab] { return !grab.screens().isEmpty(); }, 10000))
        return 1;
    std::printf("load average at start %.2f on %ld cores\n", loadAverage(), sysconf(_SC_NPROCESSORS_ONLN));

    {
        Rig rig;
        if (!rig.start(1, block, &grab))
            return 1;
        EmulatedPanel* panel = rig.panels.front().get();
        RootFill root(server.display());
        QRandomGenerator random(7);
        std::vector<double> latencies;
        int missed = 0;
        for (int i = 0; i < changes; ++i) {
            const QColor color = QColor::fromHsv((i * 97) % 360, 255, 240);
            // Changes land at random moments of the 30 ms ticks, a few ticks after the last one.
            QThread::usleep(100000 + random.bounded(60000));
            root.fill(color);
            QElapsedTimer clock;
            clock.start();
            if (spin([&] { return shows(panel->lastFrame(), color); }, 2000, 100))
                latencies.push_back(double(clock.nsecsElapsed()) / 1e6);
            else
                ++missed;
        }
        std::printf(
            "change-to-panel latency over %d changes at random moments: p50 %.1f ms, p99 %.1f ms, max "
            "%.1f ms, missed %d (target p50 <= 22, p99 <= 38)\n",
            changes, percentile(latencies, 0.5), percentile(latencies, 0.99),
            latencies.empty() ? 0 : *std::max_element(latencies.begin(), latencies.end()), missed);
        rig.stop();
    }

    const QPair<double, double> base = measureCpu(server, seconds);
    const double ticks = seconds * 1000.0 / 30.0;
    std::printf("baseline, painting only: X server %.3f s CPU in %.0f s\n", base.second, seconds);
    for (const QString& n : parser.value(QStringLiteral("panels")).split(QLatin1Char(','))) {
        Rig rig;
        if (!rig.start(n.toInt(), block, &grab))
            return 1;
        const QPair<double, double> cpu = measureCpu(server, seconds);
        const double xExtra = std::max(0.0, cpu.second - base.second);
        const double perTick = (cpu.first + xExtra) * 1000.0 / ticks;
        std::printf(
            "%s panel(s): capture+device threads %.3f s, X server beyond baseline %.3f s -> %.3f ms per "
            "30 ms tick (%.2f %% of a core; target <= 1.5 ms for 4 panels)\n",
            qPrintable(n), cpu.first, xExtra, perTick, perTick / 30.0 * 100.0);
        rig.stop();
    }
    std::printf("load average at end %.2f\n", loadAverage());
    return 0;
}
