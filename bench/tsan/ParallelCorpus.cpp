// Runs a fuzz target's entry point over its committed seeds from several threads at once, round after
// round: a reader that keeps state between calls (a static cache, a shared counter) is then read and
// written from two threads, which ThreadSanitizer reports. Single-threaded fuzzing never could. One pass
// on the main thread comes first, as the application reads on its GUI thread before other threads exist:
// Qt fills its own caches then, under locks the sanitizer cannot see (so state our code sets up only once
// is not raced here; state it changes on every call is).
//   <target>_parallel <corpus folder> [threads 4] [rounds 20]
#include "core/DiagnosticLog.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <thread>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, unsigned long size);

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <corpus folder> [threads] [rounds]\n", argv[0]);
        return 2;
    }
    const int threads = argc > 2 ? std::max(2, std::atoi(argv[2])) : 4;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;
    std::vector<QByteArray> inputs;
    const QDir corpus(QString::fromLocal8Bit(argv[1]));
    for (const QString& name : corpus.entryList(QDir::Files)) {
        QFile file(corpus.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            inputs.push_back(file.readAll());
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no seeds in %s\n", argv[1]);
        return 2;
    }
    QTemporaryDir dir;
    DiagnosticLog::install(dir.filePath(QStringLiteral("log")), false);
    for (const QByteArray& input : inputs)
        LLVMFuzzerTestOneInput(reinterpret_cast<const unsigned char*>(input.constData()),
                               (unsigned long)input.size());
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&inputs, rounds, t] {
            // Each thread walks the seeds from another starting point, so different inputs meet.
            for (int r = 0; r < rounds; ++r)
                for (size_t i = 0; i < inputs.size(); ++i) {
                    const QByteArray& input = inputs[(i + size_t(t) * 7) % inputs.size()];
                    LLVMFuzzerTestOneInput(reinterpret_cast<const unsigned char*>(input.constData()),
                                           (unsigned long)input.size());
                }
        });
    }
    for (std::thread& w : workers)
        w.join();
    DiagnosticLog::uninstall();
    std::printf("%s: %zu seeds x %d rounds on %d threads\n", argv[0], inputs.size(), rounds, threads);
    return 0;
}
