#include "discovery/linux/PosixMdnsTransport.h"

#include "core/DiagnosticLog.h"
#include "discovery/MdnsMessage.h"

#include <QDebug>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString numericHost(const sockaddr* address, socklen_t length)
{
    // 64 bytes as the record key allows; a longer host fails here and stays unusable.
    char host[64];
    char service[NI_MAXSERV];
    if (getnameinfo(address, length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return QString();
    return QString::fromLatin1(host);
}

bool isLoopbackHost(const sockaddr* address)
{
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        return ntohl(v4->sin_addr.s_addr) == INADDR_LOOPBACK;
    }
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr))
        return true;
    static const uchar mappedLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127, 0, 0, 1};
    return std::memcmp(&v6->sin6_addr, mappedLoopback, 16) == 0;
}

bool setInt(int fd, int level, int option, int value)
{
    return setsockopt(fd, level, option, &value, sizeof value) == 0;
}

} // namespace

PosixMdnsTransport::~PosixMdnsTransport()
{
    for (const Socket& socket : m_sockets)
        ::close(socket.fd);
}

int PosixMdnsTransport::open()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        qCDebug(lcPivotrix) << "mdns: no interface list" << strerror(errno);
        return 0;
    }
    for (ifaddrs* entry = list; entry && int(m_sockets.size()) < maxSockets; entry = entry->ifa_next) {
        const sockaddr* address = entry->ifa_addr;
        if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6))
            continue;
        if ((entry->ifa_flags & (IFF_UP | IFF_RUNNING)) != (IFF_UP | IFF_RUNNING) || isLoopbackHost(address))
            continue;
        unsigned index = if_nametoindex(entry->ifa_name);
        Socket socket;
        bool opened = false;
        if (address->sa_family == AF_INET) {
            opened = openIpv4(address, index, &socket);
        } else {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
            if (IN6_IS_ADDR_MULTICAST(&v6->sin6_addr))
                continue;
            if (v6->sin6_scope_id)
                index = v6->sin6_scope_id;
            opened = openIpv6(address, index, &socket);
        }
        if (opened)
            m_sockets.push_back(socket);
    }
    freeifaddrs(list);
    return int(m_sockets.size());
}

bool PosixMdnsTransport::openIpv4(const void* address, unsigned interfaceIndex, Socket* socket)
{
    sockaddr_in local;
    std::memcpy(&local, address, sizeof local);
    local.sin_port = 0;
    const QString host = numericHost(reinterpret_cast<const sockaddr*>(&local), sizeof local);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        qCDebug(lcPivotrix) << "mdns: no socket for" << host << strerror(errno);
        return false;
    }
    const unsigned char ttl = 1;
    const unsigned char loop = 1;
    ip_mreqn membership{};
    inet_pton(AF_INET, MdnsMessage::ipv4Group, &membership.imr_multiaddr);
    membership.imr_address = local.sin_addr;
    membership.imr_ifindex = int(interfaceIndex);
    setInt(fd, SOL_SOCKET, SO_REUSEADDR, 1);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &membership, sizeof membership) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        qCDebug(lcPivotrix) << "mdns: skipping" << host << strerror(errno);
        ::close(fd);
        return false;
    }
    *socket = Socket{fd, AF_INET, interfaceIndex, host};
    return true;
}

bool PosixMdnsTransport::openIpv6(const void* address, unsigned interfaceIndex, Socket* socket)
{
    sockaddr_in6 local;
    std::memcpy(&local, address, sizeof local);
    local.sin6_port = 0;
    const QString host = numericHost(reinterpret_cast<const sockaddr*>(&local), sizeof local);
    const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        qCDebug(lcPivotrix) << "mdns: no socket for" << host << strerror(errno);
        return false;
    }
    ipv6_mreq membership{};
    inet_pton(AF_INET6, MdnsMessage::ipv6Group, &membership.ipv6mr_multiaddr);
    membership.ipv6mr_interface = interfaceIndex;
    setInt(fd, SOL_SOCKET, SO_REUSEADDR, 1);
    setInt(fd, IPPROTO_IPV6, IPV6_V6ONLY, 1);
    setInt(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, 1);
    setInt(fd, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, 1);
    if (setsockopt(fd, IPPROTO_IPV6, IPV6_JOIN_GROUP, &membership, sizeof membership) != 0 ||
        setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, &interfaceIndex, sizeof interfaceIndex) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        qCDebug(lcPivotrix) << "mdns: skipping" << host << strerror(errno);
        ::close(fd);
        return false;
    }
    *socket = Socket{fd, AF_INET6, interfaceIndex, host};
    return true;
}

QStringList PosixMdnsTransport::localAddresses() const
{
    QStringList addresses;
    for (const Socket& socket : m_sockets)
        addresses << socket.local;
    return addresses;
}

void PosixMdnsTransport::sendQuery(char* buffer, int capacity)
{
    for (const Socket& socket : m_sockets) {
        sockaddr_storage local{};
        socklen_t localLength = sizeof local;
        getsockname(socket.fd, reinterpret_cast<sockaddr*>(&local), &localLength);
        const quint16 localPort =
            ntohs(socket.family == AF_INET ? reinterpret_cast<const sockaddr_in*>(&local)->sin_port
                                           : reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
        const int length = MdnsMessage::composeQuery(buffer, capacity, localPort != MdnsMessage::mdnsPort);
        if (length == 0)
            return;
        sockaddr_storage group{};
        socklen_t groupLength = 0;
        if (socket.family == AF_INET) {
            auto* v4 = reinterpret_cast<sockaddr_in*>(&group);
            v4->sin_family = AF_INET;
            v4->sin_port = htons(MdnsMessage::mdnsPort);
            inet_pton(AF_INET, MdnsMessage::ipv4Group, &v4->sin_addr);
            groupLength = sizeof *v4;
        } else {
            auto* v6 = reinterpret_cast<sockaddr_in6*>(&group);
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(MdnsMessage::mdnsPort);
            v6->sin6_scope_id = socket.interfaceIndex;
            inet_pton(AF_INET6, MdnsMessage::ipv6Group, &v6->sin6_addr);
            groupLength = sizeof *v6;
        }
        if (::sendto(socket.fd, buffer, size_t(length), 0, reinterpret_cast<const sockaddr*>(&group),
                     groupLength) < 0)
            qCDebug(lcPivotrix) << "mdns: query not sent from" << socket.local << strerror(errno);
    }
}

int PosixMdnsTransport::receive(int timeoutMs, char* buffer, int capacity, const Sink& sink)
{
    std::vector<pollfd> waits;
    waits.reserve(m_sockets.size());
    for (const Socket& socket : m_sockets)
        waits.push_back(pollfd{socket.fd, POLLIN, 0});
    const int ready = ::poll(waits.data(), waits.size(), timeoutMs);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    int readable = 0;
    for (const pollfd& wait : waits) {
        if (!wait.revents)
            continue;
        ++readable;
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t size =
            ::recvfrom(wait.fd, buffer, size_t(capacity), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (size <= 0)
            continue;
        const bool ipv6 = from.ss_family == AF_INET6;
        sink(int(size), MdnsSource::fromNumericHost(
                            numericHost(reinterpret_cast<const sockaddr*>(&from), fromLength), ipv6));
    }
    return readable;
}
