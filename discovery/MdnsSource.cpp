#include "discovery/MdnsSource.h"

namespace {
// Longest numeric host text a reply is keyed by.
constexpr int maxHostText = 63;
} // namespace

MdnsSource MdnsSource::fromNumericHost(const QString& host, bool ipv6)
{
    MdnsSource source;
    if (host.isEmpty() || host.size() > maxHostText)
        return source;
    source.address = host;
    source.ipv6 = ipv6;
    return source;
}
