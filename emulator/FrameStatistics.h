#pragma once

#include "emulator/PanelFrameParser.h"

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QSize>
#include <QString>

#include <chrono>
#include <vector>

// What a panel has received: counts, the last good frame and the gaps between good frames.
// Written by the session's receiver thread, read by the status endpoint and the window.
class FrameStatistics
{
public:
    using Clock = std::chrono::steady_clock;

    struct Snapshot
    {
        quint64 good = 0;
        quint64 rejected = 0;
        QMap<QString, quint64> rejectedByReason;
        QSize lastFrameSize;
        QByteArray lastFrameRgb;
        quint64 gapCount = 0;
        double gapMeanMs = 0;
        double gapP50Ms = 0;
        double gapP99Ms = 0;
        double gapMaxMs = 0;
    };

    // Enough gaps for several minutes at 30 ms; older ones are overwritten.
    static constexpr size_t kMaxGaps = 1 << 14;

    void record(const PanelFrameParser::Frame& frame, Clock::time_point arrival);
    // A new session starts a new run of gaps.
    void breakGapChain();
    void reset();

    Snapshot snapshot() const;
    QImage lastFrame() const;
    QJsonObject toJson() const;

private:
    mutable QMutex m_lock;
    quint64 m_good = 0;
    quint64 m_rejected = 0;
    QMap<QString, quint64> m_rejectedByReason;
    QSize m_lastSize;
    QByteArray m_lastRgb;
    bool m_haveLastArrival = false;
    Clock::time_point m_lastArrival;
    std::vector<float> m_gapsMs;
    size_t m_gapNext = 0;
    quint64 m_gapCount = 0;
};
