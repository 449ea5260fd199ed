#include "SoakRun.h"

#include "core/ControlBus.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {
const QString kAppName = QStringLiteral("PivotrixEntertainment");
const char* const kModes[] = {"screen", "dominant", "continue"};
const char* const kColourModes[] = {"boosted", "natural"};
constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;
// The application looks at a panel every 15 s (fixed by the product); an outage it is to notice lasts longer.
constexpr int kOnlineCheckMs = 15000;

QString modeName(int mode)
{
    return QString::fromLatin1(kModes[std::clamp(mode, 0, 2)]);
}

QString colourModeName(int mode)
{
    return QString::fromLatin1(kColourModes[std::clamp(mode, 0, 1)]);
}

quint64 goodFrames(const QJsonObject& status)
{
    return quint64(
        status.value(QStringLiteral("frames")).toObject().value(QStringLiteral("good")).toDouble());
}

QByteArray readProc(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// How many descriptors of each kind a process holds: a socket by its table (tcp, udp6, unix and its path
// …), a pipe, an anonymous inode by its kind, a file by its path. Sockets and pipes are made anew all the
// time, so a descriptor left over shows as a kind with more than at the baseline.
QMap<QString, int> descriptorKinds(qint64 pid)
{
    QHash<QByteArray, QString> socketKind;
    for (const char* table : {"tcp", "tcp6", "udp", "udp6", "unix", "netlink"}) {
        const bool isUnix = qstrcmp(table, "unix") == 0;
        const qsizetype inodeField = isUnix ? 6 : 9;
        const QList<QByteArray> lines =
            readProc(QStringLiteral("/proc/%1/net/%2").arg(pid).arg(QLatin1String(table))).split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> f = lines[i].simplified().split(' ');
            if (f.size() > inodeField)
                socketKind.insert(
                    f[inodeField],
                    QString::fromLatin1(table + (isUnix ? " " + f.value(7) : QByteArray())).trimmed());
        }
    }
    QMap<QString, int> kinds;
    const QDir dir(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
        // Not symLinkTarget(): it makes the target absolute, and "socket:[…]" is not a path.
        const QByteArray link = QFile::encodeName(dir.filePath(fd));
        char buffer[512];
        const ssize_t length = ::readlink(link.constData(), buffer, sizeof buffer);
        QString target = QString::fromLocal8Bit(buffer, length > 0 ? int(length) : 0);
        if (target.startsWith(QLatin1String("socket:[")))
            target = socketKind.value(target.mid(8, target.size() - 9).toLatin1(), QStringLiteral("socket"));
        else if (target.startsWith(QLatin1String("pipe:")))
            target = QStringLiteral("pipe");
        ++kinds[target];
    }
    return kinds;
}
} // namespace

SoakRun::SoakRun(const SoakOptions& options)
    : m_options(options)
    , m_random(options.seed)
{
    ControlBus::registerTypes();
    qDBusRegisterMetaType<QList<QVariantMap>>();
    m_clock.start();
    if (!m_options.outDir.isEmpty()) {
        QDir().mkpath(m_options.outDir);
        m_logFile.setFileName(m_options.outDir + QStringLiteral("/soak.log"));
        m_logFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    }
    m_app.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_app, &QProcess::readyRead, [this] {
        const QByteArray chunk = m_app.readAll();
        m_appOutput = (m_appOutput + chunk).right(65536);
        if (m_options.verbose)
            std::fwrite(chunk.constData(), 1, size_t(chunk.size()), stdout);
    });
    QObject::connect(
        &m_app, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
        [this](int code, QProcess::ExitStatus status) {
            m_appEnded = true;
            log(QStringLiteral("the application ended: %1, exit code %2")
                    .arg(status == QProcess::CrashExit ? QStringLiteral("crashed") : QStringLiteral("exited"))
                    .arg(code));
        });
    m_effect.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_effect.setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(&m_effect, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                     [this](int, QProcess::ExitStatus) {
                         if (m_chromaLive)
                             schedule(0, QStringLiteral("Chroma effect goes on"),
                                      [this] { startChromaEffect(); });
                     });
}

SoakRun::~SoakRun()
{
    m_chromaLive = false;
    if (m_effect.state() != QProcess::NotRunning) {
        m_effect.kill();
        m_effect.waitForFinished(3000);
    }
    if (m_app.state() != QProcess::NotRunning) {
        m_app.kill();
        m_app.waitForFinished(5000);
    }
}

void SoakRun::log(const QString& line)
{
    const QString stamped = QStringLiteral("[%1] %2").arg(double(now()) / 1000.0, 7, 'f', 1).arg(line);
    std::printf("%s\n", qPrintable(stamped));
    std::fflush(stdout);
    if (m_logFile.isOpen()) {
        m_logFile.write(stamped.toUtf8() + '\n');
        m_logFile.flush();
    }
}

void SoakRun::trace(const QString& line)
{
    if (m_logFile.isOpen()) {
        m_logFile.write(
            QStringLiteral("[%1] %2\n").arg(double(now()) / 1000.0, 7, 'f', 1).arg(line).toUtf8());
        m_logFile.flush();
    }
}

void SoakRun::fail(const QString& what)
{
    m_failures << QStringLiteral("[%1 s] %2").arg(now() / 1000).arg(what);
    log(QStringLiteral("FAIL: ") + what);
}

int SoakRun::exec()
{
    log(QStringLiteral("seed %1, %2 panels, %3 minutes of chaos, checkpoints every %4 s")
            .arg(m_options.seed)
            .arg(m_options.panels)
            .arg(m_options.minutes)
            .arg(m_options.checkpointSeconds));
    if (!setUp() || !startApplication()) {
        std::printf("%s\n", m_appOutput.right(4000).constData());
        return 2;
    }
    if (checkpoint(QStringLiteral("start"), 90000)) {
        // Qt's idle pool threads end 30 s after their last job: the baseline is taken once they could have.
        pump(35000);
        m_baseline = sample();
        m_baselineDescriptors = descriptorKinds(m_app.processId());
        m_peak = m_baseline;
        log(QStringLiteral("baseline: %1 threads, %2 descriptors, rss %3 MB")
                .arg(m_baseline.threads)
                .arg(m_baseline.fds)
                .arg(m_baseline.rssMb, 0, 'f', 1));
        if (m_options.uiOnly) {
            actUnpair();
            actPair();
        } else {
            chaos(now() + qint64(m_options.minutes * 60000));
        }
        if (!m_appEnded)
            finalChecks();
    }
    if (m_appEnded && m_failures.isEmpty())
        fail(QStringLiteral("the application ended during the soak"));
    if (!m_appEnded)
        stopApplication();

    if (!m_options.outDir.isEmpty()) {
        const QString appLog = m_desktop.filePath(QStringLiteral("data/") + kAppName + QStringLiteral("/") +
                                                  kAppName + QStringLiteral(".log"));
        for (const QString& suffix : {QString(), QStringLiteral(".1")}) {
            QFile::remove(m_options.outDir + QStringLiteral("/app.log") + suffix);
            QFile::copy(appLog + suffix, m_options.outDir + QStringLiteral("/app.log") + suffix);
        }
    }
    QStringList counts;
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it)
        counts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    log(QStringLiteral("actions picked: %1").arg(counts.join(QStringLiteral(", "))));
    log(QStringLiteral("peak: %1 threads, %2 descriptors, rss %3 MB; slowest control answer %4 ms; "
                       "settings read %5 times")
            .arg(m_peak.threads)
            .arg(m_peak.fds)
            .arg(m_peak.rssMb, 0, 'f', 1)
            .arg(m_slowestControlMs)
            .arg(m_settingsReads));
    if (!m_failures.isEmpty()) {
        log(QStringLiteral("SOAK FAILED, %1 failure(s):").arg(m_failures.size()));
        for (const QString& f : qAsConst(m_failures))
            log(QStringLiteral("  ") + f);
        if (!m_options.outDir.isEmpty()) {
            QFile out(m_options.outDir + QStringLiteral("/app-output-tail.log"));
            if (out.open(QIODevice::WriteOnly))
                out.write(m_appOutput);
        }
        return 1;
    }
    log(QStringLiteral("SOAK PASSED"));
    return 0;
}

