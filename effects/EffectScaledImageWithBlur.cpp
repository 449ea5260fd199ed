#include "effects/EffectScaledImageWithBlur.h"

#include "capture/FrameProccessorScaledFrame.h"
#include "core/DiagnosticLog.h"
#include "effects/BlurImage.h"

#include <QColor>
#include <QDebug>
#include <QMutexLocker>
#include <QPainter>
#include <QThread>

#include <algorithm>

EffectScaledImageWithBlur::EffectScaledImageWithBlur(QObject* parent)
    : EffectGenerator(parent)
    , m_processor(QSharedPointer<FrameProccessorScaledFrame>::create())
{}

EffectScaledImageWithBlur::~EffectScaledImageWithBlur() = default;

void EffectScaledImageWithBlur::setSeasoningEnabled(bool enabled)
{
    m_seasoningEnabled.store(enabled, std::memory_order_relaxed);
}

void EffectScaledImageWithBlur::setValueCurve(const QEasingCurve& curve)
{
    QMutexLocker lock(&m_curveMutex);
    m_curve = curve;
}

void EffectScaledImageWithBlur::resize(QSize size)
{
    EffectGenerator::resize(size);
    resizeGrid(size);
    // One pixel more each way, so that the blur's halved and doubled picture still covers the canvas.
    m_processor->setTargetSize(QSize(size.width() + 1, size.height() + 1));
}

void EffectScaledImageWithBlur::update()
{
    EffectGenerator::update();

    QImage frame = m_processor->scaledFrame();
    if (frame.isNull() || frame.format() == QImage::Format_Invalid) {
        qCDebug(lcPivotrix) << "skip frame" << QThread::currentThread()->objectName() << frame;
        return;
    }
    // Before the first resize there is no canvas to paint; an empty datagram would only confuse the panel.
    if (m_size.width() <= 0 || m_size.height() <= 0) {
        qCDebug(lcPivotrix) << "skip frame" << QThread::currentThread()->objectName() << "empty canvas"
                            << m_size;
        return;
    }

    QImage canvas(m_size, QImage::Format_ARGB32);
    if (canvas.isNull()) {
        qCDebug(lcPivotrix) << "canvas allocation failed" << m_size;
        return;
    }
    // A frame scaled for an older, smaller canvas does not cover this one; what it leaves must be black,
    // not whatever the allocation held.
    canvas.fill(Qt::black);
    {
        QPainter painter(&canvas);
        const double radius = std::min(m_size.width(), m_size.height()) * 0.5;
        qt_blurImage(&painter, frame, radius, true, false);
    }

    if (m_seasoningEnabled.load(std::memory_order_relaxed))
        advance();

    QEasingCurve curve;
    {
        QMutexLocker lock(&m_curveMutex);
        curve = m_curve;
    }
    toneMap(canvas, curve);
    emit canvasUpdated(canvas);
}

void EffectScaledImageWithBlur::toneMap(QImage& canvas, const QEasingCurve& curve) const
{
    // A panel has few dozen pixels; one table saves a curve evaluation per pixel all the same.
    int mapped[256];
    for (int v = 0; v < 256; ++v)
        mapped[v] = std::clamp(int(curve.valueForProgress(v / 255.0) * 255.0), 0, 255);

    for (int y = 0; y < canvas.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(canvas.scanLine(y));
        for (int x = 0; x < canvas.width(); ++x) {
            QColor color = QColor::fromRgba(line[x]);
            int h = 0;
            int s = 0;
            int v = 0;
            color.getHsv(&h, &s, &v);
            color.setHsv(h, s, mapped[v], 255);
            line[x] = color.rgb();
        }
    }
}
