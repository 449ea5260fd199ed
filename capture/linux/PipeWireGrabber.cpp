#include "capture/linux/PipeWireGrabber.h"

#include "capture/linux/BlockAverage.h"
#include "capture/linux/PortalScreenCast.h"
#include "capture/linux/StreamFormat.h"
#include "core/DiagnosticLog.h"

#include <QDBusConnection>
#include <QDebug>

#include <pipewire/pipewire.h>
#include <spa/buffer/type-info.h>
#include <spa/debug/types.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <cstring>
#include <mutex>
#include <unistd.h>
#include <utility>

// One portal stream, touched by the PipeWire thread and by the grab, both under the thread loop's lock.
struct PipeWireStream
{
    std::atomic<bool>* broken = nullptr;
    const std::function<void()>* arrived = nullptr;
    std::atomic<bool>* arrivalPosted = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    // The newest buffer not yet reduced; older ones go straight back to the stream.
    pw_buffer* pending = nullptr;
    StreamFormat agreed;
    bool connected = false;
    bool scaleNoted = false;
    QString name;
    // What the producer offers and which buffer types arrived, for the log when no picture comes.
    uint32_t target = 0;
    pw_proxy* node = nullptr;
    spa_hook nodeListener{};
    QStringList offered;
    QStringList bufferTypes;
};

// Binds the producers' nodes to learn the formats they offer.
struct RegistryWatch
{
    pw_registry* registry = nullptr;
    spa_hook listener{};
    QList<PipeWireStream*>* streams = nullptr;
};

namespace {

constexpr int Block = 16;

void markBroken(PipeWireStream* s, const char* why)
{
    if (!s->broken->exchange(true))
        qCDebug(lcPivotrix) << "screen cast stream lost" << s->name << why;
}

void onStreamState(void* data, pw_stream_state, pw_stream_state state, const char* error)
{
    auto* s = static_cast<PipeWireStream*>(data);
    if (state == PW_STREAM_STATE_ERROR) {
        markBroken(s, error ? error : "error");
    } else if (state == PW_STREAM_STATE_STREAMING || state == PW_STREAM_STATE_PAUSED) {
        s->connected = true;
    } else if (state == PW_STREAM_STATE_UNCONNECTED && s->connected) {
        markBroken(s, "unconnected");
    }
}

void onParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    auto* s = static_cast<PipeWireStream*>(data);
    if (id != SPA_PARAM_Format || !param)
        return;
    StreamFormat format;
    if (!StreamFormat::read(param, &format)) {
        markBroken(s, "unusable format");
        return;
    }
    if (s->agreed.format != SPA_VIDEO_FORMAT_UNKNOWN &&
        (s->agreed.format != format.format || s->agreed.width != format.width ||
         s->agreed.height != format.height)) {
        markBroken(s, "format or size changed");
        return;
    }
    s->agreed = format;
    qCDebug(lcPivotrix) << "screen cast format" << s->name
                        << spa_debug_type_find_short_name(spa_type_video_format, format.format)
                        << format.width << "x" << format.height;

    // Only buffers the CPU can read: shared memory, never DMA-BUF.
    uint8_t storage[256];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    pw_stream_update_params(s->stream, params, 1);
}

void onProcess(void* data)
{
    auto* s = static_cast<PipeWireStream*>(data);
    pw_buffer* newest = nullptr;
    while (pw_buffer* b = pw_stream_dequeue_buffer(s->stream)) {
        if (newest)
            pw_stream_queue_buffer(s->stream, newest);
        newest = b;
    }
    if (!newest)
        return;
    if (s->pending)
        pw_stream_queue_buffer(s->stream, s->pending);
    s->pending = newest;
    if (*s->arrived && !s->arrivalPosted->exchange(true))
        (*s->arrived)();
}

// Renegotiation and disconnection take buffers away; one still waiting for the grab must not be queued later.
void onRemoveBuffer(void* data, pw_buffer* buffer)
{
    auto* s = static_cast<PipeWireStream*>(data);
    if (s->pending == buffer)
        s->pending = nullptr;
}

void onAddBuffer(void* data, pw_buffer* buffer)
{
    auto* s = static_cast<PipeWireStream*>(data);
    const QString type = buffer->buffer->n_datas > 0 ? QString::fromUtf8(spa_debug_type_find_short_name(
                                                           spa_type_data_type, buffer->buffer->datas[0].type))
                                                     : QStringLiteral("empty");
    if (!s->bufferTypes.contains(type))
        s->bufferTypes << type;
}

