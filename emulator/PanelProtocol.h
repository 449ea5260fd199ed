#pragma once

#include <QColor>
#include <QJsonObject>

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
    // Adds the protocol's own readings to the status endpoint's reply.
    virtual void addStatus(QJsonObject& status) const { (void)status; }
    // A colour the panel lights instead of the streamed picture; invalid when there is none.
    virtual QColor shownColor() const { return QColor(); }
};
