#include "capture/session/win/WindowsEventFilter.h"

#include <QApplication>
#include <QDebug>
#include <QWidget>

#include <windows.h>
#include <wtsapi32.h>

namespace {
// {6FE69556-704A-47A0-8F24-C28D936FDA47}
const GUID kConsoleDisplayState = {
    0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
} // namespace

WindowsEventFilter::WindowsEventFilter(QObject* parent)
    : SystemSession(parent)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    if (windows.isEmpty()) {
        // Notifications go to a window; without one nothing can be registered.
        qDebug("failed to subscribe on session notifications");
        qDebug("failed to subscribe on power notifications");
        return;
    }
    const HWND hwnd = reinterpret_cast<HWND>(windows.first()->winId());
    if (!WTSRegisterSessionNotification(hwnd, NOTIFY_FOR_THIS_SESSION))
        qDebug("failed to subscribe on session notifications");
    if (!RegisterPowerSettingNotification(hwnd, &kConsoleDisplayState, DEVICE_NOTIFY_WINDOW_HANDLE))
        qDebug("failed to subscribe on power notifications");
}

bool WindowsEventFilter::nativeEventFilter(const QByteArray& eventType, void* message, long* result)
{
    Q_UNUSED(eventType)
    Q_UNUSED(result)
    const MSG* msg = static_cast<const MSG*>(message);
    if (!msg)
        return false;
    switch (msg->message) {
    case WM_QUERYENDSESSION:
        changeState(SessionEnding);
        break;
    case WM_WTSSESSION_CHANGE:
        if (msg->wParam == WTS_SESSION_LOCK)
            changeState(SessionLocked);
        else if (msg->wParam == WTS_SESSION_UNLOCK)
            changeState(SessionUnlocked);
        break;
    case WM_POWERBROADCAST:
        if (msg->wParam == PBT_APMSUSPEND) {
            changeState(SystemSuspending);
        } else if (msg->wParam == PBT_APMRESUMESUSPEND) {
            changeState(SystemResumed);
        } else if (msg->wParam == PBT_POWERSETTINGCHANGE && msg->lParam) {
            const auto* setting = reinterpret_cast<const POWERBROADCAST_SETTING*>(msg->lParam);
            if (setting->PowerSetting != kConsoleDisplayState || setting->DataLength < 1)
                break;
            if (setting->Data[0] == 0)
                changeState(DisplayOff);
            else if (setting->Data[0] == 1)
                changeState(DisplayOn);
        }
        break;
    default:
        break;
    }
    return false;
}
