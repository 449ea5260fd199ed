// Start-up and memory of the application as a new user meets it: each run gets its own Xvfb, session bus
// (with a stand-in desktop panel's StatusNotifierWatcher) and HOME, then starts the executable and
// watches it from outside:
//   - exec to the main window's MapNotify (a window on the root whose _NET_WM_PID is the child), or with
//     "--minimized" exec to the RegisterStatusNotifierItem call on the watcher; and exec to the first
//     paint on screen (the middle of the window no longer the black root);
//   - the child's CPU time (all threads, from /proc/<pid>/task/*/schedstat) at that moment;
//   - once settled: Rss and Pss (smaps_rollup), thread count, which GL driver libraries and which
//     image format plugins are mapped;
//   - with panels: emulated panels in this process, paired through a settings file written here; the
//     frame rate they receive while the memory is read.
// Prints every run and the best and median per scenario, with /proc/loadavg, since wall times on a busy
// machine say little without the CPU time beside them. Rss is the steady memory figure; Pss shares the
// libraries with every other process that maps them (this one included), so it moves with the machine.
//
//   bench_startup [--runs 5] [--panels 8] [--settle-ms 3000] [--only window,tray,paired,streaming]
//                 [--app path] [--host path] [--verbose] [--wrap "command args"]
//
// "--wrap" starts the application under another program in the same private desktop, for instance
//   --wrap "valgrind --tool=callgrind --dump-after=QXcbWindow::show*" --only window --runs 1
// counts the instructions up to the window being mapped (the first dump) whatever the machine's load.
//
// Scenarios: "window" (no settings), "tray" ("--minimized"), "paired" (the application with N panels
// whose records ask for streaming; it streams by itself once the source pages read those records) and
// "streaming" (the stand-in page host: the same application, plus the fading band generator attached to
// every such panel). A new scenario is one more row in scenarios().

#include "emulator/EmulatedPanel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

// What a desktop panel's watcher answers; records when the application's item registers.
class StandInWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    std::function<void()> onItem;
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return m_items; }
public slots:
    void RegisterStatusNotifierItem(const QString& service)
    {
        m_items << service;
        if (onItem)
            onItem();
    }
    void RegisterStatusNotifierHost(const QString& service) { Q_UNUSED(service) }

private:
    QStringList m_items;
};

