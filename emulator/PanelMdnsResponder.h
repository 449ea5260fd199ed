#pragma once

#include "emulator/PanelProtocol.h"

#include <QByteArray>
#include <QList>

#include <atomic>
#include <thread>
#include <vector>

class EmulatedPanel;

// What a panel puts in its replies; tests shape incomplete or unusual panels with it.
struct PanelMdnsAnswer
{
    bool srv = true;
    bool txt = true;
    int srvPort = -1; // -1: the panel's API port
    int ssFlag = 1;
    QList<QByteArray> txtStrings; // replaces "nm", "md", "id", "ss" when not empty
    bool srvAndTxtApart = false;  // SRV and TXT in two datagrams
    bool direct = true;           // answers queries sent straight to its own address (RFC 6762 5.5)
};

// The panel's mDNS responder: answers a query for "_pivotrix-api._tcp.local." with PTR, SRV (the API port),
// TXT ("nm", "md", "id", "ss") and A (AAAA) records, from the panel's own address, IPv4 or IPv6. The reply
// goes straight back to the querier when it asked for a unicast response (or is not itself on port 5353),
// else to the group. Several panels in one network share port 5353. A query sent straight to the panel's
// address is answered straight back (unless told not to), also where the panel cannot join the group.
class PanelMdnsResponder : public PanelProtocol
{
public:
    explicit PanelMdnsResponder(EmulatedPanel* panel, const PanelMdnsAnswer& answer = PanelMdnsAnswer());
    ~PanelMdnsResponder() override;

    void panelOnline() override;
    void panelOffline() override;

    int queriesAnswered() const { return m_answered; }

    // The reply datagrams for a query with the given id.
    QList<QByteArray> replies(quint16 queryId) const;
    // True when `datagram` is a query that asks for the panel's service; `unicast` tells whether it wants
    // the answer sent back directly.
    static bool asksForService(const QByteArray& datagram, bool* unicast);

private:
    void serve();
    void answer(int fd, bool direct, std::vector<char>& buffer);
    void close();

    EmulatedPanel* m_panel;
    const PanelMdnsAnswer m_answer;
    bool m_ipv6 = false;
    int m_groupSocket = -1;
    int m_replySocket = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::atomic<int> m_answered{0};
};
