#pragma once

#include "effects/ChromaBroadcastApi.h"

#include <QString>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/types.h>

struct ChromaBroadcastMessage;

// The receiving end of the broadcast channel: a local socket only this user can reach, read on a thread
// of its own, each well-formed message handed to the registered callback on that thread.
class ChromaBroadcastServer
{
public:
    static constexpr int kMaxClients = 8;
    // Pauses of accepting while the process is out of descriptors: doubling from the first to the last.
    static constexpr int kFirstAcceptBackoffMs = 100;
    static constexpr int kMaxAcceptBackoffMs = 3200;

    explicit ChromaBroadcastServer(QString socketPath);
    ~ChromaBroadcastServer();
    ChromaBroadcastServer(const ChromaBroadcastServer&) = delete;
    ChromaBroadcastServer& operator=(const ChromaBroadcastServer&) = delete;

    bool start(QString* error);
    // Ends the thread and removes the socket; no callback runs once it returns.
    void stop();
    // Returns once a callback running on the server's thread has finished.
    void setCallback(ChromaEventCallback callback);

private:
    bool bindSocket(QString* error);
    void run();
    void acceptClient();
    // False when the client is gone and its socket must be closed.
    bool readClient(int fd);
    void deliver(const ChromaBroadcastMessage& message);

    using Clock = std::chrono::steady_clock;

    const QString m_path;
    int m_listenFd = -1;
    int m_wake[2] = {-1, -1};
    std::vector<int> m_clients;
    int m_acceptBackoffMs = 0;
    Clock::time_point m_acceptResume;
    dev_t m_socketDev = 0;
    ino_t m_socketIno = 0;
    std::thread m_thread;
    std::mutex m_callbackLock;
    ChromaEventCallback m_callback = nullptr;
};
