#include "capture/ScreenGrabberImp.h"

#include "core/DiagnosticLog.h"

#include <QDebug>

ScreenGrabberImp::~ScreenGrabberImp()
{
    qDeleteAll(m_frames);
    m_frames.clear();
    m_screens.clear();
}

void ScreenGrabberImp::setUsedScreens(const QList<int>& screens)
{
    m_usedScreens = screens;
}

void ScreenGrabberImp::systemLockChanged(bool locked)
{
    Q_UNUSED(locked);
}

void ScreenGrabberImp::setRestoreToken(const QString& token)
{
    Q_UNUSED(token);
}

QString ScreenGrabberImp::restoreToken() const
{
    return {};
}

bool ScreenGrabberImp::setArrivalHandler(std::function<void()> handler)
{
    Q_UNUSED(handler);
    return false;
}

bool ScreenGrabberImp::reinitDue()
{
    if (m_state == Ready)
        return false;
    if (!m_reinitTimer.isValid()) {
        qCDebug(lcPivotrix) << "need restart" << 0;
        m_reinitTimer.start();
        return false;
    }
    const qint64 elapsed = m_reinitTimer.elapsed();
    if (elapsed >= m_reinitDelayMs) {
        qCDebug(lcPivotrix) << "need reinit" << elapsed;
        return true;
    }
    return false;
}
