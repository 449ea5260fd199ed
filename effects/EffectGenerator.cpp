#include "effects/EffectGenerator.h"

#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QMetaType>
#include <QMutexLocker>
#include <QTime>

namespace {
constexpr qint64 kSlowFrameMs = 36;
}

EffectGenerator::EffectGenerator(QObject* parent)
    : QObject(parent)
    , m_frameClock(monotonicClock())
{
    qRegisterMetaType<QList<QColor>>("QList<QColor>");
}

EffectGenerator::~EffectGenerator()
{
    qCDebug(lcPivotrix) << "deleted generator" << this;
}

QList<QColor> EffectGenerator::colors() const
{
    QMutexLocker lock(&m_colorsMutex);
    return m_colors;
}

void EffectGenerator::setFrameClock(ClockSource clock)
{
    m_frameClock = clock ? std::move(clock) : monotonicClock();
    m_frameClockValid = false;
}

void EffectGenerator::resize(QSize size)
{
    m_size = size;
}

void EffectGenerator::setColors(QList<QColor> colors)
{
    QMutexLocker lock(&m_colorsMutex);
    if (m_colors.isSharedWith(colors))
        return;
    m_colors = std::move(colors);
}

void EffectGenerator::update()
{
    const qint64 now = m_frameClock();
    const qint64 elapsed = now - m_frameClockStart;
    if (m_frameClockValid && elapsed >= kSlowFrameMs)
        qCDebug(lcPivotrix).noquote() << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"))
                                      << "generating too slow" << elapsed;
    m_frameClockStart = now;
    m_frameClockValid = true;
}
