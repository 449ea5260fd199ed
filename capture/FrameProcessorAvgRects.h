#pragma once

#include "capture/FrameProcessorBase.h"

#include <QColor>
#include <QList>
#include <QMutex>
#include <QRect>
#include <QRectF>

// Finds the dominant bright colour of each region of the screen.
class FrameProcessorAvgRects : public FrameProcessorBase
{
public:
    void processFrame(const QImage& frame) override;

    void setRects(const QList<QRectF>& rects);
    QList<QRectF> rects() const;
    // One colour per rectangle once a frame was processed, empty before.
    QList<QColor> colors() const;

    // Most frequent pixel value at least as bright as 70, sampling every step-th pixel of a row from a random
    // phase; the last row and column of rect are not visited. Black when nothing bright was found.
    static QColor dominantColor(const QRect& rect, const QImage& image, int step);

private:
    mutable QMutex m_mutex;
    QList<QRectF> m_rects;
    QList<QColor> m_colors;
};
