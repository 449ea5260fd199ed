#pragma once

#include <QtGlobal>

// Turns one Windows session or power window message into the state change it announces. Kept free of
// Windows headers so that its decoding is exercised on every platform, not only where the messages occur.
class SessionMessageDecoder
{
public:
    static constexpr quint32 kQueryEndSession = 0x0011;
    static constexpr quint32 kSessionChange = 0x02B1;
    static constexpr quint32 kPowerBroadcast = 0x0218;
    static constexpr quintptr kSessionLock = 0x7;
    static constexpr quintptr kSessionUnlock = 0x8;
    static constexpr quintptr kSuspend = 0x4;
    static constexpr quintptr kResumeSuspend = 0x7;
    static constexpr quintptr kPowerSettingChange = 0x8013;
    // The console display state setting, as laid out in memory (little-endian GUID).
    static const unsigned char kConsoleDisplayState[16];

    // `setting` is the power-setting block a setting change points at: 16-byte GUID, 32-bit data length,
    // then the data; null for other messages. Returns a SystemSession::SystemState, or -1 for none.
    static int decode(quint32 message, quintptr wParam, const unsigned char* setting);
};
