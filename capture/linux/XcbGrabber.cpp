#include "capture/linux/XcbGrabber.h"

#include "capture/linux/BlockAverage.h"
#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QRegion>

#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinerama.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>
#include <memory>

namespace {

constexpr int Block = 16;
// Beyond this many damaged pieces per monitor one read of their bounding box is cheaper than many round
// trips.
constexpr int MaxPiecesPerMonitor = 8;
constexpr qint64 BandBytes = qint64(1) << 26;

struct FreeDeleter
{
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

int floorDiv(int a, int b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

int ceilDiv(int a, int b)
{
    return -floorDiv(-a, b);
}

} // namespace

XcbGrabber::XcbGrabber(const QByteArray& displayName)
    : m_displayName(displayName)
{}

XcbGrabber::~XcbGrabber()
{
    qCDebug(lcPivotrix) << "delete XcbGrabber";
    deinitScreens();
    disconnectDisplay();
}

bool XcbGrabber::connectDisplay()
{
    if (m_conn && !xcb_connection_has_error(m_conn))
        return true;
    disconnectDisplay();

    int screenNumber = 0;
    m_conn = xcb_connect(m_displayName.isEmpty() ? nullptr : m_displayName.constData(), &screenNumber);
    if (!m_conn || xcb_connection_has_error(m_conn)) {
        if (!m_displayLost)
            qCDebug(lcPivotrix) << "failed to connect to display" << m_displayName;
        m_displayLost = true;
        disconnectDisplay();
        return false;
    }
    if (m_displayLost)
        qCDebug(lcPivotrix) << "display back" << m_displayName;
    m_displayLost = false;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_conn));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        qCDebug(lcPivotrix) << "failed to find the X screen" << screenNumber;
        disconnectDisplay();
        return false;
    }
    m_root = it.data->root;
    m_rootRect = QRect(0, 0, it.data->width_in_pixels, it.data->height_in_pixels);
    xcb_prefetch_extension_data(m_conn, &xcb_shm_id);
    xcb_prefetch_extension_data(m_conn, &xcb_damage_id);
    xcb_prefetch_extension_data(m_conn, &xcb_xfixes_id);
    xcb_prefetch_extension_data(m_conn, &xcb_randr_id);
    return true;
}

void XcbGrabber::disconnectDisplay()
{
    releaseShm();
    if (m_conn)
        xcb_disconnect(m_conn);
    m_conn = nullptr;
    m_root = 0;
    m_damage = 0;
    m_damageRegion = 0;
    m_randrEvents = false;
}

bool XcbGrabber::connectionBroken()
{
    return !m_conn || xcb_connection_has_error(m_conn);
}

QList<ScreenInfo> XcbGrabber::identifyScreens()
{
    qCDebug(lcPivotrix) << "identify screens";
    if (!connectDisplay())
        return {};
    return queryMonitors();
}

