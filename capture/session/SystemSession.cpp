#include "capture/session/SystemSession.h"

#include "core/DiagnosticLog.h"

#include <QDebug>

SystemSession::SystemSession(QObject* parent)
    : QObject(parent)
{}

void SystemSession::changeState(SystemState state)
{
    switch (state) {
    case SessionEnding:
        qCDebug(lcPivotrix, "Session is ending");
        m_locked = true;
        break;
    case SessionLocked:
        qCDebug(lcPivotrix, "System is locking");
        m_locked = true;
        break;
    case SystemSuspending:
        qCDebug(lcPivotrix, "System is go to sleep");
        m_locked = true;
        break;
    case SystemResumed:
        qCDebug(lcPivotrix, "System is resuming");
        m_locked = false;
        break;
    case SessionUnlocked:
        qCDebug(lcPivotrix, "System is unlocking");
        m_locked = false;
        break;
    case DisplayOff:
        qCDebug(lcPivotrix, "Display is off");
        m_locked = true;
        break;
    case DisplayOn:
        qCDebug(lcPivotrix, "Display is on");
        m_locked = false;
        break;
    }
    emit systemStateChanged(int(state));
}
