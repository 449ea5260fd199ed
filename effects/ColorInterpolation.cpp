#include "effects/ColorInterpolation.h"

#include <QMutexLocker>

ColorInterpolation::ColorInterpolation(QSharedPointer<AbstractColorProvider> source, QObject* parent,
                                       ClockSource clock)
    : AbstractColorProvider(parent)
    , m_source(std::move(source))
    , m_clock(clock ? std::move(clock) : wallClock())
{}

ColorInterpolation::~ColorInterpolation() = default;

QList<QColor> ColorInterpolation::colors() const
{
    if (!m_source)
        return {};
    const QList<QColor> target = m_source->colors();

    // One generator normally reads this, but a swatch on the GUI thread may as well.
    QMutexLocker lock(&m_mutex);
    const qint64 now = m_clock();
    const qint64 dt = now - m_lastChangeMs;
    // A second read within the millisecond of a change is still at the start of the blend, not its end.
    float t = 1.0f;
    if (dt >= 0 && dt < m_durationMs)
        t = float(dt) / float(m_durationMs);

    QList<QColor> result;
    if (m_fromColors.size() == m_toColors.size()) {
        result.reserve(m_toColors.size());
        for (int i = 0; i < m_toColors.size(); ++i) {
            const QColor& from = m_fromColors.at(i);
            const QColor& to = m_toColors.at(i);
            const auto mix = [t](int a, int b) {
                return int(a + (b - a) * double(t));
            };
            result.append(QColor(mix(from.red(), to.red()), mix(from.green(), to.green()),
                                 mix(from.blue(), to.blue()), 255));
        }
    } else {
        result = target;
    }

    if (m_toColors != target) {
        m_fromColors = result;
        m_toColors = target;
        m_lastChangeMs = now;
    }
    return result;
}