// ---------------------------------------------------------------------------------------------- set-up

bool SoakRun::setUp()
{
    QString error;
    if (!m_desktop.start(QSize(kScreenWidth, kScreenHeight), &error)) {
        fail(error);
        return false;
    }
    // An idle X server blanks after ten minutes, which the application rightly takes for nobody watching.
    QProcess::execute(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("off")});
    setMonitors(false, true);
    m_desktop.paintRoot(m_rootColour);
    if (!m_ui.connectVia(m_desktop.bus(), &error)) {
        fail(error);
        return false;
    }
    QDir().mkpath(m_desktop.filePath(QStringLiteral("keys")));
    for (int i = 0; i < m_options.panels; ++i) {
        Panel panel;
        const int n = i + 1;
        PanelProcess::Config config;
        config.program = m_options.emulator;
        config.address = QStringLiteral("127.0.%1.%2").arg(m_options.block).arg(n);
        config.id = QStringLiteral("soak-%1-%2").arg(m_options.block).arg(n);
        config.name = QStringLiteral("Soak Panel %1").arg(n);
        config.apiKey = QStringLiteral("soak-key-%1").arg(n);
        config.keyFile = m_desktop.filePath(QStringLiteral("keys/panel-%1.key").arg(n));
        panel.id = config.id;
        panel.process = std::make_unique<PanelProcess>(config);
        // Half mirror the screen, half show the Chroma colours; the last two are paired but switched off.
        panel.source = i % 2 == 0 ? QStringLiteral("mirror") : QStringLiteral("razer");
        panel.enabled = i < m_options.panels - 2;
        panel.mode = i % 3;
        panel.colorMode = (i / 3) % 2;
        if (!panel.process->start(&error)) {
            fail(error + QStringLiteral(" (another run holds the address block? try --block)"));
            return false;
        }
        m_panels.push_back(std::move(panel));
    }
    return writeSettings();
}

bool SoakRun::writeSettings()
{
    QJsonObject devices;
    for (size_t i = 0; i < m_panels.size(); ++i) {
        Panel& p = m_panels[i];
        const PanelProcess::Config& c = p.process->config();
        QJsonObject record{{QStringLiteral("address"), c.address},
                           {QStringLiteral("port"), 8080},
                           {QStringLiteral("auth"), c.apiKey},
                           {QStringLiteral("name"), c.name},
                           {QStringLiteral("model"), QStringLiteral("px3")},
                           {QStringLiteral("id"), c.id},
                           {QStringLiteral("index"), int(i) + 1},
                           {QStringLiteral("stream_enabled"), p.enabled},
                           {QStringLiteral("stream_source"), p.source}};
        record.insert(QStringLiteral("screen_mirror"),
                      QJsonObject{{QStringLiteral("monitor_idx"), int(i / 2) % 2},
                                  {QStringLiteral("effect_mode"), p.mode},
                                  {QStringLiteral("color_mode"), p.colorMode},
                                  {QStringLiteral("effect_type"), 2}});
        record.insert(QStringLiteral("razer"),
                      QJsonObject{{QStringLiteral("color_indexes"), QJsonArray{0, 1, 2, 3, 4}},
                                  {QStringLiteral("angle"), int(i) % 8}});
        p.initial = record;
        devices.insert(c.id, record);
    }
    const QString dir = m_desktop.filePath(QStringLiteral("data/") + kAppName);
    QDir().mkpath(dir);
    QFile file(dir + QStringLiteral("/settings.json"));
    const QJsonObject settings{{QStringLiteral("devices"), devices}, {QStringLiteral("run_on_start"), false}};
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(settings).toJson()) <= 0) {
        fail(QStringLiteral("cannot write %1").arg(file.fileName()));
        return false;
    }
    return true;
}

bool SoakRun::startApplication()
{
    QProcessEnvironment env = m_desktop.environment();
    // Qt speaks to the accessibility bus only when asked to, or when a screen reader runs.
    env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    m_app.setProcessEnvironment(env);
    m_app.start(m_options.app, m_options.verbose ? QStringList{QStringLiteral("--verbose")} : QStringList());
    if (!m_app.waitForStarted(10000)) {
        fail(QStringLiteral("%1 did not start").arg(m_options.app));
        return false;
    }
    const QString service = QString::fromLatin1(ControlBus::kService);
    if (!pumpUntil([&] { return m_appEnded || m_desktop.bus().interface()->isServiceRegistered(service); },
                   60000) ||
        m_appEnded) {
        fail(QStringLiteral("the application never offered its controls on the bus"));
        return false;
    }
    m_appReady = true;
    log(QStringLiteral("application %1 running, pid %2").arg(m_options.app).arg(m_app.processId()));
    // The broadcast's socket appears once the application loaded its library.
    if (!pumpUntil([&] { return chroma({QStringLiteral("live"), QStringLiteral("on")}); }, 20000)) {
        fail(QStringLiteral("the Chroma publisher never reached the application"));
        return false;
    }
    m_chromaLive = true;
    startChromaEffect();
    return true;
}

