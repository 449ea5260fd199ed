#pragma once

#include <QRect>
#include <QString>
#include <QtGlobal>

// Opaque platform monitor identity: HMONITOR on Windows, the RandR monitor name atom (or 1-based index) on
// X11.
using MonitorHandle = quintptr;

// One monitor as enumerated by the capture back end.
struct ScreenInfo
{
    QString name;
    QRect geometry;
    MonitorHandle monitor = 0;
};
