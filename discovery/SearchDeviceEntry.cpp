#include "discovery/SearchDeviceEntry.h"

#include "core/DiagnosticLog.h"
#include "core/ResourceManager.h"
#include "device/PivotrixController.h"
#include "device/PivotrixDeviceController.h"
#include "device/SharedNetworkManager.h"
#include "discovery/ColorChallengeDialog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QRegularExpression>
#include <QUrl>

namespace {
const QString kPairedStyle =
    QStringLiteral("QWidget#SearchDeviceEntry {\n        background-color:#DADADA;\n"
                   "        border: 1px solid #CDCDCD;\n        border-radius:9px;\n    }\n"
                   "    QLabel{\n        color:black;\n        background-color:transparent;\n"
                   "    }\n");
const QString kButtonStyle =
    QStringLiteral("QPushButton {\n\tbackground-color:#e4e4e4;\n\tborder-radius:3px;\n"
                   "\tborder: 1px solid  #b7b7b7;\n\tcolor:black;\n}\n\n"
                   "QPushButton::pressed {\n\tbackground-color:#bfbfbf;\n"
                   "\tborder: 1px solid #a1a1a1;\n}");

// Names, addresses and errors come from the network: never read as rich text.
QLabel* plainLabel(const QString& value, QWidget* parent)
{
    auto* label = new QLabel(value, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QString redacted(const QString& key)
{
    return QStringLiteral("<redacted, %1 characters>").arg(key.size());
}
} // namespace

SearchDeviceEntry::SearchDeviceEntry(const PivotrixBSS& device, const QString& apiKey, QWidget* parent)
    : QWidget(parent)
    , m_device(device)
    , m_apiKey(apiKey)
    , m_paired(!apiKey.isEmpty())
{
    setupForm();
    m_nameValue->setText(device.name);
    m_addressValue->setText(device.address);
    m_errorLabel->hide();
    applyPairedState();
}

void SearchDeviceEntry::setupForm()
{
    setObjectName(QStringLiteral("SearchDeviceEntry"));
    resize(446, 238);
    QFont labelFont = font();
    labelFont.setPointSize(12);
    setFont(labelFont);

    auto* grid = new QGridLayout(this);
    grid->setVerticalSpacing(10);
    grid->setContentsMargins(15, 15, 10, 16);

    grid->addWidget(plainLabel(QCoreApplication::translate("SearchDeviceEntry", "Name:"), this), 0, 0);
    auto* nameRow = new QHBoxLayout();
    // Inside the grid, whose two spacings differ, the row would inherit none and run name and error together.
    nameRow->setSpacing(12);
    m_nameValue = plainLabel(QString(), this);
    m_nameValue->setObjectName(QStringLiteral("DeviceNameValue"));
    QFont bold = labelFont;
    bold.setBold(true);
    m_nameValue->setFont(bold);
    nameRow->addWidget(m_nameValue);
    m_errorLabel = plainLabel(QString(), this);
    m_errorLabel->setObjectName(QStringLiteral("errorLabel"));
    m_errorLabel->setStyleSheet(QStringLiteral("color:red"));
    nameRow->addWidget(m_errorLabel);
    nameRow->addStretch();
    grid->addLayout(nameRow, 0, 1);

    grid->addWidget(plainLabel(QCoreApplication::translate("SearchDeviceEntry", "Type:"), this), 1, 0);
    auto* typeValue = plainLabel(QCoreApplication::translate("SearchDeviceEntry", "Pivotrix PRISM"), this);
    typeValue->setObjectName(QStringLiteral("deviceTypeValue"));
    grid->addWidget(typeValue, 1, 1);

    grid->addWidget(plainLabel(QCoreApplication::translate("SearchDeviceEntry", "IP:"), this), 2, 0);
    m_addressValue = plainLabel(QString(), this);
    m_addressValue->setObjectName(QStringLiteral("DeviceAddressValue"));
    grid->addWidget(m_addressValue, 2, 1);

    m_verifyButton = new QPushButton(this);
    m_verifyButton->setObjectName(QStringLiteral("VerifyButton"));
    m_verifyButton->setMinimumHeight(36);
    m_verifyButton->setStyleSheet(kButtonStyle);
    connect(m_verifyButton, &QPushButton::clicked, this, &SearchDeviceEntry::onVerifyButton_clicked);
    grid->addWidget(m_verifyButton, 4, 1);
}

void SearchDeviceEntry::setMessage(const QString& message)
{
    m_errorLabel->setText(message);
    m_errorLabel->setVisible(!message.isEmpty());
}

void SearchDeviceEntry::setNameLabel(const QString& name)
{
    m_nameValue->setText(name);
}

void SearchDeviceEntry::setAddressLabel(const QString& address)
{
    m_addressValue->setText(address);
}

QString SearchDeviceEntry::baseUrl() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(PivotrixController::hostOf(m_device.address));
    url.setPort(PivotrixController::kApiPort);
    // An address that is no host gives no URL, so the challenge fails instead of going elsewhere.
    if (!url.isValid() || url.host().isEmpty()) {
        qCDebug(lcPivotrix) << "not a device address" << m_device.address;
        return QString();
    }
    return url.toString(QUrl::FullyEncoded);
}

void SearchDeviceEntry::onVerifyButton_clicked()
{
    if (m_paired) {
        qCDebug(lcPivotrix) << "remove device";
        emit forgetPressed();
        return;
    }
    // A second click while the challenge runs must not open a second one.
    if (m_dialog) {
        m_dialog->raise();
        m_dialog->activateWindow();
        return;
    }
    auto* dialog = new ColorChallengeDialog();
    m_dialog = dialog;
    dialog->setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);
    dialog->setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setBaseUrl(baseUrl());
    dialog->show();
    dialog->adjustSize();
    dialog->setFixedSize(dialog->size());
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    connect(dialog, &ColorChallengeDialog::keyAvailable, this, &SearchDeviceEntry::onKeyAvailable,
            Qt::DirectConnection);
}

