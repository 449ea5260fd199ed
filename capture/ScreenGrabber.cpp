#include "capture/ScreenGrabber.h"

#include "capture/ScreenGrabberImp.h"
#include "capture/ScreenGrabberImpFactory.h"
#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QMutexLocker>
#include <QTime>
#include <QTimer>

namespace {
constexpr qint64 SlowTickMs = 41;
}

ScreenGrabber::ScreenGrabber(QObject* parent)
    : ScreenGrabber(createScreenGrabberImp(), parent)
{}

ScreenGrabber::ScreenGrabber(ScreenGrabberImp* imp, QObject* parent)
    : QObject(parent)
    , m_imp(imp)
    , m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &ScreenGrabber::grab);
    m_heldArrival = new QTimer(this);
    m_heldArrival->setTimerType(Qt::PreciseTimer);
    m_heldArrival->setSingleShot(true);
    connect(m_heldArrival, &QTimer::timeout, this, &ScreenGrabber::frameArrived);
    // Called on the back end's own thread; one call is on its way at a time.
    m_arrivalDriven = m_imp->setArrivalHandler(
        [this] { QMetaObject::invokeMethod(this, &ScreenGrabber::frameArrived, Qt::QueuedConnection); });
}

ScreenGrabber::~ScreenGrabber()
{
    // The images wrap back-end buffers: drop them before the back end frees those.
    m_images.clear();
    m_imp.reset();
    m_processors.clear();
}

QList<ScreenInfo> ScreenGrabber::screens() const
{
    QMutexLocker lock(&m_screensMutex);
    return m_publishedScreens;
}

void ScreenGrabber::removeFrameProcessor(QSharedPointer<FrameProcessorBase> proc)
{
    int removed = 0;
    for (int i = m_processors.size() - 1; i >= 0; --i) {
        if (m_processors.at(i).data() == proc.data()) {
            m_processors.removeAt(i);
            ++removed;
        }
    }
    qCDebug(lcPivotrix) << "remove processor base" << proc << removed;
    updateUsedScreens();
    // The ticks stop by themselves once the back end has let go of what the processors used.
}

void ScreenGrabber::addFrameProcessor(QSharedPointer<FrameProcessorBase> proc)
{
    qCDebug(lcPivotrix) << "add processor" << proc;
    if (proc.isNull())
        return;
    for (const auto& p : qAsConst(m_processors)) {
        if (p.data() == proc.data())
            return;
    }
    m_processors.append(proc);
    updateUsedScreens();
    tickWhileNeeded();
}

void ScreenGrabber::init()
{
    reinitGrabber();
    m_images.reserve(m_imp->screens().size());
    // Announced here too, so a page built before the first enumeration fills its monitor list.
    emit screensReinited();
}

void ScreenGrabber::start(int intervalMs)
{
    m_started = true;
    m_timer->setInterval(intervalMs);
    tickWhileNeeded();
}

bool ScreenGrabber::isTicking() const
{
    return m_timer->isActive();
}

void ScreenGrabber::tickWhileNeeded()
{
    if (m_started && !m_processors.isEmpty() && !m_timer->isActive())
        m_timer->start();
}

void ScreenGrabber::grab()
{
    const bool rebuilt = m_imp->needsReinit();
    if (rebuilt) {
        reinitGrabber();
        updateUsedScreens();
        emit screensReinited();
    }
    if (m_processors.isEmpty()) {
        // Ticking resumes when a processor comes: the pause in between is no slow tick.
        m_lastGrab.invalidate();
        // Nothing to feed: a tick that found nothing more to let go of is the last one. A broken back end is
        // rebuilt when a processor comes again; its monitors were published at the last rebuild.
        if (!rebuilt)
            m_timer->stop();
        return;
    }

    const bool timed = m_lastGrab.isValid();
    const qint64 sinceLast = timed ? m_lastGrab.elapsed() : 0;
    QElapsedTimer stopwatch;
    stopwatch.start();
    m_lastGrab.start();

    if (m_imp->grabFrames()) {
        m_lastFrame.start();
        m_disabledNotified = false;
        const qint64 grabTime = stopwatch.elapsed();
        wrapFrames();
        const qint64 wrapTime = stopwatch.elapsed();
        processImg();
        if (timed && sinceLast >= SlowTickMs) {
            qCDebug(lcPivotrix).noquote()
                << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) << "grab slow" << sinceLast
                << "grab duration " << grabTime << "scale duration " << wrapTime - grabTime
                << "process duration" << stopwatch.elapsed() - wrapTime << "processors"
                << m_processors.size();
        }
        return;
    }

    // Nothing new from a back end that says when frames come: the panels' own ticks cover the pause, so that
    // a frame arriving just after this tick goes out at once rather than a minimum gap after it.
    if (m_arrivalDriven && m_imp->state() == Ready)
        return;
    processImg();
    // Armed again as soon as the back end tries anew, so that every refusal is reported.
    if (m_imp->state() != DisabledByUser) {
        m_disabledNotified = false;
    } else if (!m_disabledNotified) {
        emit userDisabledGrab();
        m_disabledNotified = true;
    }
}

