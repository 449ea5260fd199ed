// CPU cost of one capture tick at 1920x1080 on a Wayland desktop (the screen-cast portal and PipeWire) beside
// the X11 back end on a private Xvfb, in the same run: this process, the compositor (mutter; the stand-in
// back end; the X server), the client that draws the picture (GNOME only) and PipeWire with its session
// manager. Cases: one change and one tick every 30 ms as the worker's timer runs, the same changes with no
// capture (what the change itself costs), back to back (each tick waits for its frame) and a static picture.
// Also the latency from a change of the picture to the frame that shows it, grabbing back to back and as the
// program grabs (on the worker's timer and, on Wayland, when a frame arrives).
//   bench_wayland [--ticks N] [--desktop gnome|stand-in]
// GNOME is mutter 43 headless with software rendering and its portal (the share dialog is answered once, over
// the accessibility bus); the stand-in is our own screen-cast back end (tests/support/ScreenCastBackend.cpp).
#include "support/GnomeDesktop.h"
#include "support/ScreenCastDesktop.h"
#include "support/XvfbServer.h"

#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "capture/ScreenGrabber.h"
#include "capture/ScreenGrabberImp.h"
#include "capture/linux/PipeWireGrabber.h"
#include "capture/linux/XcbGrabber.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

const QSize Screen(1920, 1080);
const QRgb ColorA = qRgb(0xc0, 0x80, 0x30);
const QRgb ColorB = qRgb(0x30, 0x80, 0xc0);

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

qint64 cpuNs(const QList<qint64>& pids)
{
    qint64 total = 0;
    for (qint64 pid : pids)
        total += pid > 0 ? cpuNs(pid) : 0;
    return total;
}

// Children of this process whose command line contains needle.
QList<qint64> children(const QByteArray& needle)
{
    QList<qint64> pids;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!stat.open(QIODevice::ReadOnly) || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qint64 parent = line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
        if (parent == QCoreApplication::applicationPid() && cmdline.readAll().contains(needle))
            pids << entry.toLongLong();
    }
    return pids;
}

// Remembers the first pixel of the last frame, so a tick can tell which picture it saw, and when it changed.
class Probe : public FrameProcessorBase
{
public:
    void processFrame(const QImage& frame) override
    {
        if (frame.isNull())
            return;
        const QRgb seen = frame.pixel(0, 0) & 0xffffff;
        if (seen != pixel) {
            changed = clock.nsecsElapsed();
            pixel = seen;
        }
    }
    std::atomic<QRgb> pixel{0};
    std::atomic<qint64> changed{0};
    QElapsedTimer clock;
};

// One desktop to capture: how its picture changes between two colours, who pays for it, and its back end.
struct Desktop
{
    const char* name = "";
    std::function<bool()> flip;
    QList<qint64> compositor;
    QList<qint64> client;
    QList<qint64> pipewire;
    std::function<ScreenGrabberImp*()> backend;
};

struct Cost
{
    double process = 0;
    double compositor = 0;
    double client = 0;
    double pipewire = 0;
    double total() const { return process + compositor + client + pipewire; }
};

struct Sample
{
    qint64 process = 0;
    qint64 compositor = 0;
    qint64 client = 0;
    qint64 pipewire = 0;
};

Sample sample(const Desktop& d)
{
    return {cpuNs(QCoreApplication::applicationPid()), cpuNs(d.compositor), cpuNs(d.client),
            cpuNs(d.pipewire)};
}

Cost perTick(const Sample& a, const Sample& b, int ticks)
{
    return {(b.process - a.process) / 1e6 / ticks, (b.compositor - a.compositor) / 1e6 / ticks,
            (b.client - a.client) / 1e6 / ticks, (b.pipewire - a.pipewire) / 1e6 / ticks};
}

struct Result
{
    Cost paced;
    Cost changesOnly;
    Cost backToBack;
    Cost still;
    int delivered = 0;
    std::vector<double> latencies;
    std::vector<double> timed;
};