void SoakRun::stopApplication()
{
    // The Chroma application goes first, or it would find no listener once the application is gone.
    m_chromaLive = false;
    m_effect.kill();
    m_effect.waitForFinished(3000);
    QList<Panel*> streaming;
    for (Panel& p : m_panels) {
        if (p.paired && p.process->isRunning() &&
            p.process->status()
                    .value(QStringLiteral("stream"))
                    .toObject()
                    .value(QStringLiteral("status"))
                    .toString() == QLatin1String("receiving"))
            streaming << &p;
    }
    // A quitting application leaves the bus: the periodic control poll must not count that as a failure.
    m_appReady = false;
    m_app.terminate();
    if (!pumpUntil([this] { return m_appEnded; }, 15000)) {
        fail(QStringLiteral("the application did not end within 15 s of SIGTERM"));
        m_app.kill();
        m_app.waitForFinished(5000);
        return;
    }
    if (m_app.exitStatus() != QProcess::NormalExit || m_app.exitCode() != 0)
        fail(QStringLiteral("the application's exit: status %1, code %2")
                 .arg(m_app.exitStatus())
                 .arg(m_app.exitCode()));
    // The exit stops the streams it ran, as "Exit" in the tray does.
    QStringList left;
    for (Panel* p : qAsConst(streaming)) {
        const QString status = p->process->status()
                                   .value(QStringLiteral("stream"))
                                   .toObject()
                                   .value(QStringLiteral("status"))
                                   .toString();
        if (status == QLatin1String("receiving"))
            left << p->id;
    }
    if (!left.isEmpty())
        fail(QStringLiteral("streams left open by the exit: %1").arg(left.join(QLatin1Char(' '))));
    else
        log(QStringLiteral("the application ended cleanly and stopped its %1 streams").arg(streaming.size()));
}

// ---------------------------------------------------------------------------------------------- the loop

void SoakRun::chaos(qint64 untilMs)
{
    struct Action
    {
        const char* name;
        int weight;
        void (SoakRun::*act)();
    };
    static const Action actions[] = {
        {"toggle", 10, &SoakRun::actToggleStream},
        {"source", 6, &SoakRun::actSource},
        {"mirror-mode", 5, &SoakRun::actMirrorMode},
        {"colour-mode", 3, &SoakRun::actColorMode},
        {"offline", 5, nullptr},
        {"http500", 3, nullptr},
        {"standby", 3, &SoakRun::actStandby},
        {"reboot", 4, &SoakRun::actReboot},
        {"lock", 3, &SoakRun::actLock},
        {"monitors", 3, &SoakRun::actMonitors},
        {"chroma-leaves", 2, &SoakRun::actChromaLeaves},
        {"unpair", 2, &SoakRun::actUnpair},
        {"pair", 3, &SoakRun::actPair},
    };
    int total = 0;
    for (const Action& a : actions)
        total += a.weight;
    qint64 nextCheckpoint = now() + m_options.checkpointSeconds * 1000;
    while (now() < untilMs && !m_appEnded) {
        int roll = std::uniform_int_distribution<int>(0, total - 1)(m_random);
        const Action* chosen = &actions[0];
        for (const Action& a : actions) {
            if (roll < a.weight) {
                chosen = &a;
                break;
            }
            roll -= a.weight;
        }
        ++m_actions[QString::fromLatin1(chosen->name)];
        if (chosen->act)
            (this->*chosen->act)();
        else
            actFault(QString::fromLatin1(chosen->name));
        pump(std::uniform_int_distribution<int>(600, 2500)(m_random));
        if (now() >= nextCheckpoint && now() + 30000 < untilMs) {
            checkpoint(QStringLiteral("at %1 s").arg(now() / 1000), 60000);
            nextCheckpoint = now() + m_options.checkpointSeconds * 1000;
        }
    }
}

void SoakRun::pump(int ms)
{
    const qint64 until = now() + ms;
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        runDueTasks(false);
        periodic();
        QThread::msleep(10);
    } while (now() < until);
}

bool SoakRun::pumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const qint64 until = now() + timeoutMs;
    while (!done()) {
        if (now() > until)
            return false;
        pump(100);
    }
    return true;
}

void SoakRun::schedule(int inMs, const QString& what, std::function<void()> run)
{
    m_tasks.push_back({now() + inMs, what, std::move(run)});
}

void SoakRun::runDueTasks(bool all)
{
    if (m_inTasks)
        return;
    m_inTasks = true;
    for (;;) {
        auto next = std::min_element(m_tasks.begin(), m_tasks.end(),
                                     [](const Task& a, const Task& b) { return a.at < b.at; });
        if (next == m_tasks.end() || (!all && next->at > now()))
            break;
        Task task = std::move(*next);
        m_tasks.erase(next);
        task.run();
    }
    m_inTasks = false;
}

void SoakRun::periodic()
{
    if (m_appEnded)
        return;
    // The picture moves, so the mirror always has news for its panels.
    if (now() - m_lastPaintAt >= 700) {
        m_lastPaintAt = now();
        m_rootColour = (m_rootColour * 1103515245u + 12345u) & 0xffffff;
        m_desktop.paintRoot(m_rootColour);
    }
    // Whenever it is read, the settings file is whole: written aside and renamed over, never half.
    if (now() - m_lastSettingsAt >= 3000) {
        m_lastSettingsAt = now();
        QJsonObject devices;
        QString why;
        if (!parseSettings(&devices, &why))
            fail(QStringLiteral("settings.json unreadable while running: %1").arg(why));
        ++m_settingsReads;
    }
    if (m_appReady && now() - m_lastControlAt >= 5000 && !m_inTasks) {
        m_lastControlAt = now();
        bool ok = false;
        int took = 0;
        listDevices(&ok, &took);
        m_slowestControlMs = std::max(m_slowestControlMs, took);
        if (!ok)
            fail(QStringLiteral("the control service did not answer ListDevices within 5 s"));
        else if (took > 2000)
            log(QStringLiteral("slow control answer: %1 ms").arg(took));
    }
    if (m_lastSampleAt < 0 || now() - m_lastSampleAt >= 5000) {
        m_lastSampleAt = now();
        const Sample s = sample();
        m_peak.threads = std::max(m_peak.threads, s.threads);
        m_peak.fds = std::max(m_peak.fds, s.fds);
        m_peak.rssMb = std::max(m_peak.rssMb, s.rssMb);
        if (m_lastPrintAt < 0 || now() - m_lastPrintAt >= 30000) {
            m_lastPrintAt = now();
            int unpaired = 0, troubled = 0;
            for (const Panel& p : m_panels) {
                unpaired += p.paired ? 0 : 1;
                troubled += p.troubled ? 1 : 0;
            }
            log(QStringLiteral(
                    "sample: threads %1, descriptors %2, rss %3 MB | panels in trouble %4, unpaired %5%6")
                    .arg(s.threads)
                    .arg(s.fds)
                    .arg(s.rssMb, 0, 'f', 1)
                    .arg(troubled)
                    .arg(unpaired)
                    .arg(locked() ? QStringLiteral(", locked") : QString()));
        }
    }
}

// ---------------------------------------------------------------------------------------------- helpers

QList<QVariantMap> SoakRun::listDevices(bool* ok, int* tookMs)
{
    QElapsedTimer clock;
    clock.start();
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(ControlBus::kService), QString::fromLatin1(ControlBus::kPath),
        QString::fromLatin1(ControlBus::kInterface), QStringLiteral("ListDevices"));
    const QDBusMessage reply = m_desktop.bus().call(call, QDBus::Block, 5000);
    if (tookMs)
        *tookMs = int(clock.elapsed());
    *ok = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
    return *ok ? qdbus_cast<QList<QVariantMap>>(reply.arguments().first()) : QList<QVariantMap>();
}

