#include "ui/UpdateDialog.h"

#include "core/DiagnosticLog.h"
#include "ui/UpdateChecker.h"

#include <QDebug>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

UpdateDialog::UpdateDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("UpdateDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The application lives in the tray; closing a dialog must not end it.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(410, 224);
    setStyleSheet(QStringLiteral("background:#d9d9d9"));
    setWindowTitle(tr("Software Update"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, -1, 20, -1);

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->hide();
    layout->addWidget(m_progressBar);

    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setMaximumWidth(455);
    QFont font = m_statusLabel->font();
    font.setPointSize(11);
    m_statusLabel->setFont(font);
    m_statusLabel->setStyleSheet(QStringLiteral("background:transparent; \ncolor:black;"));
    m_statusLabel->setTextFormat(Qt::RichText);
    m_statusLabel->setAlignment(Qt::AlignCenter);
    m_statusLabel->setWordWrap(true);
    // Links are checked before they are opened rather than handed to the browser as they come.
    m_statusLabel->setOpenExternalLinks(false);
    m_statusLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    m_statusLabel->setText(tr("Checking..."));
    connect(m_statusLabel, &QLabel::linkActivated, this, &UpdateDialog::openLink);
    layout->addWidget(m_statusLabel);

    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Horizontal, this);
    m_buttonBox->setObjectName(QStringLiteral("buttonBox"));
    m_buttonBox->setCenterButtons(true);
    const QString buttonStyle = QStringLiteral(
        "QPushButton {\n\tbackground-color:#1A6FBF ;\n\tborder-color:transparent;\n\tborder-radius:6px;\n"
        "\tmin-width:90px;\n\tmin-height:30px;\n\tcolor:white;\n}\n\nQPushButton::pressed {\n"
        "background-color:#2766a1;\n}");
    m_buttonBox->setStyleSheet(buttonStyle);
    // The dialog's selector-less background rule outweighs the box's inherited one; a button's own sheet
    // wins.
    const QList<QAbstractButton*> buttons = m_buttonBox->buttons();
    for (QAbstractButton* button : buttons) {
        button->setStyleSheet(buttonStyle);
        button->setIcon(QIcon());
    }
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(m_buttonBox);

    connect(UpdateChecker::instance(), &UpdateChecker::updateCheckFinished, this,
            &UpdateDialog::updateFinished);
}

void UpdateDialog::startManualCheck()
{
    if (UpdateChecker::instance()->updatesByPackageManager()) {
        m_statusLabel->setText(tr("Pivotrix Entertainment was installed by your system's package manager, "
                                  "which also brings its updates."));
        return;
    }
    UpdateChecker::instance()->startCheck(true);
}

void UpdateDialog::updateFinished(bool manual, bool hasNewVersion, const QString& version)
{
    Q_UNUSED(manual)
    if (version == QLatin1String("error")) {
        m_statusLabel->setText(
            tr("An error occurred when trying to retrieve update information, please try again later."));
    } else if (!hasNewVersion) {
        m_statusLabel->setText(tr("You have the latest version of Pivotrix Entertainment"));
    } else {
        // Both texts come from the network: escape them, and link only to a web address.
        const QUrl url(UpdateChecker::instance()->downloadUrl(), QUrl::StrictMode);
        const QString shownVersion = version.toHtmlEscaped();
        if (UpdateChecker::isSafeDownloadUrl(url)) {
            m_statusLabel->setText(
                tr("<strong>A new version is available.</strong><br/>Pivotrix Entertainment "
                   "%1 can be <a href=\"%2\">downloaded here</a>.")
                    .arg(shownVersion, url.toString(QUrl::FullyEncoded).toHtmlEscaped()));
        } else {
            qCDebug(lcPivotrix) << "update download url refused" << UpdateChecker::instance()->downloadUrl();
            m_statusLabel->setText(tr("<strong>A new version is available.</strong><br/>Pivotrix "
                                      "Entertainment %1 has been released.")
                                       .arg(shownVersion));
        }
    }
}

void UpdateDialog::openLink(const QString& link)
{
    const QUrl url(link, QUrl::StrictMode);
    if (!UpdateChecker::isSafeDownloadUrl(url)) {
        qCDebug(lcPivotrix) << "refusing to open link" << link;
        return;
    }
    QDesktopServices::openUrl(url);
}

void UpdateDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_buttonBox->geometry().contains(event->pos())) {
        accept();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}
