// libFuzzer target over what the desktop says about a screen cast. The first byte picks one of two:
// - even: the Start response's "streams" (a(ua{sv})), built from the input with any node ids and any D-Bus
//   types at "position", "size", "source_type" and "id", sent over a real peer-to-peer D-Bus connection and
//   read as it comes off the bus. Oracle: a stream kept has a usable node and either no place or a size
//   within limits; every stream sent whole and sound is kept, up to the limit; placed ones come first.
// - odd: a stream's Format param (an spa_pod from the bytes, checked as PipeWire's protocol checks a param
//   before a stream sees it) and a buffer chunk of it. Oracle: a format accepted has a size within limits
//   and one of the offered layouts; a chunk accepted is read whole by the reduction (ASan watches the
//   buffer, allocated to the chunk's memory size).
// Input: [mode] then for streams [kind][count] and per stream [node u32][props] with per prop
// [key][type][three u32]; for a format [stride][offset][size][maxsize] (u32 each) and the pod.
#include "capture/linux/BlockAverage.h"
#include "capture/linux/PortalStream.h"
#include "capture/linux/StreamFormat.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServer>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QDir>

#include <spa/param/video/raw.h>
#include <spa/pod/pod.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Reader
{
    const uint8_t* p;
    size_t n;
    uint8_t byte()
    {
        if (n == 0)
            return 0;
        --n;
        return *p++;
    }
    uint32_t word()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(byte()) << (8 * i);
        return v;
    }
};

template <typename A, typename B> struct Pair
{
    A a{};
    B b{};
};
using IntPair = Pair<int, int>;
using UIntPair = Pair<uint, uint>;
using DoublePair = Pair<double, double>;
struct Triple
{
    int a = 0, b = 0, c = 0;
};
struct Single
{
    int a = 0;
};
struct StreamEntry
{
    uint node = 0;
    QVariantMap props;
};
struct NamedEntry
{
    QString node;
    QVariantMap props;
};
using Streams = QList<StreamEntry>;
using NamedStreams = QList<NamedEntry>;

template <typename A, typename B> QDBusArgument& operator<<(QDBusArgument& arg, const Pair<A, B>& v)
{
    arg.beginStructure();
    arg << v.a << v.b;
    arg.endStructure();
    return arg;
}
template <typename A, typename B> const QDBusArgument& operator>>(const QDBusArgument& arg, Pair<A, B>&)
{
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const Triple& v)
{
    arg.beginStructure();
    arg << v.a << v.b << v.c;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, Triple&)
{
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const Single& v)
{
    arg.beginStructure();
    arg << v.a;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, Single&)
{
    return arg;
}
template <typename Node>
QDBusArgument& writeEntry(QDBusArgument& arg, const Node& node, const QVariantMap& props)
{
    arg.beginStructure();
    arg << node << props;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const StreamEntry& v)
{
    return writeEntry(arg, v.node, v.props);
}
const QDBusArgument& operator>>(const QDBusArgument& arg, StreamEntry&)
{
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const NamedEntry& v)
{
    return writeEntry(arg, v.node, v.props);
}
const QDBusArgument& operator>>(const QDBusArgument& arg, NamedEntry&)
{
    return arg;
}

} // namespace

Q_DECLARE_METATYPE(IntPair)
Q_DECLARE_METATYPE(UIntPair)
Q_DECLARE_METATYPE(DoublePair)
Q_DECLARE_METATYPE(Triple)
Q_DECLARE_METATYPE(Single)
Q_DECLARE_METATYPE(StreamEntry)
Q_DECLARE_METATYPE(NamedEntry)
Q_DECLARE_METATYPE(Streams)
Q_DECLARE_METATYPE(NamedStreams)

