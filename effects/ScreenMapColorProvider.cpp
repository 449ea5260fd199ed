#include "effects/ScreenMapColorProvider.h"

#include "capture/FrameProcessorAvgRects.h"

#include <QMutexLocker>

ScreenMapColorProvider::ScreenMapColorProvider(QObject* parent)
    : AbstractColorProvider(parent)
    , m_processor(QSharedPointer<FrameProcessorAvgRects>::create())
{
    m_processor->setScreenIndex(0);
}

ScreenMapColorProvider::~ScreenMapColorProvider() = default;

bool ScreenMapColorProvider::init()
{
    return true;
}

QList<QColor> ScreenMapColorProvider::colors() const
{
    const QList<QColor> found = m_processor->colors();
    QEasingCurve curve;
    {
        QMutexLocker lock(&m_curveMutex);
        curve = m_curve;
    }
    if (curve.type() == QEasingCurve::Linear)
        return found;

    QList<QColor> mapped;
    mapped.reserve(found.size());
    for (const QColor& c : found)
        mapped.append(QColor::fromHsvF(c.hueF(), c.saturationF(), curve.valueForProgress(c.valueF()), 1.0));
    return mapped;
}

void ScreenMapColorProvider::updateColors(QList<QColor> newColors)
{
    AbstractColorProvider::updateColors(std::move(newColors));
}

void ScreenMapColorProvider::setValueCurve(const QEasingCurve& curve)
{
    QMutexLocker lock(&m_curveMutex);
    m_curve = curve;
}
