#pragma once

#include "discovery/MdnsTransport.h"

#include <vector>

// WinSock sockets over GetAdaptersAddresses, waited on with WSAPoll. The socket library is initialised
// once at start-up.
class WinMdnsTransport : public MdnsTransport
{
public:
    WinMdnsTransport() = default;
    ~WinMdnsTransport() override;
    WinMdnsTransport(const WinMdnsTransport&) = delete;
    WinMdnsTransport& operator=(const WinMdnsTransport&) = delete;

    int open() override;
    QStringList localAddresses() const override;
    void sendQuery(char* buffer, int capacity) override;
    int receive(int timeoutMs, char* buffer, int capacity, const Sink& sink) override;

private:
    struct Socket
    {
        quintptr handle = 0;
        int family = 0;
        unsigned long interfaceIndex = 0;
        QString local;
    };
    bool openSocket(const void* address, int length, unsigned long interfaceIndex, Socket* socket);

    std::vector<Socket> m_sockets;
};
