#include "effects/EffectDeviceSeasoning.h"

QString effectName(int seasoning)
{
    switch (seasoning) {
    case NoEffect:
        return QStringLiteral("No Effect");
    case FadingPixels:
        return QStringLiteral("Fading Pixels");
    case FadingTriangles:
        return QStringLiteral("Fading Triangles");
    default:
        return QString();
    }
}

int directionAngle(int index)
{
    return index >= 0 && index <= 7 ? index * 45 : 0;
}

QString directionLabel(int index)
{
    return QStringLiteral(" - %1°").arg(directionAngle(index), 0, 10, QLatin1Char(' '));
}
