#include "core/CommandLine.h"

#include "core/Translations.h"
#include "ui/UpdateChecker.h"

#include <QFileInfo>
#include <QLoggingCategory>

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

// The controls of a running instance: the option, the values it takes (none: no value and no device).
struct ControlOption
{
    const char* name;
    QStringList values;
};
const ControlOption kControls[] = {
    {"--list", {}},
    {"--stream", {QStringLiteral("on"), QStringLiteral("off")}},
    {"--source", {QStringLiteral("razer"), QStringLiteral("mirror")}},
    {"--mirror-mode", {QStringLiteral("screen"), QStringLiteral("dominant"), QStringLiteral("continue")}},
    {"--color-mode", {QStringLiteral("boosted"), QStringLiteral("natural")}},
};
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
            if (m_action == Action::Run || m_action == Action::Control)
                m_action = Action::ShowVersion;
        } else if (takeControl(arguments, &i)) {
            if (m_action == Action::Run)
                m_action = Action::Control;
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
               "       %1 CONTROL...\n"
               "Ambient light for Pivotrix PRISM panels: finds them on the network, pairs with them and\n"
               "streams Razer Chroma colours or a mirror of the screen to them, from the system tray.\n"
               "\n"
               "  --minimized  start in the tray without showing the window\n"
               "  --verbose    write the diagnostic log to standard error as well\n"
               "  -h, --help   show this help and exit\n"
               "  --version    show the version and exit\n"
               "\n"
               "Controls of the running program, carried out in order (DEVICE: a device's id or name):\n"
               "  --list                          list the paired devices, one a line\n"
               "  --stream on|off DEVICE          switch a device's stream on or off\n"
               "  --source razer|mirror DEVICE    stream Razer Chroma colours or the screen mirror\n"
               "  --mirror-mode screen|dominant|continue DEVICE\n"
               "                                  mirror the whole screen, its dominant colour or the\n"
               "                                  screen's edge next to the panel\n"
               "  --color-mode boosted|natural DEVICE\n"
               "                                  the mirror's colours boosted or natural\n"
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

bool CommandLine::takeControl(const QStringList& arguments, int* i)
{
    const QString& arg = arguments.at(*i);
    for (const ControlOption& control : kControls) {
        if (arg != QLatin1String(control.name))
            continue;
        ControlClient::Request request{arg, QString(), QString()};
        if (!control.values.isEmpty()) {
            if (*i + 2 >= arguments.size()) {
                refuse(
                    tr("option '%1' needs %2 and a device").arg(arg, control.values.join(QLatin1Char('|'))));
                return true;
            }
            request.value = arguments.at(++*i);
            request.device = arguments.at(++*i);
            if (!control.values.contains(request.value)) {
                refuse(tr("option '%1' takes %2, not '%3'")
                           .arg(arg, control.values.join(QLatin1Char('|')), request.value));
                return true;
            }
        }
        m_requests << request;
        return true;
    }
    return false;
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
    // Only what the bus and the texts need: no window, no display, no single-instance lock.
    QCoreApplication app(argc, argv);
    // Standard error is for the answer; QT_LOGGING_RULES still brings the diagnostics back.
    QLoggingCategory::setFilterRules(QStringLiteral("pivotrix.debug=false"));
    Translations::install(app);
    if (commandLine.action() == Action::Control) {
        QString out;
        QString err;
        *exitStatus = ControlClient::run(commandLine.controlRequests(), &out, &err);
        std::fputs(out.toLocal8Bit().constData(), stdout);
        if (!err.isEmpty())
            std::fputs(QString(commandLine.m_program + QStringLiteral(": ") + err).toLocal8Bit().constData(),
                       stderr);
        return false;
    }
    // The texts were read before any catalogue was loaded: read again in the user's language.
    const CommandLine translated(arguments);
    std::fputs(translated.text().toLocal8Bit().constData(),
               translated.action() == Action::Refuse ? stderr : stdout);
    return false;
}