void SearchDeviceEntry::onKeyAvailable(const QString& key)
{
    qCDebug(lcPivotrix) << "received device key" << redacted(key);
    if (m_paired)
        return;
    if (m_identifyOnPairing)
        identify(key);
    else
        addPaired(key);
}

void SearchDeviceEntry::identify(const QString& key)
{
    QNetworkRequest request(QUrl(baseUrl() + QStringLiteral("/api/v2/device")));
    request.setRawHeader("Authorization", PivotrixController::authorizationHeader(key));
    QNetworkReply* reply = sharedNetworkManager()->get(request);
    // The row may go (a rebuilt list) before the answer comes: the reply then only cleans up.
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    connect(reply, &QNetworkReply::finished, this, [this, reply, key] {
        identified(key, reply->read(PivotrixController::kMaxReplyBytes),
                   reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->errorString());
    });
}

void SearchDeviceEntry::identified(const QString& key, const QByteArray& body, int status,
                                   const QString& error)
{
    const QJsonObject info = QJsonDocument::fromJson(body).object();
    const QString name = info.value(QStringLiteral("name")).toString().trimmed();
    const QString model = info.value(QStringLiteral("model")).toString();
    const QString serial = info.value(QStringLiteral("serial")).toString().trimmed();
    qCDebug(lcPivotrix) << "identified by the device api" << status << name << model << serial;
    if (status != 200) {
        setMessage(tr("The panel did not tell who it is: %1").arg(error));
        return;
    }
    if (model != QLatin1String("px3")) {
        setMessage(tr("This is not a Pivotrix PRISM panel (model \"%1\").").arg(model.left(32)));
        return;
    }
    // The serial names the record: it must be a short printable text.
    static const QRegularExpression printable(QStringLiteral("^[\\x21-\\x7E]{1,64}$"));
    if (!printable.match(serial).hasMatch()) {
        setMessage(tr("The panel did not tell its serial number, so it cannot be told apart from others."));
        return;
    }
    const QString id = QLatin1String(kSerialIdPrefix) + serial;
    for (const PivotrixDeviceController* dev : ResourceManager::instance()->devices()) {
        if (dev->deviceId() == id || dev->controller()->serial() == serial) {
            setMessage(tr("This panel is already paired as \"%1\".").arg(dev->name()));
            return;
        }
    }
    if (!name.isEmpty())
        m_device.name = name.left(250);
    m_device.model = model;
    m_device.id = id;
    addPaired(key);
}

void SearchDeviceEntry::addPaired(const QString& key)
{
    if (!ResourceManager::instance()->addDevice(m_device.address, m_device.port, key, m_device.name,
                                                m_device.model, m_device.id)) {
        setMessage(tr("This panel is already paired."));
        return;
    }
    m_apiKey = key;
    m_errorLabel->hide();
    m_nameValue->setText(m_device.name);
    m_paired = true;
    applyPairedState();
    emit deviceAdded(m_device.id);
}

void SearchDeviceEntry::applyPairedState()
{
    m_verifyButton->setText(m_paired ? QCoreApplication::translate("SearchDeviceEntry", "Unpair")
                                     : QCoreApplication::translate("SearchDeviceEntry", "Pair"));
    QString style = kPairedStyle;
    if (!m_paired)
        style.replace(QStringLiteral("#DADADA"), QStringLiteral("#F4f4f4"));
    setStyleSheet(style);
    update();
    layout()->activate();
}
