#include "capture/FrameProcessorAvgRects.h"

#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QHash>
#include <QMutexLocker>

#include <cstdlib>

namespace {

constexpr int MinBrightness = 70;
constexpr int SampleStep = 7;

bool is32BitLayout(QImage::Format format)
{
    return format == QImage::Format_ARGB32 || format == QImage::Format_RGB32 ||
           format == QImage::Format_ARGB32_Premultiplied;
}

} // namespace

void FrameProcessorAvgRects::processFrame(const QImage& frame)
{
    const int w = frame.width();
    const int h = frame.height();
    if (w < 1 || h < 1) {
        qCDebug(lcPivotrix) << "invalid screen size" << w << h;
        return;
    }

    const QImage image = is32BitLayout(frame.format()) ? frame : frame.convertToFormat(QImage::Format_ARGB32);
    const QList<QRectF> regions = rects();
    QList<QColor> result;
    result.reserve(regions.size());
    for (const QRectF& r : regions) {
        const QRect pixels(static_cast<int>(r.x() * w), static_cast<int>(r.y() * h),
                           static_cast<int>(r.width() * w), static_cast<int>(r.height() * h));
        result.append(dominantColor(pixels, image, SampleStep));
    }

    QMutexLocker lock(&m_mutex);
    m_colors = result;
}

void FrameProcessorAvgRects::setRects(const QList<QRectF>& rects)
{
    QMutexLocker lock(&m_mutex);
    m_rects = rects;
}

QList<QRectF> FrameProcessorAvgRects::rects() const
{
    QMutexLocker lock(&m_mutex);
    return m_rects;
}

QList<QColor> FrameProcessorAvgRects::colors() const
{
    QMutexLocker lock(&m_mutex);
    return m_colors;
}

QColor FrameProcessorAvgRects::dominantColor(const QRect& rect, const QImage& image, int step)
{
    if (step < 1)
        step = 1;
    QHash<quint32, int> counts;
    counts.reserve(qMax<qint64>(1, qint64(image.width()) * image.height() / step));

    // Regions reaching past the image are read only where they overlap it.
    const int left = qMax(rect.left(), 0);
    const int top = qMax(rect.top(), 0);
    const int right = qMin<qint64>(qint64(rect.left()) + rect.width() - 1, image.width());
    const int bottom = qMin<qint64>(qint64(rect.top()) + rect.height() - 1, image.height());
    const bool readable = is32BitLayout(image.format());

    for (int y = top; readable && y < bottom; ++y) {
        const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
        int x = rect.left() + std::rand() % step;
        while (x < left)
            x += step;
        for (; x < right; x += step) {
            const quint32 p = line[x];
            const int r = (p >> 16) & 0xff;
            const int g = (p >> 8) & 0xff;
            const int b = p & 0xff;
            // truncate(sqrt(v)) < 70 exactly when v < 70 * 70.
            if (r * r + g * g + b * b < MinBrightness * MinBrightness)
                continue;
            ++counts[p];
        }
    }

    quint32 bestKey = 0;
    int bestCount = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > bestCount) {
            bestCount = it.value();
            bestKey = it.key();
        }
    }
    QColor color = QColor::fromRgb(bestKey);
    color.setAlpha(255);
    return color;
}
