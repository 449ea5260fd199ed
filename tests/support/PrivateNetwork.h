#pragma once

#include <QString>

// Runs a test binary again inside a private network namespace (unshare -rn) with loopback up, multicast on
// and the extra addresses 127.0.0.2 onwards, so a multicast scan never leaves the namespace. Call first
// thing in main():
//     if (const int status = PrivateNetwork::enter(argc, argv, 40); status >= 0) return status;
namespace PrivateNetwork {

// -1: carry on in this process (already inside, or namespaces unavailable). Otherwise the child's status.
int enter(int argc, char** argv, int extraAddresses);
// True inside the namespace; otherwise `why` tells why namespaces are not available.
bool inside(QString* why = nullptr);

} // namespace PrivateNetwork
