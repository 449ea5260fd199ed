#include "ui/RazerDeviceTabLabel.h"

#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>

RazerDeviceTabLabel::RazerDeviceTabLabel(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("RazerDeviceTabLabel"));
    resize(150, 52);
    setMinimumWidth(100);
    setMaximumWidth(300);
    setStyleSheet(QStringLiteral("background:transparent;"));
    setWindowTitle(tr("Form"));

    auto* layout = new QHBoxLayout(this);
    layout->setObjectName(QStringLiteral("horizontalLayout"));
    layout->setContentsMargins(0, 10, 0, 16);

    m_marker = new QLabel(this);
    m_marker->setObjectName(QStringLiteral("markerLabel"));
    m_marker->setFixedSize(8, 8);
    m_marker->setAlignment(Qt::AlignCenter);
    m_marker->setStyleSheet(QStringLiteral("background: transparent;\nborder-radius:4px;"));
    layout->addWidget(m_marker);

    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("label"));
    QFont font = m_label->font();
    font.setPointSize(13);
    font.setWeight(75);
    m_label->setFont(font);
    m_label->setStyleSheet(QStringLiteral("color:black;\nbackground-color:transparent;"));
    m_label->setText(tr("TextLabel"));
    layout->addWidget(m_label);
}

void RazerDeviceTabLabel::setText(const QString& text)
{
    m_label->setText(text);
}

QString RazerDeviceTabLabel::text() const
{
    return m_label->text();
}

void RazerDeviceTabLabel::setActive(bool active)
{
    qCDebug(lcPivotrix) << "set active label" << active << m_active;
    if (active == m_active)
        return;
    m_active = active;
    if (active) {
        m_marker->setStyleSheet(QStringLiteral("background: #00AF31;border-radius:4px;"));
        m_label->setStyleSheet(QStringLiteral("font-weight:bold;color:black;background-color:transparent;"));
    } else {
        m_marker->setStyleSheet(QStringLiteral("background: transparent;border-radius:4px;"));
        m_label->setStyleSheet(
            QStringLiteral("font-weight:normal;color:#5f5f5f;background-color:transparent;"));
    }
    qCDebug(lcPivotrix).noquote() << QStringLiteral("active styleshit changed ") + m_marker->styleSheet();
    for (QLabel* label : {m_marker, m_label}) {
        label->style()->unpolish(label);
        label->style()->polish(label);
    }
    emit activeChanged();
}
