#pragma once

#include <cstdint>

// The entry points of the Chroma broadcast library, looked up by name at run time.

// The application identifier, laid out like a Windows GUID and passed by value.
struct ChromaAppGuid
{
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};
static_assert(sizeof(ChromaAppGuid) == 16, "the library takes a 16-byte identifier");

// Notification types and the values of a status notification.
enum ChromaEventType : int
{
    ChromaEventEffect = 1,
    ChromaEventStatus = 2,
};
enum ChromaStatus : int
{
    ChromaStatusLive = 1,
    ChromaStatusNotLive = 2,
};

// type 1: data points to five 32-bit colours 0x00BBGGRR; type 2: data is the status value itself.
using ChromaEventCallback = int (*)(int type, void* data);

using ChromaInitFn = int (*)(ChromaAppGuid appId);
using ChromaRegisterEventNotificationFn = int (*)(ChromaEventCallback callback);
using ChromaUnRegisterEventNotificationFn = int (*)();
using ChromaUnInitFn = int (*)();
