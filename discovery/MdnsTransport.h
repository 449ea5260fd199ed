#pragma once

#include "discovery/MdnsSource.h"

#include <QStringList>

#include <functional>
#include <memory>

// The sockets of one scan: one per usable local address, each joined to the mDNS group on its own
// interface. Platform back ends live in linux/ and win/.
class MdnsTransport
{
public:
    static constexpr int maxSockets = 32;
    using Sink = std::function<void(int size, const MdnsSource& source)>;

    static std::unique_ptr<MdnsTransport> create();
    virtual ~MdnsTransport() = default;

    // Opens the sockets; returns how many are open.
    virtual int open() = 0;
    // The numeric local address of every open socket, in the order opened.
    virtual QStringList localAddresses() const = 0;
    // Composes the query in `buffer` and sends it once from every socket; a failed send is ignored.
    virtual void sendQuery(char* buffer, int capacity) = 0;
    // Waits at most `timeoutMs` for any socket to become readable, then receives one datagram from each
    // readable socket into `buffer` and hands the non-empty ones to `sink`. Returns the number of readable
    // sockets (0 on time-out), or -1 when waiting failed.
    virtual int receive(int timeoutMs, char* buffer, int capacity, const Sink& sink) = 0;
};
