#pragma once

#include "effects/AbstractColorProvider.h"

#include <QEasingCurve>
#include <QMutex>
#include <QSharedPointer>

class FrameProcessorAvgRects;

// The dominant bright colour of a monitor, with its brightness mapped through a value curve. Nothing
// stores colours into it; readers poll colors().
class ScreenMapColorProvider : public AbstractColorProvider
{
    Q_OBJECT
public:
    explicit ScreenMapColorProvider(QObject* parent = nullptr);
    ~ScreenMapColorProvider() override;

    bool init() override;
    QList<QColor> colors() const override;
    void updateColors(QList<QColor> newColors) override;

    // Configure it (rectangles, screen index) before it is handed to the grab manager.
    QSharedPointer<FrameProcessorAvgRects> processor() const { return m_processor; }
    void setValueCurve(const QEasingCurve& curve);

private:
    QSharedPointer<FrameProcessorAvgRects> m_processor;
    mutable QMutex m_curveMutex;
    QEasingCurve m_curve{QEasingCurve::Linear};
};
