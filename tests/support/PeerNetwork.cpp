#include "support/PeerNetwork.h"

#include "support/PrivateNetwork.h"

#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {
bool shell(const std::string& script)
{
    const std::string command = "PATH=\"$PATH:/usr/sbin:/sbin\"; " + script + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Hosts `first` to `last` of fe80::/64 and 2001:db8::/64 on `device`.
std::string endScript(const std::string& device, int first, int last)
{
    std::string script = "ip link set lo up";
    for (int host = first; host <= last; ++host) {
        for (const char* prefix : {"fe80::", "2001:db8::"})
            script += " && ip addr add " + (prefix + std::to_string(host)) + "/64 dev " + device + " nodad";
    }
    return script + " && ip link set " + device + " up";
}
} // namespace

PeerNetwork::~PeerNetwork()
{
    if (m_namespace >= 0)
        ::close(m_namespace);
}

bool PeerNetwork::start(QString* why)
{
    if (!PrivateNetwork::inside(why))
        return false;
    *why = QStringLiteral("no veth pair here");
    // No addresses of their own: the fixed ones below, without duplicate detection, are usable at once.
    if (!shell("ip link add pvx0 type veth peer name pvx1 && ip link set pvx0 addrgenmode none && "
               "ip link set pvx1 addrgenmode none"))
        return false;
    // The namespace is made on a thread of its own; the handle keeps it after the thread ends.
    std::thread([this] {
        if (::unshare(CLONE_NEWNET) == 0)
            m_namespace = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    }).join();
    if (m_namespace < 0)
        return false;
    const std::string handle = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(m_namespace);
    if (!shell("ip link set pvx1 netns " + handle + " && " + endScript("pvx0", 1, 1)))
        return false;
    bool peerReady = false;
    run([&peerReady] { peerReady = shell(endScript("pvx1", 2, 1 + kPeerHosts)); });
    return peerReady;
}

void PeerNetwork::run(const std::function<void()>& work) const
{
    std::thread([this, &work] {
        if (::setns(m_namespace, CLONE_NEWNET) == 0)
            work();
    }).join();
}
