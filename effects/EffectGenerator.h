#pragma once

#include "effects/ClockSource.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSize>

// Paints one frame for one device per tick of its controller's frame timer and hands it on through
// canvasUpdated. Lives on the device controller's thread once attached; resize and setColors arrive there
// as queued calls by name.
class EffectGenerator : public QObject
{
    Q_OBJECT
public:
    explicit EffectGenerator(QObject* parent = nullptr);
    ~EffectGenerator() override;

    virtual QList<QColor> colors() const;

    // Replaces the clock behind the frame timing check; call before the generator changes thread.
    void setFrameClock(ClockSource clock);
    // Ticking resumes after a pause, which is no late frame; on the generator's thread.
    void restartFrameTiming() { m_frameClockValid = false; }

signals:
    void canvasUpdated(QImage img);

public slots:
    virtual void resize(QSize size);
    virtual void setColors(QList<QColor> colors);
    // Subclasses call this first: it reports frames that come late.
    virtual void update();

protected:
    QSize m_size;

private:
    mutable QMutex m_colorsMutex;
    QList<QColor> m_colors;
    ClockSource m_frameClock;
    qint64 m_frameClockStart = 0;
    bool m_frameClockValid = false;
};
