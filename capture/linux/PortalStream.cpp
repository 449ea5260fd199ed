#include "capture/linux/PortalStream.h"

#include <QDBusArgument>

#include <algorithm>
#include <utility>

namespace {

// 0 is PipeWire's core and ~0 means "any node": connecting to either would capture whatever the
// session manager picks, a camera perhaps, rather than the monitor the user shared.
constexpr quint32 NoNode = 0;
constexpr quint32 AnyNode = ~0u;

bool readPair(const QVariant& value, int* a, int* b)
{
    if (!value.canConvert<QDBusArgument>())
        return false;
    const QDBusArgument arg = value.value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("(ii)"))
        return false;
    arg.beginStructure();
    arg >> *a >> *b;
    arg.endStructure();
    return true;
}

} // namespace

QList<PortalStream> PortalStream::readAll(const QVariant& value)
{
    QList<PortalStream> streams;
    if (!value.canConvert<QDBusArgument>())
        return streams;
    const QDBusArgument arg = value.value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("a(ua{sv})"))
        return streams;
    arg.beginArray();
    while (!arg.atEnd()) {
        PortalStream stream;
        QVariantMap props;
        arg.beginStructure();
        arg >> stream.nodeId >> props;
        arg.endStructure();
        if (stream.nodeId == NoNode || stream.nodeId == AnyNode || streams.size() >= MaxStreams)
            continue;
        int x = 0;
        int y = 0;
        int w = 0;
        int h = 0;
        // Not by qAbs: it leaves the most negative int negative, and so within any limit.
        if (!readPair(props.value(QStringLiteral("position")), &x, &y) || x < -MaxCoordinate ||
            x > MaxCoordinate || y < -MaxCoordinate || y > MaxCoordinate)
            x = y = 0;
        // A stream without a believable size cannot be reduced: it keeps an empty geometry.
        if (readPair(props.value(QStringLiteral("size")), &w, &h) && w > 0 && h > 0 && w <= MaxSide &&
            h <= MaxSide)
            stream.geometry = QRect(x, y, w, h);
        streams.append(stream);
    }
    arg.endArray();
    // The portal's order is its own (GNOME's varies between sessions); "Monitor 1" is the top left one, so a
    // panel's monitor stays the same across restarts. Streams without a place keep their order at the end.
    std::stable_sort(streams.begin(), streams.end(), [](const PortalStream& a, const PortalStream& b) {
        if (a.geometry.isEmpty() || b.geometry.isEmpty())
            return !a.geometry.isEmpty() && b.geometry.isEmpty();
        return std::make_pair(a.geometry.y(), a.geometry.x()) <
               std::make_pair(b.geometry.y(), b.geometry.x());
    });
    return streams;
}
