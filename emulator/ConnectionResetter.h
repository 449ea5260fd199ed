#pragma once

#include <QString>

#include <thread>

// Takes every connection on an address and port and resets it at once (RST, not an orderly close), as a
// panel whose network stack is in trouble does.
class ConnectionResetter
{
public:
    ConnectionResetter() = default;
    ~ConnectionResetter();

    ConnectionResetter(const ConnectionResetter&) = delete;
    ConnectionResetter& operator=(const ConnectionResetter&) = delete;

    // Listens and starts resetting; false (with a reason) when the port cannot be had.
    bool start(const QString& address, int port, QString* error);
    void stop();

private:
    int m_listenFd = -1;
    std::thread m_thread;
};
