// Time from starting a scan to its first report, and to a report from every panel, for N emulated panels
// answering in one private network namespace. Prints the median and worst over the rounds.
//   bench_mdnsscan [--panels 1,32] [--rounds 5]

#include "support/PrivateNetwork.h"
#include "discovery/PivotrixScanningThread.h"
#include "emulator/EmulatedPanel.h"
#include "emulator/PanelMdnsResponder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
struct Round
{
    double firstMs = -1;
    double allMs = -1;
    int reports = 0;
    double scanMs = 0;
};

Round scanOnce(int panels)
{
    Round round;
    QSet<QString> ids;
    QElapsedTimer clock;
    auto* thread = new PivotrixScanningThread;
    QObject::connect(thread, &PivotrixScanningThread::DeviceFound, thread, [&](const PivotrixBSS& device) {
        const double ms = clock.nsecsElapsed() / 1e6;
        if (round.firstMs < 0)
            round.firstMs = ms;
        ids << device.id;
        if (ids.size() == panels && round.allMs < 0)
            round.allMs = ms;
        ++round.reports;
    });
    QEventLoop loop;
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    clock.start();
    thread->start();
    loop.exec();
    thread->wait();
    round.scanMs = clock.nsecsElapsed() / 1e6;
    delete thread;
    return round;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}
} // namespace

int main(int argc, char** argv)
{
    if (const int status = PrivateNetwork::enter(argc, argv, 48); status >= 0)
        return status;
    QCoreApplication app(argc, argv);
    if (!PrivateNetwork::inside()) {
        std::fprintf(stderr, "bench_mdnsscan: needs a private network namespace (unshare -rn); not run\n");
        return 1;
    }
    qRegisterMetaType<PivotrixBSS>("PivotrixBSS");
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("panels"), QStringLiteral("panel counts"), QStringLiteral("list"),
                      QStringLiteral("1,32")});
    parser.addOption({QStringLiteral("rounds"), QStringLiteral("scans per count"), QStringLiteral("n"),
                      QStringLiteral("5")});
    parser.process(app);

    std::printf("%7s %12s %12s %12s %10s %10s\n", "panels", "first ms", "all ms", "worst all", "reports",
                "scan ms");
    for (const QString& count : parser.value(QStringLiteral("panels")).split(QLatin1Char(','))) {
        const int n = count.toInt();
        std::vector<std::unique_ptr<EmulatedPanel>> panels;
        for (int i = 0; i < n; ++i) {
            PanelConfig config;
            config.address = QStringLiteral("127.0.0.%1").arg(10 + i);
            config.id = QStringLiteral("bench-%1").arg(i);
            auto panel = std::make_unique<EmulatedPanel>(config);
            panel->addProtocol(std::make_unique<PanelMdnsResponder>(panel.get()));
            QString error;
            if (!panel->start(&error)) {
                std::fprintf(stderr, "bench_mdnsscan: %s\n", qPrintable(error));
                return 1;
            }
            panels.push_back(std::move(panel));
        }
        std::vector<double> first, all, scan;
        int reports = 0;
        for (int r = 0; r < parser.value(QStringLiteral("rounds")).toInt(); ++r) {
            const Round round = scanOnce(n);
            first.push_back(round.firstMs);
            all.push_back(round.allMs);
            scan.push_back(round.scanMs);
            reports = round.reports;
        }
        std::printf("%7d %12.1f %12.1f %12.1f %10d %10.0f\n", n, median(first), median(all),
                    *std::max_element(all.begin(), all.end()), reports, median(scan));
    }
    return 0;
}