void ScreenGrabber::frameArrived()
{
    if (!m_timer->isActive() || m_processors.isEmpty())
        return;
    const int period = m_timer->interval();
    const qint64 since = m_lastFrame.isValid() ? m_lastFrame.elapsed() : period;
    if (since < period) {
        if (!m_heldArrival->isActive())
            m_heldArrival->start(int(period - since));
        return;
    }
    m_heldArrival->stop();
    grab();
    // The next tick a whole period after this frame: before then there is nothing for it to find.
    if (m_timer->isActive())
        m_timer->start();
}

void ScreenGrabber::processImg()
{
    if (m_processors.isEmpty()) {
        emit frameProcessed();
        return;
    }
    // A copy: a processor may drop the last other reference while it runs.
    const QList<QSharedPointer<FrameProcessorBase>> processors = m_processors;
    for (const auto& proc : processors) {
        const int i = proc->screenIndex();
        // An unusable frame record left a null placeholder; its processors skip this tick.
        if (i >= 0 && i < m_images.size() && !m_images.at(i).isNull())
            proc->processFrame(m_images.at(i));
    }
    emit frameProcessed();
}

void ScreenGrabber::setSystemLocked(bool locked)
{
    if (m_imp->systemLocked() == locked)
        return;
    m_imp->setSystemLocked(locked);
    m_imp->systemLockChanged(locked);
}

void ScreenGrabber::setRestoreToken(const QString& token)
{
    m_restoreToken = token;
    m_imp->setRestoreToken(token);
}

void ScreenGrabber::reinitGrabber()
{
    // The images wrap buffers that deinitScreens frees; processors must never see them again.
    m_images.clear();
    m_imp->deinitScreens();
    const QList<ScreenInfo> screens = m_imp->identifyScreens();
    m_imp->setScreens(screens);
    m_imp->initScreens(screens);
    {
        QMutexLocker lock(&m_screensMutex);
        m_publishedScreens = screens;
    }
    const QString token = m_imp->restoreToken();
    if (!token.isEmpty() && token != m_restoreToken) {
        m_restoreToken = token;
        emit restoreTokenChanged(token);
    }
}

void ScreenGrabber::updateUsedScreens()
{
    QList<int> used;
    for (const auto& proc : qAsConst(m_processors)) {
        const int index = proc->screenIndex();
        if (!used.contains(index))
            used.append(index);
    }
    m_imp->setUsedScreens(used);
}

void ScreenGrabber::wrapFrames()
{
    const int n = m_imp->screens().size();
    const QList<ScreenFrame*>& frames = m_imp->frames();
    m_images.clear();
    for (int i = 0; i < n; ++i) {
        const ScreenFrame* frame = i < frames.size() ? frames.at(i) : nullptr;
        // One entry per screen keeps image i paired with screen i even when a record is unusable.
        QImage image;
        if (frame && frame->valid && frame->buffer && frame->width > 0 && frame->height > 0) {
            const qint64 rowBytes = qint64(frame->width) * 4;
            if (frame->stride >= rowBytes && qint64(frame->stride) * frame->height <= frame->size) {
                image =
                    QImage(frame->buffer, frame->width, frame->height, frame->stride, QImage::Format_ARGB32);
            }
        }
        m_images.append(image);
    }
}
