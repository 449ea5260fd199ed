#include "support/PrivateNetwork.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace PrivateNetwork {

namespace {
constexpr char kVariable[] = "PIVOTRIX_PRIVATE_NETWORK";

std::string setupScript(int extraAddresses)
{
    std::string script = "PATH=\"$PATH:/usr/sbin:/sbin\"; ip link set lo up && ip link set lo multicast on";
    for (int i = 0; i < extraAddresses; ++i)
        script += " && ip addr add 127.0.0." + std::to_string(2 + i) + "/8 dev lo";
    return script;
}

// The veth pair, its far end moved into the namespace $PEER; addresses without duplicate detection are
// usable at once, and none of the kernel's own get in the way. The peer also routes a subnet of its own,
// on its loopback, that link-local multicast never reaches.
constexpr char kPeerScript[] =
    "ip link add pvx0 type veth peer name pvx1 && ip link set pvx0 addrgenmode none && "
    "ip link set pvx1 addrgenmode none && ip link set pvx1 netns $PEER && ip addr add fe80::1/64 dev pvx0 "
    "nodad "
    "&& ip addr add 2001:db8::1/64 dev pvx0 nodad && ip link set pvx0 up && nsenter --net=$PEER sh -c 'ip "
    "link "
    "set lo up && for h in 2 3 4 5; do ip addr add fe80::$h/64 dev pvx1 nodad && ip addr add 2001:db8::$h/64 "
    "dev pvx1 nodad || exit 1; done && ip link set pvx1 up && ip addr add 192.0.2.2/24 dev pvx1 && "
    "ip addr add 198.51.100.2/32 dev lo && ip addr add 2001:db8:1::2/128 dev lo' && "
    "ip addr add 192.0.2.1/24 dev pvx0 && ip route add 198.51.100.0/24 via 192.0.2.2 && "
    "ip route add 2001:db8:1::/64 via 2001:db8::2";
int g_peer = -1;
} // namespace

bool inside(QString* why)
{
    const QByteArray state = qgetenv(kVariable);
    if (why)
        *why = state == "inside"
                   ? QString()
                   : QStringLiteral("private network namespaces are not permitted here (unshare -rn)");
    return state == "inside";
}

int enter(int argc, char** argv, int extraAddresses)
{
    if (!qEnvironmentVariableIsEmpty(kVariable))
        return -1;
    const std::string probe = "unshare -rn sh -c '" + setupScript(1) + "' >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) {
        std::fprintf(stderr, "private network: unavailable, scans are skipped\n");
        qputenv(kVariable, "unavailable");
        return -1;
    }
    std::string command = "unshare -rn sh -c '" + setupScript(extraAddresses) + " && exec \"$@\"' sh";
    // Each argument in single quotes, a quote of its own closed, escaped and reopened.
    for (int i = 0; i < argc; ++i) {
        command += " '";
        for (const char* c = argv[i]; *c; ++c)
            command += *c == '\'' ? std::string("'\\''") : std::string(1, *c);
        command += '\'';
    }
    qputenv(kVariable, "inside");
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool startPeer(QString* why)
{
    static const bool ready = [] {
        // Made on a thread of its own; the handle keeps it.
        std::thread([] {
            if (inside() && ::unshare(CLONE_NEWNET) == 0)
                g_peer = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        }).join();
        const std::string peer = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(g_peer);
        const std::string script = "PATH=\"$PATH:/usr/sbin:/sbin\"; PEER=" + peer + "; (" + kPeerScript + ")";
        return g_peer >= 0 && std::system((script + " >/dev/null 2>&1").c_str()) == 0;
    }();
    if (why)
        *why = ready ? QString() : QStringLiteral("no veth pair between private network namespaces here");
    return ready;
}

void inPeer(const std::function<void()>& work)
{
    std::thread([&work] {
        if (::setns(g_peer, CLONE_NEWNET) == 0)
            work();
    }).join();
}

} // namespace PrivateNetwork
