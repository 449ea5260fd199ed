#include "discovery/PivotrixScanningThread.h"

PivotrixScanningThread::PivotrixScanningThread() = default;

void PivotrixScanningThread::run() {}
