#include "ui/AboutDialog.h"

#include "ui/Resources.h"
#include "ui/UpdateChecker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {
const QString kLabelStyle = QStringLiteral("background:transparent;\ncolor: black;");

QLabel* textLabel(const QString& name, const QString& text, int pointSize, bool bold, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    label->setStyleSheet(kLabelStyle);
    return label;
}
} // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent)
{
    ensureResourcesLoaded();
    setObjectName(QStringLiteral("AboutDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The application lives in the tray; closing a dialog must not end it.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(401, 224);
    setStyleSheet(QStringLiteral("background:#d9d9d9"));
    setWindowTitle(tr("About"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(19, -1, 19, 14);

    auto* row = new QHBoxLayout();
    row->setContentsMargins(0, 28, 0, 28);

    auto* iconColumn = new QVBoxLayout();
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("label_4"));
    icon->setFixedSize(54, 54);
    icon->setPixmap(resourcePixmap(QStringLiteral(":/images/aboutIcon.png")));
    icon->setScaledContents(false);
    icon->setAlignment(Qt::AlignCenter);
    icon->setStyleSheet(kLabelStyle);
    iconColumn->addWidget(icon);
    iconColumn->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
    row->addLayout(iconColumn);

    auto* textColumn = new QVBoxLayout();
    textColumn->setContentsMargins(15, 0, 0, 0);
    textColumn->addWidget(
        textLabel(QStringLiteral("titleLabel"), tr("Pivotrix Entertainment"), 15, true, this));
    textColumn->addWidget(textLabel(QStringLiteral("versionLabel"),
                                    tr("Version: %1").arg(UpdateChecker::currentVersion()), 11, false, this));
    textColumn->addItem(new QSpacerItem(20, 20, QSizePolicy::Minimum, QSizePolicy::Fixed));
    textColumn->addWidget(textLabel(QStringLiteral("copyrightLabel"),
                                    tr("Copyright \u00a9 Pivotrix. All rights reserved."), 11, false, this));
    row->addLayout(textColumn, 1);
    outer->addLayout(row);

    auto* buttonRow = new QHBoxLayout();
    buttonRow->addStretch();
    m_okButton = new QPushButton(tr("OK"), this);
    m_okButton->setObjectName(QStringLiteral("pushButton"));
    m_okButton->setFixedSize(90, 30);
    m_okButton->setStyleSheet(
        QStringLiteral("QPushButton {\n\tbackground-color:#1A6FBF ;\n\tborder-color:transparent;\n"
                       "\tborder-radius:6px;\n\tcolor:white;\n}\n\nQPushButton::pressed {\n"
                       "\tbackground-color:#2766a1 ;\t\n}\n"));
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    buttonRow->addWidget(m_okButton);
    buttonRow->addStretch();
    outer->addLayout(buttonRow);
}

void AboutDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_okButton->geometry().contains(event->pos())) {
        accept();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}
