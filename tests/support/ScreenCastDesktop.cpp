#include "support/ScreenCastDesktop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <sys/prctl.h>

namespace {

constexpr int WaitMs = 15000;
const QString kPortal = QStringLiteral("/usr/libexec/xdg-desktop-portal");

class ChildProcess : public QProcess
{
protected:
    void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }
};

bool waitForBusName(const QString& name)
{
    return QTest::qWaitFor(
        [&name] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value(); },
        WaitMs);
}

} // namespace

ScreenCastDesktop::ScreenCastDesktop()
    : m_pipewire(new ChildProcess)
    , m_wireplumber(new ChildProcess)
    , m_portal(new ChildProcess)
{}

ScreenCastDesktop::~ScreenCastDesktop()
{
    kill(Part::Portal);
    kill(Part::Backend);
    for (QProcess* process : {m_wireplumber.get(), m_pipewire.get()}) {
        process->kill();
        process->waitForFinished();
    }
    // What the bus started on demand (the permission store, the accessibility bus) is no child of ours.
    QDBusConnectionInterface* bus = m_bus ? QDBusConnection::sessionBus().interface() : nullptr;
    for (const QString& name : bus ? bus->registeredServiceNames().value() : QStringList()) {
        const qint64 pid = name.startsWith(QLatin1Char(':')) ? bus->servicePid(name).value() : 0;
        if (pid > 0 && pid != QCoreApplication::applicationPid())
            ::kill(pid_t(pid), SIGTERM);
    }
}

void ScreenCastDesktop::addProgram(const QString& path, const QStringList& args, const QString& busName)
{
    m_backend.push_back({path, args, busName, std::make_unique<ChildProcess>()});
}

QString ScreenCastDesktop::missing()
{
    // The portal routes sway sessions to the back end wlr.portal names; the stand-in takes its bus name.
    for (const QString& part :
         {QStringLiteral("pipewire"), QStringLiteral("wireplumber"), QStringLiteral("dbus-daemon"), kPortal,
          QStringLiteral("/usr/share/xdg-desktop-portal/portals/wlr.portal")}) {
        if (QStandardPaths::findExecutable(part).isEmpty() && !QFile::exists(part))
            return part;
    }
    return {};
}

QString ScreenCastDesktop::start(const QSize& outputSize, int outputs)
{
    if (m_backend.empty())
        addProgram(QStringLiteral(SCREENCAST_BACKEND_PATH),
                   {QString::number(outputs), QString::number(outputSize.width()),
                    QString::number(outputSize.height())},
                   QStringLiteral("org.freedesktop.impl.portal.desktop.wlr"));
    // This process moves into the home, and with it every part started here or by the bus on demand (the
    // permission store, the portal).
    const QProcessEnvironment home = m_home.environment();
    for (const QString& name : home.keys())
        qputenv(name.toLocal8Bit().constData(), home.value(name).toLocal8Bit());
    qputenv("XDG_STATE_HOME", m_home.filePath(QStringLiteral("state")).toLocal8Bit());
    qputenv("XDG_CURRENT_DESKTOP", m_desktopName);
    qputenv("XDG_SESSION_TYPE", "wayland");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    m_bus = std::make_unique<PrivateBus>();
    if (!m_bus->isRunning())
        return QStringLiteral("dbus-daemon did not start");
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus->address());
    // Held so the portal cannot start the document portal, whose file system mount would outlive the test.
    if (!QDBusConnection::sessionBus().registerService(QStringLiteral("org.freedesktop.portal.Documents")))
        return QStringLiteral("cannot hold the document portal's name");

    const QString socket = m_home.filePath(QStringLiteral("runtime/pipewire-0"));
    if (!launch(*m_pipewire, QStringLiteral("pipewire")) ||
        !QTest::qWaitFor([&socket] { return QFile::exists(socket); }, WaitMs) ||
        !launch(*m_wireplumber, QStringLiteral("wireplumber")))
        return QStringLiteral("pipewire did not start");
    return revive();
}

QString ScreenCastDesktop::revive()
{
    for (const Program& p : m_backend) {
        if (p.process->state() == QProcess::NotRunning &&
            !(launch(*p.process, p.path, p.args) && (p.busName.isEmpty() || waitForBusName(p.busName))))
            return p.path + QStringLiteral(" did not start");
    }
    if (m_portal->state() == QProcess::NotRunning &&
        !(launch(*m_portal, kPortal) && waitForBusName(QStringLiteral("org.freedesktop.portal.Desktop"))))
        return QStringLiteral("xdg-desktop-portal did not start");
    return {};
}

bool ScreenCastDesktop::launch(QProcess& process, const QString& program, const QStringList& args)
{
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, args);
    return process.waitForStarted();
}

void ScreenCastDesktop::kill(Part part)
{
    // The back end's last program goes first: it may be a client of those before it.
    QList<QProcess*> processes;
    for (const Program& p : m_backend)
        processes.prepend(p.process.get());
    for (QProcess* process : part == Part::Portal ? QList<QProcess*>{m_portal.get()} : processes) {
        process->kill();
        process->waitForFinished();
    }
}

QByteArray ScreenCastDesktop::command(const QString& line)
{
    QProcess& process = *m_backend.back().process;
    process.write(line.toLocal8Bit() + '\n');
    while (!process.canReadLine() && process.waitForReadyRead(WaitMs)) {
    }
    return process.readLine().trimmed();
}

bool ScreenCastDesktop::paint(const QImage& img, int output)
{
    const QString file = m_home.filePath(QStringLiteral("paint.png"));
    return img.save(file) && command(QStringLiteral("paint %1 %2").arg(output).arg(file)) == "ok";
}

bool ScreenCastDesktop::flip(int output)
{
    return command(QStringLiteral("paint %1").arg(output)) == "ok";
}

void ScreenCastDesktop::grantChoice(bool granted, bool hostile)
{
    command(QStringLiteral("answer ") + QLatin1String(!granted ? "no" : hostile ? "hostile" : "yes"));
}

int ScreenCastDesktop::choices()
{
    return command(QStringLiteral("choices")).toInt();
}
