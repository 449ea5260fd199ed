#include "broadcast/ChromaBroadcastMessage.h"

#include "effects/ChromaBroadcastApi.h"

#include <QtEndian>

namespace {
const char kMagic[4] = {'P', 'X', 'C', 'B'};
}

ChromaBroadcastMessage ChromaBroadcastMessage::effect(const std::array<std::uint32_t, 5>& colors)
{
    ChromaBroadcastMessage message;
    message.type = ChromaEventEffect;
    message.values = colors;
    return message;
}

ChromaBroadcastMessage ChromaBroadcastMessage::status(int status)
{
    ChromaBroadcastMessage message;
    message.type = ChromaEventStatus;
    message.values[0] = std::uint32_t(status);
    return message;
}

QByteArray ChromaBroadcastMessage::encode() const
{
    QByteArray bytes(kSize, '\0');
    char* p = bytes.data();
    std::copy(std::begin(kMagic), std::end(kMagic), p);
    p[4] = char(kVersion);
    p[5] = char(type);
    for (int i = 0; i < 5; ++i)
        qToLittleEndian<std::uint32_t>(values[size_t(i)], p + 8 + 4 * i);
    return bytes;
}

bool ChromaBroadcastMessage::decode(const QByteArray& bytes, ChromaBroadcastMessage* message, QString* reason)
{
    const auto fail = [reason](const char* why) {
        *reason = QString::fromLatin1(why);
        return false;
    };
    if (bytes.size() != kSize)
        return fail("wrong size");
    const char* p = bytes.constData();
    if (!std::equal(std::begin(kMagic), std::end(kMagic), p))
        return fail("bad magic");
    if (std::uint8_t(p[4]) != kVersion)
        return fail("unknown version");
    if (p[6] != 0 || p[7] != 0)
        return fail("reserved bytes set");
    ChromaBroadcastMessage m;
    m.type = std::uint8_t(p[5]);
    for (int i = 0; i < 5; ++i)
        m.values[size_t(i)] = qFromLittleEndian<std::uint32_t>(p + 8 + 4 * i);
    if (m.type == ChromaEventEffect) {
        for (std::uint32_t v : m.values)
            if ((v >> 24) != 0)
                return fail("colour with a high byte");
    } else if (m.type == ChromaEventStatus) {
        if (m.values[0] != ChromaStatusLive && m.values[0] != ChromaStatusNotLive)
            return fail("unknown status");
        for (int i = 1; i < 5; ++i)
            if (m.values[size_t(i)] != 0)
                return fail("status with extra values");
    } else {
        return fail("unknown type");
    }
    *message = m;
    return true;
}
