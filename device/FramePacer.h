#pragma once

#include <QElapsedTimer>
#include <QObject>

class QTimer;

// When one panel's frames are made, on its controller thread. On its own it ticks every frame period.
// A panel that shows a picture made elsewhere (the screen capture, which ticks at the same period) follows
// that source instead: its frame goes out as soon as the source has made a picture, rather than up to a
// whole period later at a tick of its own. The panel needs a steady stream all the same: a source that
// falls silent is covered by our own ticks again, at most kGraceMs late, and two ticks never come closer
// than minGapMs(), so that source ticks queued up behind a busy thread do not go out as a burst.
class FramePacer : public QObject
{
    Q_OBJECT
public:
    // How late a source tick may be before a tick of our own covers for it. A late capture (a busy machine
    // delays its thread too) is better waited for briefly than covered with the old picture, which would
    // hold the new one back behind the minimum gap.
    static constexpr int kGraceMs = 10;

    explicit FramePacer(int frameMs, QObject* parent = nullptr);

    bool isRunning() const { return m_pace != Pace::Stopped; }
    // The closest two ticks may come.
    int minGapMs() const { return m_frameMs - kGraceMs; }

signals:
    void tick();

public slots:
    void start();
    void stop();
    // The source made a picture: tick at once, or as soon as the minimum gap allows.
    void sourceTicked();

private:
    enum class Pace
    {
        Stopped,
        // Every frame period on our own timer.
        OwnTimer,
        // Right after each source tick; our timer only covers a late or silent source.
        FollowingSource,
        // A source tick came too close to the last tick: it is made good once the minimum gap is over.
        HoldingSourceTick,
    };

    void onTimer();
    void fire(Pace next);

    const int m_frameMs;
    QTimer* m_timer;
    QElapsedTimer m_lastTick;
    Pace m_pace = Pace::Stopped;
};
