#include "capture/FrameProccessorScaledFrame.h"

#include <QMutexLocker>

void FrameProccessorScaledFrame::processFrame(const QImage& frame)
{
    QRectF crop;
    QSize target;
    {
        QMutexLocker lock(&m_mutex);
        crop = m_crop;
        target = m_targetSize;
    }

    const int w = frame.width();
    const int h = frame.height();
    QRect source(0, 0, w, h);
    if (!crop.isEmpty()) {
        source = QRect(static_cast<int>(crop.x() * w), static_cast<int>(crop.y() * h),
                       static_cast<int>(crop.width() * w), static_cast<int>(crop.height() * h));
    }
    if (source.width() <= 0 || source.height() <= 0)
        return;

    // The whole frame needs no intermediate copy.
    const QImage cropped = source == frame.rect() ? frame : frame.copy(source);
    const QImage scaled = cropped.scaled(target, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                              .convertToFormat(QImage::Format_RGB32);

    QMutexLocker lock(&m_mutex);
    m_result = scaled;
}

void FrameProccessorScaledFrame::setCropRect(const QRectF& rect)
{
    QMutexLocker lock(&m_mutex);
    m_crop = rect;
}

void FrameProccessorScaledFrame::setTargetSize(const QSize& size)
{
    QMutexLocker lock(&m_mutex);
    m_targetSize = size;
}

QRectF FrameProccessorScaledFrame::cropRect() const
{
    QMutexLocker lock(&m_mutex);
    return m_crop;
}

QSize FrameProccessorScaledFrame::targetSize() const
{
    QMutexLocker lock(&m_mutex);
    return m_targetSize;
}

QImage FrameProccessorScaledFrame::scaledFrame() const
{
    QMutexLocker lock(&m_mutex);
    return m_result.copy();
}
