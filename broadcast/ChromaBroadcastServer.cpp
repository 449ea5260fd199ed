#include "broadcast/ChromaBroadcastServer.h"

#include "broadcast/ChromaBroadcastMessage.h"

#include <QDebug>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
sockaddr_un socketAddress(const QByteArray& path)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return address;
}

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}
} // namespace

ChromaBroadcastServer::ChromaBroadcastServer(QString socketPath)
    : m_path(std::move(socketPath))
{}

ChromaBroadcastServer::~ChromaBroadcastServer()
{
    stop();
}

bool ChromaBroadcastServer::start(QString* error)
{
    if (m_thread.joinable())
        return true;
    if (!bindSocket(error)) {
        stop();
        return false;
    }
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = QStringLiteral("pipe: ") + lastError();
        stop();
        return false;
    }
    m_thread = std::thread(&ChromaBroadcastServer::run, this);
    return true;
}

bool ChromaBroadcastServer::bindSocket(QString* error)
{
    const QByteArray path = QFile::encodeName(m_path);
    if (path.isEmpty() || size_t(path.size()) >= sizeof(sockaddr_un::sun_path)) {
        *error = QStringLiteral("bad socket path ") + m_path;
        return false;
    }
    const sockaddr_un address = socketAddress(path);
    struct stat st = {};
    if (::lstat(path.constData(), &st) == 0) {
        // Never remove anything but a socket, and never one that somebody still listens on.
        if (!S_ISSOCK(st.st_mode)) {
            *error = QStringLiteral("not a socket: ") + m_path;
            return false;
        }
        // Without blocking: a listener that accepts nobody would hold a blocking connect (and the GUI
        // thread) for good. A full backlog means somebody listens all the same.
        const int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (probe < 0) {
            *error = QStringLiteral("socket: ") + lastError();
            return false;
        }
        const bool alive =
            ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 ||
            errno == EAGAIN || errno == EINPROGRESS;
        ::close(probe);
        if (alive) {
            *error = QStringLiteral("channel in use: ") + m_path;
            return false;
        }
        ::unlink(path.constData());
    }
    m_listenFd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listenFd < 0) {
        *error = QStringLiteral("socket: ") + lastError();
        return false;
    }
    if (::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        *error = QStringLiteral("bind: ") + lastError();
        return false;
    }
    // The runtime directory is private already; the socket itself is owner-only as well.
    if (::chmod(path.constData(), S_IRUSR | S_IWUSR) != 0 || ::lstat(path.constData(), &st) != 0) {
        *error = QStringLiteral("chmod: ") + lastError();
        ::unlink(path.constData());
        return false;
    }
    m_socketDev = st.st_dev;
    m_socketIno = st.st_ino;
    if (::listen(m_listenFd, kMaxClients) != 0) {
        *error = QStringLiteral("listen: ") + lastError();
        return false;
    }
    return true;
}

void ChromaBroadcastServer::stop()
{
    if (m_thread.joinable()) {
        const char byte = 0;
        while (::write(m_wake[1], &byte, 1) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
    for (int fd : m_clients)
        ::close(fd);
    m_clients.clear();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
        // Only our own socket: another process may have taken the name over since.
        const QByteArray path = QFile::encodeName(m_path);
        struct stat st = {};
        if (::lstat(path.constData(), &st) == 0 && st.st_dev == m_socketDev && st.st_ino == m_socketIno)
            ::unlink(path.constData());
    }
    for (int& fd : m_wake) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void ChromaBroadcastServer::setCallback(ChromaEventCallback callback)
{
    std::lock_guard<std::mutex> lock(m_callbackLock);
    m_callback = callback;
}

void ChromaBroadcastServer::run()
{
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({m_wake[0], POLLIN, 0});
        // While accepting is paused the listener is left out (poll skips a negative descriptor).
        const auto pause =
            std::chrono::ceil<std::chrono::milliseconds>(m_acceptResume - Clock::now()).count();
        fds.push_back({pause > 0 ? -1 : m_listenFd, POLLIN, 0});
        for (int fd : m_clients)
            fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), pause > 0 ? int(pause) : -1) < 0) {
            if (errno == EINTR)
                continue;
            qDebug() << "chroma broadcast: poll failed" << lastError();
            return;
        }
        if (fds[0].revents)
            return;
        std::vector<int> gone;
        for (size_t i = 2; i < fds.size(); ++i)
            if (fds[i].revents && !readClient(fds[i].fd))
                gone.push_back(fds[i].fd);
        for (int fd : gone) {
            ::close(fd);
            m_clients.erase(std::find(m_clients.begin(), m_clients.end(), fd));
        }
        if (fds[1].revents & POLLIN)
            acceptClient();
    }
}

void ChromaBroadcastServer::acceptClient()
{
    const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        // Out of descriptors or memory: the publisher stays queued and the listener stays readable, so
        // retrying at once would spin. Wait, longer each time, until one is free again.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            m_acceptBackoffMs =
                std::min(std::max(2 * m_acceptBackoffMs, kFirstAcceptBackoffMs), kMaxAcceptBackoffMs);
            m_acceptResume = Clock::now() + std::chrono::milliseconds(m_acceptBackoffMs);
            qDebug() << "chroma broadcast: cannot accept," << lastError() << "- retrying in"
                     << m_acceptBackoffMs << "ms";
        }
        return;
    }
    m_acceptBackoffMs = 0;
    ucred peer = {};
    socklen_t size = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
        qDebug() << "chroma broadcast: refused a peer of uid" << peer.uid;
        ::close(fd);
        return;
    }
    if (m_clients.size() >= size_t(kMaxClients)) {
        qDebug() << "chroma broadcast: too many publishers, refused one";
        ::close(fd);
        return;
    }
    m_clients.push_back(fd);
}

bool ChromaBroadcastServer::readClient(int fd)
{
    // One byte more than a message, so that an oversized one shows as truncated.
    char buffer[ChromaBroadcastMessage::kSize + 1];
    iovec iov = {buffer, sizeof(buffer)};
    msghdr header = {};
    header.msg_iov = &iov;
    header.msg_iovlen = 1;
    const ssize_t n = ::recvmsg(fd, &header, MSG_DONTWAIT);
    if (n == 0)
        return false;
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    ChromaBroadcastMessage message;
    QString reason;
    if (header.msg_flags & MSG_TRUNC)
        reason = QStringLiteral("oversized");
    else if (ChromaBroadcastMessage::decode(QByteArray(buffer, int(n)), &message, &reason))
        deliver(message);
    if (!reason.isEmpty())
        qDebug() << "chroma broadcast: dropped a message," << reason;
    return true;
}

void ChromaBroadcastServer::deliver(const ChromaBroadcastMessage& message)
{
    std::lock_guard<std::mutex> lock(m_callbackLock);
    if (!m_callback)
        return;
    if (message.type == ChromaEventEffect) {
        std::uint32_t colors[5];
        std::copy(message.values.begin(), message.values.end(), colors);
        m_callback(ChromaEventEffect, colors);
    } else {
        m_callback(ChromaEventStatus, reinterpret_cast<void*>(std::intptr_t(message.values[0])));
    }
}