bool SoakRun::control(const QString& method, const QVariantList& args, QString* error)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(ControlBus::kService),
                                                       QString::fromLatin1(ControlBus::kPath),
                                                       QString::fromLatin1(ControlBus::kInterface), method);
    call.setArguments(args);
    const QDBusMessage reply = m_desktop.bus().call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = reply.errorMessage();
    fail(QStringLiteral("%1 %2 refused: %3").arg(method, args.value(0).toString(), reply.errorMessage()));
    return false;
}

bool SoakRun::commandLine(const QStringList& args)
{
    QProcess cli;
    cli.setProcessEnvironment(m_desktop.environment());
    cli.setProcessChannelMode(QProcess::MergedChannels);
    cli.start(m_options.app, args);
    if (!cli.waitForFinished(15000) || cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
        fail(QStringLiteral("command line %1: exit %2: %3")
                 .arg(args.join(QLatin1Char(' ')))
                 .arg(cli.exitCode())
                 .arg(QString::fromLocal8Bit(cli.readAll()).trimmed()));
        cli.kill();
        cli.waitForFinished(2000);
        return false;
    }
    return true;
}

bool SoakRun::chroma(const QStringList& args)
{
    QProcess publisher;
    publisher.setProcessEnvironment(m_desktop.environment());
    publisher.setProcessChannelMode(QProcess::MergedChannels);
    publisher.start(m_options.publisher, args);
    return publisher.waitForFinished(10000) && publisher.exitStatus() == QProcess::NormalExit &&
           publisher.exitCode() == 0;
}

void SoakRun::startChromaEffect()
{
    if (!m_chromaLive || m_effect.state() != QProcess::NotRunning)
        return;
    m_effect.setProcessEnvironment(m_desktop.environment());
    m_effect.start(m_options.publisher,
                   {QStringLiteral("effect"), QStringLiteral("--seconds"), QStringLiteral("120"),
                    QStringLiteral("--frame-ms"), QStringLiteral("50")});
}

bool SoakRun::restartPanel(Panel& panel)
{
    QString error;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (panel.process->start(&error)) {
            panel.down = false;
            return true;
        }
        pump(500);
    }
    fail(QStringLiteral("panel %1 would not start again: %2").arg(panel.id, error));
    return false;
}

void SoakRun::setMonitors(bool extra, bool right)
{
    // The default monitor covers the screen; "right" its right half, "extra" a corner: monitor 0, 1, 2.
    if (right != m_rightMonitor) {
        if (right)
            m_desktop.xrandr({QStringLiteral("--setmonitor"), QStringLiteral("right"),
                              QStringLiteral("960/254x1080/286+960+0"), QStringLiteral("none")});
        else
            m_desktop.xrandr({QStringLiteral("--delmonitor"), QStringLiteral("right")});
        m_rightMonitor = right;
    }
    if (extra != m_extraMonitor) {
        if (extra)
            m_desktop.xrandr({QStringLiteral("--setmonitor"), QStringLiteral("extra"),
                              QStringLiteral("640/169x360/95+1280+720"), QStringLiteral("none")});
        else
            m_desktop.xrandr({QStringLiteral("--delmonitor"), QStringLiteral("extra")});
        m_extraMonitor = extra;
    }
}

SoakRun::Sample SoakRun::sample() const
{
    Sample s;
    const qint64 pid = m_app.processId();
    if (pid <= 0)
        return s;
    for (const QByteArray& line : readProc(QStringLiteral("/proc/%1/status").arg(pid)).split('\n')) {
        if (line.startsWith("Threads:"))
            s.threads = line.mid(8).trimmed().toInt();
        else if (line.startsWith("VmRSS:"))
            s.rssMb = line.mid(6).simplified().split(' ').value(0).toDouble() / 1024.0;
    }
    s.fds = int(QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                    .size());
    return s;
}

bool SoakRun::parseSettings(QJsonObject* devices, QString* why) const
{
    QFile file(m_desktop.filePath(QStringLiteral("data/") + kAppName + QStringLiteral("/settings.json")));
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return false;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (!doc.isObject()) {
        *why = error.errorString();
        return false;
    }
    const QJsonValue list = doc.object().value(QStringLiteral("devices"));
    if (!list.isObject()) {
        *why = QStringLiteral("no \"devices\" object");
        return false;
    }
    *devices = list.toObject();
    return true;
}

// Which of `panels` receive frames now: a session open and good frames arriving over one second.
bool SoakRun::streamsNow(const QList<Panel*>& panels, QSet<Panel*>* receiving)
{
    QHash<Panel*, quint64> before;
    for (Panel* p : panels)
        if (p->process->isRunning())
            before.insert(p, goodFrames(p->process->status()));
    pump(1000);
    receiving->clear();
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const QJsonObject status = it.key()->process->status();
        const bool open =
            status.value(QStringLiteral("stream")).toObject().value(QStringLiteral("status")).toString() ==
            QLatin1String("receiving");
        if (goodFrames(status) >= it.value() + 5 && open)
            receiving->insert(it.key());
    }
    return true;
}

QList<SoakRun::Panel*> SoakRun::pairedPanels()
{
    QList<Panel*> paired;
    for (Panel& p : m_panels)
        if (p.paired)
            paired << &p;
    return paired;
}

SoakRun::Panel* SoakRun::pick(const std::function<bool(const Panel&)>& eligible)
{
    QList<Panel*> candidates;
    for (Panel& p : m_panels)
        if (eligible(p))
            candidates << &p;
    if (candidates.isEmpty())
        return nullptr;
    return candidates.at(std::uniform_int_distribution<int>(0, candidates.size() - 1)(m_random));
}

// ---------------------------------------------------------------------------------------------- checks

