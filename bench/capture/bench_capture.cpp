// CPU cost of one capture tick (this process plus the X server) for a changing and a static screen, against
// ffmpeg's x11grab with a 1/16 scale as the reference.
//   bench_capture [--ticks N] [--frames N] [--no-ffmpeg]
#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "capture/ScreenGrabber.h"
#include "capture/linux/XcbGrabber.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QSharedPointer>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

qint64 threadCpuNs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Time the process has run on a CPU, in nanoseconds (all its threads).
qint64 processCpuNs(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/schedstat").arg(pid));
    if (f.open(QIODevice::ReadOnly))
        return f.readAll().split(' ').value(0).toLongLong();
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) * (1000000000 / 100);
}

class Xvfb
{
public:
    bool start(const QSize& size)
    {
        m_size = size;
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(QStringLiteral("Xvfb"),
                        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                         QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height())});
        if (!m_process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (!m_process.canReadLine() && t.elapsed() < 10000)
            m_process.waitForReadyRead(100);
        const QByteArray n = m_process.readLine().trimmed();
        if (n.isEmpty())
            return false;
        m_display = ':' + n;
        m_conn = xcb_connect(m_display.constData(), nullptr);
        if (xcb_connection_has_error(m_conn))
            return false;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data;
        m_root = screen->root;
        m_gc = xcb_generate_id(m_conn);
        xcb_create_gc(m_conn, m_gc, m_root, 0, nullptr);
        return true;
    }
    ~Xvfb()
    {
        if (m_conn)
            xcb_disconnect(m_conn);
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // Changes the given area (the whole screen by default) and waits until the server has drawn it.
    void paint(int step, QRect area = QRect())
    {
        if (area.isNull())
            area = QRect(QPoint(0, 0), m_size);
        const uint32_t color = step % 2 ? 0x3080c0u : 0xc08030u;
        xcb_change_gc(m_conn, m_gc, XCB_GC_FOREGROUND, &color);
        const xcb_rectangle_t r = {int16_t(area.x()), int16_t(area.y()), uint16_t(area.width()),
                                   uint16_t(area.height())};
        xcb_poly_fill_rectangle(m_conn, m_root, m_gc, 1, &r);
        std::free(xcb_get_input_focus_reply(m_conn, xcb_get_input_focus(m_conn), nullptr));
    }
    QByteArray display() const { return m_display; }
    qint64 pid() const { return m_process.processId(); }
    QSize size() const { return m_size; }

private:
    QProcess m_process;
    QByteArray m_display;
    QSize m_size;
    xcb_connection_t* m_conn = nullptr;
    uint32_t m_root = 0;
    uint32_t m_gc = 0;
};

struct Cost
{
    double clientMs = 0;
    double serverMs = 0;
    double total() const { return clientMs + serverMs; }
};

enum class Change
{
    Full,
    Region,
    None
};

// Per-tick cost of the capture worker's tick with two processors attached, as the screen-mirror pages use it.
Cost measureTicks(Xvfb& server, int ticks, Change change, bool paced)
{
    ScreenGrabber grabber(new XcbGrabber(server.display()));
    grabber.init();
    auto scaled = QSharedPointer<FrameProccessorScaledFrame>::create();
    scaled->setTargetSize(QSize(33, 21));
    auto avg = QSharedPointer<FrameProcessorAvgRects>::create();
    avg->setRects({QRectF(0, 0, 1, 1)});
    grabber.addFrameProcessor(scaled);
    grabber.addFrameProcessor(avg);
    server.paint(0);
    grabber.grab();
    grabber.grab();

    const QRect region(server.size().width() / 3, server.size().height() / 3, 640, 360);
    qint64 client = 0;
    qint64 xserver = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < ticks; ++i) {
        if (change == Change::Full)
            server.paint(i + 1);
        else if (change == Change::Region)
            server.paint(i + 1, region);
        const qint64 s0 = processCpuNs(server.pid());
        const qint64 c0 = threadCpuNs();
        grabber.grab();
        const qint64 c1 = threadCpuNs();
        const qint64 s1 = processCpuNs(server.pid());
        client += c1 - c0;
        xserver += s1 - s0;
        if (paced) {
            const qint64 next = qint64(i + 1) * 30;
            const qint64 wait = next - clock.elapsed();
            if (wait > 0)
                QThread::msleep(static_cast<unsigned long>(wait));
        }
    }
    return {client / 1e6 / ticks, xserver / 1e6 / ticks};
}

// Server cost of one paint alone, taken out of the ffmpeg run's server time.
double paintCostMs(Xvfb& server, int paints)
{
    const qint64 s0 = processCpuNs(server.pid());
    for (int i = 0; i < paints; ++i)
        server.paint(i);
    return (processCpuNs(server.pid()) - s0) / 1e6 / paints;
}

