#pragma once

#include <QByteArray>
#include <QColor>

#include <xcb/xcb.h>

#include <cstdlib>

// Fills the root window with one colour and returns once the server did it: a change of the whole screen
// at a known moment, which a picture upload (megabytes over the socket) is not.
class RootFill
{
public:
    explicit RootFill(const QByteArray& display)
        : m_c(xcb_connect(display.constData(), nullptr))
    {
        if (xcb_connection_has_error(m_c))
            return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        m_root = screen->root;
        m_width = screen->width_in_pixels;
        m_height = screen->height_in_pixels;
        m_gc = xcb_generate_id(m_c);
        xcb_create_gc(m_c, m_gc, m_root, 0, nullptr);
    }
    ~RootFill() { xcb_disconnect(m_c); }
    RootFill(const RootFill&) = delete;
    RootFill& operator=(const RootFill&) = delete;

    bool fill(QColor color)
    {
        // Over the application's window too, should it lie on the monitor.
        const uint32_t values[] = {color.rgb() & 0xFFFFFF, XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS};
        xcb_change_gc(m_c, m_gc, XCB_GC_FOREGROUND | XCB_GC_SUBWINDOW_MODE, values);
        const xcb_rectangle_t all{0, 0, m_width, m_height};
        xcb_poly_fill_rectangle(m_c, m_root, m_gc, 1, &all);
        free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
        return !xcb_connection_has_error(m_c);
    }

private:
    xcb_connection_t* m_c;
    xcb_window_t m_root = 0;
    xcb_gcontext_t m_gc = 0;
    uint16_t m_width = 0;
    uint16_t m_height = 0;
};