namespace {
struct Options
{
    QString app;
    QString host;
    int runs = 5;
    int panels = 8;
    int settleMs = 3000;
    int timeoutMs = 60000;
    QStringList only;
    QStringList wrap;
    bool verbose = false;
};

enum class Until
{
    Mapped,
    TrayItem
};

struct Scenario
{
    QString name;
    QString what;
    bool useHost;
    QStringList args;
    Until until;
    bool withPanels;
};

QList<Scenario> scenarios()
{
    return {
        {QStringLiteral("window"),
         QStringLiteral("no settings, exec to main window mapped"),
         false,
         {},
         Until::Mapped,
         false},
        {QStringLiteral("tray"),
         QStringLiteral("\"--minimized\", exec to tray item registered"),
         false,
         {QStringLiteral("--minimized")},
         Until::TrayItem,
         false},
        {QStringLiteral("paired"),
         QStringLiteral("N panels paired, records ask for streaming"),
         false,
         {},
         Until::Mapped,
         true},
        {QStringLiteral("streaming"),
         QStringLiteral("N panels paired, fading band generator on each (stand-in page)"),
         true,
         {},
         Until::Mapped,
         true},
    };
}

double monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

QByteArray readProc(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// On-CPU time of every thread of `pid`, in ms.
double cpuMs(pid_t pid)
{
    double ns = 0;
    const QStringList tasks =
        QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks)
        ns += readProc(QStringLiteral("/proc/%1/task/%2/schedstat").arg(pid).arg(task))
                  .split(' ')
                  .value(0)
                  .toDouble();
    return ns / 1e6;
}

// A "Key:   value kB" field of a /proc file, in MB.
double fieldMb(const QByteArray& text, const QByteArray& key)
{
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).simplified().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

int threadCount(pid_t pid)
{
    for (const QByteArray& line : readProc(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return -1;
}

// The GL driver libraries mapped into `pid`, by file name. Not the dispatch libraries libGL, libGLX and
// libGLdispatch: Debian's Qt Gui library links them, and they load no driver on their own.
QStringList glMapped(pid_t pid)
{
    static const char* const kMarks[] = {"_mesa",    "libgbm", "_dri.so",  "libLLVM",
                                         "libglapi", "libEGL", "libnvidia"};
    QStringList found;
    for (const QByteArray& line : readProc(QStringLiteral("/proc/%1/maps").arg(pid)).split('\n')) {
        const QByteArray file = line.mid(line.lastIndexOf('/') + 1);
        for (const char* mark : kMarks)
            if (file.contains(mark) && !found.contains(QString::fromLatin1(file)))
                found << QString::fromLatin1(file);
    }
    return found;
}

// The Qt image format plugins mapped into `pid`: the first picture read with format probing loads
// every one installed, with their libraries.
QStringList imagePluginsMapped(pid_t pid)
{
    QStringList found;
    for (const QByteArray& line : readProc(QStringLiteral("/proc/%1/maps").arg(pid)).split('\n')) {
        if (!line.contains("/imageformats/"))
            continue;
        const QString file = QString::fromLatin1(line.mid(line.lastIndexOf('/') + 1));
        if (!found.contains(file))
            found << file;
    }
    return found;
}

double loadAverage()
{
    return readProc(QStringLiteral("/proc/loadavg")).split(' ').value(0).toDouble();
}

// fork/exec with `fd` of a pipe as descriptor 3 in the child, when given.
pid_t spawn(const QStringList& argv, const QStringList& env, int fd3 = -1, bool quiet = true)
{
    std::vector<QByteArray> args, vars;
    for (const QString& a : argv)
        args.push_back(a.toLocal8Bit());
    for (const QString& e : env)
        vars.push_back(e.toLocal8Bit());
    std::vector<char*> argp, envp;
    for (QByteArray& a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    for (QByteArray& e : vars)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (fd3 >= 0 && fd3 != 3) {
            dup2(fd3, 3);
            close(fd3);
        }
        if (quiet) {
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    return pid;
}

// First line written to the read end of a pipe, within `ms`.
QByteArray readLine(int fd, int ms)
{
    QByteArray line;
    QElapsedTimer clock;
    clock.start();
    while (!line.contains('\n') && clock.elapsed() < ms) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buf[256];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, int(n));
    }
    return line.left(line.indexOf('\n')).trimmed();
}

QString which(const QString& tool)
{
    for (const QString& dir : qEnvironmentVariable("PATH").split(QLatin1Char(':')))
        if (QFile::exists(dir + QLatin1Char('/') + tool))
            return dir + QLatin1Char('/') + tool;
    return tool;
}

void stopProcess(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        QThread::msleep(20);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!done())
            QThread::usleep(500);
    }
    return true;
}

struct Run
{
    bool ok = false;
    QString failure;
    double load = 0;
    double readyMs = 0;
    double cpuAtReadyMs = 0;
    double paintedMs = 0; // window scenarios: exec to the first paint on screen
    double rssMb = 0;
    double pssMb = 0;
    int threads = 0;
    QStringList gl;
    QStringList imagePlugins;
    double framesPerSecond = 0; // summed over the panels, while settling
};

// One private desktop: X server, session bus with a watcher, HOME. Torn down by the destructor.
class Desktop
{
public:
    ~Desktop()
    {
        if (m_xcb)
            xcb_disconnect(m_xcb);
        if (!m_busName.isEmpty())
            QDBusConnection::disconnectFromBus(m_busName);
        stopProcess(m_bus);
        stopProcess(m_xvfb);
    }

