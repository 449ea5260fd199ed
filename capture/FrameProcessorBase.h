#pragma once

#include <QImage>
#include <QMetaType>
#include <QSharedPointer>

#include <atomic>

// Reduces one monitor image per capture tick; processFrame runs on the capture worker thread.
class FrameProcessorBase
{
public:
    FrameProcessorBase() = default;
    virtual ~FrameProcessorBase();
    FrameProcessorBase(const FrameProcessorBase&) = delete;
    FrameProcessorBase& operator=(const FrameProcessorBase&) = delete;

    virtual void processFrame(const QImage& frame) = 0;

    // Atomic: the GUI may retarget a processor the worker already holds.
    int screenIndex() const { return m_screenIndex.load(std::memory_order_relaxed); }
    void setScreenIndex(int index) { m_screenIndex.store(index, std::memory_order_relaxed); }

private:
    std::atomic<int> m_screenIndex{0};
};

Q_DECLARE_METATYPE(QSharedPointer<FrameProcessorBase>)
