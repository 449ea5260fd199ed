#include "emulator/PanelDeviceApi.h"

#include "emulator/EmulatedPanel.h"

#include <httplib.h>

void PanelDeviceApi::registerRoutes(httplib::Server& server)
{
    EmulatedPanel* panel = m_panel;
    server.Get("/api/v2/device", [panel](const httplib::Request& request, httplib::Response& response) {
        if (panel->admit(request, response, QStringLiteral("device")))
            EmulatedPanel::replyJson(response, 200, panel->deviceInfo());
    });
    server.Get("/api/v2/device/stream",
               [panel](const httplib::Request& request, httplib::Response& response) {
                   if (panel->admit(request, response, QStringLiteral("stream")))
                       EmulatedPanel::replyJson(response, 200, panel->streamReply());
               });
    server.Put(
        "/api/v2/device/stream/start", [panel](const httplib::Request& request, httplib::Response& response) {
            if (!panel->admit(request, response, QStringLiteral("start")))
                return;
            int status = 200;
            const QJsonObject reply = panel->startStream(QByteArray::fromStdString(request.body), &status);
            EmulatedPanel::replyJson(response, status, reply);
        });
    server.Put("/api/v2/device/stream/stop",
               [panel](const httplib::Request& request, httplib::Response& response) {
                   if (panel->admit(request, response, QStringLiteral("stop")))
                       EmulatedPanel::replyJson(response, 200, panel->stopStream());
               });
}