    bool start(QString* error)
    {
        if (!m_home.isValid())
            return fail(error, QStringLiteral("no temporary HOME"));
        for (const char* dir : {"config", "data", "runtime"})
            QDir(m_home.path()).mkpath(QString::fromLatin1(dir));
        QFile::setPermissions(m_home.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        int pipeX[2];
        if (pipe(pipeX) != 0)
            return fail(error, QStringLiteral("pipe"));
        m_xvfb = spawn({which(QStringLiteral("Xvfb")), QStringLiteral("-displayfd"), QStringLiteral("3"),
                        QStringLiteral("-noreset"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                        QStringLiteral("-br"), QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1920x1080x24")},
                       systemEnvironment(), pipeX[1]);
        close(pipeX[1]);
        const QByteArray display = readLine(pipeX[0], 10000);
        close(pipeX[0]);
        if (display.isEmpty())
            return fail(error, QStringLiteral("Xvfb did not start"));
        m_display = QStringLiteral(":") + QString::fromLatin1(display);

        int pipeB[2];
        if (pipe(pipeB) != 0)
            return fail(error, QStringLiteral("pipe"));
        m_bus = spawn({which(QStringLiteral("dbus-daemon")), QStringLiteral("--session"),
                       QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                       QStringLiteral("--print-address=3")},
                      systemEnvironment(), pipeB[1]);
        close(pipeB[1]);
        m_busAddress = QString::fromLatin1(readLine(pipeB[0], 10000));
        close(pipeB[0]);
        if (m_busAddress.isEmpty())
            return fail(error, QStringLiteral("dbus-daemon did not start"));

        static int serial = 0;
        m_busName = QStringLiteral("bench-desktop-%1").arg(++serial);
        QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, m_busName);
        if (!bus.isConnected() ||
            !bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &m_watcher,
                                QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
            !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")))
            return fail(error, QStringLiteral("no watcher on the private bus"));

        m_xcb = xcb_connect(m_display.toLatin1().constData(), nullptr);
        if (xcb_connection_has_error(m_xcb))
            return fail(error, QStringLiteral("cannot reach Xvfb"));
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_xcb)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_xcb, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(m_xcb, xcb_intern_atom(m_xcb, 0, 11, "_NET_WM_PID"), nullptr);
        m_pidAtom = atom ? atom->atom : XCB_NONE;
        free(atom);
        xcb_flush(m_xcb);
        return true;
    }

    QStringList appEnvironment() const
    {
        QStringList env;
        for (const QString& e : systemEnvironment())
            if (!e.startsWith(QLatin1String("DISPLAY=")) &&
                !e.startsWith(QLatin1String("DBUS_SESSION_BUS_ADDRESS=")) &&
                !e.startsWith(QLatin1String("HOME=")) && !e.startsWith(QLatin1String("XDG_")) &&
                !e.startsWith(QLatin1String("QT_")))
                env << e;
        env << QStringLiteral("DISPLAY=") + m_display
            << QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + m_busAddress
            << QStringLiteral("HOME=") + m_home.path()
            << QStringLiteral("XDG_CONFIG_HOME=") + m_home.filePath(QStringLiteral("config"))
            << QStringLiteral("XDG_DATA_HOME=") + m_home.filePath(QStringLiteral("data"))
            << QStringLiteral("XDG_RUNTIME_DIR=") + m_home.filePath(QStringLiteral("runtime"));
        return env;
    }

    // Where the application looks for settings.json, for an executable called `appName`.
    QString settingsFile(const QString& appName) const
    {
        return m_home.filePath(QStringLiteral("data/") + appName + QStringLiteral("/settings.json"));
    }

    // Drains the X events; true once a window of `pid` was mapped.
    bool windowMapped(pid_t pid)
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_xcb)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (!m_mapped && ownerPid(map->window) == pid) {
                    m_mapped = true;
                    m_window = map->window;
                }
            }
            free(event);
        }
        return m_mapped;
    }

    // True once the middle of the mapped window is no longer the black of the bare root (-br): the
    // first paint reached the screen.
    bool windowPainted()
    {
        if (!m_mapped)
            return false;
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(m_xcb, xcb_get_geometry(m_xcb, m_window), nullptr);
        if (!geometry)
            return false;
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            m_xcb,
            xcb_get_image(m_xcb, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, int16_t(geometry->width / 2),
                          int16_t(geometry->height / 2), 1, 1, ~0u),
            nullptr);
        free(geometry);
        bool painted = false;
        if (image) {
            const uint8_t* data = xcb_get_image_data(image);
            for (int i = 0; i < std::min(3, xcb_get_image_data_length(image)); ++i)
                painted = painted || data[i] != 0;
            free(image);
        }
        return painted;
    }

    bool trayItemRegistered() const { return !m_watcher.items().isEmpty(); }

