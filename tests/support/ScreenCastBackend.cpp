// A stand-in screen-cast back end of the desktop portal for tests: it serves
// org.freedesktop.impl.portal.ScreenCast under the wlroots back end's bus name, so the real
// xdg-desktop-portal routes sway sessions to it, and publishes one PipeWire video source per output whose
// pictures the test sets. Choices without restore data append a line to the choices file and read the answer
// file ("yes" grants all outputs, "hostile" too but with broken stream properties). Commands on standard
// input: "paint <output index> <image path>", answered "ok".
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QImage>
#include <QMutex>
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
Q_DECLARE_METATYPE(QList<StreamEntry>)

struct RestoreData
{
    QString vendor;
    uint version = 0;
    QDBusVariant data;
};
Q_DECLARE_METATYPE(RestoreData)

QDBusArgument& operator<<(QDBusArgument& arg, const StreamEntry& s)
{
    arg.beginStructure();
    arg << s.node << s.props;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, StreamEntry& s)
{
    arg.beginStructure();
    arg >> s.node >> s.props;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const RestoreData& r)
{
    arg.beginStructure();
    arg << r.vendor << r.version << r.data;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, RestoreData& r)
{
    arg.beginStructure();
    arg >> r.vendor >> r.version >> r.data;
    arg.endStructure();
    return arg;
}

namespace {

const char* const kVendor = "pivotrix-test";

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

pw_thread_loop* g_loop = nullptr;

void onProcess(void* data)
{
    auto* out = static_cast<Output*>(data);
    if (!out->dirty)
        return;
    pw_buffer* b = pw_stream_dequeue_buffer(out->stream);
    if (!b)
        return;
    spa_data& d = b->buffer->datas[0];
    const int stride = out->picture.width() * 4;
    const qint64 bytes = qint64(stride) * out->picture.height();
    if (d.data && bytes <= qint64(d.maxsize)) {
        for (int y = 0; y < out->picture.height(); ++y)
            std::memcpy(static_cast<uchar*>(d.data) + qint64(y) * stride, out->picture.constScanLine(y),
                        size_t(stride));
        d.chunk->offset = 0;
        d.chunk->size = uint32_t(bytes);
        d.chunk->stride = stride;
        out->dirty = false;
    }
    pw_stream_queue_buffer(out->stream, b);
}

void onState(void* data, pw_stream_state, pw_stream_state state, const char*)
{
    auto* out = static_cast<Output*>(data);
    if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING)
        out->node = pw_stream_get_node_id(out->stream);
    // A new consumer gets the current picture.
    if (state == PW_STREAM_STATE_STREAMING)
        out->dirty = true;
    pw_thread_loop_signal(g_loop, false);
}

void onParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    auto* out = static_cast<Output*>(data);
    if (id != SPA_PARAM_Format || !param)
        return;
    const int stride = out->picture.width() * 4;
    uint8_t storage[256];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(stride * out->picture.height()), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride),
        SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    pw_stream_update_params(out->stream, params, 1);
}

const pw_stream_events kEvents = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = onState;
    e.param_changed = onParamChanged;
    e.process = onProcess;
    return e;
}();

void triggerDirty(void* data)
{
    auto* outputs = static_cast<QList<Output*>*>(data);
    for (Output* out : *outputs) {
        if (out->dirty)
            pw_stream_trigger_process(out->stream);
    }
}

// The one format an output offers: its picture's size, in BGRx.
const spa_pod* videoFormat(spa_pod_builder* b, const QSize& size)
{
    const spa_rectangle rect = SPA_RECTANGLE(uint32_t(size.width()), uint32_t(size.height()));
    const spa_fraction rate = SPA_FRACTION(0, 1);
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
        SPA_FORMAT_VIDEO_format, SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size,
        SPA_POD_Rectangle(&rect), SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
}

void onTimer(void* data, uint64_t)
{
    triggerDirty(data);
}

void onChange(void* data, uint64_t)
{
    triggerDirty(data);
}

