#pragma once

#include "capture/FrameProcessorBase.h"

#include <QImage>
#include <QString>
#include <QThread>

#include <atomic>

// A frame processor for one screen that counts its calls and remembers what it saw last, on whatever
// thread it runs; told to, it holds the worker inside processFrame.
class ProbeProcessor : public FrameProcessorBase
{
public:
    explicit ProbeProcessor(int screen = 0) { setScreenIndex(screen); }
    void processFrame(const QImage& frame) override
    {
        threadName = QThread::currentThread()->objectName();
        size = frame.size();
        if (!frame.isNull())
            firstPixel = frame.pixel(0, 0) | 0xff000000u;
        ++calls;
        if (blockMs > 0) {
            entered = true;
            QThread::msleep(static_cast<unsigned long>(blockMs.load()));
        }
    }
    std::atomic<int> calls{0};
    std::atomic<int> blockMs{0};
    std::atomic<bool> entered{false};
    std::atomic<QRgb> firstPixel{0};
    QSize size;
    QString threadName;
};