bool SoakRun::checkpoint(const QString& label, int timeoutMs)
{
    // Every trouble ends now, in the order it was meant to: what follows must settle.
    runDueTasks(true);
    for (Panel& p : m_panels) {
        if (p.down || !p.process->isRunning())
            restartPanel(p);
        if (p.troubled) {
            p.process->control({{QStringLiteral("fault"), QStringLiteral("none")}});
            p.troubled = false;
        }
    }
    if (m_locked)
        m_desktop.sendLock(m_locked = false);
    if (m_asleep)
        m_desktop.sendSleep(m_asleep = false);
    if (!m_chromaLive) {
        m_chromaLive = chroma({QStringLiteral("live"), QStringLiteral("on")});
        startChromaEffect();
    }
    setMonitors(false, true);

    const qint64 started = now();
    QStringList problems;
    while (!m_appEnded) {
        pump(500);
        bool ok = false;
        const QList<QVariantMap> devices = listDevices(&ok);
        QHash<QString, QVariantMap> byId;
        for (const QVariantMap& d : devices)
            byId.insert(d.value(QStringLiteral("id")).toString(), d);
        problems.clear();
        if (!ok)
            problems << QStringLiteral("no answer to ListDevices");
        for (Panel& p : m_panels) {
            const QVariantMap d = byId.value(p.id);
            if (p.paired != !d.isEmpty()) {
                problems << QStringLiteral("%1 %2 paired")
                                .arg(p.id, p.paired ? QLatin1String("is not") : QLatin1String("is still"));
                continue;
            }
            if (!p.paired)
                continue;
            // The panel left its stream (or rebooted) and the application took that as the user's wish: the
            // user switches it on again, as one would.
            if (p.mayDrop && p.enabled && !d.value(QStringLiteral("streaming")).toBool()) {
                log(QStringLiteral("%1 was switched off when its stream ended; switching it on again")
                        .arg(p.id));
                control(QStringLiteral("SetStreaming"), {p.id, true});
                p.mayDrop = false;
                problems << QStringLiteral("%1 switched on again").arg(p.id);
                continue;
            }
            if (!d.value(QStringLiteral("online")).toBool())
                problems << QStringLiteral("%1 not online").arg(p.id);
            if (d.value(QStringLiteral("streaming")).toBool() != p.enabled)
                problems << QStringLiteral("%1 switch %2, asked %3")
                                .arg(p.id, d.value(QStringLiteral("streaming")).toString(),
                                     p.enabled ? QLatin1String("on") : QLatin1String("off"));
            if (d.value(QStringLiteral("source")).toString() != p.source)
                problems << QStringLiteral("%1 source %2, asked %3")
                                .arg(p.id, d.value(QStringLiteral("source")).toString(), p.source);
            if (d.value(QStringLiteral("mirror_mode")).toString() != modeName(p.mode))
                problems << QStringLiteral("%1 mirror mode %2, asked %3")
                                .arg(p.id, d.value(QStringLiteral("mirror_mode")).toString(),
                                     modeName(p.mode));
            if (d.value(QStringLiteral("color_mode")).toString() != colourModeName(p.colorMode))
                problems << QStringLiteral("%1 colour mode %2, asked %3")
                                .arg(p.id, d.value(QStringLiteral("color_mode")).toString(),
                                     colourModeName(p.colorMode));
        }
        QList<Panel*> all;
        for (Panel& p : m_panels)
            all << &p;
        QSet<Panel*> receiving;
        streamsNow(all, &receiving);
        int streaming = 0;
        for (Panel* p : qAsConst(all)) {
            // With no Chroma colour ticked the generator has nothing to paint: no frames, as meant.
            const bool wanted =
                p->paired && p->enabled && (p->hasColours || p->source != QLatin1String("razer"));
            const bool dark = p->paired && p->enabled && !wanted;
            if (wanted && !receiving.contains(p))
                problems << QStringLiteral("%1 gets no frames").arg(p->id);
            else if (!wanted && !dark && receiving.contains(p))
                problems << QStringLiteral("%1 gets frames though %2")
                                .arg(p->id,
                                     p->paired ? QLatin1String("switched off") : QLatin1String("unpaired"));
            streaming += receiving.contains(p) ? 1 : 0;
        }
        if (problems.isEmpty()) {
            for (Panel& p : m_panels)
                p.mayDrop = false;
            log(QStringLiteral("checkpoint %1: settled after %2 s, %3 panels streaming as asked, %4 paired")
                    .arg(label)
                    .arg(double(now() - started) / 1000.0, 0, 'f', 1)
                    .arg(streaming)
                    .arg(pairedPanels().size()));
            return true;
        }
        if (now() - started > timeoutMs)
            break;
    }
    fail(QStringLiteral("checkpoint %1 did not settle in %2 s: %3")
             .arg(label)
             .arg(timeoutMs / 1000)
             .arg(problems.join(QStringLiteral("; "))));
    return false;
}

bool SoakRun::restoreInitialChoices()
{
    for (Panel& p : m_panels) {
        if (!p.paired)
            actPair();
    }
    bool ok = true;
    for (Panel& p : m_panels) {
        if (!p.paired) {
            fail(QStringLiteral("%1 could not be paired again").arg(p.id));
            ok = false;
            continue;
        }
        p.source = p.initial.value(QStringLiteral("stream_source")).toString();
        p.enabled = p.initial.value(QStringLiteral("stream_enabled")).toBool();
        const QJsonObject mirror = p.initial.value(QStringLiteral("screen_mirror")).toObject();
        p.mode = mirror.value(QStringLiteral("effect_mode")).toInt();
        p.colorMode = mirror.value(QStringLiteral("color_mode")).toInt();
        ok = control(QStringLiteral("SetSource"), {p.id, p.source}) &&
             control(QStringLiteral("SetStreaming"), {p.id, p.enabled}) &&
             control(QStringLiteral("SetMirrorMode"), {p.id, modeName(p.mode)}) &&
             control(QStringLiteral("SetColorMode"), {p.id, colourModeName(p.colorMode)}) && ok;
    }
    return ok;
}