// ffmpeg grabbing the same screen at 30 frames a second and scaling it to 1/16 per side.
bool measureFfmpeg(Xvfb& server, int frames, Cost* cost)
{
    const double perPaint = paintCostMs(server, 50);
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    const QSize size = server.size();
    ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-hide_banner"),
                                            QStringLiteral("-nostats"),
                                            QStringLiteral("-benchmark"),
                                            QStringLiteral("-f"),
                                            QStringLiteral("x11grab"),
                                            QStringLiteral("-draw_mouse"),
                                            QStringLiteral("0"),
                                            QStringLiteral("-framerate"),
                                            QStringLiteral("30"),
                                            QStringLiteral("-video_size"),
                                            QStringLiteral("%1x%2").arg(size.width()).arg(size.height()),
                                            QStringLiteral("-i"),
                                            QString::fromLatin1(server.display()),
                                            QStringLiteral("-vf"),
                                            QStringLiteral("scale=iw/16:ih/16"),
                                            QStringLiteral("-frames:v"),
                                            QString::number(frames),
                                            QStringLiteral("-f"),
                                            QStringLiteral("null"),
                                            QStringLiteral("-")});
    if (!ffmpeg.waitForStarted(5000))
        return false;
    const qint64 s0 = processCpuNs(server.pid());
    int paints = 0;
    QElapsedTimer clock;
    clock.start();
    while (!ffmpeg.waitForFinished(0)) {
        if (ffmpeg.state() == QProcess::NotRunning)
            break;
        server.paint(++paints);
        const qint64 wait = qint64(paints) * 30 - clock.elapsed();
        if (wait > 0)
            QThread::msleep(static_cast<unsigned long>(wait));
        if (clock.elapsed() > 120000) {
            ffmpeg.kill();
            return false;
        }
    }
    const qint64 s1 = processCpuNs(server.pid());
    const QString out = QString::fromLocal8Bit(ffmpeg.readAll());
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("bench: utime=([0-9.]+)s stime=([0-9.]+)s")).match(out);
    if (!m.hasMatch() || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed:\n%s\n", qPrintable(out.right(2000)));
        return false;
    }
    const double ffmpegMs = (m.captured(1).toDouble() + m.captured(2).toDouble()) * 1000.0;
    cost->clientMs = ffmpegMs / frames;
    cost->serverMs = qMax(0.0, ((s1 - s0) / 1e6 - perPaint * paints) / frames);
    return true;
}

void print(const char* what, const Cost& c)
{
    std::printf("  %-34s client %7.3f ms  server %7.3f ms  total %7.3f ms per tick\n", what, c.clientMs,
                c.serverMs, c.total());
}

} // namespace

int option(const QStringList& args, const char* name, int fallback)
{
    const int at = args.indexOf(QLatin1String(name));
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const QStringList args = app.arguments();
    const int ticks = qMax(10, option(args, "--ticks", 300));
    const int frames = qMax(10, option(args, "--frames", 150));
    const bool withFfmpeg = !args.contains(QStringLiteral("--no-ffmpeg"));

    struct Target
    {
        QSize size;
        double backToBack;
        double paced;
    };
    const Target targets[] = {{QSize(1920, 1080), 0.6, 1.0}, {QSize(3840, 2160), 4.0, 4.0}};
    const double staticTarget = 0.05;
    const double ratioTarget = 7.0;
    bool allMet = true;
    auto verdict = [&allMet](bool ok) {
        allMet = allMet && ok;
        return ok ? "met" : "MISSED";
    };

    for (const Target& target : targets) {
        Xvfb server;
        if (!server.start(target.size)) {
            std::fprintf(stderr, "Xvfb failed to start\n");
            return 1;
        }
        std::printf("%dx%d (%d ticks, %d ffmpeg frames)\n", target.size.width(), target.size.height(), ticks,
                    frames);
        const Cost full = measureTicks(server, ticks, Change::Full, false);
        const Cost fullPaced = measureTicks(server, qMin(ticks, 200), Change::Full, true);
        const Cost region = measureTicks(server, ticks, Change::Region, false);
        const Cost still = measureTicks(server, ticks, Change::None, false);
        print("whole screen changing, back to back", full);
        print("whole screen changing, every 30 ms", fullPaced);
        print("640x360 region changing, b2b", region);
        print("static screen", still);
        std::printf("  target back to back <= %.2f ms: %s; paced <= %.2f ms: %s; static <= %.2f ms: %s\n",
                    target.backToBack, verdict(full.total() <= target.backToBack), target.paced,
                    verdict(fullPaced.total() <= target.paced), staticTarget,
                    verdict(still.total() <= staticTarget));
        if (withFfmpeg) {
            Cost reference;
            if (measureFfmpeg(server, frames, &reference)) {
                print("ffmpeg x11grab + scale 1/16, 30 fps", reference);
                const double ratio = reference.total() / fullPaced.total();
                std::printf("  ffmpeg / ours (paced, whole screen changing) = %.1fx  (target >= %.0fx: %s)\n",
                            ratio, ratioTarget, verdict(ratio >= ratioTarget));
                std::printf("  ffmpeg / ours (back to back, whole screen changing) = %.1fx\n",
                            reference.total() / full.total());
            } else {
                std::printf("  ffmpeg reference unavailable (install: bench/capture/run.sh)\n");
            }
        }
        std::fflush(stdout);
    }
    std::printf("all targets %s\n", allMet ? "met" : "NOT met");
    return 0;
}
