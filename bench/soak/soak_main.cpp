// The chaos soak: the real application and 16 emulated panels (each a prism-emulator process on a loopback
// address of its own), on a desktop of their own (Xvfb, one private bus for system and session with a
// stand-in logind, a private home and accessibility bus). For --minutes a random sequence of what users,
// networks and desktops do runs against the application: panels drop off the network, answer 500, leave the
// stream, reboot; streams are switched on both tabs and by the command line; mirror and colour modes change;
// the session locks, the machine sleeps, the screen saver comes on; monitors come and go; the Chroma
// application leaves; panels are unpaired and paired again in the window. The driver keeps what the user
// asked for and checks at checkpoints and at the end that the panels stream exactly that, that settings.json
// holds it, and that threads, descriptors and memory come back to their baseline. Exit status 0 when every
// check held, 1 on a failure, 2 when the run could not start.
//
//   soak_driver [--minutes 10] [--panels 16] [--seed N] [--block 150] [--checkpoint-s 150]
//               [--out dir] [--verbose] [--ui-only] [--no-memory-check] [--app path] [--emulator path]
//               [--publisher path]
// Run by scripts/soak.sh.

#include "SoakRun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <csignal>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Chaos soak of the application"));
    parser.addHelpOption();
    const QString build = QCoreApplication::applicationDirPath() + QStringLiteral("/../..");
    const QCommandLineOption minutes(QStringLiteral("minutes"), QStringLiteral("Length of the chaos."),
                                     QStringLiteral("n"), QStringLiteral("10"));
    const QCommandLineOption panels(QStringLiteral("panels"), QStringLiteral("Emulated panels."),
                                    QStringLiteral("n"), QStringLiteral("16"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the random choices."),
                                  QStringLiteral("n"));
    const QCommandLineOption block(QStringLiteral("block"),
                                   QStringLiteral("Panels on 127.0.<block>.1 onwards."), QStringLiteral("n"),
                                   QStringLiteral("150"));
    const QCommandLineOption checkpoint(QStringLiteral("checkpoint-s"),
                                        QStringLiteral("Seconds between checkpoints."), QStringLiteral("s"),
                                        QStringLiteral("150"));
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("Folder for the log and, on failure, the "
                                                "application's last output."),
                                 QStringLiteral("dir"));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Pass the application's log through."));
    const QCommandLineOption appPath(QStringLiteral("app"), QStringLiteral("Application."),
                                     QStringLiteral("path"),
                                     build + QStringLiteral("/app/PivotrixEntertainment"));
    const QCommandLineOption emulator(QStringLiteral("emulator"), QStringLiteral("prism-emulator."),
                                      QStringLiteral("path"),
                                      build + QStringLiteral("/emulator/prism-emulator"));
    const QCommandLineOption publisher(QStringLiteral("publisher"), QStringLiteral("chroma-publisher."),
                                       QStringLiteral("path"),
                                       build + QStringLiteral("/broadcast/chroma-publisher"));
    const QCommandLineOption uiOnly(
        QStringLiteral("ui-only"),
        QStringLiteral("Instead of the chaos, unpair one panel and pair it again."));
    const QCommandLineOption noMemory(
        QStringLiteral("no-memory-check"),
        QStringLiteral("Print memory, but do not hold it to its baseline (sanitizer "
                       "builds, whose quarantine keeps freed memory)."));
    parser.addOptions({minutes, panels, seed, block, checkpoint, out, verbose, appPath, emulator, publisher,
                       uiOnly, noMemory});
    parser.process(app);

    SoakOptions options;
    options.minutes = std::max(0.0, parser.value(minutes).toDouble());
    options.panels = std::clamp(parser.value(panels).toInt(), 2, 250);
    options.block = std::clamp(parser.value(block).toInt(), 1, 254);
    options.checkpointSeconds = std::max(30, parser.value(checkpoint).toInt());
    options.seed = parser.isSet(seed) ? parser.value(seed).toUInt()
                                      : quint32(QDateTime::currentMSecsSinceEpoch() & 0xffffffff);
    options.outDir = parser.value(out);
    options.verbose = parser.isSet(verbose);
    options.uiOnly = parser.isSet(uiOnly);
    options.checkMemory = !parser.isSet(noMemory);
    options.app = QFileInfo(parser.value(appPath)).absoluteFilePath();
    options.emulator = QFileInfo(parser.value(emulator)).absoluteFilePath();
    options.publisher = QFileInfo(parser.value(publisher)).absoluteFilePath();
    signal(SIGPIPE, SIG_IGN);
    SoakRun run(options);
    return run.exec();
}
