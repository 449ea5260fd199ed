#include "effects/EffectGeneratorFadingPixel.h"

#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QPainter>
#include <QTransform>

#include <array>

namespace {
// Cell values are whole numbers in practice, so their brightness factors come from a table; the table
// holds exactly what value / 255.0 narrowed to float gives.
const std::array<float, 256>& factorTable()
{
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int v = 0; v < 256; ++v)
            t[size_t(v)] = float(v / 255.0);
        return t;
    }();
    return table;
}

inline float brightnessFactor(float value, const std::array<float, 256>& table)
{
    const int whole = int(value);
    if (float(whole) == value && whole >= 0 && whole < 256)
        return table[size_t(whole)];
    return float(value / 255.0);
}
} // namespace

EffectGeneratorFadingPixel::EffectGeneratorFadingPixel(QObject* parent)
    : EffectGeneratorWithColorProvider(parent)
{}

EffectGeneratorFadingPixel::~EffectGeneratorFadingPixel() = default;

void EffectGeneratorFadingPixel::resize(QSize size)
{
    EffectGeneratorWithColorProvider::resize(size);
    resizeGrid(size);
}

void EffectGeneratorFadingPixel::setAngle(int angle)
{
    m_angle.store(angle, std::memory_order_relaxed);
}

void EffectGeneratorFadingPixel::setShowFadingPixels(bool show)
{
    m_showFadingPixels.store(show, std::memory_order_relaxed);
}

void EffectGeneratorFadingPixel::update()
{
    EffectGeneratorWithColorProvider::update();

    const int width = m_size.width();
    const int height = m_size.height();
    if (width <= 0 || height <= 0) {
        qCDebug(lcPivotrix) << "invalid canvas size" << m_size;
        return;
    }
    const QList<QColor> colors = providerColors();
    if (colors.isEmpty())
        return;

    QImage image(m_size, QImage::Format_ARGB32);
    if (image.isNull()) {
        qCDebug(lcPivotrix) << "canvas allocation failed" << m_size;
        return;
    }
    paintBands(image, colors, m_angle.load(std::memory_order_relaxed));

    if (m_showFadingPixels.load(std::memory_order_relaxed)) {
        advance();
        if (m_grid.size() >= height && m_grid.first().size() >= width)
            fade(image);
    }
    emit canvasUpdated(image);
}

void EffectGeneratorFadingPixel::paintBands(QImage& image, const QList<QColor>& colors, int angle) const
{
    const qreal width = image.width();
    const qreal height = image.height();
    QTransform transform;
    transform.translate(width * 0.5, height * 0.5);
    transform.rotate(angle);
    transform.translate(-width * 0.5, -height * 0.5);
    const QRectF bounds = transform.mapRect(QRectF(0, 0, width, height));

    QPainter painter(&image);
    // The canvas starts uninitialised: a translucent colour must replace what is there, not blend with it.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setTransform(transform, false);
    const int n = colors.size();
    const float share = 1.0f / float(n);
    for (int i = 0; i < n; ++i) {
        const QRectF band(bounds.x() + bounds.width() * (float(i) * share), bounds.y(),
                          bounds.width() * share, bounds.height());
        painter.fillRect(band, colors.at(i));
    }
}

void EffectGeneratorFadingPixel::fade(QImage& image) const
{
    const auto& table = factorTable();
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const FadingCell* cells = m_grid.at(y).constData();
        for (int x = 0; x < width; ++x) {
            const float factor = brightnessFactor(cells[x].value, table);
            const QRgb pixel = line[x];
            line[x] = qRgba(int(float(qRed(pixel)) * factor), int(float(qGreen(pixel)) * factor),
                            int(float(qBlue(pixel)) * factor), 255);
        }
    }
}
