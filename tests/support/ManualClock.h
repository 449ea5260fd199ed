#pragma once

#include "effects/ClockSource.h"

#include <QtGlobal>

#include <memory>

// A hand-driven clock: copies share one time, and source() reads it.
struct ManualClock
{
    std::shared_ptr<qint64> now = std::make_shared<qint64>(1'700'000'000'000);
    ClockSource source() const
    {
        auto n = now;
        return [n] {
            return *n;
        };
    }
    void set(qint64 ms) { *now = ms; }
    void advance(qint64 ms) { *now += ms; }
};
