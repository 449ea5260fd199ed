#include "emulator/PanelMdnsResponder.h"

#include "discovery/MdnsMessage.h"
#include "emulator/EmulatedPanel.h"

#include <QDebug>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace MdnsMessage;

namespace {

constexpr quint16 typeAny = 255;
constexpr quint16 cacheFlush = 0x8000;
constexpr quint32 hostTtl = 120;
constexpr quint32 serviceTtl = 4500;

int openSocket(const sockaddr_storage& local)
{
    const int fd = ::socket(local.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    if (local.ss_family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    const socklen_t length = local.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The panel's own address on the mDNS port; a scoped IPv6 address keeps its zone.
bool ownAddress(const QString& text, sockaddr_storage* own)
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(text.toLatin1().constData(), "5353", &hints, &found) != 0)
        return false;
    std::memcpy(own, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    return true;
}

// The interface that holds `own` (IPv6 group membership is per interface).
unsigned interfaceOf(const sockaddr_in6& own)
{
    if (own.sin6_scope_id)
        return own.sin6_scope_id;
    unsigned index = 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return 0;
    for (ifaddrs* entry = list; entry && !index; entry = entry->ifa_next) {
        const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
        if (address && address->sin6_family == AF_INET6 &&
            std::memcmp(&address->sin6_addr, &own.sin6_addr, sizeof own.sin6_addr) == 0)
            index = if_nametoindex(entry->ifa_name);
    }
    freeifaddrs(list);
    return index;
}

QByteArray label(const QString& text)
{
    QByteArray bytes = text.toUtf8().left(63);
    bytes.replace('.', '-');
    return bytes.isEmpty() ? QByteArray("panel") : bytes;
}

// Starts a record whose owner is a compression pointer to `owner`, or the service name written out when
// `owner` is -1; returns where its data length goes.
int beginRecord(QByteArray& out, int owner, quint16 type, quint16 rrClass, quint32 ttl)
{
    if (owner < 0)
        appendName(out, serviceType);
    else
        appendU16(out, quint16(0xC000 | owner));
    appendU16(out, type);
    appendU16(out, rrClass);
    appendU32(out, ttl);
    const int lengthAt = out.size();
    appendU16(out, 0);
    return lengthAt;
}

void endRecord(QByteArray& out, int lengthAt)
{
    const int length = out.size() - lengthAt - 2;
    out[lengthAt] = char(length >> 8);
    out[lengthAt + 1] = char(length & 0xFF);
}

} // namespace

PanelMdnsResponder::PanelMdnsResponder(EmulatedPanel* panel, const PanelMdnsAnswer& answer)
    : m_panel(panel)
    , m_answer(answer)
{}

PanelMdnsResponder::~PanelMdnsResponder()
{
    close();
}

void PanelMdnsResponder::panelOnline()
{
    close();
    sockaddr_storage own{};
    if (!ownAddress(m_panel->address(), &own)) {
        qWarning("emulator: no mDNS responder for %s (not a numeric address)",
                 qPrintable(m_panel->address()));
        return;
    }
    m_ipv6 = own.ss_family == AF_INET6;
    // Multicast queries arrive at the group address; replies leave from the panel's own address.
    sockaddr_storage group = own;
    const int off = 0;
    bool ready = false;
    if (!m_ipv6) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&group);
        inet_pton(AF_INET, ipv4Group, &v4->sin_addr);
        m_groupSocket = openSocket(group);
        m_replySocket = openSocket(own);
        ip_mreqn membership{};
        membership.imr_multiaddr = v4->sin_addr;
        membership.imr_address = reinterpret_cast<const sockaddr_in*>(&own)->sin_addr;
        const unsigned char ttl = 1;
        ready =
            m_groupSocket >= 0 && m_replySocket >= 0 &&
            setsockopt(m_groupSocket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0 &&
            setsockopt(m_groupSocket, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) == 0 &&
            setsockopt(m_replySocket, IPPROTO_IP, IP_MULTICAST_IF, &membership, sizeof membership) == 0 &&
            setsockopt(m_replySocket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0;
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&group);
        const unsigned index = interfaceOf(*reinterpret_cast<const sockaddr_in6*>(&own));
        inet_pton(AF_INET6, ipv6Group, &v6->sin6_addr);
        v6->sin6_scope_id = index;
        m_groupSocket = openSocket(group);
        m_replySocket = openSocket(own);
        ipv6_mreq membership{};
        membership.ipv6mr_multiaddr = v6->sin6_addr;
        membership.ipv6mr_interface = index;
        const int hops = 1;
        ready =
            index && m_groupSocket >= 0 && m_replySocket >= 0 &&
            setsockopt(m_groupSocket, IPPROTO_IPV6, IPV6_JOIN_GROUP, &membership, sizeof membership) == 0 &&
            setsockopt(m_groupSocket, IPPROTO_IPV6, IPV6_MULTICAST_ALL, &off, sizeof off) == 0 &&
            setsockopt(m_replySocket, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index) == 0 &&
            setsockopt(m_replySocket, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops) == 0;
    }
    if (!ready && m_replySocket >= 0) {
        // No multicast here: the panel still hears queries sent to its own address.
        qWarning("emulator: %s not in the mDNS group: %s", qPrintable(m_panel->address()), strerror(errno));
        if (m_groupSocket >= 0)
            ::close(m_groupSocket);
        m_groupSocket = -1;
    }
    if (m_replySocket < 0 || pipe2(m_wake, O_CLOEXEC)) {
        qWarning("emulator: no mDNS responder on %s: %s", qPrintable(m_panel->address()), strerror(errno));
        close();
        return;
    }
    m_thread = std::thread([this] { serve(); });
}

void PanelMdnsResponder::panelOffline()
{
    close();
}

void PanelMdnsResponder::close()
{
    if (m_thread.joinable()) {
        const char stop = 0;
        (void)!::write(m_wake[1], &stop, 1);
        m_thread.join();
    }
    for (int* fd : {&m_groupSocket, &m_replySocket, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void PanelMdnsResponder::serve()
{
    std::vector<char> buffer(bufferSize);
    // A group socket of -1 is left out of poll.
    const int direct = m_answer.direct ? m_replySocket : -1;
    for (;;) {
        pollfd waits[3] = {{m_groupSocket, POLLIN, 0}, {direct, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(waits, 3, -1) < 0 && errno != EINTR)
            return;
        if (waits[2].revents)
            return;
        for (int i = 0; i < 2; ++i) {
            if (waits[i].revents)
                answer(waits[i].fd, i == 1, buffer);
        }
    }
}

void PanelMdnsResponder::answer(int fd, bool direct, std::vector<char>& buffer)
{
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    const ssize_t size =
        ::recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    bool unicast = false;
    if (size <= 0 || !asksForService(QByteArray::fromRawData(buffer.data(), int(size)), &unicast))
        return;
    // A querier that is not itself an mDNS responder on port 5353 only hears direct answers, and so does
    // one that asked this address alone. The port sits at the same place in both families.
    auto* v4 = reinterpret_cast<sockaddr_in*>(&from);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&from);
    if (direct || ntohs(v4->sin_port) != mdnsPort)
        unicast = true;
    if (!unicast) {
        v4->sin_port = htons(mdnsPort);
        if (m_ipv6)
            inet_pton(AF_INET6, ipv6Group, &v6->sin6_addr);
        else
            inet_pton(AF_INET, ipv4Group, &v4->sin_addr);
    }
    const quint16 queryId = unicast ? readU16(reinterpret_cast<const uchar*>(buffer.data())) : 0;
    for (const QByteArray& reply : replies(queryId))
        ::sendto(m_replySocket, reply.constData(), size_t(reply.size()), 0,
                 reinterpret_cast<sockaddr*>(&from), fromLength);
    ++m_answered;
}

bool PanelMdnsResponder::asksForService(const QByteArray& datagram, bool* unicast)
{
    const auto* data = reinterpret_cast<const uchar*>(datagram.constData());
    const int size = datagram.size();
    if (size < headerSize || (readU16(data + 2) & 0x8000)) // too short, or a response
        return false;
    bool asks = false;
    *unicast = false;
    int offset = headerSize;
    for (int i = readU16(data + 4); i > 0; --i) {
        QByteArray name;
        offset = readName(data, size, offset, &name);
        if (offset < 0 || size - offset < 4)
            return false;
        const quint16 type = readU16(data + offset);
        const quint16 qclass = readU16(data + offset + 2);
        offset += 4;
        if (name.compare(serviceType, Qt::CaseInsensitive) != 0 || (qclass & 0x7FFF) != classIn)
            continue;
        if (type == typePtr || type == typeSrv || type == typeTxt || type == typeAny) {
            asks = true;
            *unicast = *unicast || (qclass & unicastResponseBit);
        }
    }
    return asks;
}

QList<QByteArray> PanelMdnsResponder::replies(quint16 queryId) const
{
    QList<QByteArray> txt = m_answer.txtStrings;
    if (txt.isEmpty()) {
        txt << "nm=" + m_panel->name().toUtf8().left(250) << "md=" + m_panel->model().toUtf8().left(250)
            << "id=" + m_panel->id().toUtf8().left(250) << "ss=" + QByteArray::number(m_answer.ssFlag);
    }
    const int port = m_answer.srvPort < 0 ? m_panel->apiPort() : m_answer.srvPort;
    // The host's own address: A for IPv4, AAAA (without the zone) for IPv6.
    sockaddr_storage own{};
    ownAddress(m_panel->address(), &own);
    const QByteArray hostAddress =
        own.ss_family == AF_INET6
            ? QByteArray(
                  reinterpret_cast<const char*>(&reinterpret_cast<const sockaddr_in6*>(&own)->sin6_addr), 16)
            : QByteArray(reinterpret_cast<const char*>(&reinterpret_cast<const sockaddr_in*>(&own)->sin_addr),
                         4);

    // Each datagram names the service in full once and points back to it from then on.
    const auto datagram = [&](bool withSrv, bool withTxt) {
        QByteArray out;
        appendU16(out, queryId);
        appendU16(out, 0x8400);
        appendU16(out, 0);
        appendU16(out, quint16(1 + (withSrv ? 1 : 0) + (withTxt ? 1 : 0)));
        appendU16(out, 0);
        appendU16(out, withSrv ? 1 : 0);
        const int service = out.size();
        const int local = service + 1 + 13 + 1 + 4; // "local" inside the service name
        int at = beginRecord(out, -1, typePtr, classIn, serviceTtl);
        const int instance = out.size();
        const QByteArray instanceLabel = label(m_panel->name());
        out.append(char(instanceLabel.size()));
        out.append(instanceLabel);
        appendU16(out, quint16(0xC000 | service));
        endRecord(out, at);
        int host = -1;
        if (withSrv) {
            at = beginRecord(out, instance, typeSrv, classIn | cacheFlush, hostTtl);
            appendU16(out, 0);
            appendU16(out, 0);
            appendU16(out, quint16(port));
            host = out.size();
            const QByteArray hostLabel = label(m_panel->id());
            out.append(char(hostLabel.size()));
            out.append(hostLabel);
            appendU16(out, quint16(0xC000 | local));
            endRecord(out, at);
        }
        if (withTxt) {
            at = beginRecord(out, instance, typeTxt, classIn | cacheFlush, serviceTtl);
            for (const QByteArray& string : txt) {
                out.append(char(qMin(string.size(), 255)));
                out.append(string.left(255));
            }
            endRecord(out, at);
        }
        if (withSrv) {
            at = beginRecord(out, host, hostAddress.size() == 16 ? typeAaaa : typeA, classIn | cacheFlush,
                             hostTtl);
            out.append(hostAddress);
            endRecord(out, at);
        }
        return out;
    };
    if (m_answer.srvAndTxtApart)
        return {datagram(m_answer.srv, false), datagram(false, m_answer.txt)};
    return {datagram(m_answer.srv, m_answer.txt)};
}
