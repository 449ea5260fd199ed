#pragma once

#include "emulator/PanelProtocol.h"

class EmulatedPanel;

// The panel's control API: device information, stream state, stream start and stop.
class PanelDeviceApi : public PanelProtocol
{
public:
    explicit PanelDeviceApi(EmulatedPanel* panel)
        : m_panel(panel)
    {}
    void registerRoutes(httplib::Server& server) override;

private:
    EmulatedPanel* m_panel;
};
