#include "capture/session/SessionMessageDecoder.h"

#include "capture/session/SystemSession.h"

#include <cstring>

const unsigned char SessionMessageDecoder::kConsoleDisplayState[16] = {
    0x56, 0x95, 0xe6, 0x6f, 0x4a, 0x70, 0xa0, 0x47, 0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47};

int SessionMessageDecoder::decode(quint32 message, quintptr wParam, const unsigned char* setting)
{
    switch (message) {
    case kQueryEndSession:
        return SystemSession::SessionEnding;
    case kSessionChange:
        if (wParam == kSessionLock)
            return SystemSession::SessionLocked;
        if (wParam == kSessionUnlock)
            return SystemSession::SessionUnlocked;
        return -1;
    case kPowerBroadcast:
        if (wParam == kSuspend)
            return SystemSession::SystemSuspending;
        if (wParam == kResumeSuspend)
            return SystemSession::SystemResumed;
        if (wParam == kPowerSettingChange && setting) {
            if (std::memcmp(setting, kConsoleDisplayState, sizeof kConsoleDisplayState) != 0)
                return -1;
            quint32 length = 0;
            std::memcpy(&length, setting + 16, sizeof length);
            if (length < 1)
                return -1;
            // 2 is a dimmed display, which still shows the picture.
            if (setting[20] == 0)
                return SystemSession::DisplayOff;
            if (setting[20] == 1)
                return SystemSession::DisplayOn;
        }
        return -1;
    default:
        return -1;
    }
}
