#pragma once

#include "capture/FrameProcessorBase.h"
#include "capture/ScreenInfo.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>

class QThread;
class ScreenGrabber;
class SettingsManager;

// The application's handle on screen capture: owns the "screen-grab-worker" thread and its worker, and
// forwards every request to the worker as a queued call. The worker ticks only while a processor needs it.
class GrabManager : public QObject
{
    Q_OBJECT
public:
    static constexpr int GrabIntervalMs = 30;
    static constexpr unsigned long ShutdownWaitMs = 2000;

    explicit GrabManager(QObject* parent = nullptr);
    ~GrabManager() override;

    void init();
    void start();
    void addFrameProcessor(QSharedPointer<FrameProcessorBase> proc);
    void removeFrameProcessor(QSharedPointer<FrameProcessorBase> proc);
    void setSystemLocked(bool locked);
    QList<ScreenInfo> screens() const;

    QThread* workerThread() const { return m_thread; }

signals:
    // Emitted on the worker thread after every tick that fed the processors: a receiver on another thread
    // gets it queued, right after the pictures it may read were made.
    void frameProcessed();
    void screensReinited();
    void userDisabledGrab();

private:
    void storeRestoreToken(const QString& token);

    QPointer<SettingsManager> m_settings;
    QString m_handedToken;
    ScreenGrabber* m_grabber = nullptr;
    // Heap-held so that a worker stuck past the shutdown bound is abandoned instead of destroyed while
    // running.
    QThread* m_thread = nullptr;
};
