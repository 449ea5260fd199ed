#include "ui/ScreenMirrorPreview.h"

#include "ui/Resources.h"

#include <QLabel>
#include <QVBoxLayout>

ScreenMirrorPreview::ScreenMirrorPreview(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("ScreenMirrorPreview"));
    resize(1061, 583);
    setWindowTitle(tr("Form"));
    setStyleSheet(QStringLiteral("background:#e2e3e5"));
    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout_2"));
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("label"));
    picture->setPixmap(resourcePixmap(QStringLiteral(":/images/screen-mirror-bg.png")));
    picture->setScaledContents(false);
    picture->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture);
    auto* text = new QLabel(this);
    text->setObjectName(QStringLiteral("label_2"));
    QFont font = text->font();
    font.setPointSize(13);
    text->setFont(font);
    text->setStyleSheet(QStringLiteral("background:transparent;\ncolor:#848484;"));
    text->setAlignment(Qt::AlignCenter);
    text->setText(tr("Pair your Pivotrix Device to enjoy"));
    layout->addWidget(text);
}
