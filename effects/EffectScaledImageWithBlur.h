#pragma once

#include "effects/EffectGenerator.h"
#include "effects/FadingPixelSeasoning.h"

#include <QEasingCurve>
#include <QMutex>
#include <QSharedPointer>

#include <atomic>

class FrameProccessorScaledFrame;

// Paints the panel's canvas from a scaled copy of a monitor (or of the strip next to the panel), blurred
// and tone-mapped through a value curve.
class EffectScaledImageWithBlur : public EffectGenerator, private FadingPixelSeasoning
{
    Q_OBJECT
public:
    explicit EffectScaledImageWithBlur(QObject* parent = nullptr);
    ~EffectScaledImageWithBlur() override;

    // Configure it (screen index, crop) before it is handed to the grab manager.
    QSharedPointer<FrameProccessorScaledFrame> processor() const { return m_processor; }
    void setSeasoningEnabled(bool enabled);
    void setValueCurve(const QEasingCurve& curve);

public slots:
    void resize(QSize size) override;
    void update() override;

private:
    void toneMap(QImage& canvas, const QEasingCurve& curve) const;

    QSharedPointer<FrameProccessorScaledFrame> m_processor;
    std::atomic<bool> m_seasoningEnabled{true};
    // Set on the GUI thread, read by every frame on the device thread.
    mutable QMutex m_curveMutex;
    QEasingCurve m_curve{QEasingCurve::OutCirc};
};
