#pragma once

#include "capture/ScreenInfo.h"

class OutputDuplication;

// One captured output: a 32-bit BGRA pixel buffer owned by the back end.
struct ScreenFrame
{
    uchar* buffer = nullptr;
    qint64 size = 0;
    qint32 valid = 0;
    qint32 width = 0;
    qint32 height = 0;
    QString name;
    QRect geometry;
    MonitorHandle monitor = 0;
    OutputDuplication* duplication = nullptr;
    qint32 stride = 0;
};
