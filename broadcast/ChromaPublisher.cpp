#include "broadcast/ChromaPublisher.h"

#include "broadcast/ChromaBroadcastChannel.h"
#include "broadcast/ChromaBroadcastMessage.h"
#include "effects/ChromaBroadcastApi.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// A day: longer than anyone watches, far below what milliseconds in an int can hold.
constexpr int kMaxEffectSeconds = 86400;
} // namespace

ChromaPublisher::~ChromaPublisher()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ChromaPublisher::connectTo(const QString& socketPath, QString* error)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof(address.sun_path)) {
        *error = QStringLiteral("bad socket path ") + socketPath;
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        *error = QStringLiteral("no listener at %1: %2")
                     .arg(socketPath, QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ucred peer = {};
    socklen_t size = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
        *error = QStringLiteral("listener at %1 belongs to another user").arg(socketPath);
        ::close(fd);
        return false;
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    return true;
}

bool ChromaPublisher::send(const ChromaBroadcastMessage& message)
{
    if (m_fd < 0)
        return false;
    const QByteArray bytes = message.encode();
    ssize_t n;
    do {
        n = ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == bytes.size();
}

bool ChromaPublisher::sendColors(const QList<QColor>& colors)
{
    std::array<std::uint32_t, 5> values{};
    for (int i = 0; i < 5 && i < colors.size(); ++i) {
        const QColor c = colors.at(i).toRgb();
        values[size_t(i)] =
            std::uint32_t(c.red()) | std::uint32_t(c.green()) << 8 | std::uint32_t(c.blue()) << 16;
    }
    return send(ChromaBroadcastMessage::effect(values));
}

bool ChromaPublisher::setLive(bool live)
{
    return send(ChromaBroadcastMessage::status(live ? ChromaStatusLive : ChromaStatusNotLive));
}

QList<QColor> ChromaPublisher::effectFrame(int step)
{
    QList<QColor> colors;
    for (int i = 0; i < 5; ++i)
        colors << QColor::fromHsv(((step * 6) + i * 72) % 360, 255, 255);
    return colors;
}

bool ChromaPublisher::playEffect(int durationMs, int frameMs)
{
    QElapsedTimer clock;
    clock.start();
    for (int step = 0; clock.elapsed() < durationMs; ++step) {
        if (!sendColors(effectFrame(step)))
            return false;
        QThread::msleep(ulong(frameMs));
    }
    return true;
}

int ChromaPublisher::run(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Publishes Chroma broadcast colours to Pivotrix Entertainment running as this user.\n"
                       "  live on|off                 switch the broadcast live or not live\n"
                       "  colors C1 C2 C3 C4 C5       send five colours (#rrggbb or names)\n"
                       "  effect                      play a moving rainbow"));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("live, colors or effect"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Length of the effect."),
                                     QStringLiteral("s"), QStringLiteral("10"));
    const QCommandLineOption frame(QStringLiteral("frame-ms"), QStringLiteral("Time between effect steps."),
                                   QStringLiteral("ms"), QStringLiteral("50"));
    const QCommandLineOption socket(QStringLiteral("socket"), QStringLiteral("Channel socket to use."),
                                    QStringLiteral("path"));
    parser.addOption(seconds);
    parser.addOption(frame);
    parser.addOption(socket);
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fprintf(stdout, "%s", qPrintable(parser.helpText()));
        return 0;
    }
    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    QList<QColor> colors;
    bool live = false;
    int durationMs = 0, frameMs = 0;
    if (command == QLatin1String("live") && args.size() == 2 &&
        (args.at(1) == QLatin1String("on") || args.at(1) == QLatin1String("off"))) {
        live = args.at(1) == QLatin1String("on");
    } else if (command == QLatin1String("colors") && args.size() == 6) {
        for (int i = 1; i < 6; ++i) {
            const QColor color(args.at(i));
            if (!color.isValid()) {
                std::fprintf(stderr, "not a colour: %s\n", qPrintable(args.at(i)));
                return 2;
            }
            colors << color;
        }
    } else if (command == QLatin1String("effect") && args.size() == 1) {
        bool ok = false;
        const double length = parser.value(seconds).toDouble(&ok);
        // Checked before it becomes milliseconds: a huge, infinite or NaN length has no int to become.
        if (!ok || !(length >= 0.001 && length <= kMaxEffectSeconds)) {
            std::fprintf(stderr, "--seconds wants a length from 0.001 to %d seconds\n", kMaxEffectSeconds);
            return 2;
        }
        durationMs = int(std::lround(length * 1000));
        frameMs = parser.value(frame).toInt(&ok);
        if (!ok || frameMs < 1 || frameMs > 10000) {
            std::fprintf(stderr, "--frame-ms wants 1 to 10000 milliseconds\n");
            return 2;
        }
    } else {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }

    QString error;
    QString path = parser.value(socket);
    if (path.isEmpty())
        path = ChromaBroadcastChannel::socketPath(&error);
    ChromaPublisher publisher;
    if (path.isEmpty() || !publisher.connectTo(path, &error)) {
        std::fprintf(stderr, "chroma-publisher: %s\n", qPrintable(error));
        return 1;
    }
    bool sent = false;
    if (command == QLatin1String("live"))
        sent = publisher.setLive(live);
    else if (command == QLatin1String("colors"))
        sent = publisher.sendColors(colors);
    else
        sent = publisher.playEffect(durationMs, frameMs);
    if (!sent) {
        std::fprintf(stderr, "chroma-publisher: send failed\n");
        return 1;
    }
    return 0;
}