class Backend : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.ScreenCast")
    Q_PROPERTY(uint AvailableSourceTypes READ sourceTypes)
    Q_PROPERTY(uint AvailableCursorModes READ cursorModes)
    Q_PROPERTY(uint version READ version)
public:
    Backend(QList<Output*>* outputs, QString choices, QString answer)
        : m_outputs(outputs)
        , m_choices(std::move(choices))
        , m_answer(std::move(answer))
    {}
    uint sourceTypes() const { return 1; }
    uint cursorModes() const { return 1; }
    uint version() const { return 4; }

public slots:
    uint CreateSession(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&,
                       const QVariantMap&, QVariantMap& results)
    {
        // Whether the portal brought back an earlier choice; the portal's Close needs no answer here.
        m_restored.insert(session.path(), false);
        results.insert(QStringLiteral("session_id"), session.path());
        return 0;
    }

    uint SelectSources(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&,
                       const QVariantMap& options, QVariantMap& results)
    {
        Q_UNUSED(results);
        if (!m_restored.contains(session.path()))
            return 2;
        const QVariant restore = options.value(QStringLiteral("restore_data"));
        if (restore.canConvert<QDBusArgument>()) {
            RestoreData data;
            restore.value<QDBusArgument>() >> data;
            m_restored[session.path()] = data.vendor == QLatin1String(kVendor);
        }
        return 0;
    }

    uint Start(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&, const QString&,
               const QVariantMap&, QVariantMap& results)
    {
        if (!m_restored.contains(session.path()))
            return 2;
        if (!m_restored.value(session.path())) {
            QFile choices(m_choices);
            if (choices.open(QIODevice::Append))
                choices.write("asked\n");
            QFile answer(m_answer);
            if (!answer.open(QIODevice::ReadOnly))
                return 1;
            m_hostile = answer.readAll().trimmed();
            if (m_hostile != "yes" && m_hostile != "hostile")
                return 1;
        }
        QList<StreamEntry> streams;
        pw_thread_loop_lock(g_loop);
        for (const Output* out : *m_outputs) {
            StreamEntry e;
            e.node = out->node;
            e.props.insert(QStringLiteral("position"), QPoint(streams.size() * out->picture.width(), 0));
            e.props.insert(QStringLiteral("size"), out->picture.size());
            e.props.insert(QStringLiteral("source_type"), 1u);
            if (m_hostile == "hostile") {
                // Wrongly typed, absurd or missing properties.
                e.props.insert(QStringLiteral("position"), QStringLiteral("left"));
                e.props.insert(QStringLiteral("size"),
                               streams.isEmpty() ? QSize(1 << 30, 1 << 30) : QSize(-5, 7));
            }
            streams.append(e);
        }
        pw_thread_loop_unlock(g_loop);
        results.insert(QStringLiteral("streams"), QVariant::fromValue(streams));
        results.insert(QStringLiteral("persist_mode"), 2u);
        RestoreData data{QString::fromLatin1(kVendor), 1, QDBusVariant(QStringLiteral("all outputs"))};
        results.insert(QStringLiteral("restore_data"), QVariant::fromValue(data));
        return 0;
    }

