#include "core/SocketLibrary.h"

#include <winsock2.h>

bool SocketLibrary::init()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void SocketLibrary::cleanup()
{
    WSACleanup();
}
