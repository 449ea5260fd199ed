#include "core/CommandLine.h"

#include "ui/UpdateChecker.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace {
// Taken by QGuiApplication, QApplication or the X11 platform; accepted with one dash or two.
const QStringList kQtOptionsWithValue = {QStringLiteral("platform"),
                                         QStringLiteral("platformpluginpath"),
                                         QStringLiteral("platformtheme"),
                                         QStringLiteral("plugin"),
                                         QStringLiteral("qwindowgeometry"),
                                         QStringLiteral("qwindowicon"),
                                         QStringLiteral("qwindowtitle"),
                                         QStringLiteral("session"),
                                         QStringLiteral("display"),
                                         QStringLiteral("geometry"),
                                         QStringLiteral("style"),
                                         QStringLiteral("stylesheet"),
                                         QStringLiteral("name"),
                                         QStringLiteral("title"),
                                         QStringLiteral("visual")};
const QStringList kQtFlags = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                              QStringLiteral("nograb"), QStringLiteral("dograb"), QStringLiteral("sync")};
const QStringList kQtOptionsWithEquals = {QStringLiteral("style="), QStringLiteral("stylesheet="),
                                          QStringLiteral("qmljsdebugger=")};
} // namespace

CommandLine::CommandLine(const QStringList& arguments)
{
    m_program = arguments.isEmpty() ? QString() : QFileInfo(arguments.first()).fileName();
    if (m_program.isEmpty())
        m_program = QStringLiteral("PivotrixEntertainment");
    bool optionsEnded = false;
    for (int i = 1; i < arguments.size() && m_action != Action::Refuse; ++i) {
        const QString& arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            refuse(tr("unexpected argument '%1'").arg(arg));
        } else if (arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            m_action = Action::ShowHelp;
        } else if (arg == QLatin1String("--version")) {
            if (m_action == Action::Run)
                m_action = Action::ShowVersion;
        } else if (arg != QLatin1String("--minimized") && arg != QLatin1String("--verbose")) {
            const QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
            const bool known = kQtFlags.contains(name) || kQtOptionsWithValue.contains(name) ||
                               std::any_of(kQtOptionsWithEquals.cbegin(), kQtOptionsWithEquals.cend(),
                                           [&](const QString& prefix) { return name.startsWith(prefix); });
            if (!known)
                refuse(tr("unknown option '%1'").arg(arg));
            else if (kQtOptionsWithValue.contains(name) && ++i >= arguments.size())
                refuse(tr("option '%1' needs a value").arg(arg));
        }
    }
    if (m_action == Action::ShowHelp) {
        m_text =
            tr("Usage: %1 [--minimized] [--verbose]\n"
               "Ambient light for Pivotrix PRISM panels: finds them on the network, pairs with them and\n"
               "streams Razer Chroma colours or a mirror of the screen to them, from the system tray.\n"
               "\n"
               "  --minimized  start in the tray without showing the window\n"
               "  --verbose    write the diagnostic log to standard error as well\n"
               "  -h, --help   show this help and exit\n"
               "  --version    show the version and exit\n"
               "\n"
               "Qt's standard options (-platform, -display, -style, ...) are accepted as well.\n"
               "Settings live in ~/.local/share/PivotrixEntertainment/settings.json, the diagnostic log\n"
               "beside them in PivotrixEntertainment.log.\n")
                .arg(m_program);
    } else if (m_action == Action::ShowVersion) {
        m_text = tr("Pivotrix Entertainment %1\nCopyright (C) Pivotrix. All rights reserved.\n")
                     .arg(UpdateChecker::currentVersion());
    }
}

void CommandLine::refuse(const QString& reason)
{
    m_action = Action::Refuse;
    m_text = tr("%1: %2\nTry '%1 --help' for more information.\n").arg(m_program, reason);
}

bool CommandLine::proceed(int argc, char** argv, int* exitStatus)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine(arguments);
    *exitStatus = commandLine.exitStatus();
    if (commandLine.action() == Action::Run)
        return true;
    std::fputs(commandLine.text().toLocal8Bit().constData(),
               commandLine.action() == Action::Refuse ? stderr : stdout);
    return false;
}
