#include "device/FramePacer.h"

#include <QTimer>

FramePacer::FramePacer(int frameMs, QObject* parent)
    : QObject(parent)
    , m_frameMs(frameMs)
    , m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &FramePacer::onTimer);
}

void FramePacer::start()
{
    if (m_pace != Pace::Stopped)
        return;
    m_pace = Pace::OwnTimer;
    m_lastTick.invalidate();
    m_timer->start(m_frameMs);
}

void FramePacer::stop()
{
    m_pace = Pace::Stopped;
    m_timer->stop();
}

void FramePacer::sourceTicked()
{
    if (m_pace == Pace::Stopped || m_pace == Pace::HoldingSourceTick)
        return;
    const qint64 since = m_lastTick.isValid() ? m_lastTick.elapsed() : m_frameMs;
    if (since >= minGapMs()) {
        fire(Pace::FollowingSource);
        return;
    }
    // Our own tick went out just before the source's (which came late): its picture follows shortly.
    m_pace = Pace::HoldingSourceTick;
    m_timer->start(int(minGapMs() - since));
}

void FramePacer::onTimer()
{
    // A held source tick is due; any other expiry is a tick of our own, for a silent source too.
    fire(m_pace == Pace::HoldingSourceTick ? Pace::FollowingSource : Pace::OwnTimer);
}

void FramePacer::fire(Pace next)
{
    m_lastTick.start();
    // Our own period keeps running undisturbed, so that it does not drift by each tick's wake-up delay.
    if (next != Pace::OwnTimer || m_pace != Pace::OwnTimer)
        m_timer->start(next == Pace::FollowingSource ? m_frameMs + kGraceMs : m_frameMs);
    m_pace = next;
    // Last: a receiver may stop the pacer.
    emit tick();
}
