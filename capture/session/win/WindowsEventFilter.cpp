#include "capture/session/win/WindowsEventFilter.h"

#include "capture/session/SessionMessageDecoder.h"
#include "core/DiagnosticLog.h"

#include <QApplication>
#include <QDebug>
#include <QWidget>

#include <cstddef>

#include <windows.h>
#include <wtsapi32.h>

namespace {
// {6FE69556-704A-47A0-8F24-C28D936FDA47}
const GUID kConsoleDisplayState = {
    0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};

// The decoder spells these out to stay free of Windows headers; here they must agree with them.
static_assert(WM_QUERYENDSESSION == SessionMessageDecoder::kQueryEndSession, "message id");
static_assert(WM_WTSSESSION_CHANGE == SessionMessageDecoder::kSessionChange, "message id");
static_assert(WM_POWERBROADCAST == SessionMessageDecoder::kPowerBroadcast, "message id");
static_assert(WTS_SESSION_LOCK == SessionMessageDecoder::kSessionLock, "session event");
static_assert(WTS_SESSION_UNLOCK == SessionMessageDecoder::kSessionUnlock, "session event");
static_assert(PBT_APMSUSPEND == SessionMessageDecoder::kSuspend, "power event");
static_assert(PBT_APMRESUMESUSPEND == SessionMessageDecoder::kResumeSuspend, "power event");
static_assert(PBT_POWERSETTINGCHANGE == SessionMessageDecoder::kPowerSettingChange, "power event");
static_assert(offsetof(POWERBROADCAST_SETTING, DataLength) == 16 &&
                  offsetof(POWERBROADCAST_SETTING, Data) == 20,
              "power setting layout");
} // namespace

WindowsEventFilter::WindowsEventFilter(QObject* parent)
    : SystemSession(parent)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    if (windows.isEmpty()) {
        // Notifications go to a window; without one nothing can be registered.
        qCDebug(lcPivotrix, "failed to subscribe on session notifications");
        qCDebug(lcPivotrix, "failed to subscribe on power notifications");
        return;
    }
    const HWND hwnd = reinterpret_cast<HWND>(windows.first()->winId());
    if (!WTSRegisterSessionNotification(hwnd, NOTIFY_FOR_THIS_SESSION))
        qCDebug(lcPivotrix, "failed to subscribe on session notifications");
    if (!RegisterPowerSettingNotification(hwnd, &kConsoleDisplayState, DEVICE_NOTIFY_WINDOW_HANDLE))
        qCDebug(lcPivotrix, "failed to subscribe on power notifications");
}

bool WindowsEventFilter::nativeEventFilter(const QByteArray& eventType, void* message, long* result)
{
    Q_UNUSED(eventType)
    Q_UNUSED(result)
    const MSG* msg = static_cast<const MSG*>(message);
    if (!msg)
        return false;
    const bool settingChange = msg->message == WM_POWERBROADCAST && msg->wParam == PBT_POWERSETTINGCHANGE;
    const int state = SessionMessageDecoder::decode(
        msg->message, msg->wParam,
        settingChange ? reinterpret_cast<const unsigned char*>(msg->lParam) : nullptr);
    if (state >= 0)
        changeState(static_cast<SystemState>(state));
    return false;
}
