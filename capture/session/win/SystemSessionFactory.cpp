#include "capture/session/SystemSession.h"
#include "capture/session/win/WindowsEventFilter.h"

SystemSession* SystemSession::create(QObject* parent)
{
    return new WindowsEventFilter(parent);
}