void onNodeParam(void* data, int, uint32_t id, uint32_t, uint32_t, const spa_pod* param)
{
    auto* s = static_cast<PipeWireStream*>(data);
    if (id == SPA_PARAM_EnumFormat && param && s->offered.size() < 16)
        s->offered << StreamFormat::describe(param);
}

const pw_node_events kNodeEvents = [] {
    pw_node_events e{};
    e.version = PW_VERSION_NODE_EVENTS;
    e.param = onNodeParam;
    return e;
}();

void onGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict*)
{
    auto* watch = static_cast<RegistryWatch*>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0)
        return;
    for (PipeWireStream* s : qAsConst(*watch->streams)) {
        if (s->target != id || s->node)
            continue;
        s->node = static_cast<pw_proxy*>(pw_registry_bind(watch->registry, id, type, PW_VERSION_NODE, 0));
        if (!s->node)
            continue;
        pw_proxy_add_object_listener(s->node, &s->nodeListener, &kNodeEvents, s);
        pw_node_enum_params(reinterpret_cast<pw_node*>(s->node), 0, SPA_PARAM_EnumFormat, 0, 16, nullptr);
    }
}

const pw_registry_events kRegistryEvents = [] {
    pw_registry_events e{};
    e.version = PW_VERSION_REGISTRY_EVENTS;
    e.global = onGlobal;
    return e;
}();

void onCoreError(void* data, uint32_t id, int, int res, const char* message)
{
    auto* broken = static_cast<std::atomic<bool>*>(data);
    if (id == PW_ID_CORE && !broken->exchange(true))
        qCDebug(lcPivotrix) << "screen cast connection lost" << res << message;
}

const pw_stream_events kStreamEvents = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = onStreamState;
    e.param_changed = onParamChanged;
    e.process = onProcess;
    e.add_buffer = onAddBuffer;
    e.remove_buffer = onRemoveBuffer;
    return e;
}();

const pw_core_events kCoreEvents = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.error = onCoreError;
    return e;
}();

} // namespace

PipeWireGrabber::PipeWireGrabber()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

PipeWireGrabber::~PipeWireGrabber()
{
    qCDebug(lcPivotrix) << "delete PipeWireGrabber";
    deinitScreens();
    m_portal.reset();
}

void PipeWireGrabber::noteFailure()
{
    const PortalScreenCast::Phase phase = m_portal->phase();
    if ((phase == PortalScreenCast::Phase::Failed || phase == PortalScreenCast::Phase::Closed) &&
        m_portal->failure() != m_loggedFailure) {
        m_loggedFailure = m_portal->failure();
        qCDebug(lcPivotrix) << "screen cast unavailable:" << m_loggedFailure;
    }
}

QList<ScreenInfo> PipeWireGrabber::identifyScreens()
{
    qCDebug(lcPivotrix) << "identify screens";
    // No portal dialog over a locked screen: the rebuild after unlocking asks.
    if (m_systemLocked)
        return {};
    // Nor for someone who never mirrors a screen, nor again every few seconds after a "no".
    if (m_usedScreens.isEmpty() || m_userRefused)
        return {};
    if (!m_portal) {
        m_portal = std::make_unique<PortalScreenCast>(QDBusConnection::sessionBus());
        // Runs on the thread of the grab, which reads the flags next. The desktop's own "Stop sharing" is the
        // user's no; a portal that went away is only rebuilt.
        QObject::connect(m_portal.get(), &PortalScreenCast::closed, [this] {
            if (m_portal->closedByDesktop())
                m_userRefused = true;
            m_broken = true;
        });
    }
    if (m_portal->phase() != PortalScreenCast::Phase::Started) {
        noteFailure();
        if (m_portal->phase() == PortalScreenCast::Phase::Failed && m_portal->refusedByUser()) {
            m_userRefused = true;
            return {};
        }
        if (m_portal->phase() != PortalScreenCast::Phase::Busy)
            m_portal->open(m_restoreToken);
        // A portal that is missing fails at once.
        noteFailure();
        if (m_portal->phase() != PortalScreenCast::Phase::Started)
            return {};
    }

    m_loggedFailure.clear();
    // The worker hands a new token on to where it is kept.
    if (!m_portal->restoreToken().isEmpty())
        m_restoreToken = m_portal->restoreToken();
    QList<ScreenInfo> screens;
    for (const PortalScreenCast::Stream& stream : m_portal->streams()) {
        ScreenInfo info;
        info.name = QStringLiteral("Monitor ") + QString::number(screens.size() + 1);
        info.geometry = stream.geometry;
        info.monitor = stream.nodeId;
        qCDebug(lcPivotrix) << "screen cast monitor" << info.name << info.geometry << "node" << stream.nodeId;
        screens.append(info);
    }
    return screens;
}

