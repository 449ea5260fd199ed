#include "capture/session/SystemSession.h"

#include <QDebug>

SystemSession::SystemSession(QObject* parent)
    : QObject(parent)
{}

void SystemSession::changeState(SystemState state)
{
    switch (state) {
    case SessionEnding:
        qDebug("Session is ending");
        m_locked = true;
        break;
    case SessionLocked:
        qDebug("System is locking");
        m_locked = true;
        break;
    case SystemSuspending:
        qDebug("System is go to sleep");
        m_locked = true;
        break;
    case SystemResumed:
        qDebug("System is resuming");
        m_locked = false;
        break;
    case SessionUnlocked:
        qDebug("System is unlocking");
        m_locked = false;
        break;
    case DisplayOff:
        qDebug("Display is off");
        m_locked = true;
        break;
    case DisplayOn:
        qDebug("Display is on");
        m_locked = false;
        break;
    }
    emit systemStateChanged(int(state));
}
