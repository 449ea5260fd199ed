#include "emulator/ConnectionResetter.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

ConnectionResetter::~ConnectionResetter()
{
    stop();
}

bool ConnectionResetter::start(const QString& address, int port, QString* error)
{
    addrinfo hints = {};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.toStdString().c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        *error = QStringLiteral("no such address %1").arg(address);
        return false;
    }
    m_listenFd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    // Address reuse only, as the API server has: the port is this panel's alone.
    const bool listening =
        m_listenFd >= 0 && ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
        ::bind(m_listenFd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(m_listenFd, 16) == 0;
    const int failure = errno;
    ::freeaddrinfo(found);
    if (!listening) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(address)
                     .arg(port)
                     .arg(QString::fromLocal8Bit(std::strerror(failure)));
        stop();
        return false;
    }
    m_thread = std::thread([fd = m_listenFd] {
        for (;;) {
            const int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0 && (errno == EINTR || errno == ECONNABORTED))
                continue;
            if (client < 0)
                return; // shut down by stop()
            // Lingering for no time turns the close into a reset.
            const linger reset = {1, 0};
            ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            ::close(client);
        }
    });
    return true;
}

void ConnectionResetter::stop()
{
    if (m_listenFd < 0)
        return;
    // Wakes the accept with an error.
    ::shutdown(m_listenFd, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listenFd);
    m_listenFd = -1;
}
