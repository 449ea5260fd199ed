#include "capture/session/linux/X11DisplayPowerMonitor.h"

#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QSocketNotifier>
#include <QTimer>

#include <xcb/dpms.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <sys/uio.h>

#include <cstdlib>

namespace {
// Neither DPMSSelectInput (DPMS 1.2) nor the Generic Event extension are among the requests this libxcb
// generates, so both are sent as their wire format says.
constexpr uint8_t kDpmsSelectInput = 8;
constexpr uint32_t kDpmsInfoNotifyMask = 1;
constexpr uint8_t kGenericEventQueryVersion = 0;
xcb_extension_t g_genericEvents = {"Generic Event Extension", 0};

struct GenericEventVersion
{
    uint16_t major;
    uint16_t minor;
};

// Sends a request whose body follows the 4-byte header; xcb fills in the opcodes and the length.
template <typename Body>
unsigned int sendRequest(xcb_connection_t* c, xcb_extension_t* ext, uint8_t opcode, Body body, bool isVoid)
{
    struct
    {
        uint8_t major;
        uint8_t minor;
        uint16_t length;
        Body body;
    } request{0, 0, 0, body};
    static_assert(sizeof request % 4 == 0, "a request is whole 32-bit words");
    // xcb uses the two entries before the request's own.
    iovec parts[3] = {{nullptr, 0}, {nullptr, 0}, {&request, sizeof request}};
    const xcb_protocol_request_t protocol{1, ext, opcode, uint8_t(isVoid ? 1 : 0)};
    return xcb_send_request(c, isVoid ? XCB_REQUEST_CHECKED : 0, parts + 2, &protocol);
}
} // namespace

X11DisplayPowerMonitor::X11DisplayPowerMonitor(const QByteArray& displayName, QObject* parent)
    : QObject(parent)
{
    xcb_connection_t* connection =
        xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), nullptr);
    if (xcb_connection_has_error(connection)) {
        qCDebug(lcPivotrix) << "failed to subscribe on power notifications"
                            << "no X display" << displayName;
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;

    const xcb_query_extension_reply_t* saver = xcb_get_extension_data(m_connection, &xcb_screensaver_id);
    if (saver && saver->present && screen) {
        m_hasSaver = true;
        m_saverEventBase = saver->first_event;
        xcb_screensaver_select_input(m_connection, screen->root, XCB_SCREENSAVER_EVENT_NOTIFY_MASK);
        xcb_screensaver_query_info_reply_t* info = xcb_screensaver_query_info_reply(
            m_connection, xcb_screensaver_query_info(m_connection, screen->root), nullptr);
        if (info) {
            m_saverActive = info->state == XCB_SCREENSAVER_STATE_ON;
            std::free(info);
        }
    }

    const xcb_query_extension_reply_t* dpms = xcb_get_extension_data(m_connection, &xcb_dpms_id);
    if (dpms && dpms->present) {
        xcb_dpms_capable_reply_t* capable =
            xcb_dpms_capable_reply(m_connection, xcb_dpms_capable(m_connection), nullptr);
        m_hasDpms = capable && capable->capable;
        std::free(capable);
    }

    if (!m_hasSaver && !m_hasDpms)
        qCDebug(lcPivotrix) << "failed to subscribe on power notifications"
                            << "no screen saver or DPMS extension";

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11DisplayPowerMonitor::readEvents);

    if (m_hasDpms && !subscribeDpms()) {
        m_dpmsTimer = new QTimer(this);
        m_dpmsTimer->setInterval(kDefaultDpmsPollMs);
        connect(m_dpmsTimer, &QTimer::timeout, this, &X11DisplayPowerMonitor::pollDpms);
        m_dpmsTimer->start();
    }
    if (m_hasDpms) {
        xcb_dpms_info_reply_t* info = xcb_dpms_info_reply(m_connection, xcb_dpms_info(m_connection), nullptr);
        if (info) {
            m_dpmsOff = info->state && info->power_level != XCB_DPMS_DPMS_MODE_ON;
            std::free(info);
        }
    }
    xcb_flush(m_connection);
    readEvents();
}

