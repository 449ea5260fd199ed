#include "emulator/EmulatorWindow.h"

#include "emulator/EmulatedPanel.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int kCaptionHeight = 28;
constexpr int kCellPixels = 60;
// Room for the window manager's frame and title bar, which the window cannot measure before it is shown.
constexpr int kFrameAllowance = 48;
constexpr int kCascade = 32;
} // namespace

EmulatorWindow::EmulatorWindow(EmulatedPanel* panel, int slot, QWidget* parent)
    : QWidget(parent)
    , m_panel(panel)
    , m_timer(new QTimer(this))
{
    setWindowTitle(QStringLiteral("%1 (%2)").arg(panel->name(), panel->address()));
    const QSize canvas = panel->canvas();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize room = screen.size() - QSize(kFrameAllowance, kFrameAllowance + kCaptionHeight);
    const int scale = qMax(1, std::min({kCellPixels, qMin(720, room.height()) / qMax(1, canvas.height()),
                                        room.width() / qMax(1, canvas.width())}));
    resize(qMin(qMax(360, canvas.width() * scale), room.width()), canvas.height() * scale + kCaptionHeight);
    // At the screen's right edge, clear of the application's window, and wholly on the screen.
    const int step = kCascade * slot;
    const QPoint corner(screen.right() - width() - kFrameAllowance - step, screen.top() + step);
    move(qMax(screen.left(), corner.x()),
         qMin(corner.y(), qMax(screen.top(), screen.bottom() - height() - kFrameAllowance)));
    connect(m_timer, &QTimer::timeout, this, &EmulatorWindow::refresh);
    m_timer->start(30);
}

void EmulatorWindow::refresh()
{
    const EmulatedPanel::Stream stream = m_panel->stream();
    const FrameStatistics::Snapshot stats = m_panel->statistics().snapshot();
    m_frame = m_panel->lastFrame();
    m_shownColor = m_panel->shownColor();
    m_caption = QStringLiteral("%1 · %2 good · %3 rejected · %4")
                    .arg(m_shownColor.isValid() ? QStringLiteral("pairing, pick this colour") : stream.status)
                    .arg(stats.good)
                    .arg(stats.rejected)
                    .arg(faultName(m_panel->fault()));
    update();
}

void EmulatorWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QRect area(0, 0, width(), height() - kCaptionHeight);
    if (m_shownColor.isValid()) {
        painter.fillRect(area, m_shownColor);
    } else if (!m_frame.isNull()) {
        QSize target = m_frame.size().scaled(area.size(), Qt::KeepAspectRatio);
        QRect place(QPoint(0, 0), target);
        place.moveCenter(area.center());
        // Keep every panel pixel a sharp block.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(place, m_frame);
    } else {
        painter.setPen(Qt::gray);
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("no frame yet"));
    }
    painter.setPen(Qt::white);
    painter.drawText(QRect(6, area.bottom(), width() - 12, kCaptionHeight), Qt::AlignVCenter | Qt::AlignLeft,
                     m_caption);
}
