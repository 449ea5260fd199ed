#include "discovery/win/WinMdnsTransport.h"

#include "core/DiagnosticLog.h"
#include "discovery/MdnsMessage.h"

#include <QDebug>

// WinSock first: the IP Helper header needs its types.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr ULONG firstListSize = 8000;
constexpr int listAttempts = 5;

QString numericHost(const sockaddr* address, int length)
{
    char host[64];
    char service[NI_MAXSERV];
    if (getnameinfo(address, socklen_t(length), host, sizeof host, service, sizeof service,
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
    static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const unsigned char mappedLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127, 0, 0, 1};
    return std::memcmp(&v6->sin6_addr, loopback, 16) == 0 ||
           std::memcmp(&v6->sin6_addr, mappedLoopback, 16) == 0;
}

IP_ADAPTER_ADDRESSES* adapterList()
{
    ULONG size = firstListSize;
    for (int attempt = 0; attempt < listAttempts; ++attempt) {
        auto* list = static_cast<IP_ADAPTER_ADDRESSES*>(std::malloc(size));
        if (!list)
            return nullptr;
        const ULONG result = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_ANYCAST,
                                                  nullptr, list, &size);
        if (result == NO_ERROR)
            return list;
        std::free(list);
        if (result != ERROR_BUFFER_OVERFLOW)
            return nullptr;
        size = firstListSize << (attempt + 1);
    }
    return nullptr;
}

} // namespace

WinMdnsTransport::~WinMdnsTransport()
{
    for (const Socket& socket : m_sockets)
        closesocket(SOCKET(socket.handle));
}

int WinMdnsTransport::open()
{
    IP_ADAPTER_ADDRESSES* list = adapterList();
    if (!list) {
        qCDebug(lcPivotrix) << "mdns: no adapter list";
        return 0;
    }
    for (IP_ADAPTER_ADDRESSES* adapter = list; adapter; adapter = adapter->Next) {
        if (adapter->TunnelType == TUNNEL_TYPE_TEREDO || adapter->OperStatus != IfOperStatusUp)
            continue;
        for (IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast;
             unicast = unicast->Next) {
            if (int(m_sockets.size()) >= maxSockets)
                break;
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (!address || isLoopbackHost(address))
                continue;
            unsigned long index = 0;
            if (address->sa_family == AF_INET)
                index = adapter->IfIndex;
            else if (address->sa_family == AF_INET6 && unicast->DadState == IpDadStatePreferred)
                index = adapter->Ipv6IfIndex;
            else
                continue;
            Socket socket;
            if (openSocket(address, unicast->Address.iSockaddrLength, index, &socket))
                m_sockets.push_back(socket);
        }
    }
    std::free(list);
    return int(m_sockets.size());
}

