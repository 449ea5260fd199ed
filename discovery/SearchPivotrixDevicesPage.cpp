#include "discovery/SearchPivotrixDevicesPage.h"

#include "core/DiagnosticLog.h"
#include "core/ResourceManager.h"
#include "device/PivotrixDeviceController.h"
#include "discovery/AddressProbe.h"
#include "discovery/PivotrixScanningThread.h"
#include "discovery/SearchDeviceEntry.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFrame>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {
QFont pointFont(const QFont& base, int points)
{
    QFont font = base;
    font.setPointSize(points);
    return font;
}

// One form for every way an address may be written: "[fe80::1%25eth0]" and "fe80::1%eth0" are one host.
QString normalHost(const QString& address)
{
    const QString host = PivotrixController::hostOf(address);
    const QHostAddress numeric(host);
    return numeric.isNull() ? host.toLower() : numeric.toString();
}
} // namespace

SearchPivotrixDevicesPage::SearchPivotrixDevicesPage(QWidget* parent)
    : QWidget(parent)
    , m_scanSilenceMs(PivotrixScanningThread::defaultSilenceMs)
{
    setupForm();
    connect(m_scanButton, &QPushButton::clicked, this, &SearchPivotrixDevicesPage::onScanButton_clicked);
    connect(m_addButton, &QPushButton::clicked, this, &SearchPivotrixDevicesPage::onAddAddressButton_clicked);
    connect(m_addressEdit, &QLineEdit::returnPressed, this,
            &SearchPivotrixDevicesPage::onAddAddressButton_clicked);
    m_probe = new AddressProbe(this);
    connect(m_probe, &AddressProbe::identified, this, &SearchPivotrixDevicesPage::onAddressIdentified);
    connect(m_probe, &AddressProbe::unidentified, this, &SearchPivotrixDevicesPage::onAddressUnidentified);
    connect(m_probe, &AddressProbe::failed, this, [this](const QString& message) {
        m_addButton->setEnabled(true);
        setStatus(message);
    });
    m_devicesEntryList->hide();

    m_loadingMovie = new QMovie(QStringLiteral(":videos/loading.gif"), QByteArrayLiteral("gif"), this);
    m_loadingMovie->setScaledSize(m_loading->maximumSize());
    m_loading->setMovie(m_loadingMovie);
    m_loading->hide();

    m_scanTimer = new QTimer(this);
    m_scanTimer->setSingleShot(true);
    m_scanTimer->setInterval(kDefaultScanPeriodMs);
    connect(m_scanTimer, &QTimer::timeout, this, &SearchPivotrixDevicesPage::scanFinished);
    reloadList();
}

SearchPivotrixDevicesPage::~SearchPivotrixDevicesPage()
{
    // A scan ends by itself after a quiet spell; do not leave it running into the process's end.
    for (const QPointer<PivotrixScanningThread>& scan : qAsConst(m_scans)) {
        if (!scan)
            continue;
        disconnect(scan, nullptr, this, nullptr);
        scan->requestInterruption();
        if (!scan->wait(kScanWaitMs))
            qCDebug(lcPivotrix) << "scan still running at close";
    }
}

