#pragma once

namespace httplib {
class Server;
}

// One protocol a panel speaks. HTTP protocols register their routes on the panel's API server each time
// it opens; protocols with their own sockets (such as an mDNS responder) follow the online/offline hooks.
class PanelProtocol
{
public:
    virtual ~PanelProtocol() = default;
    virtual void registerRoutes(httplib::Server& server) { (void)server; }
    virtual void panelOnline() {}
    virtual void panelOffline() {}
};
