#pragma once

#include "device/PivotrixController.h"
#include "discovery/PivotrixBSS.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QWidget>

class AddressProbe;
class PivotrixDeviceController;
class PivotrixScanningThread;
class QLabel;
class QLineEdit;
class QMovie;
class QPushButton;
class QScrollArea;
class QTimer;
class QVBoxLayout;
class SearchDeviceEntry;

// The "Pivotrix Devices" tab: paired panels and panels found by scans, one row per device id.
class SearchPivotrixDevicesPage : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kDefaultScanPeriodMs = 5000;
    // How long closing waits for a scan still listening.
    static constexpr int kScanWaitMs = 6000;

    explicit SearchPivotrixDevicesPage(QWidget* parent = nullptr);
    ~SearchPivotrixDevicesPage() override;

    // What a paired row says about its device's last failed request.
    static QString rowMessage(const QString& lastError);

    // Tests shorten the visible scan period and the silence that ends a scan.
    void setScanPeriod(int ms);
    void setScanSilence(int ms) { m_scanSilenceMs = ms; }
    AddressProbe* addressProbe() const { return m_probe; }

    SearchDeviceEntry* entry(const QString& id) const { return m_entries.value(id); }
    QList<QString> entryIds() const { return m_entries.keys(); }

public slots:
    void onScanButton_clicked();
    void on_DeviceFound(PivotrixBSS device);
    void onDeviceOnline(PivotrixController::NetworkState state);
    void forgetDevice();
    void addDeviceTracking(QString devId);
    void reloadList();
    void scanFinished();
    void reviewVisibility();
    void onAddAddressButton_clicked();

private:
    void scanEnded();
    void setStatus(const QString& text);
    void onAddressIdentified(const PivotrixBSS& device);
    void onAddressUnidentified(PivotrixBSS device);
    void appendUnidentified(const PivotrixBSS& device);
    void removeEntry(const QString& key);
    // The paired device reached at `address`, or null.
    PivotrixDeviceController* registeredAt(const QString& address) const;
    // A record paired by its address alone, at `address`: a scan's report from there is that panel.
    QString pairedByAddress(const QString& address) const;
    void setupForm();
    void appendEntry(SearchDeviceEntry* entry);
    void appendDiscovered(const PivotrixBSS& record);
    bool isRegistered(const QString& id) const;

    QMap<QString, SearchDeviceEntry*> m_entries;
    QMap<QString, PivotrixBSS> m_discovered;
    QTimer* m_scanTimer = nullptr;
    QMovie* m_loadingMovie = nullptr;
    QList<QPointer<PivotrixScanningThread>> m_scans;
    QPointer<PivotrixScanningThread> m_currentScan;
    int m_scanSilenceMs;
    // Ids an unpaired panel reported during the current scan.
    QSet<QString> m_newThisScan;
    AddressProbe* m_probe = nullptr;
    // Rows for addresses that answered without telling which panel they are, keyed "address:<host>".
    QMap<QString, PivotrixBSS> m_unidentified;

    QWidget* m_listGroup = nullptr;
    // Rows are plain child widgets, not a list view's items: screen readers reach their texts and buttons.
    QScrollArea* m_devicesEntryList = nullptr;
    QVBoxLayout* m_rows = nullptr;
    QLabel* m_hintLabel = nullptr;
    QLabel* m_loading = nullptr;
    QPushButton* m_scanButton = nullptr;
    QLabel* m_statusLabel = nullptr;
    QLineEdit* m_addressEdit = nullptr;
    QPushButton* m_addButton = nullptr;
};
