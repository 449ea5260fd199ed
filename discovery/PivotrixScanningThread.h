#pragma once

#include "discovery/PivotrixBSS.h"

#include <QThread>

// One mDNS scan for panels; reports every complete record it assembles.
class PivotrixScanningThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int defaultSilenceMs = 5000;

    PivotrixScanningThread();

    // How long the scan waits without any datagram before it ends; set before start().
    void setSilenceTimeout(int ms) { m_silenceMs = ms; }

signals:
    void DeviceFound(PivotrixBSS device);

protected:
    void run() override;

private:
    int m_silenceMs = defaultSilenceMs;
};
