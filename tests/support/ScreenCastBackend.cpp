// A stand-in for the desktop's screen-cast back end of the portal: it takes the wlroots back end's bus
// name, so the real xdg-desktop-portal routes sway sessions to it, and shows pictures the test sets on one
// PipeWire video source per output.
//   pivotrix_screencast_backend <outputs> <width> <height>
// Commands on standard input, each answered with one line:
//   paint <output> [<image>]  shows the image, or without one the picture before the last again; "ok"
//   answer yes|no|hostile     how choices of outputs go from now on (hostile: granted, stream properties
//                             broken); "ok"
//   choices                   how many choices of outputs were asked for
//   format BGRx|NV12|dmabuf   the one format outputs offer from now on (dmabuf: BGRx in DMA-BUFs only)
//   scale <n>                 the scale of outputs: the portal gives their size divided by it
//   close                     ends every session as the desktop's "Stop sharing" does
//   sessions                  how many sessions are open
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QImage>
#include <QSet>
#include <QSocketNotifier>

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

struct StreamEntry
{
    uint node = 0;
    QVariantMap props;
};
Q_DECLARE_METATYPE(StreamEntry)

QDBusArgument& operator<<(QDBusArgument& arg, const StreamEntry& s)
{
    arg.beginStructure();
    arg << s.node << s.props;
    arg.endStructure();
    return arg;
}

// Only ever sent.
const QDBusArgument& operator>>(const QDBusArgument& arg, StreamEntry&)
{
    return arg;
}

namespace {

// One output: a PipeWire video source that sends its picture whenever it changed.
struct Output
{
    pw_stream* stream = nullptr;
    spa_hook listener{};
    QImage picture;
    QImage previous;
    bool dirty = true;
    uint32_t node = SPA_ID_INVALID;
};

QList<Output*> g_outputs;
QByteArray g_format = "BGRx";

void onProcess(void* data)
{
    auto* out = static_cast<Output*>(data);
    pw_buffer* b = out->dirty ? pw_stream_dequeue_buffer(out->stream) : nullptr;
    if (!b)
        return;
    spa_data& d = b->buffer->datas[0];
    const auto bytes = uint32_t(out->picture.sizeInBytes());
    if (d.data && bytes <= d.maxsize) {
        std::memcpy(d.data, out->picture.constBits(), bytes);
        *d.chunk = spa_chunk{0, bytes, out->picture.bytesPerLine(), 0};
        out->dirty = false;
    }
    pw_stream_queue_buffer(out->stream, b);
}

void onState(void* data, pw_stream_state, pw_stream_state state, const char*)
{
    auto* out = static_cast<Output*>(data);
    out->node = pw_stream_get_node_id(out->stream);
    // A new consumer gets the current picture.
    out->dirty = out->dirty || state == PW_STREAM_STATE_STREAMING;
}

void onParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    auto* out = static_cast<Output*>(data);
    if (id != SPA_PARAM_Format || !param)
        return;
    // A consumer that links while the stream already streams brings a format but no state change; like a
    // compositor, give it the current picture too.
    out->dirty = true;
    uint8_t storage[256];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const int types =
        g_format == "dmabuf" ? 1 << SPA_DATA_DmaBuf : (1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd);
    const auto* buffers = static_cast<const spa_pod*>(
        spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
                                   SPA_PARAM_BUFFERS_size, SPA_POD_Int(out->picture.sizeInBytes()),
                                   SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(types)));
    pw_stream_update_params(out->stream, &buffers, 1);
}

// Sends changed pictures: after each change, and again by a timer when no buffer was free.
void sendChanged(void* = nullptr, uint64_t = 0)
{
    for (Output* out : g_outputs) {
        if (out->dirty)
            pw_stream_trigger_process(out->stream);
    }
}

// The one format an output offers, its picture's size; a new size is a mode change.
void offerFormat(Output* out)
{
    uint8_t storage[512];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_rectangle size = SPA_RECTANGLE(uint32_t(out->picture.width()), uint32_t(out->picture.height()));
    const spa_fraction rate = SPA_FRACTION(0, 1);
    spa_pod_frame frame;
    spa_pod_builder_push_object(&b, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(&b, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
                        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
                        SPA_POD_Id(g_format == "NV12" ? SPA_VIDEO_FORMAT_NV12 : SPA_VIDEO_FORMAT_BGRx),
                        SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate,
                        SPA_POD_Fraction(&rate), 0);
    if (g_format == "dmabuf") {
        spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_modifier, SPA_POD_PROP_FLAG_MANDATORY);
        spa_pod_builder_long(&b, 0);
    }
    const auto* format = static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &frame));
    if (out->node == SPA_ID_INVALID) {
        pw_stream_connect(out->stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                          pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), &format, 1);
    } else {
        pw_stream_update_params(out->stream, &format, 1);
    }
}

// One portal session, named by its path.
class Session : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.Session")
public slots:
    void Close()
    {
        QDBusConnection::sessionBus().unregisterObject(objectName());
        setParent(nullptr);
        deleteLater();
    }
};

class Backend : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.ScreenCast")
    Q_PROPERTY(uint AvailableSourceTypes READ sourceTypes)
    Q_PROPERTY(uint version READ version)
