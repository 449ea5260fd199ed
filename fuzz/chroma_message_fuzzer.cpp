// libFuzzer target over the decoder of the Chroma broadcast channel's messages. Oracle: a message that
// decodes encodes back to the very same bytes, and a refusal always names its reason.
#include "broadcast/ChromaBroadcastMessage.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    ChromaBroadcastMessage message;
    QString reason;
    if (ChromaBroadcastMessage::decode(bytes, &message, &reason) ? message.encode() != bytes
                                                                 : reason.isEmpty())
        std::abort();
    return 0;
}
