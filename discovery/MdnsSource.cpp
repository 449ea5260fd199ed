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
    source.key = host;
    source.ipv6 = ipv6;
    if (!ipv6) {
        source.address = host;
    } else {
        QString urlHost = host;
        urlHost.replace(QLatin1Char('%'), QLatin1String("%25"));
        source.address = QLatin1Char('[') + urlHost + QLatin1Char(']');
    }
    return source;
}
