#pragma once

// The platform socket library used by discovery (Winsock 2.2 on Windows; nothing to do elsewhere).
class SocketLibrary
{
public:
    static bool init();
    static void cleanup();
};
