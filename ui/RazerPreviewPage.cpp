#include "ui/RazerPreviewPage.h"

#include "ui/Resources.h"

#include <QLabel>
#include <QSpacerItem>
#include <QVBoxLayout>

RazerPreviewPage::RazerPreviewPage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("RazerPreviewPage"));
    resize(630, 426);
    setWindowTitle(tr("Form"));
    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout_2"));
    layout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
    m_logo = new QLabel(this);
    m_logo->setObjectName(QStringLiteral("label"));
    m_logo->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_logo);
    layout->addItem(new QSpacerItem(20, 35, QSizePolicy::Minimum, QSizePolicy::Fixed));
    m_errorText = new QLabel(this);
    m_errorText->setObjectName(QStringLiteral("errorTextLabel"));
    QFont font = m_errorText->font();
    font.setPointSize(13);
    m_errorText->setFont(font);
    m_errorText->setStyleSheet(QStringLiteral("color:#848484"));
    m_errorText->setAlignment(Qt::AlignCenter);
    m_errorText->setText(tr("Pair your Pivotrix Device to enjoy "));
    layout->addWidget(m_errorText);
    layout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
}

void RazerPreviewPage::showEvent(QShowEvent* event)
{
    // Decoded when first seen: the window opens on another tab, and most starts never come here.
    if (!m_logo->pixmap())
        m_logo->setPixmap(resourcePixmap(QStringLiteral(":/images/razer-logo.png")));
    QWidget::showEvent(event);
}

void RazerPreviewPage::setState(int state)
{
    if (state == m_state)
        return;
    m_state = state;
    QString text;
    switch (state) {
    case UnknownIssue:
        text = tr("Unkwnows issue");
        break;
    case NoDevice:
        text = tr("Pair your Pivotrix Device to enjoy");
        break;
    case SdkMissing:
        text = tr("Install Razer Synapse to ligth up Pivotrix device");
        break;
    case BroadcastNotLive:
        text = tr("Enable Pivotrix app in Razer Synapse");
        break;
    default:
        break;
    }
    m_errorText->setText(text);
}

QString RazerPreviewPage::errorText() const
{
    return m_errorText->text();
}