public:
    uint sourceTypes() const { return 1; }
    uint version() const { return 4; }

    QByteArray command(const QList<QByteArray>& words)
    {
        if (words.value(0) == "answer") {
            m_answer = words.value(1);
            return "ok";
        }
        if (words.value(0) == "choices")
            return QByteArray::number(m_choices);
        if (words.value(0) == "sessions")
            return QByteArray::number(findChildren<Session*>().size());
        if (words.value(0) == "close") {
            for (Session* session : findChildren<Session*>()) {
                QDBusConnection::sessionBus().send(QDBusMessage::createSignal(
                    session->objectName(), QStringLiteral("org.freedesktop.impl.portal.Session"),
                    QStringLiteral("Closed")));
                session->Close();
            }
            return "ok";
        }
        if (words.value(0) == "scale") {
            m_scale = qMax(1, words.value(1).toInt());
            return "ok";
        }
        if (words.value(0) == "format") {
            g_format = words.value(1);
            for (Output* out : qAsConst(g_outputs))
                offerFormat(out);
            return "ok";
        }
        Output* out = g_outputs.value(words.value(1).toInt() - 1);
        if (words.value(0) != "paint" || !out)
            return "bad command";
        const QImage picture = words.size() > 2 ? QImage(QString::fromLocal8Bit(words[2])) : out->previous;
        if (picture.isNull())
            return "no picture";
        out->previous = std::exchange(out->picture, picture.convertToFormat(QImage::Format_RGB32));
        if (out->picture.size() != out->previous.size())
            offerFormat(out);
        out->dirty = true;
        sendChanged();
        return "ok";
    }

public slots:
    uint CreateSession(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&,
                       const QVariantMap&, QVariantMap&)
    {
        auto* s = new Session;
        s->setObjectName(session.path());
        s->setParent(this);
        QDBusConnection::sessionBus().registerObject(session.path(), s, QDBusConnection::ExportAllSlots);
        return 0;
    }

    uint SelectSources(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&,
                       const QVariantMap& options, QVariantMap&)
    {
        // The portal hands over restore data only for a token it issued.
        if (options.contains(QStringLiteral("restore_data")))
            m_restored.insert(session.path());
        return 0;
    }

    uint Start(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&, const QString&,
               const QVariantMap&, QVariantMap& results)
    {
        if (!m_restored.contains(session.path())) {
            ++m_choices;
            if (m_answer == "no")
                return 1;
        }
        // Listed last output first: a real portal's order is its own (GNOME's changes between sessions).
        QList<StreamEntry> streams;
        for (const Output* out : qAsConst(g_outputs)) {
            const QPoint position(streams.size() * out->picture.width() / m_scale, 0);
            const bool hostile = m_answer == "hostile";
            // Hostile: the first output's size is beyond belief, the second one's place.
            const bool first = streams.isEmpty();
            const QVariant place = !hostile ? QVariant(position)
                                   : first  ? QVariant(QStringLiteral("left"))
                                            : QVariant(QPoint(INT_MIN, 7));
            const QSize size = hostile && first ? QSize(1 << 30, 1 << 30) : out->picture.size() / m_scale;
            streams.prepend({out->node,
                             {{QStringLiteral("position"), place},
                              {QStringLiteral("size"), size},
                              {QStringLiteral("source_type"), 1u}}});
        }
        // And a stream on PipeWire's "any node".
        if (m_answer == "hostile")
            streams.prepend({~0u, {{QStringLiteral("size"), QSize(64, 64)}}});
        QDBusArgument restoreData;
        restoreData.beginStructure();
        restoreData << QStringLiteral("pivotrix-test") << 1u << QDBusVariant(QStringLiteral("all outputs"));
        restoreData.endStructure();
        results.insert(QStringLiteral("streams"), QVariant::fromValue(streams));
        results.insert(QStringLiteral("persist_mode"), 2u);
        results.insert(QStringLiteral("restore_data"), QVariant::fromValue(restoreData));
        return 0;
    }

private:
    QSet<QString> m_restored;
    QByteArray m_answer = "yes";
    int m_choices = 0;
    int m_scale = 1;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = app.arguments().value(1).toInt();
    const QSize size(app.arguments().value(2).toInt(), app.arguments().value(3).toInt());
    qDBusRegisterMetaType<StreamEntry>();
    qDBusRegisterMetaType<QList<StreamEntry>>();

    pw_init(&argc, &argv);
    // PipeWire's loop runs on Qt's.
    pw_loop* loop = pw_loop_new(nullptr);
    pw_loop_enter(loop);
    QSocketNotifier pipewire(pw_loop_get_fd(loop), QSocketNotifier::Read);
    QObject::connect(&pipewire, &QSocketNotifier::activated, [loop] { pw_loop_iterate(loop, 0); });
    pw_core* core = pw_context_connect(pw_context_new(loop, nullptr, 0), nullptr, 0);
    if (!core)
        return 1;
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onState;
    events.param_changed = onParamChanged;
    events.process = onProcess;
    for (int i = 1; i <= count; ++i) {
        auto* out = new Output;
        out->picture = QImage(size, QImage::Format_RGB32);
        out->picture.fill(Qt::black);
        const QByteArray name = "HEADLESS-" + QByteArray::number(i);
        out->stream = pw_stream_new(core, name.constData(),
                                    pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", nullptr));
        pw_stream_add_listener(out->stream, &out->listener, &events, out);
        offerFormat(out);
        // The portal may hand out the node id only once it exists.
        while (out->node == SPA_ID_INVALID)
            pw_loop_iterate(loop, -1);
        g_outputs.append(out);
    }
    timespec period{0, 5 * 1000 * 1000};
    pw_loop_update_timer(loop, pw_loop_add_timer(loop, sendChanged, nullptr), &period, &period, false);
    Backend backend;

    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &backend,
                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    if (!bus.registerService(QStringLiteral("org.freedesktop.impl.portal.desktop.wlr")))
        return 1;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[4096];
        if (!std::fgets(line, sizeof line, stdin))
            return QCoreApplication::quit();
        std::printf("%s\n", backend.command(QByteArray(line).simplified().split(' ')).constData());
        std::fflush(stdout);
    });
    return app.exec();
}

#include "ScreenCastBackend.moc"
