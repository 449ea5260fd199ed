#include "emulator/FrameStatistics.h"

#include <QMutexLocker>

#include <algorithm>
#include <cmath>

void FrameStatistics::record(const PanelFrameParser::Frame& frame, Clock::time_point arrival)
{
    QMutexLocker locker(&m_lock);
    if (frame.verdict != PanelFrameParser::Verdict::Good) {
        ++m_rejected;
        ++m_rejectedByReason[PanelFrameParser::verdictName(frame.verdict)];
        return;
    }
    ++m_good;
    m_lastSize = QSize(frame.width, frame.height);
    m_lastRgb = frame.rgb;
    if (m_haveLastArrival) {
        const float gap = std::chrono::duration<float, std::milli>(arrival - m_lastArrival).count();
        if (m_gapsMs.size() < kMaxGaps)
            m_gapsMs.push_back(gap);
        else
            m_gapsMs[m_gapNext] = gap;
        m_gapNext = (m_gapNext + 1) % kMaxGaps;
        ++m_gapCount;
    }
    m_lastArrival = arrival;
    m_haveLastArrival = true;
}

void FrameStatistics::breakGapChain()
{
    QMutexLocker locker(&m_lock);
    m_haveLastArrival = false;
}

void FrameStatistics::reset()
{
    QMutexLocker locker(&m_lock);
    m_good = 0;
    m_rejected = 0;
    m_rejectedByReason.clear();
    m_haveLastArrival = false;
    m_gapsMs.clear();
    m_gapNext = 0;
    m_gapCount = 0;
}

FrameStatistics::Snapshot FrameStatistics::snapshot() const
{
    Snapshot s;
    std::vector<float> gaps;
    {
        QMutexLocker locker(&m_lock);
        s.good = m_good;
        s.rejected = m_rejected;
        s.rejectedByReason = m_rejectedByReason;
        s.lastFrameSize = m_lastSize;
        s.lastFrameRgb = m_lastRgb;
        s.gapCount = m_gapCount;
        gaps = m_gapsMs;
    }
    if (gaps.empty())
        return s;
    std::sort(gaps.begin(), gaps.end());
    double sum = 0;
    for (const float g : gaps)
        sum += g;
    const auto at = [&gaps](double q) {
        const size_t i = size_t(std::ceil(q * double(gaps.size()))) - 1;
        return double(gaps[std::min(i, gaps.size() - 1)]);
    };
    s.gapMeanMs = sum / double(gaps.size());
    s.gapP50Ms = at(0.50);
    s.gapP99Ms = at(0.99);
    s.gapMaxMs = double(gaps.back());
    return s;
}

QImage FrameStatistics::lastFrame() const
{
    QMutexLocker locker(&m_lock);
    if (m_lastSize.isEmpty() || m_lastRgb.size() != 3 * m_lastSize.width() * m_lastSize.height())
        return {};
    QImage image(m_lastSize, QImage::Format_RGB888);
    const int rowBytes = 3 * m_lastSize.width();
    for (int y = 0; y < m_lastSize.height(); ++y)
        std::copy_n(m_lastRgb.constData() + y * rowBytes, rowBytes,
                    reinterpret_cast<char*>(image.scanLine(y)));
    return image;
}

QJsonObject FrameStatistics::toJson() const
{
    const Snapshot s = snapshot();
    QJsonObject reasons;
    for (auto it = s.rejectedByReason.cbegin(); it != s.rejectedByReason.cend(); ++it)
        reasons.insert(it.key(), double(it.value()));
    return QJsonObject{
        {QStringLiteral("frames"), QJsonObject{{QStringLiteral("good"), double(s.good)},
                                               {QStringLiteral("rejected"), double(s.rejected)},
                                               {QStringLiteral("rejected_by_reason"), reasons}}},
        {QStringLiteral("last_frame"),
         QJsonObject{{QStringLiteral("width"), s.lastFrameSize.isValid() ? s.lastFrameSize.width() : 0},
                     {QStringLiteral("height"), s.lastFrameSize.isValid() ? s.lastFrameSize.height() : 0},
                     {QStringLiteral("rgb"), QString::fromLatin1(s.lastFrameRgb.toHex())}}},
        {QStringLiteral("inter_arrival_ms"), QJsonObject{{QStringLiteral("count"), double(s.gapCount)},
                                                         {QStringLiteral("mean"), s.gapMeanMs},
                                                         {QStringLiteral("p50"), s.gapP50Ms},
                                                         {QStringLiteral("p99"), s.gapP99Ms},
                                                         {QStringLiteral("max"), s.gapMaxMs}}}};
}
