#include "SoakDesktop.h"

#include <QDBusMessage>
#include <QDir>
#include <QFile>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {
const QString kConnection = QStringLiteral("soak-desktop");
} // namespace

SoakDesktop::SoakDesktop() = default;

SoakDesktop::~SoakDesktop()
{
    if (m_xcb)
        xcb_disconnect(m_xcb);
    m_connection = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(kConnection);
}

bool SoakDesktop::start(const QSize& screen, QString* error)
{
    if (!m_x.start(screen)) {
        *error = QStringLiteral("Xvfb did not start");
        return false;
    }
    // Whatever the bus starts on demand inherits the driver's environment: it must be this desktop's.
    const QProcessEnvironment env = environment();
    for (const QString& key : env.keys())
        qputenv(key.toLocal8Bit().constData(), env.value(key).toLocal8Bit());
    qunsetenv("QT_QPA_PLATFORM");
    m_bus = std::make_unique<PrivateBus>();
    if (!m_bus->isRunning()) {
        *error = QStringLiteral("dbus-daemon did not start");
        return false;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus->address());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus->address());
    m_connection = QDBusConnection::connectToBus(QString::fromLatin1(m_bus->address()), kConnection);
    if (!m_connection.isConnected() || !m_logind.registerOn(m_connection)) {
        *error = QStringLiteral("no stand-in logind on the private bus");
        return false;
    }
    m_xcb = xcb_connect(m_x.display().constData(), nullptr);
    if (xcb_connection_has_error(m_xcb)) {
        *error = QStringLiteral("cannot reach Xvfb");
        return false;
    }
    return true;
}

QProcessEnvironment SoakDesktop::environment() const
{
    QProcessEnvironment env = m_home.environment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_x.display()));
    if (m_bus) {
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(m_bus->address()));
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QString::fromLatin1(m_bus->address()));
    }
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("QT_XCB_GL_INTEGRATION"));
    env.remove(QStringLiteral("XDG_SESSION_ID"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

bool SoakDesktop::sendLock(bool locked)
{
    QDBusMessage signal = QDBusMessage::createSignal(
        StandInLogind::ourSession(), QStringLiteral("org.freedesktop.login1.Session"),
        locked ? QStringLiteral("Lock") : QStringLiteral("Unlock"));
    return m_connection.send(signal);
}

bool SoakDesktop::sendSleep(bool start)
{
    QDBusMessage signal = QDBusMessage::createSignal(StandInLogind::managerPath(),
                                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
    signal << start;
    return m_connection.send(signal);
}

bool SoakDesktop::paintRoot(quint32 rgb)
{
    xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(m_xcb)).data;
    const uint32_t pixel = rgb & 0xffffff;
    xcb_change_window_attributes(m_xcb, root->root, XCB_CW_BACK_PIXEL, &pixel);
    xcb_clear_area(m_xcb, 0, root->root, 0, 0, 0, 0);
    // A round trip: the server has painted once it answers.
    std::free(xcb_get_input_focus_reply(m_xcb, xcb_get_input_focus(m_xcb), nullptr));
    return !xcb_connection_has_error(m_xcb);
}

QImage SoakDesktop::grab(const QRect& area)
{
    xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(m_xcb)).data;
    const QRect bounded = area.intersected(QRect(0, 0, root->width_in_pixels, root->height_in_pixels));
    if (bounded.isEmpty())
        return QImage();
    xcb_get_image_reply_t* reply = xcb_get_image_reply(
        m_xcb,
        xcb_get_image(m_xcb, XCB_IMAGE_FORMAT_Z_PIXMAP, root->root, int16_t(bounded.x()),
                      int16_t(bounded.y()), uint16_t(bounded.width()), uint16_t(bounded.height()), ~0u),
        nullptr);
    if (!reply)
        return QImage();
    QImage image;
    // A 24-bit screen hands out 32 bits a pixel, blue first: what Format_RGB32 holds on this machine.
    if (xcb_get_image_data_length(reply) >= bounded.width() * bounded.height() * 4)
        image = QImage(xcb_get_image_data(reply), bounded.width(), bounded.height(), bounded.width() * 4,
                       QImage::Format_RGB32)
                    .copy();
    std::free(reply);
    return image;
}