void SoakRun::finalChecks()
{
    log(QStringLiteral("chaos over; every panel back, the session unlocked"));
    checkpoint(QStringLiteral("end of chaos"), 90000);

    // The settings file holds every paired panel with what was asked of it, and the key it takes now.
    QJsonObject devices;
    QString why;
    if (!parseSettings(&devices, &why)) {
        fail(QStringLiteral("settings.json unreadable at the end: %1").arg(why));
    } else {
        QStringList wrong;
        for (Panel& p : m_panels) {
            const QJsonObject r = devices.value(p.id).toObject();
            if (!p.paired) {
                if (!r.isEmpty())
                    wrong << QStringLiteral("%1 unpaired but still stored").arg(p.id);
                continue;
            }
            const QJsonObject mirror = r.value(QStringLiteral("screen_mirror")).toObject();
            if (r.isEmpty())
                wrong << QStringLiteral("%1 missing").arg(p.id);
            else if (r.value(QStringLiteral("address")).toString() != p.process->config().address ||
                     r.value(QStringLiteral("auth")).toString() != p.process->key() ||
                     r.value(QStringLiteral("stream_enabled")).toBool() != p.enabled ||
                     r.value(QStringLiteral("stream_source")).toString() != p.source ||
                     mirror.value(QStringLiteral("effect_mode")).toInt() != p.mode ||
                     mirror.value(QStringLiteral("color_mode")).toInt() != p.colorMode)
                wrong << QStringLiteral("%1 stored as %2")
                             .arg(p.id, QString::fromUtf8(QJsonDocument(r).toJson(QJsonDocument::Compact)));
        }
        if (devices.size() != pairedPanels().size())
            wrong << QStringLiteral("%1 records for %2 paired panels")
                         .arg(devices.size())
                         .arg(pairedPanels().size());
        if (wrong.isEmpty())
            log(QStringLiteral("settings.json holds the %1 paired panels with their choices and keys")
                    .arg(devices.size()));
        else
            fail(QStringLiteral("settings.json: %1").arg(wrong.join(QStringLiteral("; "))));
    }

    // Back to where it started: the same panels paired, asked for the same, nobody in trouble.
    log(QStringLiteral("restoring the first choices for the resource comparison"));
    if (!restoreInitialChoices())
        return;
    if (!checkpoint(QStringLiteral("first choices again"), 90000))
        return;
    // Idle worker threads of Qt's pools end 30 s after their last job.
    Sample end;
    const qint64 started = now();
    do {
        pump(5000);
        end = sample();
    } while (now() - started < 90000 && (end.threads > m_baseline.threads || end.fds > m_baseline.fds));
    const double allowedMb = std::max(20.0, m_baseline.rssMb * 0.25);
    log(QStringLiteral("end: %1 threads (baseline %2), %3 descriptors (baseline %4), rss %5 MB (baseline %6, "
                       "allowed up to +%7 MB)")
            .arg(end.threads)
            .arg(m_baseline.threads)
            .arg(end.fds)
            .arg(m_baseline.fds)
            .arg(end.rssMb, 0, 'f', 1)
            .arg(m_baseline.rssMb, 0, 'f', 1)
            .arg(allowedMb, 0, 'f', 0));
    if (end.threads > m_baseline.threads)
        fail(QStringLiteral("threads did not come back: %1, baseline %2")
                 .arg(end.threads)
                 .arg(m_baseline.threads));
    if (end.fds > m_baseline.fds) {
        const QMap<QString, int> now = descriptorKinds(m_app.processId());
        QMap<QString, int> all = m_baselineDescriptors;
        all.insert(now);
        QStringList changed;
        for (const QString& kind : all.keys()) {
            if (now.value(kind) != m_baselineDescriptors.value(kind))
                changed << QStringLiteral("%1 %2 -> %3")
                               .arg(kind)
                               .arg(m_baselineDescriptors.value(kind))
                               .arg(now.value(kind));
        }
        fail(QStringLiteral("descriptors did not come back: %1, baseline %2; by kind: %3")
                 .arg(end.fds)
                 .arg(m_baseline.fds)
                 .arg(changed.join(QStringLiteral(", "))));
    }
    if (!m_options.checkMemory)
        log(QStringLiteral("memory not checked (--no-memory-check)"));
    else if (end.rssMb > m_baseline.rssMb + allowedMb)
        fail(QStringLiteral("memory grew: rss %1 MB, baseline %2 MB")
                 .arg(end.rssMb, 0, 'f', 1)
                 .arg(m_baseline.rssMb, 0, 'f', 1));
    for (const Panel& p : m_panels) {
        if (p.process->endedUnasked())
            log(QStringLiteral("note: emulator of %1 ended by itself: %2")
                    .arg(p.id, QString::fromLocal8Bit(p.process->output().right(500))));
    }
}

// ---------------------------------------------------------------------------------------------- actions

void SoakRun::actToggleStream()
{
    Panel* p = pick([](const Panel& c) { return c.paired && !c.mayDrop; });
    if (!p)
        return;
    const bool on = std::uniform_int_distribution<int>(0, 99)(m_random) < 65;
    // Now and then by the command line, as a hotkey would.
    const bool byCommandLine = std::uniform_int_distribution<int>(0, 4)(m_random) == 0;
    const bool done = byCommandLine ? commandLine({QStringLiteral("--stream"),
                                                   on ? QStringLiteral("on") : QStringLiteral("off"), p->id})
                                    : control(QStringLiteral("SetStreaming"), {p->id, on});
    trace(QStringLiteral("stream %1 %2%3")
              .arg(p->id, on ? QLatin1String("on") : QLatin1String("off"),
                   byCommandLine ? QLatin1String(" (command line)") : QLatin1String("")));
    if (!done)
        return;
    p->enabled = on;
    if (p->source != QLatin1String("razer"))
        p->source = QStringLiteral("mirror");
}

void SoakRun::actSource()
{
    Panel* p = pick([](const Panel& c) { return c.paired && !c.mayDrop; });
    if (!p)
        return;
    const QString source = std::uniform_int_distribution<int>(0, 1)(m_random) ? QStringLiteral("razer")
                                                                              : QStringLiteral("mirror");
    trace(QStringLiteral("source %1 %2").arg(p->id, source));
    if (control(QStringLiteral("SetSource"), {p->id, source}))
        p->source = source;
}

void SoakRun::actMirrorMode()
{
    Panel* p = pick([](const Panel& c) { return c.paired; });
    if (!p)
        return;
    const int mode = std::uniform_int_distribution<int>(0, 2)(m_random);
    const bool byCommandLine = std::uniform_int_distribution<int>(0, 4)(m_random) == 0;
    trace(QStringLiteral("mirror mode %1 %2").arg(p->id, modeName(mode)));
    if (byCommandLine ? commandLine({QStringLiteral("--mirror-mode"), modeName(mode), p->id})
                      : control(QStringLiteral("SetMirrorMode"), {p->id, modeName(mode)}))
        p->mode = mode;
}

void SoakRun::actColorMode()
{
    Panel* p = pick([](const Panel& c) { return c.paired; });
    if (!p)
        return;
    const int mode = std::uniform_int_distribution<int>(0, 1)(m_random);
    trace(QStringLiteral("colour mode %1 %2").arg(p->id, colourModeName(mode)));
    if (control(QStringLiteral("SetColorMode"), {p->id, colourModeName(mode)}))
        p->colorMode = mode;
}

void SoakRun::actFault(const QString& fault)
{
    Panel* p = pick([](const Panel& c) { return !c.troubled && !c.down; });
    if (!p || !p->process->control({{QStringLiteral("fault"), fault}}))
        return;
    p->troubled = true;
    // An unplugged panel loses its session; back, it reports standby, which the application may take for the
    // panel leaving the stream by itself.
    if (fault == QLatin1String("offline"))
        p->mayDrop = p->paired;
    // Short blips the application may never see, and outages longer than its online check.
    const int holdMs =
        std::uniform_int_distribution<int>(0, 2)(m_random) == 0
            ? std::uniform_int_distribution<int>(kOnlineCheckMs + 1000, kOnlineCheckMs + 8000)(m_random)
            : std::uniform_int_distribution<int>(500, 6000)(m_random);
    trace(QStringLiteral("%1 %2 for %3 ms").arg(fault, p->id).arg(holdMs));
    schedule(holdMs, fault + QStringLiteral(" ends"), [this, p] {
        trace(QStringLiteral("%1 back").arg(p->id));
        p->process->control({{QStringLiteral("fault"), QStringLiteral("none")}});
        p->troubled = false;
    });
}

void SoakRun::actStandby()
{
    Panel* p = pick([](const Panel& c) { return c.paired && !c.troubled && !c.down; });
    if (!p || !p->process->control({{QStringLiteral("standby"), true}}))
        return;
    trace(QStringLiteral("standby %1").arg(p->id));
    p->mayDrop = true;
}

