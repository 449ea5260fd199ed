#pragma once

#include <QString>

#include <functional>

// Runs a test binary again inside a private network namespace (unshare -rn) with loopback up, multicast on
// and the extra addresses 127.0.0.2 onwards, so a multicast scan never leaves the namespace. Call first
// thing in main():
//     if (const int status = PrivateNetwork::enter(argc, argv, 40); status >= 0) return status;
namespace PrivateNetwork {

// -1: carry on in this process (already inside, or namespaces unavailable). Otherwise the child's status.
int enter(int argc, char** argv, int extraAddresses);
// True inside the namespace; otherwise `why` tells why namespaces are not available.
bool inside(QString* why = nullptr);
// Inside: a second namespace joined to this one by a veth pair, made once per process, so that traffic
// (multicast too) really crosses a link. Here fe80::1 and 2001:db8::1 on "pvx0"; there fe80::2 to ::5 and
// 2001:db8::2 to ::5 on "pvx1", and 192.0.2.1 / .2 on the two ends. Behind the peer, routed and out of
// reach of any mDNS multicast: 198.51.100.2 and 2001:db8:1::2 (a panel "on another subnet"). False, with
// the reason, where that is not permitted.
bool startPeer(QString* why);
// Runs `work` on a thread inside the peer namespace and waits for it; the sockets it opens and the threads
// it starts stay there.
void inPeer(const std::function<void()>& work);

} // namespace PrivateNetwork