QList<ScreenInfo> XcbGrabber::queryMonitors()
{
    QList<ScreenInfo> screens;

    auto append = [&screens](const QRect& geometry, MonitorHandle handle) {
        ScreenInfo info;
        info.geometry = geometry;
        info.name = QStringLiteral("Monitor ") + QString::number(screens.size() + 1);
        info.monitor = handle;
        screens.append(info);
    };

    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(m_conn, &xcb_randr_id);
    if (randr && randr->present) {
        XcbReply<xcb_randr_query_version_reply_t> version(
            xcb_randr_query_version_reply(m_conn, xcb_randr_query_version(m_conn, 1, 5), nullptr));
        if (version && (version->major_version > 1 || version->minor_version >= 5)) {
            XcbReply<xcb_randr_get_monitors_reply_t> monitors(
                xcb_randr_get_monitors_reply(m_conn, xcb_randr_get_monitors(m_conn, m_root, 1), nullptr));
            if (monitors) {
                for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
                     xcb_randr_monitor_info_next(&it)) {
                    const xcb_randr_monitor_info_t* m = it.data;
                    append(QRect(m->x, m->y, m->width, m->height),
                           m->name ? MonitorHandle(m->name) : MonitorHandle(screens.size() + 1));
                }
            }
        }
    }

    if (screens.isEmpty()) {
        XcbReply<xcb_xinerama_is_active_reply_t> active(
            xcb_xinerama_is_active_reply(m_conn, xcb_xinerama_is_active(m_conn), nullptr));
        if (active && active->state) {
            XcbReply<xcb_xinerama_query_screens_reply_t> reply(
                xcb_xinerama_query_screens_reply(m_conn, xcb_xinerama_query_screens(m_conn), nullptr));
            if (reply) {
                for (auto it = xcb_xinerama_query_screens_screen_info_iterator(reply.get()); it.rem;
                     xcb_xinerama_screen_info_next(&it)) {
                    append(QRect(it.data->x_org, it.data->y_org, it.data->width, it.data->height),
                           MonitorHandle(screens.size() + 1));
                }
            }
        }
    }

    if (screens.isEmpty() && !connectionBroken())
        append(m_rootRect, 1);
    return screens;
}

void XcbGrabber::initScreens(const QList<ScreenInfo>& screens)
{
    qCDebug(lcPivotrix) << "init screens" << screens.size();
    m_reinitTimer.invalidate();
    if (m_systemLocked) {
        qCDebug(lcPivotrix) << "system locked try later";
        return;
    }
    // An empty list means the enumeration failed (the server was unreachable, logged there); a live server
    // has a monitor.
    if (screens.isEmpty() || !connectDisplay())
        return;

    // The reduction reads 32-bit little-endian pixels with blue in the lowest byte.
    const xcb_setup_t* setup = xcb_get_setup(m_conn);
    xcb_screen_iterator_t sit = xcb_setup_roots_iterator(setup);
    for (; sit.rem && sit.data->root != m_root; xcb_screen_next(&sit)) {
    }
    int bitsPerPixel = 0;
    for (auto fit = xcb_setup_pixmap_formats_iterator(setup); fit.rem; xcb_format_next(&fit)) {
        if (sit.rem && fit.data->depth == sit.data->root_depth)
            bitsPerPixel = fit.data->bits_per_pixel;
    }
    bool rgb = false;
    if (sit.rem) {
        for (auto dit = xcb_screen_allowed_depths_iterator(sit.data); dit.rem; xcb_depth_next(&dit)) {
            for (auto vit = xcb_depth_visuals_iterator(dit.data); vit.rem; xcb_visualtype_next(&vit)) {
                if (vit.data->visual_id == sit.data->root_visual)
                    rgb = vit.data->red_mask == 0xff0000 && vit.data->green_mask == 0xff00 &&
                          vit.data->blue_mask == 0xff;
            }
        }
    }
    if (bitsPerPixel != 32 || !rgb || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        qCCritical(lcPivotrix) << "Not 32-bit mode is not supported!" << bitsPerPixel / 8;
        return;
    }

    qint64 largest = 0;
    for (const ScreenInfo& screen : screens) {
        ScreenFrame* frame = newReducedFrame(screen);
        const int w = frame->width;
        const int h = frame->height;
        m_frames.append(frame);
        qCDebug(lcPivotrix) << "dimensions " << w << "x" << h << screen.monitor;
        largest = qMax(
            largest, qMin(qint64(w) * Block * h * Block * 4, qMax(BandBytes, qint64(w) * Block * Block * 4)));
    }

    if (!setupShm(largest))
        qCDebug(lcPivotrix) << "MIT-SHM unavailable, reading the screen with GetImage";
    setupDamage();

    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(m_conn, &xcb_randr_id);
    if (randr && randr->present) {
        m_randrEventBase = randr->first_event;
        xcb_randr_select_input(m_conn, m_root,
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
        m_randrEvents = true;
    }
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_conn, m_root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_conn);

    m_fullGrabPending = true;
    if (m_frames.size() == screens.size() && !connectionBroken())
        m_state = Ready;
}

