#pragma once

#include <QByteArray>
#include <QString>

// What a second instance hands the first: a 32-bit big-endian length, then that many bytes of UTF-8.
// Pure, so that whatever a client of the socket sends is fuzzed as the first instance reads it.
class SingleInstanceMessage
{
public:
    static constexpr int kMaxBytes = 1024;

    enum class Reading
    {
        Incomplete,
        Complete,
        Refused
    };

    // The frame for `message`; empty when it is empty or too long to send.
    static QByteArray frame(const QString& message);
    // Reads what a client has sent so far; `moreWaiting` says the socket holds bytes beyond `buffer`.
    // `reason` tells why a client is refused.
    static Reading read(const QByteArray& buffer, bool moreWaiting, QString* message, const char** reason);
};
