#pragma once

#include "capture/FrameProcessorBase.h"
#include "capture/ScreenInfo.h"

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>

#include <memory>

class QTimer;
class ScreenGrabberImp;

// Capture worker: lives on "screen-grab-worker", grabs every tick and feeds the frame processors. Once
// started it ticks only while there is a processor to feed, or a back end still letting go of the screen.
class ScreenGrabber : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultIntervalMs = 30;

    explicit ScreenGrabber(QObject* parent = nullptr);
    // Takes ownership of the back end.
    explicit ScreenGrabber(ScreenGrabberImp* imp, QObject* parent = nullptr);
    ~ScreenGrabber() override;

    // Monitors of the last back-end rebuild; safe to call from any thread.
    QList<ScreenInfo> screens() const;

    // Worker-thread only.
    ScreenGrabberImp* backend() const { return m_imp.get(); }
    int processorCount() const { return m_processors.size(); }
    int imageCount() const { return m_images.size(); }
    bool isTicking() const;

signals:
    // After every tick that fed the processors, on the worker thread.
    void frameProcessed();
    void screensReinited();
    void userDisabledGrab();
    // The back end's desktop issued a new token for the user's choice of monitors.
    void restoreTokenChanged(const QString& token);

public slots:
    void removeFrameProcessor(QSharedPointer<FrameProcessorBase> proc);
    void addFrameProcessor(QSharedPointer<FrameProcessorBase> proc);
    void init();
    // Lets the ticks run, every intervalMs while there is work for them.
    void start(int intervalMs = DefaultIntervalMs);
    void grab();
    void processImg();
    void setSystemLocked(bool locked);
    void setRestoreToken(const QString& token);

private:
    void reinitGrabber();
    void updateUsedScreens();
    void wrapFrames();
    void tickWhileNeeded();
    // The back end has a new frame: it goes to the processors now, or once a period after the last one.
    void frameArrived();

    std::unique_ptr<ScreenGrabberImp> m_imp;
    QTimer* m_timer = nullptr;
    // Holds back a frame that came sooner than a period after the last one.
    QTimer* m_heldArrival = nullptr;
    // The back end says when frames come (Wayland); otherwise each tick reads the screen (X11).
    bool m_arrivalDriven = false;
    QElapsedTimer m_lastFrame;
    bool m_started = false;
    QList<QSharedPointer<FrameProcessorBase>> m_processors;
    QList<QImage> m_images;
    QElapsedTimer m_lastGrab;
    bool m_disabledNotified = false;
    QString m_restoreToken;

    mutable QMutex m_screensMutex;
    QList<ScreenInfo> m_publishedScreens;
};
