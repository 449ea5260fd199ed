#include "effects/ScreenMirrorModes.h"

#include <QCoreApplication>

QString effectTypeName(int mode)
{
    switch (mode) {
    case ScreenSeason:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Screen Season");
    case DominantSeason:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Dominant Season");
    case ContinueScreen:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Continue Screen");
    default:
        return QString();
    }
}

QString deviceLocationName(int location)
{
    switch (location) {
    case LocationTop:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Top");
    case LocationLeft:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Left");
    case LocationRight:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Right");
    case LocationBottom:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Bottom");
    case LocationTopLeft:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Top Left");
    case LocationTopRight:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Top Right");
    case LocationBottomLeft:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Bottom Left");
    case LocationBottomRight:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Bottom Right");
    default:
        return QString();
    }
}

QString colorModeName(int mode)
{
    switch (mode) {
    case ColorBoosted:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Boosted");
    case ColorNatural:
        return QCoreApplication::translate("ScreenMirrorDevicePage", "Natural");
    default:
        return QString();
    }
}

QRectF deviceLocationCrop(int location)
{
    // Single-precision fractions widened to double, as stored crops have always been.
    const double strip = 0.2f;
    const double far = 0.8f;
    const double corner = 0.3f;
    const double cornerFar = 0.7f;
    switch (location) {
    case LocationTop:
        return QRectF(0, 0, 1.0, strip);
    case LocationLeft:
        return QRectF(0, 0, strip, 1.0);
    case LocationRight:
        return QRectF(far, 0, strip, 1.0);
    case LocationBottom:
        return QRectF(0, far, 1.0, strip);
    case LocationTopLeft:
        return QRectF(0, 0, corner, corner);
    case LocationTopRight:
        return QRectF(cornerFar, 0, corner, corner);
    case LocationBottomLeft:
        return QRectF(0, cornerFar, corner, corner);
    case LocationBottomRight:
        return QRectF(cornerFar, cornerFar, corner, corner);
    default:
        return QRectF();
    }
}

QEasingCurve colorModeCurve(int mode, const QEasingCurve& fallback)
{
    switch (mode) {
    case ColorBoosted:
        return QEasingCurve(QEasingCurve::OutCirc);
    case ColorNatural:
        return QEasingCurve(QEasingCurve::Linear);
    default:
        return fallback;
    }
}
