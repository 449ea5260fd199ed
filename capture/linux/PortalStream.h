#pragma once

#include <QList>
#include <QRect>
#include <QVariant>

// One PipeWire stream the screen-cast portal granted: the node to connect to and where the monitor sits.
struct PortalStream
{
    // Beyond any real monitor; also the largest frame the streams negotiate.
    static constexpr int MaxSide = 16384;
    static constexpr int MaxCoordinate = 1 << 20;
    // More than any desk has; each one costs a PipeWire stream.
    static constexpr int MaxStreams = 16;

    quint32 nodeId = 0;
    // Empty when the portal gave no believable place and size.
    QRect geometry;

    // Reads the "streams" entry (a(ua{sv})) of the Start response as it came off the bus. A stream without
    // a usable node is dropped; the rest come top left first.
    static QList<PortalStream> readAll(const QVariant& streams);
};
