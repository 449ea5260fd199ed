#pragma once

#include "capture/ScreenFrame.h"
#include "capture/linux/BlockAverage.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

// Screen contents the capture tests paint, and the reduction they must come back as.
namespace CaptureTestImages {

inline QImage solid(const QSize& size, QRgb color)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(color);
    return img;
}

inline QImage checker(const QSize& size, int cell, QRgb a, QRgb b)
{
    QImage img(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = ((x / cell) + (y / cell)) % 2 ? b : a;
    }
    return img;
}

inline QImage gradient(const QSize& size)
{
    QImage img(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = qRgb(x * 255 / qMax(1, size.width() - 1), y * 255 / qMax(1, size.height() - 1),
                           (x + y) & 0xff);
    }
    return img;
}

inline QImage noise(const QSize& size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QImage img(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = gen.generate() | 0xff000000u;
    }
    return img;
}

// The reduced image of the monitor rectangle of screen, computed by the plain reference.
inline QImage reduced(const QImage& screen, const QRect& monitor)
{
    const QImage rgb = screen.convertToFormat(QImage::Format_RGB32);
    QImage out(monitor.width() >> 4, monitor.height() >> 4, QImage::Format_ARGB32);
    if (out.isNull())
        return out;
    blockAverage16Reference(rgb.constBits() + monitor.y() * rgb.bytesPerLine() + monitor.x() * 4,
                            rgb.bytesPerLine(), out.width(), out.height(), out.bits(), out.bytesPerLine());
    return out;
}

// Index of the first differing pixel of frame against expected, or -1 when they match byte for byte.
inline int firstDifference(const ScreenFrame* frame, const QImage& expected)
{
    if (frame->width != expected.width() || frame->height != expected.height())
        return 0;
    for (int y = 0; y < frame->height; ++y) {
        const auto* got = reinterpret_cast<const quint32*>(frame->buffer + qsizetype(y) * frame->stride);
        const auto* want = reinterpret_cast<const quint32*>(expected.constScanLine(y));
        for (int x = 0; x < frame->width; ++x) {
            if (got[x] != want[x])
                return y * frame->width + x;
        }
    }
    return -1;
}

} // namespace CaptureTestImages
