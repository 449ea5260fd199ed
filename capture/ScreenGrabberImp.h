#pragma once

#include "capture/ScreenFrame.h"
#include "capture/ScreenInfo.h"

#include <QElapsedTimer>
#include <QList>

#include <functional>

enum GrabberState : qint32
{
    NotReady = 0,
    Ready = 1,
    Lost = 2,
    DisabledByUser = 3,
};

// Capture back end driven by ScreenGrabber on the worker thread.
class ScreenGrabberImp
{
public:
    static constexpr qint64 DefaultReinitDelayMs = 5000;

    ScreenGrabberImp() = default;
    virtual ~ScreenGrabberImp();
    ScreenGrabberImp(const ScreenGrabberImp&) = delete;
    ScreenGrabberImp& operator=(const ScreenGrabberImp&) = delete;

    virtual bool grabFrames() = 0;
    virtual bool needsReinit() = 0;
    virtual void setUsedScreens(const QList<int>& screens);
    virtual QList<ScreenInfo> identifyScreens() = 0;
    virtual void initScreens(const QList<ScreenInfo>& screens) = 0;
    virtual void deinitScreens() = 0;
    virtual void systemLockChanged(bool locked);
    // A back end whose desktop remembers the user's choice of monitors keeps it as this opaque token.
    virtual void setRestoreToken(const QString& token);
    virtual QString restoreToken() const;

    GrabberState state() const { return m_state; }
    const QList<ScreenInfo>& screens() const { return m_screens; }
    void setScreens(const QList<ScreenInfo>& screens) { m_screens = screens; }
    const QList<ScreenFrame*>& frames() const { return m_frames; }
    const QList<int>& usedScreens() const { return m_usedScreens; }
    bool systemLocked() const { return m_systemLocked; }
    void setSystemLocked(bool locked) { m_systemLocked = locked; }

    // A back end whose frames arrive by themselves (rather than being read at each grab) calls handler, from
    // any thread, when a new one has come; set before initScreens. Returns whether it ever will.
    virtual bool setArrivalHandler(std::function<void()> handler);

    // Tests shorten the wait before a broken back end is rebuilt.
    void setReinitDelay(qint64 ms) { m_reinitDelayMs = ms; }
    qint64 reinitDelay() const { return m_reinitDelayMs; }

protected:
    // Shared rebuild pacing: a back end that is not Ready asks for a rebuild one delay after it was noticed.
    bool reinitDue();

    QList<int> m_usedScreens;
    QList<ScreenInfo> m_screens;
    QList<ScreenFrame*> m_frames;
    GrabberState m_state = NotReady;
    QElapsedTimer m_reinitTimer;
    bool m_systemLocked = false;

private:
    qint64 m_reinitDelayMs = DefaultReinitDelayMs;
};