void PipeWireGrabber::initScreens(const QList<ScreenInfo>& screens)
{
    qCDebug(lcPivotrix) << "init screens" << screens.size();
    m_reinitTimer.invalidate();
    if (m_systemLocked) {
        qCDebug(lcPivotrix) << "system locked try later";
        return;
    }
    if (m_usedScreens.isEmpty())
        return;
    if (m_userRefused) {
        m_state = DisabledByUser;
        return;
    }
    if (screens.isEmpty() || !m_portal || m_portal->phase() != PortalScreenCast::Phase::Started)
        return;
    m_sessionUsed = true;
    m_broken = false;

    const int fd = m_portal->openPipeWireRemote();
    if (fd < 0) {
        qCDebug(lcPivotrix) << "screen cast unavailable:" << m_portal->failure();
        return;
    }
    for (const ScreenInfo& screen : screens) {
        ScreenFrame* frame = newReducedFrame(screen);
        m_frames.append(frame);
        qCDebug(lcPivotrix) << "dimensions " << frame->width << "x" << frame->height << screen.monitor;
    }
    if (startPipeWire(fd)) {
        m_state = Ready;
        m_gotFrame = false;
        m_sinceStart.start();
    }
}

bool PipeWireGrabber::setArrivalHandler(std::function<void()> handler)
{
    m_arrived = std::move(handler);
    return true;
}

bool PipeWireGrabber::startPipeWire(int fd)
{
    m_arrivalPosted = false;
    m_loop = pw_thread_loop_new("pivotrix-screencast", nullptr);
    if (!m_loop) {
        ::close(fd);
        return false;
    }
    m_context = pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0);
    if (!m_context || pw_thread_loop_start(m_loop) < 0) {
        ::close(fd);
        qCDebug(lcPivotrix) << "failed to start the PipeWire loop";
        return false;
    }

    pw_thread_loop_lock(m_loop);
    // The core owns the descriptor from here on, also when connecting fails.
    m_core = pw_context_connect_fd(m_context, fd, nullptr, 0);
    if (!m_core) {
        pw_thread_loop_unlock(m_loop);
        qCDebug(lcPivotrix) << "failed to connect to PipeWire";
        return false;
    }
    m_coreListener = std::make_unique<spa_hook>();
    *m_coreListener = spa_hook{};
    pw_core_add_listener(m_core, m_coreListener.get(), &kCoreEvents, &m_broken);
    m_registry = std::make_unique<RegistryWatch>();
    m_registry->streams = &m_streams;
    m_registry->registry = pw_core_get_registry(m_core, PW_VERSION_REGISTRY, 0);
    if (m_registry->registry)
        pw_registry_add_listener(m_registry->registry, &m_registry->listener, &kRegistryEvents,
                                 m_registry.get());

    bool ok = true;
    for (const ScreenFrame* frame : qAsConst(m_frames)) {
        auto* s = new PipeWireStream;
        s->broken = &m_broken;
        s->arrived = &m_arrived;
        s->arrivalPosted = &m_arrivalPosted;
        s->name = frame->name;
        s->target = uint32_t(frame->monitor);
        m_streams.append(s);
        s->stream = pw_stream_new(m_core, frame->name.toUtf8().constData(),
                                  pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                    "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        if (!s->stream) {
            ok = false;
            break;
        }
        pw_stream_add_listener(s->stream, &s->listener, &kStreamEvents, s);

        uint8_t storage[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
        const spa_rectangle defSize = SPA_RECTANGLE(uint32_t(qMax(1, frame->geometry.width())),
                                                    uint32_t(qMax(1, frame->geometry.height())));
        const spa_rectangle minSize = SPA_RECTANGLE(1, 1);
        const spa_rectangle maxSize = SPA_RECTANGLE(StreamFormat::MaxSide, StreamFormat::MaxSide);
        const spa_fraction defRate = SPA_FRACTION(30, 1);
        const spa_fraction minRate = SPA_FRACTION(0, 1);
        const spa_fraction maxRate = SPA_FRACTION(1000, 1);
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
            SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                                   SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate)));
        const auto flags = pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                           PW_STREAM_FLAG_DONT_RECONNECT);
        if (pw_stream_connect(s->stream, PW_DIRECTION_INPUT, uint32_t(frame->monitor), flags, params, 1) <
            0) {
            ok = false;
            break;
        }
    }
    pw_thread_loop_unlock(m_loop);
    if (!ok)
        qCDebug(lcPivotrix) << "failed to connect a screen cast stream";
    return ok;
}

