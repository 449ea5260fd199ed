// CPU cost of one capture tick through the screen-cast portal and PipeWire at 1920x1080: this process, the
// desktop side that fills the stream's buffers (the compositor's part) and PipeWire with its session
// manager; back to back (each tick waits for its frame) and paced (one change and one tick every 30 ms).
// Also the latency from a change of the picture to the frame that shows it.
//   bench_wayland [--ticks N]
#include "support/ScreenCastDesktop.h"

#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "capture/ScreenGrabber.h"
#include "capture/ScreenGrabberImp.h"
#include "capture/linux/PipeWireGrabber.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

const QSize Screen(1920, 1080);

// Time all threads of the process have run on a CPU, in nanoseconds.
qint64 cpuNs(qint64 pid)
{
    qint64 total = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks + QLatin1Char('/') + task + QStringLiteral("/schedstat"));
        if (f.open(QIODevice::ReadOnly))
            total += f.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

// Remembers the first pixel of the last frame, so a tick can tell which picture it saw.
class Probe : public FrameProcessorBase
{
public:
    void processFrame(const QImage& frame) override
    {
        if (!frame.isNull())
            pixel = frame.pixel(0, 0) & 0xffffff;
    }
    std::atomic<QRgb> pixel{0};
};

struct Cost
{
    double process = 0;
    double compositor = 0;
    double pipewire = 0;
    double total() const { return process + compositor + pipewire; }
};

struct Sample
{
    qint64 self = 0;
    qint64 compositor = 0;
    qint64 pipewire = 0;
};

Sample sample(const ScreenCastDesktop& desktop)
{
    Sample s;
    s.self = cpuNs(QCoreApplication::applicationPid());
    s.compositor = cpuNs(desktop.backendPid());
    for (qint64 pid : desktop.pipeWirePids())
        s.pipewire += cpuNs(pid);
    return s;
}

Cost perTick(const Sample& a, const Sample& b, int ticks)
{
    return {(b.self - a.self) / 1e6 / ticks, (b.compositor - a.compositor) / 1e6 / ticks,
            (b.pipewire - a.pipewire) / 1e6 / ticks};
}

void print(const char* what, const Cost& c)
{
    std::printf("  %-30s process %6.3f  compositor %6.3f  pipewire %6.3f  total %6.3f ms per tick\n", what,
                c.process, c.compositor, c.pipewire, c.total());
}

int option(const QStringList& args, const char* name, int fallback)
{
    const int at = args.indexOf(QLatin1String(name));
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const int ticks = qMax(10, option(app.arguments(), "--ticks", 300));

    ScreenCastDesktop desktop;
    const QString missing = ScreenCastDesktop::missing();
    const QString failure =
        missing.isEmpty() ? desktop.start(Screen) : missing + QStringLiteral(" is not installed");
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "no screen-cast desktop: %s\n", qPrintable(failure));
        return 1;
    }
    QImage a(Screen, QImage::Format_RGB32);
    a.fill(qRgb(0xc0, 0x80, 0x30));
    QImage b(Screen, QImage::Format_RGB32);
    b.fill(qRgb(0x30, 0x80, 0xc0));
    if (!desktop.paint(b) || !desktop.paint(a))
        return 1;

    auto* backend = new PipeWireGrabber;
    ScreenGrabber grabber(backend);
    backend->setReinitDelay(50);
    auto scaled = QSharedPointer<FrameProccessorScaledFrame>::create();
    scaled->setTargetSize(QSize(33, 21));
    auto avg = QSharedPointer<FrameProcessorAvgRects>::create();
    avg->setRects({QRectF(0, 0, 1, 1)});
    auto probe = QSharedPointer<Probe>::create();
    grabber.addFrameProcessor(scaled);
    grabber.addFrameProcessor(avg);
    grabber.addFrameProcessor(probe);
    grabber.init();
    QElapsedTimer wait;
    wait.start();
    while ((backend->state() != Ready || probe->pixel == 0) && wait.elapsed() < 20000) {
        grabber.grab();
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    if (backend->state() != Ready) {
        std::fprintf(stderr, "the portal gave no stream\n");
        return 1;
    }

    // Back to back: change the picture, tick until the frame shows it.
    std::vector<double> latencies;
    QRgb expect = probe->pixel;
    const Sample b0 = sample(desktop);
    for (int i = 0; i < ticks; ++i) {
        expect =
            expect == (a.pixel(0, 0) & 0xffffff) ? (b.pixel(0, 0) & 0xffffff) : (a.pixel(0, 0) & 0xffffff);
        QElapsedTimer latency;
        latency.start();
        desktop.flip();
        while (probe->pixel != expect && latency.elapsed() < 5000) {
            grabber.grab();
            if (probe->pixel != expect)
                QThread::usleep(200);
        }
        latencies.push_back(latency.nsecsElapsed() / 1e6);
    }
    const Cost backToBack = perTick(b0, sample(desktop), ticks);

    // Paced: one change and one tick every 30 ms, as the worker's timer runs.
    int delivered = 0;
    QRgb last = probe->pixel;
    const Sample p0 = sample(desktop);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < ticks; ++i) {
        desktop.flip();
        const qint64 next = qint64(i + 1) * 30;
        QThread::msleep(static_cast<unsigned long>(qMax<qint64>(0, next - clock.elapsed())));
        grabber.grab();
        if (probe->pixel != last)
            ++delivered;
        last = probe->pixel;
    }
    const Cost paced = perTick(p0, sample(desktop), ticks);

    // Static picture: ticks that find no new buffer.
    const Sample s0 = sample(desktop);
    for (int i = 0; i < ticks; ++i)
        grabber.grab();
    const Cost still = perTick(s0, sample(desktop), ticks);

    std::sort(latencies.begin(), latencies.end());
    std::printf("%dx%d through the portal and PipeWire (%d ticks)\n", Screen.width(), Screen.height(), ticks);
    print("back to back", backToBack);
    print("every 30 ms", paced);
    print("static picture", still);
    std::printf("  paced ticks that got a new frame: %d of %d\n", delivered, ticks);
    std::printf("  change to frame: median %.2f ms, 95th percentile %.2f ms, worst %.2f ms\n",
                latencies[latencies.size() / 2], latencies[latencies.size() * 95 / 100], latencies.back());
    return 0;
}