bool XcbGrabber::setupShm(qint64 bytes)
{
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(m_conn, &xcb_shm_id);
    if (!ext || !ext->present || bytes <= 0)
        return false;
    m_shmId = shmget(IPC_PRIVATE, size_t(bytes), IPC_CREAT | 0600);
    if (m_shmId < 0)
        return false;
    void* addr = shmat(m_shmId, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
        shmctl(m_shmId, IPC_RMID, nullptr);
        m_shmId = -1;
        return false;
    }
    m_shmAddr = static_cast<uchar*>(addr);
    m_shmSize = bytes;
    m_shmSeg = xcb_generate_id(m_conn);
    xcb_generic_error_t* error =
        xcb_request_check(m_conn, xcb_shm_attach_checked(m_conn, m_shmSeg, uint32_t(m_shmId), 0));
    // Marked for removal now so the segment never outlives both processes.
    shmctl(m_shmId, IPC_RMID, nullptr);
    if (error) {
        std::free(error);
        m_shmSeg = 0;
        releaseShm();
        return false;
    }
    return true;
}

void XcbGrabber::releaseShm()
{
    if (m_shmSeg && !connectionBroken())
        xcb_shm_detach(m_conn, m_shmSeg);
    m_shmSeg = 0;
    if (m_shmAddr)
        shmdt(m_shmAddr);
    m_shmAddr = nullptr;
    m_shmId = -1;
    m_shmSize = 0;
}

void XcbGrabber::setupDamage()
{
    const xcb_query_extension_reply_t* damage = xcb_get_extension_data(m_conn, &xcb_damage_id);
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(m_conn, &xcb_xfixes_id);
    if (!damage || !damage->present || !xfixes || !xfixes->present) {
        qCDebug(lcPivotrix) << "DAMAGE unavailable, every grab reads whole monitors";
        return;
    }
    XcbReply<xcb_xfixes_query_version_reply_t> fixesVersion(
        xcb_xfixes_query_version_reply(m_conn, xcb_xfixes_query_version(m_conn, 2, 0), nullptr));
    XcbReply<xcb_damage_query_version_reply_t> damageVersion(
        xcb_damage_query_version_reply(m_conn, xcb_damage_query_version(m_conn, 1, 1), nullptr));
    if (!fixesVersion || fixesVersion->major_version < 2 || !damageVersion) {
        qCDebug(lcPivotrix) << "DAMAGE unavailable, every grab reads whole monitors";
        return;
    }
    m_damageEventBase = damage->first_event;
    m_damageRegion = xcb_generate_id(m_conn);
    xcb_xfixes_create_region(m_conn, m_damageRegion, 0, nullptr);
    m_damage = xcb_generate_id(m_conn);
    xcb_damage_create(m_conn, m_damage, m_root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
}

void XcbGrabber::deinitScreens()
{
    qCDebug(lcPivotrix) << "XcbGrabber deinit screens" << m_frames.size();
    for (ScreenFrame* frame : qAsConst(m_frames)) {
        delete[] frame->buffer;
        frame->buffer = nullptr;
        frame->size = 0;
    }
    qDeleteAll(m_frames);
    m_frames.clear();
    releaseShm();
    if (m_conn && !connectionBroken()) {
        if (m_damage)
            xcb_damage_destroy(m_conn, m_damage);
        if (m_damageRegion)
            xcb_xfixes_destroy_region(m_conn, m_damageRegion);
    }
    // A fresh connection per build: a restarted or reconfigured server starts from a clean slate.
    disconnectDisplay();
    m_state = NotReady;
}

bool XcbGrabber::needsReinit()
{
    return reinitDue();
}

void XcbGrabber::markLost(const char* why)
{
    qCDebug(lcPivotrix) << why;
    m_state = Lost;
}

bool XcbGrabber::readEvents(bool* damaged)
{
    bool layoutChanged = false;
    bool rootConfigured = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_conn)) {
        const uint8_t type = event->response_type & 0x7f;
        if (m_damage && type == m_damageEventBase + XCB_DAMAGE_NOTIFY) {
            *damaged = true;
        } else if (m_randrEvents && (type == m_randrEventBase + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                                     type == m_randrEventBase + XCB_RANDR_NOTIFY)) {
            layoutChanged = true;
        } else if (type == XCB_CONFIGURE_NOTIFY) {
            // Also sent when only the monitor list changed (xrandr --setmonitor): compare the monitors then.
            const auto* configure = reinterpret_cast<xcb_configure_notify_event_t*>(event);
            if (configure->window == m_root)
                rootConfigured = true;
            if (configure->window == m_root && QRect(0, 0, configure->width, configure->height) != m_rootRect)
                layoutChanged = true;
        } else if (type == 0) {
            const auto* error = reinterpret_cast<xcb_generic_error_t*>(event);
            qCDebug(lcPivotrix) << "X error" << error->error_code << "request" << error->major_code
                                << error->minor_code;
        }
        std::free(event);
    }
    if (rootConfigured && !layoutChanged && !connectionBroken()) {
        const QList<ScreenInfo> now = queryMonitors();
        layoutChanged = now.size() != m_screens.size();
        for (int i = 0; !layoutChanged && i < now.size(); ++i)
            layoutChanged = now.at(i).geometry != m_screens.at(i).geometry;
    }
    return !layoutChanged;
}

