// The colour hand-over under ThreadSanitizer: publishers on threads of their own send colours and live
// statuses over the broadcast channel; the channel's thread hands them to the process-wide Razer source
// (the callback the library calls); "device" threads run the fading band generator on indexed providers
// of that source, as each panel's thread does every 30 ms; the main thread changes the chosen colour
// positions, swaps providers, and takes the callback away and back, stops and starts the channel, as the
// GUI and the library's loading do. The product's objects are the real ones; what the application does
// with Qt's event loop between threads (queued signals) is left out, as Qt itself is not instrumented.
//   tsan_colours [seconds 4]
#include "broadcast/ChromaBroadcastServer.h"
#include "broadcast/ChromaPublisher.h"
#include "core/DiagnosticLog.h"
#include "effects/EffectGeneratorFadingPixel.h"
#include "effects/RazerIndexedColorProvider.h"
#include "effects/RazerSdkColorProvider.h"

#include <QCoreApplication>
#include <QImage>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
    QTemporaryDir dir;
    // Log lines from every thread go through the application's own log, as in the application.
    DiagnosticLog::install(dir.filePath(QStringLiteral("log")), false);
    const QString path = dir.filePath(QStringLiteral("chroma"));
    RazerSdkColorProvider* source = RazerSdkColorProvider::instance();
    ChromaBroadcastServer server(path);
    server.setCallback(&chromaEventCallback);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "channel: %s\n", qPrintable(error));
        return 2;
    }

    std::atomic<bool> stop{false};
    std::atomic<long> sent{0}, frames{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(t);
            while (!stop) {
                ChromaPublisher publisher;
                QString why;
                if (!publisher.connectTo(path, &why)) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                for (int i = 0; i < 200 && !stop; ++i) {
                    QList<QColor> colors;
                    for (int c = 0; c < 5; ++c)
                        colors << QColor::fromRgb(random() & 0xffffff);
                    if (i % 25 == 0)
                        publisher.setLive(i % 50 == 0);
                    else if (publisher.sendColors(colors))
                        ++sent;
                    std::this_thread::sleep_for(std::chrono::microseconds(300));
                }
            }
        });
    }
    // Made on the main thread and then driven by a device thread each, as the pages and controllers do.
    std::vector<QSharedPointer<RazerIndexedColorProvider>> indexed;
    std::vector<std::unique_ptr<EffectGeneratorFadingPixel>> generators;
    for (int t = 0; t < 4; ++t) {
        indexed.push_back(QSharedPointer<RazerIndexedColorProvider>::create(source));
        generators.push_back(std::make_unique<EffectGeneratorFadingPixel>());
        generators.back()->resize(QSize(4, 8));
        generators.back()->setColorProvider(indexed.back());
    }
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            EffectGeneratorFadingPixel& generator = *generators[size_t(t)];
            int swaps = 0;
            while (!stop) {
                generator.update();
                source->isAvailable();
                ++frames;
                // Now and then the page hands the generator another provider.
                if (++swaps % 50 == 0)
                    generator.setColorProvider(indexed[size_t((t + swaps / 50) % 4)]);
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    }

    std::mt19937 random(99);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int round = 0;
    while (std::chrono::steady_clock::now() < until) {
        for (const auto& provider : indexed) {
            QList<int> positions;
            for (int i = 0; i < int(random() % 6); ++i)
                positions << int(random() % 5);
            provider->updateIndexes(positions);
        }
        if (++round % 10 == 0) {
            server.setCallback(nullptr);
            server.setCallback(&chromaEventCallback);
        }
        if (round % 100 == 0) {
            server.stop();
            if (!server.start(&error))
                std::fprintf(stderr, "channel again: %s\n", qPrintable(error));
        }
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
    for (std::thread& t : threads)
        t.join();
    server.stop();
    std::printf("tsan_colours: %ld colour messages, %ld generated frames, %d rounds of changes\n",
                sent.load(), frames.load(), round);
    generators.clear();
    indexed.clear();
    delete source;
    DiagnosticLog::uninstall();
    return 0;
}
