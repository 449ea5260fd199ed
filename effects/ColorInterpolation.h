#pragma once

#include "effects/AbstractColorProvider.h"
#include "effects/ClockSource.h"

#include <QMutex>
#include <QSharedPointer>

// Follows another provider's colours, blending linearly over 800 ms from what it last returned to the
// source's newest list. A change in the number of colours is not blended.
class ColorInterpolation : public AbstractColorProvider
{
    Q_OBJECT
public:
    ColorInterpolation(QSharedPointer<AbstractColorProvider> source, QObject* parent = nullptr,
                       ClockSource clock = wallClock());
    ~ColorInterpolation() override;

    QList<QColor> colors() const override;

private:
    int m_durationMs = 800;
    mutable QMutex m_mutex;
    mutable qint64 m_lastChangeMs = 0;
    mutable QList<QColor> m_fromColors;
    mutable QList<QColor> m_toColors;
    QSharedPointer<AbstractColorProvider> m_source;
    ClockSource m_clock;
};