QVector<QRect> XcbGrabber::takeDamage()
{
    QVector<QRect> rects;
    if (!m_damage)
        return rects;
    xcb_damage_subtract(m_conn, m_damage, XCB_NONE, m_damageRegion);
    XcbReply<xcb_xfixes_fetch_region_reply_t> reply(
        xcb_xfixes_fetch_region_reply(m_conn, xcb_xfixes_fetch_region(m_conn, m_damageRegion), nullptr));
    if (!reply)
        return rects;
    const xcb_rectangle_t* r = xcb_xfixes_fetch_region_rectangles(reply.get());
    const int n = xcb_xfixes_fetch_region_rectangles_length(reply.get());
    rects.reserve(n);
    for (int i = 0; i < n; ++i)
        rects.append(QRect(r[i].x, r[i].y, r[i].width, r[i].height));
    return rects;
}

bool XcbGrabber::grabFrames()
{
    if (m_state != Ready)
        return false;
    if (connectionBroken()) {
        markLost("display connection lost");
        return false;
    }
    bool damaged = false;
    if (!readEvents(&damaged)) {
        qCDebug(lcPivotrix) << "monitor layout changed";
        m_state = NotReady;
        return false;
    }
    if (connectionBroken()) {
        markLost("display connection lost");
        return false;
    }
    if (m_damage && !damaged && !m_fullGrabPending)
        return false;

    QVector<QRect> dirty = takeDamage();
    if (m_fullGrabPending || !m_damage)
        dirty = {m_rootRect};
    m_fullGrabPending = false;

    bool any = false;
    for (ScreenFrame* frame : qAsConst(m_frames)) {
        if (!frame->buffer || frame->width <= 0 || frame->height <= 0)
            continue;
        const QPoint origin = frame->geometry.topLeft();
        // Whole blocks of this monitor that lie on the root window, in block units.
        const int bx0 = qMax(0, ceilDiv(m_rootRect.left() - origin.x(), Block));
        const int by0 = qMax(0, ceilDiv(m_rootRect.top() - origin.y(), Block));
        const int bx1 = qMin(frame->width, floorDiv(m_rootRect.right() + 1 - origin.x(), Block));
        const int by1 = qMin(frame->height, floorDiv(m_rootRect.bottom() + 1 - origin.y(), Block));
        if (bx1 <= bx0 || by1 <= by0)
            continue;
        const QRect blocks(bx0, by0, bx1 - bx0, by1 - by0);

        QRegion region;
        for (const QRect& d : qAsConst(dirty)) {
            const QRect rel = d.translated(-origin);
            const int x0 = floorDiv(rel.left(), Block);
            const int y0 = floorDiv(rel.top(), Block);
            const int x1 = floorDiv(rel.right(), Block);
            const int y1 = floorDiv(rel.bottom(), Block);
            const QRect hit = QRect(QPoint(x0, y0), QPoint(x1, y1)).intersected(blocks);
            if (!hit.isEmpty())
                region += hit;
        }
        if (region.isEmpty())
            continue;
        if (region.rectCount() > MaxPiecesPerMonitor)
            region = region.boundingRect();
        for (const QRect& piece : region) {
            if (!grabBlocks(frame, piece)) {
                if (connectionBroken()) {
                    markLost("display connection lost");
                    return false;
                }
                continue;
            }
            any = true;
        }
    }
    return any;
}