// Runs every case on one desktop; false when its capture never came up.
bool measure(const Desktop& d, int ticks, Result* r)
{
    // The changes alone, with nothing capturing them.
    const Sample n0 = sample(d);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < ticks; ++i) {
        d.flip();
        QThread::msleep(static_cast<unsigned long>(qMax<qint64>(0, qint64(i + 1) * 30 - clock.elapsed())));
    }
    r->changesOnly = perTick(n0, sample(d), ticks);

    ScreenGrabberImp* backend = d.backend();
    ScreenGrabber grabber(backend);
    backend->setReinitDelay(50);
    auto scaled = QSharedPointer<FrameProccessorScaledFrame>::create();
    scaled->setTargetSize(QSize(33, 21));
    auto avg = QSharedPointer<FrameProcessorAvgRects>::create();
    avg->setRects({QRectF(0, 0, 1, 1)});
    auto probe = QSharedPointer<Probe>::create();
    probe->clock.start();
    grabber.addFrameProcessor(scaled);
    grabber.addFrameProcessor(avg);
    grabber.addFrameProcessor(probe);
    grabber.init();
    QElapsedTimer wait;
    wait.start();
    while ((backend->state() != Ready || probe->pixel == 0) && wait.elapsed() < 30000) {
        grabber.grab();
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    if (backend->state() != Ready || probe->pixel == 0)
        return false;

    // Back to back: change the picture, tick until the frame shows it.
    const Sample b0 = sample(d);
    for (int i = 0; i < ticks; ++i) {
        const QRgb expect = probe->pixel == (ColorA & 0xffffff) ? ColorB & 0xffffff : ColorA & 0xffffff;
        QElapsedTimer latency;
        latency.start();
        d.flip();
        while (probe->pixel != expect && latency.elapsed() < 5000) {
            grabber.grab();
            if (probe->pixel != expect)
                QThread::usleep(200);
        }
        r->latencies.push_back(latency.nsecsElapsed() / 1e6);
    }
    r->backToBack = perTick(b0, sample(d), ticks);

    // Paced: one change and one tick every 30 ms, as the worker's timer runs.
    QRgb last = probe->pixel;
    const Sample p0 = sample(d);
    clock.start();
    for (int i = 0; i < ticks; ++i) {
        d.flip();
        QThread::msleep(static_cast<unsigned long>(qMax<qint64>(0, qint64(i + 1) * 30 - clock.elapsed())));
        grabber.grab();
        r->delivered += probe->pixel != last;
        last = probe->pixel;
    }
    r->paced = perTick(p0, sample(d), ticks);

    // Static picture: ticks that find no new frame.
    const Sample s0 = sample(d);
    for (int i = 0; i < ticks; ++i) {
        grabber.grab();
        QThread::msleep(2);
    }
    r->still = perTick(s0, sample(d), ticks);

    // As the program runs: the worker grabs on its own timer (and, on Wayland, when a frame arrives); a
    // change at moments unrelated to its ticks, and how long until the processors saw it.
    QThread worker;
    grabber.moveToThread(&worker);
    worker.start();
    const auto onWorker = [&](const std::function<void()>& work) {
        QMetaObject::invokeMethod(&grabber, work, Qt::BlockingQueuedConnection);
    };
    onWorker([&] { grabber.start(ScreenGrabber::DefaultIntervalMs); });
    for (int i = 0; i < ticks; ++i) {
        const QRgb expect = probe->pixel == (ColorA & 0xffffff) ? ColorB & 0xffffff : ColorA & 0xffffff;
        const qint64 start = probe->clock.nsecsElapsed();
        d.flip();
        while (probe->pixel != expect && probe->clock.nsecsElapsed() - start < 5000000000LL)
            QThread::usleep(200);
        r->timed.push_back((probe->changed - start) / 1e6);
        QThread::msleep(static_cast<unsigned long>(40 + (i * 17) % 47));
    }
    onWorker([&] {
        for (const QSharedPointer<FrameProcessorBase>& p :
             QList<QSharedPointer<FrameProcessorBase>>{scaled, avg, probe})
            grabber.removeFrameProcessor(p);
    });
    for (bool ticking = true; ticking; QThread::msleep(10))
        onWorker([&] { ticking = grabber.isTicking(); });
    worker.quit();
    worker.wait();
    std::sort(r->latencies.begin(), r->latencies.end());
    std::sort(r->timed.begin(), r->timed.end());
    return true;
}

void print(const char* desktop, const char* what, const Cost& c)
{
    std::printf("  %-10s %-22s %8.3f %10.3f %7.3f %9.3f %8.3f\n", desktop, what, c.process, c.compositor,
                c.client, c.pipewire, c.total());
}

int option(const QStringList& args, const char* name, int fallback)
{
    const int at = args.indexOf(QLatin1String(name));
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
}

