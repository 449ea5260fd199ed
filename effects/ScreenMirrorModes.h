#pragma once

#include <QEasingCurve>
#include <QMetaType>
#include <QRectF>
#include <QString>

// How a monitor is mirrored onto a panel; stored per device as "effect_mode".
enum EffecType : int
{
    ScreenSeason = 0,
    DominantSeason = 1,
    ContinueScreen = 2,
};
Q_DECLARE_METATYPE(EffecType)

// Where the panel stands relative to the monitor; stored as "device_location".
enum EffectDeviceLocation : int
{
    LocationTop = 0,
    LocationLeft = 1,
    LocationRight = 2,
    LocationBottom = 3,
    LocationTopLeft = 4,
    LocationTopRight = 5,
    LocationBottomLeft = 6,
    LocationBottomRight = 7,
};
Q_DECLARE_METATYPE(EffectDeviceLocation)

// Tone curve applied to the brightness of mirrored colours; stored as "color_mode".
enum ColorMode : int
{
    ColorBoosted = 0,
    ColorNatural = 1,
};
Q_DECLARE_METATYPE(ColorMode)

// Display texts; empty for values outside the enumerations.
QString effectTypeName(int mode);
QString deviceLocationName(int location);
QString colorModeName(int mode);

// The part of the monitor next to a panel at that location, in fractions of the monitor; empty (the whole
// monitor) for unknown locations.
QRectF deviceLocationCrop(int location);

// The curve of a colour mode; unknown modes keep `fallback`.
QEasingCurve colorModeCurve(int mode, const QEasingCurve& fallback);
