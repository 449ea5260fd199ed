#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <functional>
#include <vector>

// Runs the event loop until done() holds or timeoutMs passed, sleeping sleepUs between rounds so the
// poll itself does not take the core the measured threads need.
inline bool spin(const std::function<bool()>& done, int timeoutMs, int sleepUs = 2000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (sleepUs > 0)
            QThread::usleep(sleepUs);
    }
    return true;
}

// The value at fraction p of the sorted values (nearest rank); 0 for none.
inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5))];
}
