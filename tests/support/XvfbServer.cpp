#include "support/XvfbServer.h"

#include <QDebug>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>

XvfbServer::~XvfbServer()
{
    kill();
}

bool XvfbServer::start(const QSize& size, const QStringList& extraArgs)
{
    m_size = size;
    m_extraArgs = extraArgs;
    return launch({QStringLiteral("-displayfd"), QStringLiteral("1")}, true);
}

bool XvfbServer::restart()
{
    kill();
    return launch({QString::fromLatin1(m_display)}, false);
}

bool XvfbServer::launch(const QStringList& head, bool readDisplay)
{
    QStringList args = head;
    // No reset when the last client leaves: the tests connect and disconnect all the time.
    args << QStringLiteral("-noreset") << QStringLiteral("-nolisten") << QStringLiteral("tcp") << m_extraArgs
         << QStringLiteral("-screen") << QStringLiteral("0")
         << QStringLiteral("%1x%2x24").arg(m_size.width()).arg(m_size.height());
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("Xvfb"), args);
    if (!m_process.waitForStarted(5000))
        return false;
    if (readDisplay) {
        const bool announced = QTest::qWaitFor(
            [this] {
                m_process.waitForReadyRead(100);
                return m_process.canReadLine();
            },
            10000);
        if (!announced)
            return false;
        const QByteArray line = m_process.readLine().trimmed();
        if (line.isEmpty())
            return false;
        m_display = ':' + line;
    }
    // Ready once a client gets through.
    return QTest::qWaitFor(
        [this] {
            xcb_connection_t* c = xcb_connect(m_display.constData(), nullptr);
            const bool ok = !xcb_connection_has_error(c);
            xcb_disconnect(c);
            return ok;
        },
        10000);
}

void XvfbServer::kill()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool XvfbServer::paint(const QImage& img, int x, int y)
{
    xcb_connection_t* c = xcb_connect(m_display.constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, screen->root, 0, nullptr);
    const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
    const int rowBytes = rgb.width() * 4;
    const int rowsPerRequest = qMax(1, 200000 / rowBytes);
    for (int row = 0; row < rgb.height(); row += rowsPerRequest) {
        const int rows = qMin(rowsPerRequest, rgb.height() - row);
        QByteArray data;
        for (int r = 0; r < rows; ++r)
            data.append(reinterpret_cast<const char*>(rgb.constScanLine(row + r)), rowBytes);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, gc, uint16_t(rgb.width()), uint16_t(rows),
                      int16_t(x), int16_t(y + row), 0, screen->root_depth, uint32_t(data.size()),
                      reinterpret_cast<const uint8_t*>(data.constData()));
    }
    // A round trip: the server has drawn everything once it answers.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    const bool ok = !xcb_connection_has_error(c);
    xcb_disconnect(c);
    return ok;
}

bool XvfbServer::xrandr(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("xrandr"),
            QStringList{QStringLiteral("-display"), QString::fromLatin1(m_display)} + args);
    if (!p.waitForFinished(10000))
        return false;
    if (p.exitCode() != 0)
        qWarning() << "xrandr" << args << p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
