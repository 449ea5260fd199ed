// Stand-ins for broken broadcast libraries: built once per variant with the entry points it lacks left out.
#include "effects/ChromaBroadcastApi.h"

#include <cstring>

#define VARIANT_EXPORT extern "C" __attribute__((visibility("default")))

#ifndef VARIANT_NO_INIT
VARIANT_EXPORT int Init([[maybe_unused]] ChromaAppGuid appId)
{
#ifdef VARIANT_INIT_FAILS
    return 1;
#else
    // Answers 0 only for this application's identifier, so a test sees it arrive intact by value (the
    // identifier has no padding to compare).
    const ChromaAppGuid want = {0x3F7A2C91, 0x5D08, 0x4E6B, {0xB2, 0xA4, 0x9C, 0x1E, 0x0F, 0x6D, 0x8A, 0x53}};
    return std::memcmp(&appId, &want, sizeof want) == 0 ? 0 : 7;
#endif
}
#endif

#ifndef VARIANT_NO_REGISTER
VARIANT_EXPORT int RegisterEventNotification(ChromaEventCallback)
{
    return 0;
}
#endif

VARIANT_EXPORT int UnRegisterEventNotification()
{
    return 0;
}

VARIANT_EXPORT int UnInit()
{
    return 0;
}
