#include "ui/RoundRectWidget.h"

#include <QMouseEvent>
#include <QPainter>

RoundRectWidget::RoundRectWidget(QWidget* parent)
    : QWidget(parent)
{}

void RoundRectWidget::setFillColor(const QColor& color)
{
    m_fillColor = color;
    update();
}

void RoundRectWidget::setRadius(int radius)
{
    m_radius = radius;
}

void RoundRectWidget::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.setBrush(QBrush(m_fillColor, Qt::SolidPattern));
    painter.setPen(QPen(QColor(222, 222, 222), 1, Qt::SolidLine));
    painter.drawRoundedRect(rect(), m_radius, m_radius, Qt::AbsoluteSize);
}

void RoundRectWidget::mouseReleaseEvent(QMouseEvent* event)
{
    emit mouseClick(event->button());
    event->accept();
}
