#include "core/SocketLibrary.h"

bool SocketLibrary::init()
{
    return true;
}

void SocketLibrary::cleanup() {}
