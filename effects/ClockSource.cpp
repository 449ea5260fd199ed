#include "effects/ClockSource.h"

#include <QDateTime>

#include <chrono>

ClockSource wallClock()
{
    return [] {
        return QDateTime::currentMSecsSinceEpoch();
    };
}

ClockSource monotonicClock()
{
    return [] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    };
}
