#pragma once

#include "capture/FrameProcessorBase.h"

#include <QMutex>
#include <QRectF>
#include <QSize>

// Keeps a cropped copy of the screen scaled to the consumer's canvas.
class FrameProccessorScaledFrame : public FrameProcessorBase
{
public:
    void processFrame(const QImage& frame) override;

    void setCropRect(const QRectF& rect);
    void setTargetSize(const QSize& size);
    QRectF cropRect() const;
    QSize targetSize() const;

    // Deep copy; null until the first frame was scaled to a valid target size.
    QImage scaledFrame() const;

private:
    // Guards every field: the target size is set from a device thread while the worker scales.
    mutable QMutex m_mutex;
    QImage m_result;
    QRectF m_crop;
    QSize m_targetSize;
};
