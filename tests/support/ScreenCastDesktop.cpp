#include "support/ScreenCastDesktop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace {

constexpr int StartTimeoutMs = 15000;
const QString kPortal = QStringLiteral("/usr/libexec/xdg-desktop-portal");
const QString kBackendName = QStringLiteral("org.freedesktop.impl.portal.desktop.wlr");
const QString kPortalName = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kProbe = QStringLiteral("screencast-desktop-probe");

bool writeFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

class ChildProcess : public QProcess
{
protected:
    void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }
};

} // namespace

ScreenCastDesktop::ScreenCastDesktop()
    : m_pipewire(new ChildProcess)
    , m_wireplumber(new ChildProcess)
    , m_backend(new ChildProcess)
    , m_portal(new ChildProcess)
{}

ScreenCastDesktop::~ScreenCastDesktop()
{
    stop(*m_portal);
    stop(*m_backend);
    stop(*m_wireplumber);
    stop(*m_pipewire);
    QDBusConnection::disconnectFromBus(kProbe);
    m_bus.reset();
}

bool ScreenCastDesktop::fail(const QString& why, bool unavailable)
{
    m_failure = why;
    m_unavailable = unavailable;
    return false;
}

bool ScreenCastDesktop::start(const QSize& outputSize, int outputs)
{
    m_outputSize = outputSize;
    m_outputs = outputs;
    for (const char* tool : {"pipewire", "wireplumber"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return fail(QStringLiteral("%1 is not installed").arg(QLatin1String(tool)), true);
    }
    // The portal routes sway sessions to the back end this file names; the stand-in takes its bus name.
    for (const QString& file :
         {kPortal, QStringLiteral("/usr/share/xdg-desktop-portal/portals/wlr.portal")}) {
        if (!QFile::exists(file))
            return fail(file + QStringLiteral(" is not installed"), true);
    }
    if (!m_dir.isValid())
        return fail(QStringLiteral("no temporary directory"));

    const QString runtime = m_dir.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Also what the bus hands to a portal it starts on demand.
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    qputenv("XDG_CURRENT_DESKTOP", "sway");
    m_bus = std::make_unique<PrivateBus>();
    if (!m_bus->isRunning())
        return fail(QStringLiteral("dbus-daemon did not start"), true);
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus->address());
    // Held so the portal cannot start the document portal, whose file system mount would outlive the test.
    if (!probe().registerService(QStringLiteral("org.freedesktop.portal.Documents")))
        return fail(QStringLiteral("cannot hold the document portal's name"));

    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    m_env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
    m_env.remove(QStringLiteral("DISPLAY"));
    m_env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    grantChoice(true);

    if (!launch(*m_pipewire, QStringLiteral("pipewire"), {}, QStringLiteral("pipewire")))
        return fail(QStringLiteral("pipewire did not start"), true);
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(runtime + QStringLiteral("/pipewire-0")) && timer.elapsed() < StartTimeoutMs)
        QThread::msleep(20);
    if (!launch(*m_wireplumber, QStringLiteral("wireplumber"), {}, QStringLiteral("wireplumber")))
        return fail(QStringLiteral("wireplumber did not start"), true);
    return startBackend() && startPortal();
}

bool ScreenCastDesktop::startBackend()
{
    const QString program = QStringLiteral(SCREENCAST_BACKEND_PATH);
    const QStringList args = {QStringLiteral("--outputs"),
                              QString::number(m_outputs),
                              QStringLiteral("--size"),
                              QStringLiteral("%1x%2").arg(m_outputSize.width()).arg(m_outputSize.height()),
                              QStringLiteral("--choices"),
                              m_dir.filePath(QStringLiteral("choices")),
                              QStringLiteral("--answer"),
                              m_dir.filePath(QStringLiteral("answer"))};
    if (!launch(*m_backend, program, args, QString()) || !waitForBusName(kBackendName))
        return fail(QStringLiteral("the screen-cast back end did not start"));
    return true;
}

bool ScreenCastDesktop::startPortal()
{
    if (!launch(*m_portal, kPortal, {}, QStringLiteral("portal")) || !waitForBusName(kPortalName))
        return fail(QStringLiteral("xdg-desktop-portal did not start"), true);
    return true;
}

bool ScreenCastDesktop::launch(QProcess& process, const QString& program, const QStringList& args,
                               const QString& log)
{
    stop(process);
    process.setProcessEnvironment(m_env);
    if (!log.isEmpty()) {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(m_dir.filePath(log + QStringLiteral(".log")));
    } else {
        process.setReadChannel(QProcess::StandardOutput);
        process.setStandardErrorFile(m_dir.filePath(QStringLiteral("backend.log")));
    }
    process.start(program, args);
    return process.waitForStarted(5000);
}

void ScreenCastDesktop::stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

QDBusConnection ScreenCastDesktop::probe() const
{
    // A connection of its own: this process's session bus may not be connected yet.
    return QDBusConnection::connectToBus(QString::fromLatin1(m_bus->address()), kProbe);
}

bool ScreenCastDesktop::waitForBusName(const QString& name)
{
    QDBusConnection bus = probe();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < StartTimeoutMs) {
        if (bus.interface() && bus.interface()->isServiceRegistered(name).value())
            return true;
        QThread::msleep(20);
    }
    return false;
}

bool ScreenCastDesktop::paint(const QImage& img, int output)
{
    const QString file = m_dir.filePath(QStringLiteral("paint-%1.png").arg(output));
    if (m_backend->state() != QProcess::Running || !img.save(file))
        return false;
    return command(QStringLiteral("paint %1 %2").arg(output).arg(file));
}

bool ScreenCastDesktop::flip(int output)
{
    return command(QStringLiteral("flip %1").arg(output));
}

bool ScreenCastDesktop::command(const QString& line)
{
    if (m_backend->state() != QProcess::Running)
        return false;
    m_backend->write(line.toLocal8Bit() + '\n');
    QElapsedTimer timer;
    timer.start();
    while (!m_backend->canReadLine() && timer.elapsed() < StartTimeoutMs)
        m_backend->waitForReadyRead(100);
    return m_backend->readLine().trimmed() == "ok";
}

void ScreenCastDesktop::grantChoice(bool granted, bool hostile)
{
    writeFile(m_dir.filePath(QStringLiteral("answer")), !granted ? "no" : hostile ? "hostile" : "yes");
}

int ScreenCastDesktop::choices() const
{
    QFile file(m_dir.filePath(QStringLiteral("choices")));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readAll().count('\n');
}

void ScreenCastDesktop::killPortal()
{
    m_portal->kill();
    m_portal->waitForFinished(3000);
}

bool ScreenCastDesktop::restartPortal()
{
    killPortal();
    return startPortal();
}

void ScreenCastDesktop::killBackend()
{
    m_backend->kill();
    m_backend->waitForFinished(3000);
}

bool ScreenCastDesktop::restartBackend()
{
    killBackend();
    return startBackend();
}
