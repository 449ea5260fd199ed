// Frames under ThreadSanitizer, from the building to the panel's count: "device" threads build frames with
// the product's frame builder and send them over UDP to an emulated panel, whose receiver thread parses
// and counts them; meanwhile one thread opens, ends and faults the panel's sessions as the control API does,
// one reads its status and last frame as the status endpoint does, and HTTP clients call both servers. Beside
// it, threads reduce one screen to 16 x 16 blocks at once, as capture workers of several monitors do, each
// checked against the plain reduction.
//   tsan_frames [seconds 4] [block 151]
#include "capture/ScreenFrame.h"
#include "capture/ScreenInfo.h"
#include "capture/linux/BlockAverage.h"
#include "core/DiagnosticLog.h"
#include "device/PivotrixController.h"
#include "emulator/EmulatedPanel.h"

#include <QCoreApplication>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
int sendTo(int fd, const QString& address, int port, const QByteArray& datagram)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(port));
    inet_pton(AF_INET, address.toLatin1().constData(), &to.sin_addr);
    return int(::sendto(fd, datagram.constData(), size_t(datagram.size()), 0,
                        reinterpret_cast<sockaddr*>(&to), sizeof to));
}

// One HTTP/1.1 call with a fresh connection; the status code, 0 when nobody answered.
int httpGet(const QString& address, int port, const char* path, const char* authorization)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(port));
    inet_pton(AF_INET, address.toLatin1().constData(), &to.sin_addr);
    timeval limit{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    int status = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        const QByteArray request = QByteArray("GET ") + path +
                                   " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + authorization + "\r\n";
        if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) > 0) {
            char reply[64] = {};
            if (::recv(fd, reply, sizeof reply - 1, 0) > 12)
                status = std::atoi(reply + 9);
        }
    }
    ::close(fd);
    return status;
}

bool reduceInParallel()
{
    const int blocksW = 60, blocksH = 34;
    const qsizetype stride = qsizetype(blocksW) * 16 * 4;
    std::vector<uchar> screen(size_t(stride) * blocksH * 16);
    for (uchar& byte : screen)
        byte = uchar(QRandomGenerator::global()->generate());
    std::vector<uchar> expected(size_t(blocksW) * 4 * blocksH);
    blockAverage16Reference(screen.data(), stride, blocksW, blocksH, expected.data(), blocksW * 4);
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            std::vector<uchar> out(expected.size());
            for (int round = 0; round < 40; ++round) {
                blockAverage16(screen.data(), stride, blocksW, blocksH, out.data(), blocksW * 4);
                if (out != expected)
                    ++wrong;
            }
            ScreenInfo info;
            info.geometry = QRect(0, 0, blocksW * 16, blocksH * 16);
            ScreenFrame* frame = newReducedFrame(info);
            resizeReducedFrame(frame, blocksW / 2, blocksH / 2);
            delete[] frame->buffer;
            delete frame;
        });
    for (std::thread& w : workers)
        w.join();
    return wrong == 0;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
    const int block = argc > 2 ? std::atoi(argv[2]) : 151;
    QTemporaryDir dir;
    DiagnosticLog::install(dir.filePath(QStringLiteral("log")), false);
    PanelConfig config;
    config.address = QStringLiteral("127.0.%1.1").arg(block);
    config.id = QStringLiteral("tsan-frames");
    EmulatedPanel panel(config);
    QString error;
    if (!panel.start(&error)) {
        std::fprintf(stderr, "panel: %s\n", qPrintable(error));
        return 2;
    }
    const QByteArray authorization =
        "Authorization: " + PivotrixController::authorizationHeader(config.apiKey) + "\r\n";

    std::atomic<bool> stop{false};
    std::atomic<long> built{0}, statuses{0}, calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            QImage canvas(4, 8, QImage::Format_RGB32);
            int n = 0;
            while (!stop) {
                canvas.fill(QColor::fromHsv((n++ * 7 + t * 60) % 360, 255, 255));
                const EmulatedPanel::Stream session = panel.stream();
                const QByteArray frame =
                    PivotrixController::buildFrame(canvas, session.sessionId, PivotrixController::Raw);
                if (session.port > 0)
                    sendTo(fd, config.address, session.port, frame);
                ++built;
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
            ::close(fd);
        });
    }
    threads.emplace_back([&] {
        int n = 0;
        while (!stop) {
            int status = 0;
            switch (n++ % 9) {
            case 0:
                panel.stopStream();
                break;
            case 3:
                panel.dropToStandby();
                break;
            case 5:
                panel.setFault(PanelFault::Offline);
                panel.setFault(PanelFault::None);
                break;
            case 7:
                panel.setFault(PanelFault::Http500);
                panel.setFault(PanelFault::None);
                break;
            default:
                panel.startStream(QByteArrayLiteral("{\"canvas\":{}}"), &status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
    });
    threads.emplace_back([&] {
        while (!stop) {
            panel.statusJson();
            panel.lastFrame();
            panel.statistics().snapshot();
            ++statuses;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    threads.emplace_back([&] {
        while (!stop) {
            httpGet(config.address, config.statusPort, "/emulator/status", "");
            httpGet(config.address, config.apiPort, "/api/v2/device/stream", authorization.constData());
            ++calls;
        }
    });
    const bool reduced = reduceInParallel();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (std::thread& t : threads)
        t.join();
    const FrameStatistics::Snapshot counts = panel.statistics().snapshot();
    panel.stop();
    std::printf(
        "tsan_frames: %ld frames built, %llu received good, %llu rejected, %ld status reads, %ld HTTP "
        "round trips; block reduction %s\n",
        built.load(), (unsigned long long)counts.good, (unsigned long long)counts.rejected, statuses.load(),
        calls.load(), reduced ? "matches the plain one" : "DIFFERS");
    DiagnosticLog::uninstall();
    return reduced && counts.good > 0 ? 0 : 1;
}
