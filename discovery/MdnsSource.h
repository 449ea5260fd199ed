#pragma once

#include <QString>

// Where a reply came from: the key its records are collected under and the host text the rest of the
// system puts in front of ":8080".
struct MdnsSource
{
    QString key;     // numeric host, with "%zone" for a scoped IPv6 address
    QString address; // IPv4 as is; IPv6 in brackets with the zone as "%25zone"
    bool ipv6 = false;

    // `host` is getnameinfo's numeric host; an empty or over-long text gives an unusable source.
    static MdnsSource fromNumericHost(const QString& host, bool ipv6);
    bool isValid() const { return !key.isEmpty(); }
};