void SoakRun::actReboot()
{
    Panel* p = pick([](const Panel& c) { return !c.troubled && !c.down; });
    if (!p)
        return;
    p->process->kill();
    p->down = true;
    p->troubled = true;
    p->mayDrop = p->paired;
    const int offMs =
        std::uniform_int_distribution<int>(0, 1)(m_random)
            ? std::uniform_int_distribution<int>(200, 3000)(m_random)
            : std::uniform_int_distribution<int>(kOnlineCheckMs + 1000, kOnlineCheckMs + 8000)(m_random);
    trace(QStringLiteral("reboot %1, off for %2 ms").arg(p->id).arg(offMs));
    schedule(offMs, QStringLiteral("reboot ends"), [this, p] {
        trace(QStringLiteral("%1 boots").arg(p->id));
        if (p->down)
            restartPanel(*p);
        p->troubled = false;
    });
}

void SoakRun::actLock()
{
    if (locked())
        return;
    const int kind = std::uniform_int_distribution<int>(0, 2)(m_random);
    if (kind == 0) {
        m_desktop.sendLock(m_locked = true);
    } else if (kind == 1) {
        m_desktop.sendSleep(m_asleep = true);
    } else {
        // The screen saver comes on: nobody watches, as with a lock.
        QProcess::execute(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("activate")});
        m_locked = true;
    }
    trace(QStringLiteral("%1").arg(kind == 0   ? QLatin1String("lock")
                                   : kind == 1 ? QLatin1String("sleep")
                                               : QLatin1String("screen saver")));
    auto counts = std::make_shared<QHash<Panel*, quint64>>();
    schedule(3000, QStringLiteral("quiet while locked, first look"), [this, counts] {
        for (Panel& p : m_panels)
            if (p.process->isRunning())
                counts->insert(&p, goodFrames(p.process->status()));
    });
    schedule(4500, QStringLiteral("quiet while locked, second look"), [this, counts] {
        QStringList noisy;
        for (auto it = counts->cbegin(); it != counts->cend(); ++it) {
            if (it.key()->process->isRunning() && goodFrames(it.key()->process->status()) > it.value())
                noisy << it.key()->id;
        }
        if (!noisy.isEmpty())
            fail(QStringLiteral("frames while nobody could see the desktop: %1")
                     .arg(noisy.join(QLatin1Char(' '))));
    });
    schedule(
        std::uniform_int_distribution<int>(5000, 9000)(m_random), QStringLiteral("unlock"), [this, kind] {
            trace(QStringLiteral("unlock / wake"));
            if (kind == 0 && m_locked)
                m_desktop.sendLock(m_locked = false);
            else if (kind == 1 && m_asleep)
                m_desktop.sendSleep(m_asleep = false);
            else if (kind == 2 && m_locked) {
                QProcess::execute(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("reset")});
                m_locked = false;
            }
        });
}

void SoakRun::actMonitors()
{
    const bool extra = std::uniform_int_distribution<int>(0, 1)(m_random);
    const bool right = std::uniform_int_distribution<int>(0, 1)(m_random);
    trace(QStringLiteral("monitors: extra %1, right %2").arg(extra).arg(right));
    setMonitors(extra, right);
    schedule(std::uniform_int_distribution<int>(3000, 30000)(m_random), QStringLiteral("monitors back"),
             [this] { setMonitors(false, true); });
}

void SoakRun::actChromaLeaves()
{
    if (!m_chromaLive)
        return;
    trace(QStringLiteral("Chroma application leaves"));
    m_chromaLive = false;
    m_effect.kill();
    m_effect.waitForFinished(3000);
    if (!chroma({QStringLiteral("live"), QStringLiteral("off")}))
        fail(QStringLiteral("chroma-publisher live off failed"));
    schedule(std::uniform_int_distribution<int>(2000, 10000)(m_random), QStringLiteral("Chroma back"),
             [this] {
                 m_chromaLive = chroma({QStringLiteral("live"), QStringLiteral("on")});
                 if (!m_chromaLive)
                     fail(QStringLiteral("chroma-publisher live on failed"));
                 startChromaEffect();
             });
}

// ---------------------------------------------------------------------------------------------- the window

bool SoakRun::click(const QPoint& at)
{
    QProcess xdotool;
    xdotool.setProcessEnvironment(m_desktop.environment());
    // No "--sync": it waits for a motion that never comes when the pointer is there already.
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                   QStringLiteral("sleep"), QStringLiteral("0.1"), QStringLiteral("click"),
                   QStringLiteral("1")});
    const bool ok = xdotool.waitForFinished(5000) && xdotool.exitCode() == 0;
    pump(300);
    return ok;
}

AccessibleUi::Node SoakRun::mainWindow()
{
    for (const AccessibleUi::Node& w : m_ui.windows(kAppName)) {
        if (m_ui.name(w) == QLatin1String("Pivotrix Entertainment"))
            return w;
    }
    return {};
}

bool SoakRun::openDevicesTab(AccessibleUi::Node* list)
{
    AccessibleUi::Node window;
    if (!pumpUntil([&] { return (window = mainWindow()).isValid(); }, 20000)) {
        fail(QStringLiteral("the main window is not on the accessibility bus"));
        return false;
    }
    const AccessibleUi::Node tab =
        m_ui.findNamed(window, QStringLiteral("page tab"), QStringLiteral("Pivotrix Devices"));
    if (!tab.isValid() || !click(m_ui.extents(tab).center())) {
        fail(QStringLiteral("no \"Pivotrix Devices\" tab to click"));
        return false;
    }
    // The list of rows, shown once any row is.
    *list = m_ui.findNamed(window, QStringLiteral("filler"), QStringLiteral("Devices"));
    return true;
}

// The rows' "Pair" and "Unpair" buttons in the order of the rows; rows on their way out are hidden.
QList<AccessibleUi::Node> SoakRun::rowButtons(const AccessibleUi::Node& from, int depth)
{
    QList<AccessibleUi::Node> buttons;
    for (const AccessibleUi::Node& child : m_ui.children(from)) {
        const QString name = m_ui.name(child);
        if (m_ui.role(child) == QLatin1String("push button")) {
            if ((name == QLatin1String("Pair") || name == QLatin1String("Unpair")) && m_ui.showing(child))
                buttons << child;
        } else if (depth < 6) {
            buttons << rowButtons(child, depth + 1);
        }
    }
    return buttons;
}

