#pragma once

#include "discovery/PivotrixBSS.h"

#include <QThread>

// One mDNS scan for panels; reports every complete record it assembles.
class PivotrixScanningThread : public QThread
{
    Q_OBJECT
public:
    PivotrixScanningThread();

signals:
    void DeviceFound(PivotrixBSS device);

protected:
    void run() override;
};
