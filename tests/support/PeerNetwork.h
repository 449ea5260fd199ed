#pragma once

#include <QString>

#include <functional>

// A second network namespace joined to the test's own (PrivateNetwork) by a veth pair, so that traffic,
// multicast included, really crosses a link. Each end has a link-local and a global IPv6 address:
// here fe80::1 and 2001:db8::1 on "pvx0", there fe80::2 and 2001:db8::2 onwards on "pvx1".
class PeerNetwork
{
public:
    static constexpr int kPeerHosts = 4;

    ~PeerNetwork();

    // False, with the reason, outside PrivateNetwork or where veth pairs are not permitted.
    bool start(QString* why);
    // Runs `work` on a thread inside the peer namespace and waits for it; sockets it opens and threads it
    // starts stay there.
    void run(const std::function<void()>& work) const;

private:
    int m_namespace = -1;
};