namespace {

// Takes the one message in flight, on the receiving end of the peer connection.
class Catcher : public QDBusVirtualObject
{
public:
    QDBusMessage last;
    bool got = false;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override
    {
        last = message;
        got = true;
        return true;
    }
};

struct Bus
{
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<QDBusServer> server;
    Catcher catcher;
    QDBusConnection client{QString()};
};

Bus& bus()
{
    static Bus* b = [] {
        static int argc = 1;
        static char name[] = "portal_stream_fuzzer";
        static char* argv[] = {name, nullptr};
        auto* bus = new Bus;
        bus->app = std::make_unique<QCoreApplication>(argc, argv);
        qDBusRegisterMetaType<IntPair>();
        qDBusRegisterMetaType<UIntPair>();
        qDBusRegisterMetaType<DoublePair>();
        qDBusRegisterMetaType<Triple>();
        qDBusRegisterMetaType<Single>();
        qDBusRegisterMetaType<StreamEntry>();
        qDBusRegisterMetaType<NamedEntry>();
        qDBusRegisterMetaType<Streams>();
        qDBusRegisterMetaType<NamedStreams>();
        // An abstract socket where the system has them; the bus lets in only this user either way.
        bus->server = std::make_unique<QDBusServer>(QStringLiteral("unix:tmpdir=") + QDir::tempPath());
        QObject::connect(bus->server.get(), &QDBusServer::newConnection, [bus](const QDBusConnection& c) {
            QDBusConnection(c).registerVirtualObject(QStringLiteral("/"), &bus->catcher,
                                                     QDBusConnection::SubPath);
        });
        bus->client = QDBusConnection::connectToPeer(bus->server->address(), QStringLiteral("fuzz"));
        if (!bus->client.isConnected())
            std::abort();
        return bus;
    }();
    return *b;
}

QVariant propValue(Reader& in)
{
    const uint8_t type = in.byte() % 15;
    const uint32_t a = in.word();
    const uint32_t b = in.word();
    const uint32_t c = in.word();
    switch (type) {
    case 0:
        return QVariant::fromValue(IntPair{int(a), int(b)});
    case 1:
        return int(a);
    case 2:
        return uint(a);
    case 3:
        return QString::number(a);
    case 4:
        return double(int(a)) / 7;
    case 5:
        return QVariant::fromValue(UIntPair{a, b});
    case 6:
        return QVariant::fromValue(Triple{int(a), int(b), int(c)});
    case 7:
        return QVariant::fromValue(QList<int>{int(a), int(b)});
    case 8:
        return bool(a & 1);
    case 9:
        return QVariant::fromValue(QDBusVariant(QVariant::fromValue(IntPair{int(a), int(b)})));
    case 10:
        return qlonglong(a) << 32 | b;
    case 11:
        return QVariant::fromValue(DoublePair{double(int(a)), double(int(b))});
    case 12:
        return QVariant::fromValue(Single{int(a)});
    case 13:
        return QByteArray(reinterpret_cast<const char*>(&a), 4);
    default:
        return QVariant::fromValue(QDBusObjectPath(QStringLiteral("/p%1").arg(a)));
    }
}

bool placeable(const QVariantMap& props)
{
    const QVariant size = props.value(QStringLiteral("size"));
    if (size.userType() != qMetaTypeId<IntPair>())
        return false;
    const IntPair s = size.value<IntPair>();
    return s.a > 0 && s.b > 0 && s.a <= PortalStream::MaxSide && s.b <= PortalStream::MaxSide;
}

void fuzzStreams(Reader in)
{
    Bus& b = bus();
    const uint8_t kind = in.byte() % 4;
    const int count = in.byte() % 32;
    static const QString keys[] = {QStringLiteral("position"),
                                   QStringLiteral("size"),
                                   QStringLiteral("source_type"),
                                   QStringLiteral("id"),
                                   QString(),
                                   QStringLiteral("Size")};
    Streams streams;
    int whole = 0;
    int placed = 0;
    for (int i = 0; i < count; ++i) {
        StreamEntry entry;
        entry.node = in.word();
        const int props = in.byte() % 8;
        for (int p = 0; p < props; ++p) {
            const QString& key = keys[in.byte() % 6];
            entry.props.insert(key, propValue(in));
        }
        if (entry.node != 0 && entry.node != ~0u && whole < PortalStream::MaxStreams) {
            ++whole;
            placed += placeable(entry.props);
        }
        streams.append(entry);
    }
    QVariant value;
    if (kind <= 1) {
        value = QVariant::fromValue(streams);
    } else if (kind == 2) {
        value = QStringLiteral("streams");
    } else {
        NamedStreams named;
        for (const StreamEntry& s : qAsConst(streams))
            named.append({QString::number(s.node), s.props});
        value = QVariant::fromValue(named);
    }
    // The portal's Response, as the program receives it.
    QDBusMessage call = QDBusMessage::createMethodCall(QString(), QStringLiteral("/request"),
                                                       QStringLiteral("org.freedesktop.portal.Request"),
                                                       QStringLiteral("Response"));
    call.setArguments({0u, QVariantMap{{QStringLiteral("streams"), value}}});
    b.catcher.got = false;
    if (!b.client.send(call))
        std::abort();
    for (QDeadlineTimer deadline(5000); !b.catcher.got;) {
        if (deadline.hasExpired())
            std::abort();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const QList<QVariant> args = b.catcher.last.arguments();
    if (args.size() != 2)
        std::abort();
    const QVariantMap results = qdbus_cast<QVariantMap>(args.at(1));
    const QList<PortalStream> read = PortalStream::readAll(results.value(QStringLiteral("streams")));
    b.catcher.last = QDBusMessage();

    if (kind > 1 ? !read.isEmpty() : read.size() != whole)
        std::abort();
    int placedRead = 0;
    for (int i = 0; i < read.size(); ++i) {
        const PortalStream& s = read.at(i);
        if (s.nodeId == 0 || s.nodeId == ~0u)
            std::abort();
        if (s.geometry.isEmpty())
            continue;
        ++placedRead;
        const QRect& g = s.geometry;
        if (g.width() > PortalStream::MaxSide || g.height() > PortalStream::MaxSide ||
            qAbs(g.x()) > PortalStream::MaxCoordinate || qAbs(g.y()) > PortalStream::MaxCoordinate ||
            (i > 0 && read.at(i - 1).geometry.isEmpty()) ||
            (i > 0 &&
             qMakePair(read.at(i - 1).geometry.y(), read.at(i - 1).geometry.x()) > qMakePair(g.y(), g.x())))
            std::abort();
    }
    if (kind <= 1 && placedRead != placed)
        std::abort();
}

void fuzzFormat(Reader in)
{
    const int32_t stride = int32_t(in.word());
    const uint32_t offset = in.word();
    const uint32_t size = in.word();
    const uint32_t maxsize = in.word();
    // Exactly the bytes given, so that ASan sees any read past them (the allocator aligns to 8 or more, as
    // PipeWire's message buffers are).
    if (in.n == 0)
        return;
    std::unique_ptr<uint8_t[]> heap(new uint8_t[in.n]);
    uint8_t* aligned = heap.get();
    std::memcpy(aligned, in.p, in.n);
    // What the protocol lets through to a stream's param_changed: a whole object pod, padded to 8.
    const auto* pod = reinterpret_cast<const spa_pod*>(aligned);
    if (in.n < sizeof(spa_pod) || SPA_ROUND_UP_N(uint64_t(pod->size), 8) + sizeof(spa_pod) > in.n)
        return;
    (void)StreamFormat::describe(pod);
    if (pod->type != SPA_TYPE_Object || pod->size < sizeof(spa_pod_object_body))
        return;
    StreamFormat format;
    if (!StreamFormat::read(pod, &format))
        return;
    if (format.width < 1 || format.height < 1 || format.width > StreamFormat::MaxSide ||
        format.height > StreamFormat::MaxSide ||
        (format.format != SPA_VIDEO_FORMAT_BGRx && format.format != SPA_VIDEO_FORMAT_BGRA &&
         format.format != SPA_VIDEO_FORMAT_RGBx && format.format != SPA_VIDEO_FORMAT_RGBA))
        std::abort();
    const qint64 used = format.readableStride(stride, offset, size, maxsize);
    const int blocksW = format.width / 16;
    const int blocksH = format.height / 16;
    if (used == 0)
        return;
    if (used < qint64(blocksW) * 64)
        std::abort();
    if (maxsize > (8u << 20))
        return;
    std::unique_ptr<uchar[]> memory(new uchar[maxsize]);
    std::vector<uchar> out(size_t(blocksW) * 4 * size_t(blocksH));
    blockAverage16(memory.get() + offset, used, blocksW, blocksH, out.data(), qsizetype(blocksW) * 4);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in{data, size};
    if (in.byte() % 2 == 0)
        fuzzStreams(in);
    else
        fuzzFormat(in);
    return 0;
}
