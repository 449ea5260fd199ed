#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

// One message on the broadcast channel: five colours (0x00BBGGRR) or the live status. Fixed size:
// "PXCB", version 1, type, two zero bytes, then five 32-bit little-endian values.
struct ChromaBroadcastMessage
{
    static constexpr int kSize = 28;
    static constexpr std::uint8_t kVersion = 1;

    int type = 0;
    std::array<std::uint32_t, 5> values{};

    static ChromaBroadcastMessage effect(const std::array<std::uint32_t, 5>& colors);
    static ChromaBroadcastMessage status(int status);

    QByteArray encode() const;
    // False with the reason when the bytes are not a well-formed message.
    static bool decode(const QByteArray& bytes, ChromaBroadcastMessage* message, QString* reason);
};
