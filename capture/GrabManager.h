#pragma once

#include "capture/FrameProcessorBase.h"
#include "capture/ScreenInfo.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>

class QThread;
class QTimer;
class ScreenGrabber;
class SettingsManager;

// The application's handle on screen capture: owns the "screen-grab-worker" thread, its worker and grab
// timer, and forwards every request to the worker as a queued call.
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
    void frameProcessed();
    void screensReinited();
    void userDisabledGrab();

private:
    void storeRestoreToken(const QString& token);

    QPointer<SettingsManager> m_settings;
    QString m_handedToken;
    ScreenGrabber* m_grabber = nullptr;
    QTimer* m_timer = nullptr;
    // Heap-held so that a worker stuck past the shutdown bound is abandoned instead of destroyed while
    // running.
    QThread* m_thread = nullptr;
};
