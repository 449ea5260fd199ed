// libFuzzer target over the first instance's reading of what a client sends, split where the first byte
// says into what has arrived and what is still waiting. Oracle: a message read is whole, and framed again it
// reads back as the same message.
#include "core/SingleInstanceMessage.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray sent(reinterpret_cast<const char*>(data + 1), int(size - 1));
    const int arrived = data[0] >= 128 ? sent.size() : sent.size() * data[0] / 128;
    QString message;
    const char* reason = nullptr;
    const auto reading =
        SingleInstanceMessage::read(sent.left(arrived), arrived < sent.size(), &message, &reason);
    if (reading == SingleInstanceMessage::Reading::Refused && !reason)
        std::abort();
    if (reading != SingleInstanceMessage::Reading::Complete)
        return 0;
    QString again;
    const QByteArray frame = SingleInstanceMessage::frame(message);
    if (arrived != sent.size() || arrived > 4 + SingleInstanceMessage::kMaxBytes ||
        (!frame.isEmpty() && (SingleInstanceMessage::read(frame, false, &again, &reason) !=
                                  SingleInstanceMessage::Reading::Complete ||
                              again != message)))
        std::abort();
    return 0;
}
