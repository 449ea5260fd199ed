#include "TestPictures.h"

#include "capture/linux/BlockAverage.h"

#include <QRandomGenerator>

namespace TestPictures {

QImage picture(const QStringList& rows, const QList<QColor>& colors)
{
    QImage img(rows.first().size(), rows.size(), QImage::Format_ARGB32);
    for (int y = 0; y < rows.size(); ++y)
        for (int x = 0; x < rows.at(y).size(); ++x)
            img.setPixel(x, y, colors.at(rows.at(y).at(x).toLatin1() - 'a').rgba());
    return img;
}

QStringList repeat(int count, const char* row)
{
    return QVector<QString>(count, QString::fromLatin1(row)).toList();
}

QImage solid(const QSize& size, QRgb color)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(color);
    return img;
}

// An opaque picture whose pixel (x, y) is pixel(x, y).
template <typename Pixel> QImage generated(const QSize& size, Pixel pixel)
{
    QImage img(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = pixel(x, y) | 0xff000000u;
    }
    return img;
}

QImage checker(const QSize& size, int cell, QRgb a, QRgb b)
{
    return generated(size, [=](int x, int y) { return ((x / cell) + (y / cell)) % 2 ? b : a; });
}

QImage gradient(const QSize& size)
{
    const int w = qMax(1, size.width() - 1), h = qMax(1, size.height() - 1);
    return generated(size, [=](int x, int y) { return qRgb(x * 255 / w, y * 255 / h, (x + y) & 0xff); });
}

QImage noise(const QSize& size, quint32 seed)
{
    QRandomGenerator gen(seed);
    return generated(size, [&gen](int, int) { return gen.generate(); });
}

QImage reduced(const QImage& screen, const QRect& monitor)
{
    const QImage rgb = screen.convertToFormat(QImage::Format_RGB32);
    QImage out(monitor.width() >> 4, monitor.height() >> 4, QImage::Format_ARGB32);
    if (out.isNull())
        return out;
    blockAverage16Reference(rgb.constBits() + monitor.y() * rgb.bytesPerLine() + monitor.x() * 4,
                            rgb.bytesPerLine(), out.width(), out.height(), out.bits(), out.bytesPerLine());
    return out;
}

int firstDifference(const ScreenFrame* frame, const QImage& expected)
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

} // namespace TestPictures
