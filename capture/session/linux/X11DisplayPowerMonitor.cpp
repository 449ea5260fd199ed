#include "capture/session/linux/X11DisplayPowerMonitor.h"

#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QSocketNotifier>
#include <QTimer>

#include <xcb/dpms.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <cstdlib>

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

    if (m_hasDpms) {
        m_dpmsTimer = new QTimer(this);
        m_dpmsTimer->setInterval(kDefaultDpmsPollMs);
        connect(m_dpmsTimer, &QTimer::timeout, this, &X11DisplayPowerMonitor::pollDpms);
        m_dpmsTimer->start();
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

void X11DisplayPowerMonitor::setDpmsPollInterval(int ms)
{
    if (m_dpmsTimer)
        m_dpmsTimer->setInterval(ms);
}

void X11DisplayPowerMonitor::readEvents()
{
    if (!m_connection)
        return;
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
        if (m_hasSaver && (event->response_type & 0x7f) == m_saverEventBase + XCB_SCREENSAVER_NOTIFY)
            handleSaverState(reinterpret_cast<const xcb_screensaver_notify_event_t*>(event)->state);
        std::free(event);
    }
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
