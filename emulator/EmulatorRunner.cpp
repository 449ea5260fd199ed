#include "emulator/EmulatorRunner.h"

#include "emulator/EmulatedPanel.h"
#include "emulator/EmulatorCommandLine.h"
#include "emulator/EmulatorWindow.h"
#include "emulator/PanelMdnsResponder.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>
#include <vector>

int EmulatorRunner::run(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    EmulatorCommandLine commandLine;
    QString error;
    // The help text names the program through the application object, which only the help needs this early.
    std::unique_ptr<QCoreApplication> helpApp;
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h")))
        helpApp = std::make_unique<QCoreApplication>(argc, argv);
    if (!commandLine.parse(arguments, &error)) {
        const bool help =
            arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"));
        std::fprintf(help ? stdout : stderr, "%s\n", qPrintable(error));
        return help ? 0 : 2;
    }

    std::unique_ptr<QCoreApplication> app;
    if (commandLine.window)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("prism-emulator"));

    std::vector<std::unique_ptr<EmulatedPanel>> panels;
    std::vector<std::unique_ptr<EmulatorWindow>> windows;
    QTextStream out(stdout);
    for (const PanelConfig& config : qAsConst(commandLine.panels)) {
        auto panel = std::make_unique<EmulatedPanel>(config);
        PanelMdnsAnswer answer;
        answer.direct = commandLine.directMdns;
        panel->addProtocol(std::make_unique<PanelMdnsResponder>(panel.get(), answer));
        if (!panel->start(&error)) {
            std::fprintf(stderr, "prism-emulator: %s\n", qPrintable(error));
            return 1;
        }
        out << "panel " << config.id << " \"" << config.name << "\" on " << config.address << " api "
            << config.apiPort << " status " << config.statusPort << " key " << config.apiKey << Qt::endl;
        if (commandLine.window) {
            auto window = std::make_unique<EmulatorWindow>(panel.get(), int(windows.size()));
            window->show();
            windows.push_back(std::move(window));
        }
        panels.push_back(std::move(panel));
    }
    out << "ready" << Qt::endl;
    const int result = app->exec();
    windows.clear();
    panels.clear();
    return result;
}