private:
    static QStringList systemEnvironment()
    {
        QStringList env;
        for (char** e = environ; *e; ++e)
            env << QString::fromLocal8Bit(*e);
        return env;
    }

    pid_t ownerPid(xcb_window_t window)
    {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            m_xcb, xcb_get_property(m_xcb, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        pid_t pid = 0;
        if (reply && xcb_get_property_value_length(reply) == 4)
            pid = pid_t(*static_cast<uint32_t*>(xcb_get_property_value(reply)));
        free(reply);
        return pid;
    }

    static bool fail(QString* error, const QString& text)
    {
        *error = text;
        return false;
    }

    QTemporaryDir m_home;
    pid_t m_xvfb = 0;
    pid_t m_bus = 0;
    QString m_display;
    QString m_busAddress;
    QString m_busName;
    StandInWatcher m_watcher;
    xcb_connection_t* m_xcb = nullptr;
    xcb_atom_t m_pidAtom = XCB_NONE;
    bool m_mapped = false;
    xcb_window_t m_window = XCB_NONE;
};

QString panelAddress(int i)
{
    return QStringLiteral("127.0.77.%1").arg(i + 1);
}

// The records a pairing leaves, plus what the Razer page writes when the user switches streaming on.
bool writeSettings(const QString& path, int panels)
{
    QJsonObject devices;
    for (int i = 0; i < panels; ++i) {
        const QString id = QStringLiteral("bench-%1").arg(i + 1);
        devices.insert(id, QJsonObject{{QStringLiteral("address"), panelAddress(i)},
                                       {QStringLiteral("port"), 8080},
                                       {QStringLiteral("auth"), QStringLiteral("emulator-key")},
                                       {QStringLiteral("name"), QStringLiteral("Bench PRISM %1").arg(i + 1)},
                                       {QStringLiteral("model"), QStringLiteral("px3")},
                                       {QStringLiteral("id"), id},
                                       {QStringLiteral("index"), i + 1},
                                       {QStringLiteral("stream_enabled"), true},
                                       {QStringLiteral("stream_source"), QStringLiteral("razer")},
                                       {QStringLiteral("razer"),
                                        QJsonObject{{QStringLiteral("color_indexes"), QJsonArray{0, 1, 2}},
                                                    {QStringLiteral("angle"), i % 8},
                                                    {QStringLiteral("show_fading_pixels"), 2}}}});
    }
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) &&
           f.write(QJsonDocument(QJsonObject{{QStringLiteral("devices"), devices},
                                             {QStringLiteral("run_on_start"), false}})
                       .toJson()) > 0;
}

quint64 framesReceived(const std::vector<std::unique_ptr<EmulatedPanel>>& panels)
{
    quint64 sum = 0;
    for (const auto& panel : panels)
        sum += panel->statistics().snapshot().good;
    return sum;
}

