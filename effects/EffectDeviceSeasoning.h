#pragma once

#include <QMetaType>
#include <QString>

// The effect the panel itself applies to the frames it receives; stored per device as an integer.
enum EffectDeviceSeasoning : int
{
    NoEffect = 0,
    FadingPixels = 1,
    FadingTriangles = 2,
};
Q_DECLARE_METATYPE(EffectDeviceSeasoning)

// Display text of a seasoning value; empty for values outside the enumeration.
QString effectName(int seasoning);

// Gradient directions are indexes 0 to 7, each 45 degrees further clockwise; other indexes mean 0 degrees.
int directionAngle(int index);
QString directionLabel(int index);