bool WinMdnsTransport::openSocket(const void* address, int length, unsigned long interfaceIndex,
                                  Socket* socket)
{
    const auto* from = static_cast<const sockaddr*>(address);
    const int family = from->sa_family;
    sockaddr_storage local{};
    std::memcpy(&local, address, size_t(length) < sizeof local ? size_t(length) : sizeof local);
    if (family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&local)->sin_port = 0;
    else
        reinterpret_cast<sockaddr_in6*>(&local)->sin6_port = 0;
    const QString host = numericHost(reinterpret_cast<const sockaddr*>(&local), length);

    const SOCKET handle = ::socket(family, SOCK_DGRAM, IPPROTO_UDP);
    if (handle == INVALID_SOCKET) {
        qCDebug(lcPivotrix) << "mdns: no socket for" << host << WSAGetLastError();
        return false;
    }
    const DWORD on = 1;
    setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    bool joined = false;
    if (family == AF_INET) {
        const unsigned char ttl = 1;
        const unsigned char loop = 1;
        setsockopt(handle, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl), sizeof ttl);
        setsockopt(handle, IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<const char*>(&loop), sizeof loop);
        ip_mreq membership{};
        inet_pton(AF_INET, MdnsMessage::ipv4Group, &membership.imr_multiaddr);
        membership.imr_interface = reinterpret_cast<const sockaddr_in*>(&local)->sin_addr;
        joined = setsockopt(handle, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&membership),
                            sizeof membership) == 0 &&
                 setsockopt(handle, IPPROTO_IP, IP_MULTICAST_IF,
                            reinterpret_cast<const char*>(&membership.imr_interface),
                            sizeof membership.imr_interface) == 0;
    } else {
        const DWORD hops = 1;
        const DWORD loop = 1;
        const DWORD v6only = 1;
        const DWORD index = interfaceIndex;
        setsockopt(handle, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6only), sizeof v6only);
        setsockopt(handle, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, reinterpret_cast<const char*>(&hops),
                   sizeof hops);
        setsockopt(handle, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, reinterpret_cast<const char*>(&loop),
                   sizeof loop);
        ipv6_mreq membership{};
        inet_pton(AF_INET6, MdnsMessage::ipv6Group, &membership.ipv6mr_multiaddr);
        membership.ipv6mr_interface = interfaceIndex;
        joined = setsockopt(handle, IPPROTO_IPV6, IPV6_JOIN_GROUP, reinterpret_cast<const char*>(&membership),
                            sizeof membership) == 0 &&
                 setsockopt(handle, IPPROTO_IPV6, IPV6_MULTICAST_IF, reinterpret_cast<const char*>(&index),
                            sizeof index) == 0;
    }
    u_long nonBlocking = 1;
    if (!joined || ::bind(handle, reinterpret_cast<const sockaddr*>(&local), length) != 0 ||
        ioctlsocket(handle, FIONBIO, &nonBlocking) != 0) {
        qCDebug(lcPivotrix) << "mdns: skipping" << host << WSAGetLastError();
        closesocket(handle);
        return false;
    }
    *socket = Socket{quintptr(handle), family, interfaceIndex, host};
    return true;
}

QStringList WinMdnsTransport::localAddresses() const
{
    QStringList addresses;
    for (const Socket& socket : m_sockets)
        addresses << socket.local;
    return addresses;
}

void WinMdnsTransport::sendQuery(char* buffer, int capacity)
{
    for (const Socket& socket : m_sockets) {
        sockaddr_storage local{};
        int localLength = sizeof local;
        getsockname(SOCKET(socket.handle), reinterpret_cast<sockaddr*>(&local), &localLength);
        const u_short localPort =
            ntohs(socket.family == AF_INET ? reinterpret_cast<const sockaddr_in*>(&local)->sin_port
                                           : reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
        const int length = MdnsMessage::composeQuery(buffer, capacity, localPort != MdnsMessage::mdnsPort);
        if (length == 0)
            return;
        sockaddr_storage group{};
        int groupLength = 0;
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
        if (sendto(SOCKET(socket.handle), buffer, length, 0, reinterpret_cast<const sockaddr*>(&group),
                   groupLength) == SOCKET_ERROR)
            qCDebug(lcPivotrix) << "mdns: query not sent from" << socket.local << WSAGetLastError();
    }
}

int WinMdnsTransport::receive(int timeoutMs, char* buffer, int capacity, const Sink& sink)
{
    std::vector<WSAPOLLFD> waits;
    waits.reserve(m_sockets.size());
    for (const Socket& socket : m_sockets) {
        WSAPOLLFD wait{};
        wait.fd = SOCKET(socket.handle);
        wait.events = POLLRDNORM;
        waits.push_back(wait);
    }
    if (WSAPoll(waits.data(), ULONG(waits.size()), timeoutMs) == SOCKET_ERROR)
        return -1;
    int readable = 0;
    for (const WSAPOLLFD& wait : waits) {
        if (!wait.revents)
            continue;
        ++readable;
        sockaddr_storage from{};
        int fromLength = sizeof from;
        const int size =
            recvfrom(wait.fd, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (size <= 0)
            continue;
        sink(size,
             MdnsSource::fromNumericHost(numericHost(reinterpret_cast<const sockaddr*>(&from), fromLength),
                                         from.ss_family == AF_INET6));
    }
    return readable;
}