void SearchPivotrixDevicesPage::setupForm()
{
    setObjectName(QStringLiteral("SearchPivotrixDevicePage"));
    setWindowTitle(QCoreApplication::translate("SearchPivotrixDevicePage", "Device Search"));
    resize(834, 712);
    setStyleSheet(QStringLiteral("QLabel {\n\tcolor:rgb(132, 132, 132)\n}"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(13, 14, 13, 10);

    auto* listGroup = new QFrame(this);
    m_listGroup = listGroup;
    listGroup->setObjectName(QStringLiteral("listGroup"));
    listGroup->setStyleSheet(
        QStringLiteral("QFrame#listGroup{\n\tbackground-color:white;\n \tborder-style: solid;\n"
                       "    border-width:1px; \n    border-color:rgb(205, 205, 205); \n"
                       "\tborder-radius:8px;\n}"));
    auto* groupLayout = new QHBoxLayout(listGroup);

    m_devicesEntryList = new QScrollArea(listGroup);
    m_devicesEntryList->setObjectName(QStringLiteral("devicesEntryList"));
    m_devicesEntryList->setAccessibleName(tr("Devices"));
    m_devicesEntryList->setFont(pointFont(font(), 13));
    m_devicesEntryList->setFrameShape(QFrame::NoFrame);
    m_devicesEntryList->setWidgetResizable(true);
    m_devicesEntryList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A wheel notch (three steps) moves about a row, as the list view did; the default moves a third of one.
    m_devicesEntryList->verticalScrollBar()->setSingleStep(64);
    m_devicesEntryList->setStyleSheet(QStringLiteral("background-color:transparent;"));
    auto* rows = new QWidget(m_devicesEntryList);
    m_rows = new QVBoxLayout(rows);
    // 10 around each row, as the list's item spacing had it.
    m_rows->setContentsMargins(10, 10, 10, 10);
    m_rows->setSpacing(20);
    m_rows->addStretch();
    m_devicesEntryList->setWidget(rows);
    groupLayout->addWidget(m_devicesEntryList);

    m_hintLabel = new QLabel(listGroup);
    m_hintLabel->setObjectName(QStringLiteral("hintLabel"));
    m_hintLabel->setStyleSheet(QStringLiteral("color:#848484;"));
    m_hintLabel->setTextFormat(Qt::RichText);
    m_hintLabel->setText(
        QStringLiteral("<p align=\"center\">%1</p><p align=\"center\">%2</p>"
                       "<p align=\"center\">%3</p>")
            .arg(QCoreApplication::translate("SearchPivotrixDevicePage",
                                             "Click &quot;Scan for devices&quot; button "),
                 QCoreApplication::translate("SearchPivotrixDevicePage", "to search Pivotrix devices "),
                 QCoreApplication::translate("SearchPivotrixDevicePage", "in your Wi-Fi network")));
    groupLayout->addWidget(m_hintLabel);

    m_loading = new QLabel(listGroup);
    m_loading->setObjectName(QStringLiteral("loading"));
    m_loading->setMaximumSize(34, 34);
    m_loading->setStyleSheet(QStringLiteral("background-color:transparent;"));
    groupLayout->addWidget(m_loading);
    layout->addWidget(listGroup);

    // What a scan or an address search is doing, and what to try when it finds nothing.
    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->setWordWrap(true);
    m_statusLabel->hide();
    layout->addWidget(m_statusLabel);

    auto* buttons = new QHBoxLayout();
    m_scanButton =
        new QPushButton(QCoreApplication::translate("SearchPivotrixDevicePage", "Scan for devices"), this);
    m_scanButton->setObjectName(QStringLiteral("ScanButton"));
    m_scanButton->setMinimumHeight(36);
    m_scanButton->setFont(pointFont(font(), 13));
    buttons->addWidget(m_scanButton, 1);
    m_addressEdit = new QLineEdit(this);
    m_addressEdit->setObjectName(QStringLiteral("addressEdit"));
    m_addressEdit->setMinimumHeight(36);
    m_addressEdit->setFont(pointFont(font(), 13));
    m_addressEdit->setPlaceholderText(
        QCoreApplication::translate("SearchPivotrixDevicePage", "IP address or host name"));
    m_addressEdit->setAccessibleName(m_addressEdit->placeholderText());
    m_addressEdit->setMaxLength(255);
    buttons->addWidget(m_addressEdit, 1);
    m_addButton =
        new QPushButton(QCoreApplication::translate("SearchPivotrixDevicePage", "Add by address"), this);
    m_addButton->setObjectName(QStringLiteral("AddAddressButton"));
    m_addButton->setMinimumHeight(36);
    m_addButton->setFont(pointFont(font(), 13));
    buttons->addWidget(m_addButton);
    layout->addLayout(buttons);
}

void SearchPivotrixDevicesPage::setStatus(const QString& text)
{
    m_statusLabel->setText(text);
    m_statusLabel->setVisible(!text.isEmpty());
}

void SearchPivotrixDevicesPage::setScanPeriod(int ms)
{
    m_scanTimer->setInterval(ms);
}

void SearchPivotrixDevicesPage::onScanButton_clicked()
{
    // A second scan beside the first would only double the traffic and the replies.
    if (m_currentScan) {
        qCDebug(lcPivotrix) << "scan already running";
        return;
    }
    qRegisterMetaType<PivotrixBSS>("PivotrixBSS");
    auto* scan = new PivotrixScanningThread();
    scan->setSilenceTimeout(m_scanSilenceMs);
    connect(scan, &PivotrixScanningThread::DeviceFound, this, &SearchPivotrixDevicesPage::on_DeviceFound);
    connect(scan, &QThread::finished, this, &SearchPivotrixDevicesPage::scanEnded);
    connect(scan, &QThread::finished, scan, &QObject::deleteLater);
    m_scans.removeAll(nullptr);
    m_scans.append(scan);
    m_currentScan = scan;
    m_newThisScan.clear();
    m_scanButton->setEnabled(false);
    setStatus(QCoreApplication::translate("SearchPivotrixDevicePage", "Scanning for Pivotrix devices..."));
    scan->start(QThread::InheritPriority);
    m_scanTimer->start();
    m_loadingMovie->start();
    reviewVisibility();
}

void SearchPivotrixDevicesPage::scanEnded()
{
    m_currentScan = nullptr;
    m_scanButton->setEnabled(true);
    if (m_newThisScan.isEmpty())
        setStatus(QCoreApplication::translate(
            "SearchPivotrixDevicePage",
            "No new Pivotrix device found. Make sure it is on the same network as this PC and that "
            "multicast (UDP port 5353) is not blocked, or add it by its address."));
    else
        setStatus(QCoreApplication::translate("SearchPivotrixDevicePage", "%n new Pivotrix device(s) found.",
                                              nullptr, m_newThisScan.size()));
}

void SearchPivotrixDevicesPage::on_DeviceFound(PivotrixBSS device)
{
    if (device.model != QLatin1String("px3"))
        return;
    qCDebug(lcPivotrix) << "Device found" << device.address << device.name;
    // A panel paired by its address alone keeps the record it got then; its own id is only news.
    const QString pairedId = isRegistered(device.id) ? QString() : pairedByAddress(device.address);
    if (!pairedId.isEmpty()) {
        qCDebug(lcPivotrix) << "paired by address as" << pairedId;
        return;
    }
    if (qobject_cast<PivotrixScanningThread*>(sender()) && !isRegistered(device.id))
        m_newThisScan.insert(device.id);
    removeEntry(QStringLiteral("address:") + normalHost(device.address));
    auto known = m_discovered.find(device.id);
    if (known != m_discovered.end()) {
        known->address = device.address;
        known->name = device.name;
        known->port = device.port;
        known->model = device.model;
        known->id = device.id;
        return;
    }
    m_discovered.insert(device.id, device);
    // Only the new row: rebuilding the list for every report would grow with the square of the panels.
    if (SearchDeviceEntry* entry = m_entries.value(device.id)) {
        entry->setNameLabel(device.name);
        entry->setAddressLabel(device.address);
    } else if (!isRegistered(device.id)) {
        appendDiscovered(device);
    } else {
        // A paired panel whose record was too thin to list: the report completes it.
        reloadList();
        return;
    }
    reviewVisibility();
}

QString SearchPivotrixDevicesPage::rowMessage(const QString& lastError)
{
    // Qt's own text for a 401: the panel no longer takes the key it gave us (it was reset or paired
    // elsewhere), and only a new pairing helps.
    if (lastError == QCoreApplication::translate("QHttp", "Host requires authentication"))
        return QCoreApplication::translate(
            "SearchDeviceEntry", "The panel no longer accepts its key: unpair it and pair it again");
    return lastError;
}

bool SearchPivotrixDevicesPage::isRegistered(const QString& id) const
{
    const QList<PivotrixDeviceController*> devices = ResourceManager::instance()->devices();
    return std::any_of(devices.cbegin(), devices.cend(),
                       [&id](const PivotrixDeviceController* dev) { return dev->deviceId() == id; });
}

void SearchPivotrixDevicesPage::appendDiscovered(const PivotrixBSS& record)
{
    auto* entry = new SearchDeviceEntry(record, QString());
    connect(entry, &SearchDeviceEntry::forgetPressed, this, &SearchPivotrixDevicesPage::forgetDevice);
    connect(entry, &SearchDeviceEntry::deviceAdded, this, &SearchPivotrixDevicesPage::addDeviceTracking);
    appendEntry(entry);
    m_devicesEntryList->show();
}

void SearchPivotrixDevicesPage::reloadList()
{
    ResourceManager* registry = ResourceManager::instance();
    for (PivotrixDeviceController* dev : registry->devices()) {
        if (m_entries.contains(dev->deviceId())) {
            qCDebug(lcPivotrix) << "selected";
            continue;
        }
        PivotrixBSS record;
        record.name = dev->name();
        record.port = dev->port();
        record.model = dev->model();
        record.address = dev->address();
        record.id = dev->deviceId();
        record.ssFlag = 1;
        // The panel's own reply can blank its name: what a scan found fills the gaps, so a paired panel
        // keeps its paired row and is never offered for pairing again.
        const PivotrixBSS found = m_discovered.value(record.id);
        if (record.name.isEmpty())
            record.name = found.name;
        if (record.model.isEmpty())
            record.model = found.model;
        if (record.address.isEmpty())
            record.address = found.address;
        if (record.port == 0)
            record.port = found.port;
        if (!record.isComplete())
            continue;
        auto* entry = new SearchDeviceEntry(record, dev->apiKey());
        entry->setMessage(rowMessage(dev->lastError()));
        connect(entry, &SearchDeviceEntry::forgetPressed, this, &SearchPivotrixDevicesPage::forgetDevice);
        connect(entry, &SearchDeviceEntry::deviceAdded, this, &SearchPivotrixDevicesPage::addDeviceTracking);
        appendEntry(entry);
        connect(dev, &PivotrixDeviceController::onlineChanged, this,
                &SearchPivotrixDevicesPage::onDeviceOnline, Qt::UniqueConnection);
    }
    for (const PivotrixBSS& record : qAsConst(m_discovered)) {
        if (SearchDeviceEntry* entry = m_entries.value(record.id)) {
            entry->setNameLabel(record.name);
            entry->setAddressLabel(record.address);
            continue;
        }
        if (!isRegistered(record.id) && pairedByAddress(record.address).isEmpty())
            appendDiscovered(record);
    }
    for (const PivotrixBSS& record : qAsConst(m_unidentified)) {
        if (!m_entries.contains(record.id))
            appendUnidentified(record);
    }
    reviewVisibility();
}

void SearchPivotrixDevicesPage::onAddAddressButton_clicked()
{
    if (m_probe->state() != AddressProbe::Idle)
        return;
    QString error;
    const QString host = AddressProbe::parseInput(m_addressEdit->text(), &error);
    qCDebug(lcPivotrix) << "add by address" << host << error;
    if (host.isEmpty()) {
        setStatus(error);
        return;
    }
    if (const PivotrixDeviceController* dev = registeredAt(host)) {
        setStatus(QCoreApplication::translate("SearchPivotrixDevicePage", "%1 is already paired as \"%2\".")
                      .arg(host, dev->name()));
        return;
    }
    m_addButton->setEnabled(false);
    setStatus(
        QCoreApplication::translate("SearchPivotrixDevicePage", "Looking for a Pivotrix device at %1...")
            .arg(host));
    m_probe->start(host);
}

void SearchPivotrixDevicesPage::onAddressIdentified(const PivotrixBSS& device)
{
    m_addButton->setEnabled(true);
    const PivotrixDeviceController* dev = registeredAt(device.address);
    for (const PivotrixDeviceController* each : ResourceManager::instance()->devices()) {
        if (each->deviceId() == device.id)
            dev = each;
    }
    if (dev) {
        setStatus(QCoreApplication::translate("SearchPivotrixDevicePage", "%1 is already paired as \"%2\".")
                      .arg(device.address, dev->name()));
        return;
    }
    on_DeviceFound(device);
    setStatus(QCoreApplication::translate("SearchPivotrixDevicePage",
                                          "Found \"%1\" at %2. Press Pair on its row to pair it.")
                  .arg(device.name, device.address));
}

void SearchPivotrixDevicesPage::onAddressUnidentified(PivotrixBSS device)
{
    m_addButton->setEnabled(true);
    if (const PivotrixDeviceController* dev = registeredAt(device.address)) {
        setStatus(QCoreApplication::translate("SearchPivotrixDevicePage", "%1 is already paired as \"%2\".")
                      .arg(device.address, dev->name()));
        return;
    }
    device.id = QStringLiteral("address:") + normalHost(device.address);
    if (!m_entries.contains(device.id)) {
        m_unidentified.insert(device.id, device);
        appendUnidentified(device);
        reviewVisibility();
    }
    setStatus(QCoreApplication::translate(
                  "SearchPivotrixDevicePage",
                  "%1 answers but does not say which panel it is (its mDNS answer does not reach this PC). "
                  "Press Pair on its row: the panel is identified once it is paired.")
                  .arg(device.address));
}

void SearchPivotrixDevicesPage::appendUnidentified(const PivotrixBSS& device)
{
    auto* entry = new SearchDeviceEntry(device, QString());
    entry->setIdentifyOnPairing(true);
    connect(entry, &SearchDeviceEntry::forgetPressed, this, &SearchPivotrixDevicesPage::forgetDevice);
    connect(entry, &SearchDeviceEntry::deviceAdded, this, &SearchPivotrixDevicesPage::addDeviceTracking);
    appendEntry(entry);
}

void SearchPivotrixDevicesPage::removeEntry(const QString& key)
{
    m_unidentified.remove(key);
    SearchDeviceEntry* entry = m_entries.take(key);
    if (!entry)
        return;
    m_rows->removeWidget(entry);
    entry->hide();
    entry->deleteLater();
}

PivotrixDeviceController* SearchPivotrixDevicesPage::registeredAt(const QString& address) const
{
    const QString host = normalHost(address);
    for (PivotrixDeviceController* dev : ResourceManager::instance()->devices()) {
        if (normalHost(dev->address()) == host)
            return dev;
    }
    return nullptr;
}

QString SearchPivotrixDevicesPage::pairedByAddress(const QString& address) const
{
    const PivotrixDeviceController* dev = registeredAt(address);
    return dev && dev->deviceId().startsWith(QLatin1String(SearchDeviceEntry::kSerialIdPrefix))
               ? dev->deviceId()
               : QString();
}

void SearchPivotrixDevicesPage::appendEntry(SearchDeviceEntry* entry)
{
    entry->setAttribute(Qt::WA_StyledBackground, true);
    m_entries.insert(entry->device().id, entry);
    entry->setAccessibleName(entry->device().name);
    // Before the closing stretch.
    m_rows->insertWidget(m_rows->count() - 1, entry);
}

void SearchPivotrixDevicesPage::reviewVisibility()
{
    if (m_scanTimer->isActive()) {
        m_loading->show();
        m_devicesEntryList->hide();
        m_hintLabel->hide();
        return;
    }
    m_loading->hide();
    m_devicesEntryList->setVisible(!m_entries.isEmpty());
    m_hintLabel->setVisible(m_entries.isEmpty());
}

void SearchPivotrixDevicesPage::scanFinished()
{
    qCDebug(lcPivotrix) << "scan finished";
    m_loading->hide();
    m_loadingMovie->stop();
    reviewVisibility();
}

void SearchPivotrixDevicesPage::addDeviceTracking(QString devId)
{
    // A row paired by its address alone learnt its id only now.
    if (auto* entry = qobject_cast<SearchDeviceEntry*>(sender())) {
        const QString key = m_entries.key(entry);
        if (!key.isEmpty() && key != devId) {
            m_unidentified.remove(key);
            m_entries.remove(key);
            m_entries.insert(devId, entry);
        }
    }
    for (PivotrixDeviceController* dev : ResourceManager::instance()->devices()) {
        if (dev->deviceId() == devId)
            connect(dev, &PivotrixDeviceController::onlineChanged, this,
                    &SearchPivotrixDevicesPage::onDeviceOnline, Qt::UniqueConnection);
    }
}

void SearchPivotrixDevicesPage::onDeviceOnline(PivotrixController::NetworkState state)
{
    auto* dev = qobject_cast<PivotrixDeviceController*>(sender());
    // A controller already unpaired may still report once; its id may now belong to an unpaired row.
    if (!dev || dev->isRemoved())
        return;
    SearchDeviceEntry* entry = m_entries.value(dev->deviceId());
    qCDebug(lcPivotrix) << "search online changed" << dev->name() << dev->lastError();
    if (!entry)
        return;
    entry->setMessage(state == PivotrixController::Offline ? rowMessage(dev->lastError()) : QString());
}

void SearchPivotrixDevicesPage::forgetDevice()
{
    QString id;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (it.value() == sender())
            id = it.key();
    }
    if (!id.isEmpty())
        ResourceManager::instance()->removeDevice(id);
    // The sender is among the rows and its button's signal is still running: delete them later.
    for (SearchDeviceEntry* entry : qAsConst(m_entries)) {
        m_rows->removeWidget(entry);
        entry->hide();
        entry->deleteLater();
    }
    m_entries.clear();
    reloadList();
    qCDebug(lcPivotrix) << "forget here" << id;
}