bool XcbGrabber::grabBlocks(ScreenFrame* frame, const QRect& blocks)
{
    // Bands small enough to stay in cache between the server's write and our read of the same segment.
    const qint64 blockRowBytes = qint64(blocks.width()) * Block * Block * 4;
    const int bandRows = int(qBound<qint64>(
        1, (m_shmSeg ? m_shmSize : BandBytes) / qMax<qint64>(1, blockRowBytes), qMax(1, blocks.height())));
    for (int row = blocks.top(); row <= blocks.bottom(); row += bandRows) {
        const QRect band(blocks.left(), row, blocks.width(), qMin(bandRows, blocks.bottom() + 1 - row));
        if (!grabBand(frame, band))
            return false;
    }
    return true;
}

bool XcbGrabber::grabBand(ScreenFrame* frame, const QRect& blocks)
{
    const int x = frame->geometry.x() + blocks.x() * Block;
    const int y = frame->geometry.y() + blocks.y() * Block;
    const int w = blocks.width() * Block;
    const int h = blocks.height() * Block;
    const qint64 needed = qint64(w) * h * 4;
    // Never write past the record, whatever its size fields claim.
    if (blocks.right() >= frame->width || blocks.bottom() >= frame->height ||
        qint64(frame->stride) * frame->height > frame->size || qint64(frame->width) * 4 > frame->stride)
        return false;

    const uchar* pixels = nullptr;
    XcbReply<xcb_get_image_reply_t> plain;
    if (m_shmSeg && needed <= m_shmSize) {
        xcb_generic_error_t* error = nullptr;
        XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
            m_conn,
            xcb_shm_get_image(m_conn, m_root, int16_t(x), int16_t(y), uint16_t(w), uint16_t(h), ~0u,
                              XCB_IMAGE_FORMAT_Z_PIXMAP, m_shmSeg, 0),
            &error));
        if (error) {
            qCDebug(lcPivotrix) << "failed to get image" << error->error_code;
            std::free(error);
            return false;
        }
        if (!reply || reply->size < needed)
            return false;
        pixels = m_shmAddr;
    } else {
        xcb_generic_error_t* error = nullptr;
        plain.reset(xcb_get_image_reply(m_conn,
                                        xcb_get_image(m_conn, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, int16_t(x),
                                                      int16_t(y), uint16_t(w), uint16_t(h), ~0u),
                                        &error));
        if (error) {
            qCDebug(lcPivotrix) << "failed to get image" << error->error_code;
            std::free(error);
            return false;
        }
        if (!plain || xcb_get_image_data_length(plain.get()) < needed)
            return false;
        pixels = xcb_get_image_data(plain.get());
    }

    uchar* out = frame->buffer + qsizetype(blocks.y()) * frame->stride + qsizetype(blocks.x()) * 4;
    blockAverage16(pixels, qsizetype(w) * 4, blocks.width(), blocks.height(), out, frame->stride);
    return true;
}
