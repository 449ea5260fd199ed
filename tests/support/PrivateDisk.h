#pragma once

#include <QByteArray>

// A small disk of the test's own: the test function runs again in a private mount namespace
// (unshare -rm) whose temporary folder is a tmpfs of its own size, so that a full or read-only disk hits
// nothing but the test and vanishes with it. First thing in the test function:
//     if (!PrivateDisk::inside()) return PrivateDisk::rerunInside(64 * 1024);
namespace PrivateDisk {

inline bool inside()
{
    return qgetenv("PIVOTRIX_PRIVATE_DISK") == "inside";
}
// Passes when the run inside passes; skips where such namespaces are not permitted.
void rerunInside(qint64 bytes);
// Inside: turns the temporary folder read-only or writable again.
bool setReadOnly(bool readOnly);

} // namespace PrivateDisk
