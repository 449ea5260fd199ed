#pragma once

#include <QString>

// Where the broadcast channel's socket lives: in the user's private runtime directory.
class ChromaBroadcastChannel
{
public:
    static constexpr const char* kSocketName = "pivotrix-chroma-broadcast";

    // Empty, with the reason, when there is no private runtime directory to put it in.
    static QString socketPath(QString* error);
};