void PipeWireGrabber::stopPipeWire()
{
    if (m_loop) {
        pw_thread_loop_lock(m_loop);
        for (PipeWireStream* s : qAsConst(m_streams)) {
            if (s->node) {
                spa_hook_remove(&s->nodeListener);
                pw_proxy_destroy(s->node);
            }
            if (!s->stream)
                continue;
            spa_hook_remove(&s->listener);
            if (s->pending)
                pw_stream_queue_buffer(s->stream, s->pending);
            pw_stream_destroy(s->stream);
        }
        if (m_registry && m_registry->registry) {
            spa_hook_remove(&m_registry->listener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(m_registry->registry));
        }
        if (m_core) {
            spa_hook_remove(m_coreListener.get());
            pw_core_disconnect(m_core);
        }
        pw_thread_loop_unlock(m_loop);
        pw_thread_loop_stop(m_loop);
    }
    qDeleteAll(m_streams);
    m_streams.clear();
    m_core = nullptr;
    m_coreListener.reset();
    m_registry.reset();
    if (m_context)
        pw_context_destroy(m_context);
    m_context = nullptr;
    if (m_loop)
        pw_thread_loop_destroy(m_loop);
    m_loop = nullptr;
}

void PipeWireGrabber::deinitScreens()
{
    qCDebug(lcPivotrix) << "PipeWireGrabber deinit screens" << m_frames.size();
    stopPipeWire();
    for (ScreenFrame* frame : qAsConst(m_frames))
        delete[] frame->buffer;
    qDeleteAll(m_frames);
    m_frames.clear();
    // A session whose streams were used (or lost) is not reused: the rebuild asks the portal afresh. One
    // that gave no picture is kept, so that trying again does not ask the user again; one that nothing
    // mirrors any more is let go, so the desktop stops sharing.
    if (m_portal && ((m_sessionUsed && !m_keepSession) || m_usedScreens.isEmpty()))
        m_portal->close();
    m_sessionUsed = false;
    m_keepSession = false;
    m_state = NotReady;
}

bool PipeWireGrabber::portalOpen() const
{
    return m_portal && (m_portal->phase() == PortalScreenCast::Phase::Busy ||
                        m_portal->phase() == PortalScreenCast::Phase::Started);
}

void PipeWireGrabber::setUsedScreens(const QList<int>& screens)
{
    if (m_usedScreens.isEmpty() && !screens.isEmpty() && m_state != Ready) {
        // The refused request is over: the next rebuild opens a new one.
        if (std::exchange(m_userRefused, false) && m_portal)
            m_portal->close();
        m_askNow = true;
    }
    ScreenGrabberImp::setUsedScreens(screens);
}

bool PipeWireGrabber::needsReinit()
{
    if (m_usedScreens.isEmpty())
        return m_state != NotReady || portalOpen();
    if (m_state == Ready)
        return false;
    if (std::exchange(m_askNow, false)) {
        m_reinitTimer.invalidate();
        return true;
    }
    if (m_state == DisabledByUser)
        return false;
    // The portal has answered: build now rather than one delay later. So also when the user said no, in the
    // dialog or by stopping the desktop's sharing (which GNOME's streams may report as lost before the portal
    // says why), so that the mirroring panels go off then, not one delay later.
    const bool refused = m_userRefused || (m_portal && m_portal->phase() == PortalScreenCast::Phase::Failed &&
                                           m_portal->refusedByUser());
    if (refused || (m_portal && !m_sessionUsed && m_portal->phase() == PortalScreenCast::Phase::Started)) {
        m_reinitTimer.invalidate();
        return true;
    }
    return reinitDue();
}

