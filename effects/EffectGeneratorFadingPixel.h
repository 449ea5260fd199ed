#pragma once

#include "effects/EffectGeneratorWithColorProvider.h"
#include "effects/FadingPixelSeasoning.h"

#include <atomic>

// Paints one parallel band per provider colour across the canvas, the bands turned by the chosen angle
// about the canvas centre, and optionally darkens every pixel by its own oscillating brightness.
class EffectGeneratorFadingPixel : public EffectGeneratorWithColorProvider, private FadingPixelSeasoning
{
    Q_OBJECT
public:
    explicit EffectGeneratorFadingPixel(QObject* parent = nullptr);
    ~EffectGeneratorFadingPixel() override;

    void resize(QSize size) override;

    // Both are called from the GUI thread while frames are painted on the device thread; a frame may
    // still use the previous value.
    void setAngle(int angle);
    void setShowFadingPixels(bool show);

public slots:
    void update() override;

private:
    void paintBands(QImage& image, const QList<QColor>& colors, int angle) const;
    void fade(QImage& image) const;

    std::atomic<int> m_angle{0};
    std::atomic<bool> m_showFadingPixels{false};
};
