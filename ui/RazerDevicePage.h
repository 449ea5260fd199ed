#pragma once

#include "effects/EffectDeviceSeasoning.h"

#include <QColor>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class RoundRectWidget;

// One device on the Razer Chroma tab: the five broadcast colours with a tick box each, the band
// direction, the panel's own effect and the stream switch.
class RazerDevicePage : public QWidget
{
    Q_OBJECT
public:
    explicit RazerDevicePage(QWidget* parent = nullptr);

    // The setters leave the user-change signals silent.
    void showColors(const QList<QColor>& colors);
    QList<int> selectedColorIndexes() const;
    void setSelectedColorIndexes(const QList<int>& indexes);
    void setDirectionItems(const QStringList& items);
    void setDirectionIndex(int index);
    void setEffect(int value);
    void setStreamEnabled(bool enabled);

    QCheckBox* streamToggle() const { return m_streamToggle; }
    QLabel* colorHint() const { return m_colorHint; }
    QComboBox* directionCombo() const { return m_direction; }
    QComboBox* seasoningSelect() const { return m_seasoning; }
    QCheckBox* colorCheck(int row) const { return m_rows.value(row).first; }
    RoundRectWidget* colorSwatch(int row) const { return m_rows.value(row).second; }

signals:
    void streamToggleChanged(bool enabled);
    void colorSelectionChanged();
    void gradientDirectionChanged(int idx);
    void seasoningChanged(EffectDeviceSeasoning seas);

private slots:
    void onStreamToggleChange(int state);
    void onColorEnabledChanged(bool enabled);
    void onGradientAngleIdxChanged(int idx);
    void onSeasoningChanged(int idx);

private:
    void reviewColorHint();

    QList<int> m_effectValues{NoEffect, FadingPixels, FadingTriangles};
    QList<QPair<QCheckBox*, RoundRectWidget*>> m_rows;
    QComboBox* m_direction = nullptr;
    QComboBox* m_seasoning = nullptr;
    QCheckBox* m_streamToggle = nullptr;
    QLabel* m_colorHint = nullptr;
};
