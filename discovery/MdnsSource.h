#pragma once

#include <QString>

// Where a reply came from: the numeric host its records are collected under, which is also the address the
// rest of the system reaches the panel at.
struct MdnsSource
{
    QString address; // numeric host; a scoped IPv6 address keeps its zone ("fe80::1%eth0")
    bool ipv6 = false;

    // `host` is getnameinfo's numeric host; an empty or over-long text gives an unusable source.
    static MdnsSource fromNumericHost(const QString& host, bool ipv6);
    bool isValid() const { return !address.isEmpty(); }
};
