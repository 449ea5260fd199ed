#include "ui/TrayManagerSelection.h"

#include "core/DiagnosticLog.h"

#include <QByteArray>
#include <QDebug>
#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>

// A connection of its own: XFixes selection events then need no filter on Qt's connection, and the
// watch works whichever platform plugin Qt runs on.
struct TrayManagerSelection::Private
{
    xcb_connection_t* connection = nullptr;
    uint8_t xfixesEvent = 0;
    xcb_window_t owner = XCB_NONE;
    QSocketNotifier* notifier = nullptr;

    ~Private()
    {
        delete notifier;
        if (connection)
            xcb_disconnect(connection);
    }
};

namespace {
template <class Reply> struct Freed
{
    Reply* reply;
    ~Freed() { std::free(reply); }
    Reply* operator->() const { return reply; }
    explicit operator bool() const { return reply != nullptr; }
};
} // namespace

TrayManagerSelection::TrayManagerSelection(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        qCDebug(lcPivotrix) << "no X display: XEmbed tray not watched";
        return;
    }
    d->connection = c;

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;

    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screenNumber);
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    const Freed<xcb_intern_atom_reply_t> atom{
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()), nullptr)};
    const Freed<xcb_xfixes_query_version_reply_t> version{
        xfixes && xfixes->present
            ? xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 1, 0), nullptr)
            : nullptr};
    if (!atom || !version) {
        qCWarning(lcPivotrix) << "X server without XFixes: XEmbed tray not watched";
        return;
    }
    d->xfixesEvent = xfixes->first_event;
    xcb_xfixes_select_selection_input(c, root, atom->atom,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    // Asked after selecting the events, so an owner arriving in between is not missed.
    const Freed<xcb_get_selection_owner_reply_t> current{
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr)};
    d->owner = current ? current->owner : xcb_window_t(XCB_NONE);

    d->notifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    const auto readEvents = [this] {
        while (xcb_generic_event_t* event = xcb_poll_for_event(d->connection)) {
            if ((event->response_type & 0x7f) == d->xfixesEvent + XCB_XFIXES_SELECTION_NOTIFY) {
                const xcb_window_t owner =
                    reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(event)->owner;
                if (owner != d->owner) {
                    d->owner = owner;
                    emit ownerChanged(owner != XCB_NONE);
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(d->connection)) {
            qCWarning(lcPivotrix) << "X connection lost: XEmbed tray no longer watched";
            d->notifier->setEnabled(false);
            if (d->owner != XCB_NONE) {
                d->owner = XCB_NONE;
                emit ownerChanged(false);
            }
        }
    };
    connect(d->notifier, &QSocketNotifier::activated, this, readEvents);
    // Events that arrived with the replies above are already off the socket.
    QTimer::singleShot(0, this, readEvents);
    xcb_flush(c);
}

TrayManagerSelection::~TrayManagerSelection() = default;

bool TrayManagerSelection::hasOwner() const
{
    return d->owner != XCB_NONE;
}
