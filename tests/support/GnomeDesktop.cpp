#include "support/GnomeDesktop.h"

#include <QDir>
#include <QFile>

namespace {

const QString kScript = QStringLiteral(GNOME_DESKTOP_SCRIPT);
const QString kPython = QStringLiteral("/usr/bin/python3");

} // namespace

GnomeDesktop::GnomeDesktop()
    : m_mutter(child())
    , m_gnomePortal(child())
{
    m_desktopName = "GNOME";
}

QString GnomeDesktop::missing()
{
    QProcess check;
    check.start(kPython, {kScript, QStringLiteral("--missing")});
    if (!check.waitForFinished() || check.exitCode() != 0)
        return QStringLiteral("python3-gi");
    return QString::fromUtf8(check.readAllStandardOutput()).trimmed();
}

QString GnomeDesktop::start(const QList<QSize>& monitors)
{
    // Scales other than whole ones place monitors by their logical size, an experimental feature of mutter
    // 43 that only a settings file (not the memory back end) can switch on before it starts.
    const QString keyfile = home().filePath(QStringLiteral("config/glib-2.0/settings/keyfile"));
    QFile file(keyfile);
    if (!QDir().mkpath(QFileInfo(keyfile).path()) || !file.open(QIODevice::WriteOnly) ||
        file.write("[org/gnome/mutter]\nexperimental-features=['scale-monitor-framebuffer']\n") <= 0)
        return QStringLiteral("cannot write the GSettings file");
    file.close();
    qputenv("GSETTINGS_BACKEND", "keyfile");
    for (const QSize& size : monitors)
        m_monitors << QStringLiteral("--virtual-monitor")
                   << QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    return ScreenCastDesktop::start(monitors.value(0), monitors.size());
}

QString GnomeDesktop::startBackend()
{
    if (m_mutter->state() == QProcess::NotRunning &&
        !(launch(*m_mutter, QStringLiteral("mutter"),
                 QStringList{QStringLiteral("--headless"), QStringLiteral("--wayland"),
                             QStringLiteral("--no-x11")} +
                     m_monitors) &&
          waitForBusName(QStringLiteral("org.gnome.Mutter.ScreenCast"))))
        return QStringLiteral("mutter did not start");
    // Both are clients of the compositor: the portal shows its dialog there.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
    m_gnomePortal->setProcessEnvironment(env);
    m_backend->setProcessEnvironment(env);
    if (m_gnomePortal->state() == QProcess::NotRunning &&
        !(launch(*m_gnomePortal, QStringLiteral("/usr/libexec/xdg-desktop-portal-gnome")) &&
          waitForBusName(QStringLiteral("org.freedesktop.impl.portal.desktop.gnome"))))
        return QStringLiteral("xdg-desktop-portal-gnome did not start");
    if (m_backend->state() == QProcess::NotRunning && !launch(*m_backend, kPython, {kScript}))
        return QStringLiteral("gnome_desktop.py did not start");
    return {};
}

void GnomeDesktop::kill(Part part)
{
    if (part == Part::Portal)
        return ScreenCastDesktop::kill(part);
    for (QProcess* process : {m_backend.get(), m_gnomePortal.get(), m_mutter.get()}) {
        process->kill();
        process->waitForFinished();
    }
}
