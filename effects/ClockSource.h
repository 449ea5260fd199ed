#pragma once

#include <QtGlobal>

#include <functional>

// A millisecond clock that tests can replace with one they drive by hand.
using ClockSource = std::function<qint64()>;

// Milliseconds since the epoch; jumps with the system clock.
ClockSource wallClock();
// Milliseconds from an arbitrary origin; never goes back.
ClockSource monotonicClock();