X11DisplayPowerMonitor::~X11DisplayPowerMonitor()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool X11DisplayPowerMonitor::subscribeDpms()
{
    xcb_dpms_get_version_reply_t* version =
        xcb_dpms_get_version_reply(m_connection, xcb_dpms_get_version(m_connection, 1, 2), nullptr);
    const bool tells = version && (version->server_major_version > 1 || (version->server_major_version == 1 &&
                                                                         version->server_minor_version >= 2));
    std::free(version);
    const xcb_query_extension_reply_t* dpms = xcb_get_extension_data(m_connection, &xcb_dpms_id);
    if (!tells || !dpms)
        return false;
    // A client says which Generic Event version it reads before such events are its to read.
    const xcb_query_extension_reply_t* generic = xcb_get_extension_data(m_connection, &g_genericEvents);
    if (generic && generic->present) {
        const unsigned int query = sendRequest(m_connection, &g_genericEvents, kGenericEventQueryVersion,
                                               GenericEventVersion{1, 0}, false);
        std::free(xcb_wait_for_reply(m_connection, query, nullptr));
    }
    const xcb_void_cookie_t select{
        sendRequest(m_connection, &xcb_dpms_id, kDpmsSelectInput, kDpmsInfoNotifyMask, true)};
    if (xcb_generic_error_t* error = xcb_request_check(m_connection, select)) {
        std::free(error);
        return false;
    }
    m_dpmsOpcode = dpms->major_opcode;
    qCDebug(lcPivotrix) << "display power level told by the server";
    return true;
}

void X11DisplayPowerMonitor::setDpmsPollInterval(int ms)
{
    if (m_dpmsTimer)
        m_dpmsTimer->setInterval(ms);
}

void X11DisplayPowerMonitor::readEvents()
{
    if (!m_connection)
        return;
    bool dpmsChanged = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
        const uint8_t type = event->response_type & 0x7f;
        if (m_hasSaver && type == m_saverEventBase + XCB_SCREENSAVER_NOTIFY)
            handleSaverState(reinterpret_cast<const xcb_screensaver_notify_event_t*>(event)->state);
        else if (m_dpmsOpcode && type == XCB_GE_GENERIC &&
                 reinterpret_cast<const xcb_ge_generic_event_t*>(event)->extension == m_dpmsOpcode)
            dpmsChanged = true;
        std::free(event);
    }
    // Asked rather than read from the event, whose layout this libxcb does not know.
    if (dpmsChanged)
        pollDpms();
    if (xcb_connection_has_error(m_connection)) {
        // The server went away; stop listening rather than spinning on a dead socket.
        qCDebug(lcPivotrix) << "X connection lost, display power no longer followed";
        m_notifier->setEnabled(false);
        if (m_dpmsTimer)
            m_dpmsTimer->stop();
    }
}

void X11DisplayPowerMonitor::handleSaverState(int state)
{
    // Cycle and disabled notifications say nothing about the display.
    if (state == XCB_SCREENSAVER_STATE_ON)
        update(true, m_dpmsOff);
    else if (state == XCB_SCREENSAVER_STATE_OFF)
        update(false, m_dpmsOff);
}

void X11DisplayPowerMonitor::pollDpms()
{
    if (!m_connection || xcb_connection_has_error(m_connection))
        return;
    xcb_dpms_info_reply_t* info = xcb_dpms_info_reply(m_connection, xcb_dpms_info(m_connection), nullptr);
    if (info) {
        update(m_saverActive, info->state && info->power_level != XCB_DPMS_DPMS_MODE_ON);
        std::free(info);
    }
    // A reply can pull queued events off the socket without the notifier firing again.
    readEvents();
}

void X11DisplayPowerMonitor::update(bool saverActive, bool dpmsOff)
{
    const bool wasOff = isDisplayOff();
    m_saverActive = saverActive;
    m_dpmsOff = dpmsOff;
    if (isDisplayOff() != wasOff)
        emit displayPowerChanged(!isDisplayOff());
}