Run runOnce(const Options& options, const Scenario& scenario)
{
    Run run;
    Desktop desktop;
    if (!desktop.start(&run.failure))
        return run;

    const QString exe = scenario.useHost ? options.host : options.app;
    std::vector<std::unique_ptr<EmulatedPanel>> panels;
    if (scenario.withPanels) {
        for (int i = 0; i < options.panels; ++i) {
            PanelConfig config;
            config.address = panelAddress(i);
            config.id = QStringLiteral("bench-%1").arg(i + 1);
            config.name = QStringLiteral("Bench PRISM %1").arg(i + 1);
            config.canvas = QSize(16, 16);
            panels.push_back(std::make_unique<EmulatedPanel>(config));
            if (!panels.back()->start(&run.failure))
                return run;
        }
        if (!writeSettings(desktop.settingsFile(QFileInfo(exe).fileName()), options.panels)) {
            run.failure = QStringLiteral("cannot write settings");
            return run;
        }
    }

    run.load = loadAverage();
    const double t0 = monotonicMs();
    const pid_t pid = spawn(options.wrap + QStringList{exe} + scenario.args, desktop.appEnvironment(), -1,
                            !options.verbose);
    auto childAlive = [pid] {
        return waitpid(pid, nullptr, WNOHANG) == 0;
    };
    const bool ready = waitFor(
        [&] {
            if (!childAlive())
                return true;
            return scenario.until == Until::Mapped ? desktop.windowMapped(pid) : desktop.trayItemRegistered();
        },
        options.timeoutMs);
    const double t1 = monotonicMs();
    if (!ready || !childAlive()) {
        run.failure = ready ? QStringLiteral("the application ended early") : QStringLiteral("timed out");
        stopProcess(pid);
        return run;
    }
    run.readyMs = t1 - t0;
    run.cpuAtReadyMs = cpuMs(pid);
    if (scenario.until == Until::Mapped &&
        waitFor([&] { return desktop.windowPainted(); }, options.timeoutMs))
        run.paintedMs = monotonicMs() - t0;

    if (scenario.withPanels) {
        // Settled: every panel asked for by its controller, then the frame rate over the settling time.
        waitFor(
            [&] {
                return std::all_of(panels.begin(), panels.end(), [](const std::unique_ptr<EmulatedPanel>& p) {
                    return p->requestCounts().value(QStringLiteral("device")) > 0;
                });
            },
            options.timeoutMs);
        if (scenario.useHost)
            waitFor(
                [&] {
                    return std::all_of(panels.begin(), panels.end(),
                                       [](const std::unique_ptr<EmulatedPanel>& p) {
                                           return p->statistics().snapshot().good > 0;
                                       });
                },
                options.timeoutMs);
    }
    const quint64 framesBefore = framesReceived(panels);
    const double settleStart = monotonicMs();
    waitFor([] { return false; }, options.settleMs);
    const double settled = (monotonicMs() - settleStart) / 1000.0;
    run.framesPerSecond = double(framesReceived(panels) - framesBefore) / settled;

    if (options.verbose)
        for (const auto& panel : panels) {
            const FrameStatistics::Snapshot s = panel->statistics().snapshot();
            std::printf("  panel %s: %llu good, %llu rejected %s\n", qPrintable(panel->address()),
                        (unsigned long long)s.good, (unsigned long long)s.rejected,
                        qPrintable(QStringList(s.rejectedByReason.keys()).join(QLatin1Char(' '))));
        }
    const QByteArray rollup = readProc(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    run.rssMb = fieldMb(rollup, "Rss");
    run.pssMb = fieldMb(rollup, "Pss");
    run.threads = threadCount(pid);
    run.gl = glMapped(pid);
    run.imagePlugins = imagePluginsMapped(pid);
    run.ok = childAlive();
    if (!run.ok)
        run.failure = QStringLiteral("the application ended while settling");
    stopProcess(pid);
    return run;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

void report(const Scenario& scenario, const QList<Run>& runs)
{
    std::vector<double> ready, painted, cpu, rss, pss, threads, fps, load;
    QStringList gl;
    int imagePlugins = 0;
    for (const Run& r : runs) {
        if (!r.ok)
            continue;
        ready.push_back(r.readyMs);
        painted.push_back(r.paintedMs);
        cpu.push_back(r.cpuAtReadyMs);
        rss.push_back(r.rssMb);
        pss.push_back(r.pssMb);
        threads.push_back(r.threads);
        fps.push_back(r.framesPerSecond);
        load.push_back(r.load);
        for (const QString& lib : r.gl)
            if (!gl.contains(lib))
                gl << lib;
        imagePlugins = std::max(imagePlugins, int(r.imagePlugins.size()));
    }
    if (ready.empty()) {
        std::printf("%-10s no successful run\n", qPrintable(scenario.name));
        return;
    }
    auto best = [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    };
    std::printf(
        "%-10s ready ms best %6.0f median %6.0f | painted ms median %6.0f | cpu ms best %5.0f median %5.0f | "
        "rss MB best %5.1f "
        "median %5.1f | pss MB best %5.1f median %5.1f | threads %2.0f | frames/s %5.0f | load %.2f | "
        "GL driver %s | image plugins %d\n",
        qPrintable(scenario.name), best(ready), median(ready), median(painted), best(cpu), median(cpu),
        best(rss), median(rss), best(pss), median(pss), median(threads), median(fps), median(load),
        gl.isEmpty() ? "none" : qPrintable(gl.join(QLatin1Char(','))), imagePlugins);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Start-up time and memory of the application"));
    parser.addHelpOption();
    const QString buildDir = QCoreApplication::applicationDirPath() + QStringLiteral("/../..");
    QCommandLineOption appOpt(QStringLiteral("app"), QStringLiteral("application executable"),
                              QStringLiteral("path"),
                              buildDir + QStringLiteral("/app/PivotrixEntertainment"));
    QCommandLineOption hostOpt(
        QStringLiteral("host"), QStringLiteral("stand-in page host executable"), QStringLiteral("path"),
        QCoreApplication::applicationDirPath() + QStringLiteral("/bench_startup_host"));
    QCommandLineOption runsOpt(QStringLiteral("runs"), QStringLiteral("runs per scenario"),
                               QStringLiteral("n"), QStringLiteral("5"));
    QCommandLineOption panelsOpt(QStringLiteral("panels"), QStringLiteral("emulated panels"),
                                 QStringLiteral("n"), QStringLiteral("8"));
    QCommandLineOption settleOpt(QStringLiteral("settle-ms"), QStringLiteral("wait before reading memory"),
                                 QStringLiteral("ms"), QStringLiteral("3000"));
    QCommandLineOption onlyOpt(QStringLiteral("only"), QStringLiteral("comma-separated scenarios"),
                               QStringLiteral("names"));
    QCommandLineOption verboseOpt(QStringLiteral("verbose"),
                                  QStringLiteral("pass the application's output through"));
    QCommandLineOption wrapOpt(QStringLiteral("wrap"),
                               QStringLiteral("run the application under this command (a profiler)"),
                               QStringLiteral("command"));
    parser.addOptions({appOpt, hostOpt, runsOpt, panelsOpt, settleOpt, onlyOpt, verboseOpt, wrapOpt});
    parser.process(app);

    Options options;
    options.app = QFileInfo(parser.value(appOpt)).absoluteFilePath();
    options.host = QFileInfo(parser.value(hostOpt)).absoluteFilePath();
    options.runs = std::max(1, parser.value(runsOpt).toInt());
    options.panels = std::clamp(parser.value(panelsOpt).toInt(), 1, 250);
    options.settleMs = std::max(0, parser.value(settleOpt).toInt());
    if (parser.isSet(onlyOpt))
        options.only = parser.value(onlyOpt).split(QLatin1Char(','), Qt::SkipEmptyParts);
    options.verbose = parser.isSet(verboseOpt);
    if (parser.isSet(wrapOpt)) {
        options.wrap = QProcess::splitCommand(parser.value(wrapOpt));
        if (!options.wrap.isEmpty())
            options.wrap[0] = which(options.wrap[0]);
        options.timeoutMs = 600000; // a profiler is tens of times slower
    }
    signal(SIGPIPE, SIG_IGN);

    std::printf("app %s\nhost %s\nruns %d, panels %d, settle %d ms, %d CPUs, load at start %.2f\n",
                qPrintable(options.app), qPrintable(options.host), options.runs, options.panels,
                options.settleMs, QThread::idealThreadCount(), loadAverage());
    int failures = 0;
    QList<QPair<Scenario, QList<Run>>> results;
    for (const Scenario& scenario : scenarios()) {
        if (!options.only.isEmpty() && !options.only.contains(scenario.name))
            continue;
        std::printf("\n%s: %s\n", qPrintable(scenario.name),
                    qPrintable(QString(scenario.what)
                                   .replace(QLatin1String("N "),
                                            QString::number(options.panels) + QLatin1Char(' '))));
        QList<Run> runs;
        for (int i = 0; i < options.runs; ++i) {
            const Run r = runOnce(options, scenario);
            if (r.ok)
                std::printf("  run %d: ready %6.0f ms, painted %6.0f ms, cpu %5.0f ms, rss %5.1f MB, pss "
                            "%5.1f MB, threads %2d, "
                            "frames/s %4.0f, load %.2f%s%s, image plugins: %s\n",
                            i + 1, r.readyMs, r.paintedMs, r.cpuAtReadyMs, r.rssMb, r.pssMb, r.threads,
                            r.framesPerSecond, r.load,
                            r.gl.isEmpty() ? "" : ", GL driver: ", qPrintable(r.gl.join(QLatin1Char(','))),
                            qPrintable(r.imagePlugins.join(QLatin1Char(','))));
            else
                std::printf("  run %d: failed: %s\n", i + 1, qPrintable(r.failure));
            std::fflush(stdout);
            failures += r.ok ? 0 : 1;
            runs << r;
        }
        results << qMakePair(scenario, runs);
    }
    std::printf("\nsummary (ready = exec to window mapped, or to tray item for \"tray\"; cpu = process CPU "
                "time at that moment)\n");
    for (const auto& result : results)
        report(result.first, result.second);
    std::printf("load at end %.2f\n", loadAverage());
    return failures == 0 ? 0 : 1;
}

#include "bench_startup.moc"
