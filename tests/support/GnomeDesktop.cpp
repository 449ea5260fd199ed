#include "support/GnomeDesktop.h"

#include <QDir>
#include <QFile>

namespace {

const QString kScript = QStringLiteral(GNOME_DESKTOP_SCRIPT);
// The system's, with the GObject bindings.
const QString kPython = QStringLiteral("/usr/bin/python3");

} // namespace

QString GnomeDesktop::missing()
{
    QProcess check;
    check.start(kPython, {kScript, QStringLiteral("--missing")});
    const bool ran = check.waitForFinished() && check.exitCode() == 0;
    return ran ? QString::fromUtf8(check.readAllStandardOutput()).trimmed() : QStringLiteral("python3-gi");
}

QString GnomeDesktop::start(const QList<QSize>& monitors)
{
    m_desktopName = "GNOME";
    // Fractional scales need monitors placed by their logical size, an experimental feature of mutter 43
    // that only a settings file (not the memory back end) switches on before it starts.
    QFile keyfile(home().filePath(QStringLiteral("config/glib-2.0/settings/keyfile")));
    if (!QDir().mkpath(QFileInfo(keyfile).path()) || !keyfile.open(QIODevice::WriteOnly) ||
        keyfile.write("[org/gnome/mutter]\nexperimental-features=['scale-monitor-framebuffer']\n") <= 0 ||
        !keyfile.flush())
        return QStringLiteral("cannot write the GSettings file");
    qputenv("GSETTINGS_BACKEND", "keyfile");
    QStringList mutter{QStringLiteral("--headless"), QStringLiteral("--wayland"), QStringLiteral("--no-x11")};
    for (const QSize& size : monitors)
        mutter << QStringLiteral("--virtual-monitor=%1x%2").arg(size.width()).arg(size.height());
    addProgram(QStringLiteral("mutter"), mutter, QStringLiteral("org.gnome.Mutter.ScreenCast"));
    // By hand, not by the bus: it shows its dialog on the compositor, which the bus knows nothing of.
    addProgram(QStringLiteral("env"),
               {QStringLiteral("WAYLAND_DISPLAY=wayland-0"),
                QStringLiteral("/usr/libexec/xdg-desktop-portal-gnome")},
               QStringLiteral("org.freedesktop.impl.portal.desktop.gnome"));
    addProgram(kPython, {kScript});
    return ScreenCastDesktop::start(monitors.value(0), monitors.size());
}