bool PipeWireGrabber::grabFrames()
{
    if (m_state != Ready)
        return false;
    if (m_broken && m_userRefused) {
        qCDebug(lcPivotrix) << "screen cast stopped by the desktop";
        m_state = DisabledByUser;
        return false;
    }
    if (!m_gotFrame && (m_broken || m_sinceStart.elapsed() >= m_firstFrameMs)) {
        noPicture();
        return false;
    }
    if (m_broken) {
        qCDebug(lcPivotrix) << "screen cast lost";
        m_state = Lost;
        return false;
    }
    bool any = false;
    pw_thread_loop_lock(m_loop);
    m_arrivalPosted = false;
    for (int i = 0; i < m_streams.size() && i < m_frames.size(); ++i) {
        PipeWireStream* s = m_streams.at(i);
        if (!s->pending)
            continue;
        any = reduce(s, m_frames.at(i)) || any;
        pw_stream_queue_buffer(s->stream, s->pending);
        s->pending = nullptr;
    }
    pw_thread_loop_unlock(m_loop);
    m_gotFrame = m_gotFrame || any;
    return any;
}

void PipeWireGrabber::noPicture()
{
    pw_thread_loop_lock(m_loop);
    for (const PipeWireStream* s : qAsConst(m_streams)) {
        const char* agreed = s->agreed.format == SPA_VIDEO_FORMAT_UNKNOWN
                                 ? "none"
                                 : spa_debug_type_find_short_name(spa_type_video_format, s->agreed.format);
        qCDebug(lcPivotrix).noquote()
            << "screen cast gave no picture" << s->name << "offered"
            << (s->offered.isEmpty() ? QStringLiteral("unknown") : s->offered.join(QStringLiteral(", ")))
            << "agreed" << agreed << "buffers"
            << (s->bufferTypes.isEmpty() ? QStringLiteral("none")
                                         : s->bufferTypes.join(QStringLiteral(", ")));
    }
    pw_thread_loop_unlock(m_loop);
    m_keepSession = true;
    m_state = NotReady;
}

bool PipeWireGrabber::reduce(PipeWireStream* s, ScreenFrame* frame)
{
    const spa_buffer* buffer = s->pending->buffer;
    if (!buffer || buffer->n_datas < 1)
        return false;
    const spa_data& d = buffer->datas[0];
    // Only memory the CPU reads as it is: a DMA-BUF mapped anyway may be tiled or still being drawn.
    if ((d.type != SPA_DATA_MemPtr && d.type != SPA_DATA_MemFd) || !d.data || !d.chunk ||
        (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) || d.chunk->size == 0)
        return false;
    // Sized by the negotiated format, not by the portal's logical size: a scaled monitor's buffer holds
    // more pixels than that.
    const StreamFormat& f = s->agreed;
    const int blocksW = f.width / Block;
    const int blocksH = f.height / Block;
    const qint64 stride = f.readableStride(d.chunk->stride, d.chunk->offset, d.chunk->size, d.maxsize);
    if (stride == 0) {
        if (blocksW > 0 && blocksH > 0)
            qCDebug(lcPivotrix) << "screen cast buffer too small" << s->name << d.maxsize << d.chunk->offset
                                << d.chunk->size << d.chunk->stride;
        return false;
    }
    if (frame->width != blocksW || frame->height != blocksH || !frame->buffer)
        resizeReducedFrame(frame, blocksW, blocksH);
    if (!s->scaleNoted && frame->geometry.size() != QSize(f.width, f.height)) {
        s->scaleNoted = true;
        qCDebug(lcPivotrix) << "screen cast scaled" << s->name << "logical" << frame->geometry.size()
                            << "buffer" << QSize(f.width, f.height);
    }
    const auto* src = static_cast<const uchar*>(d.data) + d.chunk->offset;
    blockAverage16(src, qsizetype(stride), blocksW, blocksH, frame->buffer, frame->stride);
    if (f.redFirst()) {
        // Each channel was averaged on its own: swapping afterwards gives the same bytes as before.
        for (int y = 0; y < blocksH; ++y) {
            uchar* p = frame->buffer + qsizetype(y) * frame->stride;
            for (int x = 0; x < blocksW; ++x)
                std::swap(p[x * 4], p[x * 4 + 2]);
        }
    }
    return true;
}