// Clicks the button of row `row` ("Pair" or "Unpair"), scrolled into view.
bool SoakRun::pressRowButton(int row, int expectedRows)
{
    AccessibleUi::Node list;
    if (!openDevicesTab(&list))
        return false;
    QList<AccessibleUi::Node> rows;
    if (!pumpUntil(
            [&] {
                if (!list.isValid())
                    openDevicesTab(&list);
                rows = list.isValid() ? rowButtons(list) : QList<AccessibleUi::Node>();
                return rows.size() == expectedRows;
            },
            10000)) {
        fail(QStringLiteral("the devices list has %1 rows, not %2").arg(rows.size()).arg(expectedRows));
        return false;
    }
    // A wheel step moves more than a row: the scroll bar's arrows (at the list's right edge) move less, so
    // the row comes to rest in view instead of being stepped over.
    const QRect view = m_ui.extents(list);
    QRect target;
    const auto buttonOf = [](const QRect& r) {
        return r.center();
    };
    const auto inView = [&] {
        const QPoint at = buttonOf(target);
        return at.y() > view.top() + 10 && at.y() < view.bottom() - 10;
    };
    for (int step = 0; step < 120; ++step) {
        target = m_ui.extents(rows.at(row));
        if (inView())
            break;
        const bool up = buttonOf(target).y() <= view.top() + 10;
        click(QPoint(view.right() - 7, up ? view.top() + 7 : view.bottom() - 7));
    }
    if (!inView()) {
        fail(QStringLiteral("row %1 at (%2,%3 %4x%5) would not scroll into the list at (%6,%7 %8x%9)")
                 .arg(row)
                 .arg(target.x())
                 .arg(target.y())
                 .arg(target.width())
                 .arg(target.height())
                 .arg(view.x())
                 .arg(view.y())
                 .arg(view.width())
                 .arg(view.height()));
        if (!m_options.outDir.isEmpty())
            m_desktop.grab(QRect(0, 0, kScreenWidth, kScreenHeight))
                .save(m_options.outDir + QStringLiteral("/rows.png"));
        return false;
    }
    return click(buttonOf(target));
}

void SoakRun::actUnpair()
{
    // Nobody uses the window of a locked session; a click would also end a screen saver.
    if (locked())
        return;
    // One panel away at a time: its row is then the only one without a pairing.
    for (const Panel& p : m_panels)
        if (!p.paired)
            return;
    Panel* p = pick([](const Panel& c) { return c.paired && !c.troubled && !c.down && !c.mayDrop; });
    if (!p)
        return;
    bool ok = false;
    const QList<QVariantMap> devices = listDevices(&ok);
    int row = -1;
    for (int i = 0; i < devices.size(); ++i)
        if (devices.at(i).value(QStringLiteral("id")).toString() == p->id)
            row = i;
    if (row < 0) {
        fail(QStringLiteral("%1 is not listed").arg(p->id));
        return;
    }
    log(QStringLiteral("unpairing %1 (row %2) in the window").arg(p->id).arg(row));
    if (!pressRowButton(row, devices.size()))
        return;
    QStringList ids;
    if (!pumpUntil(
            [&] {
                ids.clear();
                for (const QVariantMap& d : listDevices(&ok))
                    ids << d.value(QStringLiteral("id")).toString();
                return ids.size() < devices.size();
            },
            10000)) {
        fail(QStringLiteral("Unpair on %1's row did nothing").arg(p->id));
        return;
    }
    if (ids.contains(p->id)) {
        fail(QStringLiteral("Unpair on %1's row unpaired another panel").arg(p->id));
        for (Panel& other : m_panels)
            other.paired = ids.contains(other.id);
        return;
    }
    p->paired = false;
    p->mayDrop = false;
    // An unpaired panel is let go: its stream ends.
    schedule(5000, QStringLiteral("unpaired panel let go"), [this, p] {
        QSet<Panel*> receiving;
        streamsNow({p}, &receiving);
        if (!p->paired && receiving.contains(p))
            fail(QStringLiteral("%1 still gets frames 5 s after it was unpaired").arg(p->id));
    });
}

bool SoakRun::pickChallengeColour(Panel& panel)
{
    QString lit;
    if (!pumpUntil(
            [&] {
                const QJsonObject pairing =
                    panel.process->status().value(QStringLiteral("pairing")).toObject();
                lit = pairing.value(QStringLiteral("lit_color")).toString();
                return pairing.value(QStringLiteral("state")).toString() == QLatin1String("in-progress") &&
                       !lit.isEmpty();
            },
            10000)) {
        fail(QStringLiteral("%1 never lit a colour to pair with").arg(panel.id));
        return false;
    }
    AccessibleUi::Node dialog;
    if (!pumpUntil(
            [&] {
                for (const AccessibleUi::Node& w : m_ui.windows(kAppName))
                    if (m_ui.name(w) == QLatin1String("Pairing"))
                        dialog = w;
                return dialog.isValid();
            },
            10000)) {
        fail(QStringLiteral("no \"Pairing\" window"));
        return false;
    }
    // The swatches fade to the panel's colours in 300 ms.
    pump(800);
    const QRect area = m_ui.extents(dialog);
    const QImage shot = m_desktop.grab(area);
    const QColor wanted(lit);
    qint64 sx = 0, sy = 0, count = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (std::abs(c.red() - wanted.red()) <= 6 && std::abs(c.green() - wanted.green()) <= 6 &&
                std::abs(c.blue() - wanted.blue()) <= 6) {
                sx += x;
                sy += y;
                ++count;
            }
        }
    }
    if (count < 400) {
        fail(QStringLiteral("the colour %1 the panel shows is not among the swatches (%2 pixels)")
                 .arg(lit)
                 .arg(count));
        if (!m_options.outDir.isEmpty())
            shot.save(m_options.outDir + QStringLiteral("/pairing-dialog.png"));
        return false;
    }
    return click(area.topLeft() + QPoint(int(sx / count), int(sy / count)));
}

void SoakRun::actPair()
{
    if (locked())
        return;
    Panel* p = pick([](const Panel& c) { return !c.paired && !c.troubled && !c.down; });
    if (!p)
        return;
    bool ok = false;
    const int paired = listDevices(&ok).size();
    log(QStringLiteral("pairing %1 again by its address in the window").arg(p->id));
    AccessibleUi::Node list;
    if (!openDevicesTab(&list))
        return;
    const AccessibleUi::Node window = mainWindow();
    const AccessibleUi::Node field = m_ui.find(
        window, [this](const AccessibleUi::Node& n) { return m_ui.role(n) == QLatin1String("text"); });
    const AccessibleUi::Node add =
        m_ui.findNamed(window, QStringLiteral("push button"), QStringLiteral("Add by address"));
    if (!field.isValid() || !add.isValid() || !m_ui.setText(field, p->process->config().address) ||
        !click(m_ui.extents(add).center())) {
        fail(QStringLiteral("no address field and \"Add by address\" button to use"));
        return;
    }
    // Its row comes last, below the paired ones.
    if (!pressRowButton(paired, paired + 1))
        return;
    if (!pickChallengeColour(*p))
        return;
    if (!pumpUntil(
            [&] {
                for (const QVariantMap& d : listDevices(&ok))
                    if (d.value(QStringLiteral("id")).toString() == p->id)
                        return true;
                return false;
            },
            15000)) {
        fail(QStringLiteral("%1 not paired after its colour was picked").arg(p->id));
        return;
    }
    // A new pairing starts switched off, with the mirror's first choices.
    p->paired = true;
    p->enabled = false;
    p->source.clear();
    p->mode = 0;
    p->colorMode = 0;
    p->hasColours = false;
    log(QStringLiteral("%1 paired again").arg(p->id));
}
