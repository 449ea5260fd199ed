#pragma once

#include "effects/EffectDeviceSeasoning.h"
#include "effects/ScreenMirrorModes.h"

#include <QList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;

// One device on the "Screen Mirror" tab: monitor, mode, colours, the panel's own effect, where the panel
// stands, and the stream switch.
class ScreenMirrorDevicePage : public QWidget
{
    Q_OBJECT
public:
    explicit ScreenMirrorDevicePage(QWidget* parent = nullptr);

    // The setters leave the user-change signals silent; a value not offered changes nothing.
    void setMonitor(int index);
    void setMode(int mode);
    void setLocation(int location);
    void setSeasoning(int seasoning);
    void setColorMode(int mode);
    void setStreamEnabled(bool enabled);

    QComboBox* monitorSelect() const { return m_monitor; }
    QComboBox* modeSelector() const { return m_mode; }
    QComboBox* colorModeComboBox() const { return m_colorMode; }
    QComboBox* effectSelect() const { return m_seasoning; }
    QComboBox* prismLocation() const { return m_location; }
    QLabel* locationLabel() const { return m_locationLabel; }
    QCheckBox* streamToggle() const { return m_streamToggle; }

signals:
    void streamToggleChanged(bool enabled);
    void screenIdxChanged(int newIdx);
    void effectTypeChanged(EffecType mode);
    void deviceLocationChanged(EffectDeviceLocation newIdx);
    void deviceSeasoningChanged(EffectDeviceSeasoning seasoning);
    void colorModeChanged(ColorMode mode);

public slots:
    void onMonitorChanged(int idx);
    void onModeChanged(int idx);
    void onLocationChanged(int idx);
    void onSeasoningChanged(int idx);
    void onColorModeChanged(int idx);
    void screensReinited();

private:
    void showLocationRow(int mode);
    static void select(QComboBox* combo, const QList<int>& values, int value);

    QList<int> m_locations{LocationTop,     LocationLeft,     LocationRight,      LocationBottom,
                           LocationTopLeft, LocationTopRight, LocationBottomLeft, LocationBottomRight};
    QList<int> m_modes{ScreenSeason, DominantSeason, ContinueScreen};
    QList<int> m_seasonings{NoEffect, FadingPixels, FadingTriangles};
    QList<int> m_colorModes{ColorNatural, ColorBoosted};

    QComboBox* m_monitor = nullptr;
    int m_storedMonitor = 0;
    QComboBox* m_mode = nullptr;
    QComboBox* m_colorMode = nullptr;
    QComboBox* m_seasoning = nullptr;
    QComboBox* m_location = nullptr;
    QLabel* m_locationLabel = nullptr;
    QCheckBox* m_streamToggle = nullptr;
};