// Fills the root window of a private X server with one colour; the round trip waits for the server.
class XFill
{
public:
    explicit XFill(const QByteArray& display)
        : m_conn(xcb_connect(display.constData(), nullptr))
    {
        if (xcb_connection_has_error(m_conn))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data->root;
        m_gc = xcb_generate_id(m_conn);
        xcb_create_gc(m_conn, m_gc, m_root, 0, nullptr);
    }
    ~XFill() { xcb_disconnect(m_conn); }
    bool flip()
    {
        m_step = !m_step;
        const uint32_t color = m_step ? ColorA : ColorB;
        xcb_change_gc(m_conn, m_gc, XCB_GC_FOREGROUND, &color);
        const xcb_rectangle_t r = {0, 0, uint16_t(Screen.width()), uint16_t(Screen.height())};
        xcb_poly_fill_rectangle(m_conn, m_root, m_gc, 1, &r);
        std::free(xcb_get_input_focus_reply(m_conn, xcb_get_input_focus(m_conn), nullptr));
        return !xcb_connection_has_error(m_conn);
    }

private:
    xcb_connection_t* m_conn;
    xcb_window_t m_root = 0;
    xcb_gcontext_t m_gc = 0;
    bool m_step = false;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const int ticks = qMax(10, option(app.arguments(), "--ticks", 300));
    const int at = app.arguments().indexOf(QStringLiteral("--desktop"));
    const bool gnome = at < 0 || app.arguments().value(at + 1) != QLatin1String("stand-in");

    // The Wayland desktop first: it moves this process onto its bus before anything reaches for one.
    std::unique_ptr<ScreenCastDesktop> wayland;
    QString failure;
    if (gnome) {
        auto desktop = std::make_unique<GnomeDesktop>();
        failure = GnomeDesktop::missing().isEmpty()
                      ? desktop->start({Screen})
                      : GnomeDesktop::missing() + QStringLiteral(" is not installed");
        wayland = std::move(desktop);
    } else {
        wayland = std::make_unique<ScreenCastDesktop>();
        failure = ScreenCastDesktop::missing().isEmpty()
                      ? wayland->start(Screen)
                      : ScreenCastDesktop::missing() + QStringLiteral(" is not installed");
    }
    QImage a(Screen, QImage::Format_RGB32);
    a.fill(ColorA);
    QImage b(Screen, QImage::Format_RGB32);
    b.fill(ColorB);
    if (!failure.isEmpty() || !wayland->paint(b) || !wayland->paint(a)) {
        std::fprintf(stderr, "no screen-cast desktop: %s\n", qPrintable(failure));
        return 1;
    }
    Desktop w;
    w.name = gnome ? "GNOME" : "stand-in";
    w.flip = [&] {
        return wayland->flip();
    };
    w.compositor = gnome ? children("mutter") : QList<qint64>{wayland->backendPid()};
    w.client = gnome ? children("gnome_desktop.py") : QList<qint64>{};
    w.pipewire = wayland->pipeWirePids();
    w.backend = [] {
        return new PipeWireGrabber;
    };

    XvfbServer xvfb;
    if (!xvfb.start(Screen)) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    XFill fill(xvfb.display());
    Desktop x;
    x.name = "X11";
    x.flip = [&] {
        return fill.flip();
    };
    x.compositor = {xvfb.pid()};
    x.backend = [&] {
        return new XcbGrabber(xvfb.display());
    };

    std::vector<std::pair<const Desktop*, Result>> results;
    for (const Desktop* d : {&x, &w}) {
        Result r;
        if (!measure(*d, ticks, &r)) {
            std::fprintf(stderr, "%s: the capture gave no picture\n", d->name);
            return 1;
        }
        results.emplace_back(d, r);
    }

    std::printf("%dx%d, %d ticks; ms of CPU per tick (compositor: %s)\n", Screen.width(), Screen.height(),
                ticks, gnome ? "X server, mutter" : "X server, stand-in back end");
    std::printf("  %-10s %-22s %8s %10s %7s %9s %8s\n", "desktop", "case", "process", "compositor", "client",
                "pipewire", "total");
    for (const auto& [d, r] : results) {
        print(d->name, "every 30 ms", r.paced);
        print(d->name, "changes, no capture", r.changesOnly);
        print(d->name, "back to back", r.backToBack);
        print(d->name, "static picture", r.still);
    }
    for (const auto& [d, r] : results) {
        const auto& l = r.latencies;
        std::printf(
            "  %-10s capture of every 30 ms: %.3f ms; change to frame: median %.2f ms, 95th percentile "
            "%.2f ms, worst %.2f ms; paced ticks with a new frame: %d of %d\n",
            d->name, r.paced.total() - r.changesOnly.total(), l[l.size() / 2], l[l.size() * 95 / 100],
            l.back(), r.delivered, ticks);
    }
    for (const auto& [d, r] : results) {
        const auto& t = r.timed;
        std::printf(
            "  %-10s on the worker's timer, change to processors: median %.2f ms, 95th percentile %.2f "
            "ms, worst %.2f ms\n",
            d->name, t[t.size() / 2], t[t.size() * 95 / 100], t.back());
    }
    return 0;
}
