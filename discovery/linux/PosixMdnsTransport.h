#pragma once

#include "discovery/MdnsTransport.h"

#include <vector>

// POSIX sockets over getifaddrs, waited on with poll (select cannot take descriptors above 1023).
class PosixMdnsTransport : public MdnsTransport
{
public:
    PosixMdnsTransport() = default;
    ~PosixMdnsTransport() override;
    PosixMdnsTransport(const PosixMdnsTransport&) = delete;
    PosixMdnsTransport& operator=(const PosixMdnsTransport&) = delete;

    int open() override;
    QStringList localAddresses() const override;
    void sendQuery(char* buffer, int capacity) override;
    int receive(int timeoutMs, char* buffer, int capacity, const Sink& sink) override;

private:
    struct Socket
    {
        int fd = -1;
        int family = 0;
        unsigned interfaceIndex = 0;
        QString local;
    };
    bool openIpv4(const void* address, unsigned interfaceIndex, Socket* socket);
    bool openIpv6(const void* address, unsigned interfaceIndex, Socket* socket);

    std::vector<Socket> m_sockets;
};