private:
    QList<Output*>* m_outputs;
    QString m_choices;
    QString m_answer;
    QHash<QString, bool> m_restored;
    QByteArray m_hostile;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption(
        {QStringLiteral("outputs"), QStringLiteral("outputs"), QStringLiteral("n"), QStringLiteral("1")});
    parser.addOption({QStringLiteral("size"), QStringLiteral("output size"), QStringLiteral("WxH"),
                      QStringLiteral("320x240")});
    parser.addOption({QStringLiteral("choices"), QStringLiteral("choices file"), QStringLiteral("path")});
    parser.addOption({QStringLiteral("answer"), QStringLiteral("answer file"), QStringLiteral("path")});
    parser.process(app);
    const QStringList size = parser.value(QStringLiteral("size")).split(QLatin1Char('x'));
    const int width = size.value(0).toInt();
    const int height = size.value(1).toInt();
    const int count = parser.value(QStringLiteral("outputs")).toInt();
    if (width <= 0 || height <= 0 || count <= 0)
        return 2;

    qDBusRegisterMetaType<StreamEntry>();
    qDBusRegisterMetaType<QList<StreamEntry>>();
    qDBusRegisterMetaType<RestoreData>();

    pw_init(&argc, &argv);
    g_loop = pw_thread_loop_new("screencast-backend", nullptr);
    pw_context* context = pw_context_new(pw_thread_loop_get_loop(g_loop), nullptr, 0);
    pw_thread_loop_start(g_loop);
    pw_thread_loop_lock(g_loop);
    pw_core* core = pw_context_connect(context, nullptr, 0);
    if (!core) {
        pw_thread_loop_unlock(g_loop);
        std::fputs("no PipeWire\n", stderr);
        return 1;
    }
    QList<Output*> outputs;
    for (int i = 0; i < count; ++i) {
        auto* out = new Output;
        out->picture = QImage(width, height, QImage::Format_RGB32);
        out->picture.fill(Qt::black);
        outputs.append(out);
        const QByteArray name = "HEADLESS-" + QByteArray::number(i + 1);
        out->stream = pw_stream_new(core, name.constData(),
                                    pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME,
                                                      name.constData(), nullptr));
        pw_stream_add_listener(out->stream, &out->listener, &kEvents, out);
        uint8_t storage[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
        const spa_pod* params[1] = {videoFormat(&b, out->picture.size())};
        pw_stream_connect(out->stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                          pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    }
    // The portal may hand out the node ids only once they exist.
    for (Output* out : outputs) {
        while (out->node == SPA_ID_INVALID)
            pw_thread_loop_wait(g_loop);
    }
    spa_source* timer = pw_loop_add_timer(pw_thread_loop_get_loop(g_loop), onTimer, &outputs);
    // A change goes out at once (the event); the timer retries when no buffer was free.
    spa_source* change = pw_loop_add_event(pw_thread_loop_get_loop(g_loop), onChange, &outputs);
    timespec period{0, 5 * 1000 * 1000};
    pw_loop_update_timer(pw_thread_loop_get_loop(g_loop), timer, &period, &period, false);
    pw_thread_loop_unlock(g_loop);

    QDBusConnection bus = QDBusConnection::sessionBus();
    Backend backend(&outputs, parser.value(QStringLiteral("choices")),
                    parser.value(QStringLiteral("answer")));
    bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &backend,
                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    if (!bus.registerService(QStringLiteral("org.freedesktop.impl.portal.desktop.wlr")))
        return 1;

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[4096];
        if (!std::fgets(line, sizeof line, stdin)) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        const QStringList words = QString::fromLocal8Bit(line).trimmed().split(QLatin1Char(' '));
        const int index = words.value(1).toInt() - 1;
        const bool flip = words.value(0) == QLatin1String("flip");
        QImage picture = flip ? QImage() : QImage(words.value(2));
        if ((flip || (words.value(0) == QLatin1String("paint") && !picture.isNull())) && index >= 0 &&
            index < outputs.size()) {
            pw_thread_loop_lock(g_loop);
            Output* out = outputs[index];
            if (flip) {
                std::swap(out->picture, out->previous);
            } else {
                out->previous = out->picture;
                out->picture = picture.convertToFormat(QImage::Format_RGB32);
            }
            // A picture of another size is a mode change: the stream negotiates again.
            if (out->picture.size() != out->previous.size() && !out->previous.isNull()) {
                uint8_t storage[512];
                spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
                const spa_pod* params[1] = {videoFormat(&b, out->picture.size())};
                pw_stream_update_params(out->stream, params, 1);
            }
            out->dirty = true;
            pw_loop_signal_event(pw_thread_loop_get_loop(g_loop), change);
            pw_thread_loop_unlock(g_loop);
            std::fputs("ok\n", stdout);
        } else {
            std::fputs("bad command\n", stdout);
        }
        std::fflush(stdout);
    });
    const int status = app.exec();
    pw_thread_loop_stop(g_loop);
    return status;
}

#include "ScreenCastBackend.moc"
