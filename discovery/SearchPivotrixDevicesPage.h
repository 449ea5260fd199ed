#pragma once

#include "device/PivotrixController.h"
#include "discovery/PivotrixBSS.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QWidget>

class PivotrixScanningThread;
class QLabel;
class QListWidget;
class QMovie;
class QPushButton;
class QTimer;
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

    // Tests shorten the visible scan period.
    void setScanPeriod(int ms);

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

private:
    void setupForm();
    void appendEntry(SearchDeviceEntry* entry);
    void appendDiscovered(const PivotrixBSS& record);
    bool isRegistered(const QString& id) const;

    QMap<QString, SearchDeviceEntry*> m_entries;
    QMap<QString, PivotrixBSS> m_discovered;
    QTimer* m_scanTimer = nullptr;
    QMovie* m_loadingMovie = nullptr;
    QList<QPointer<PivotrixScanningThread>> m_scans;

    QWidget* m_listGroup = nullptr;
    QListWidget* m_devicesEntryList = nullptr;
    QLabel* m_hintLabel = nullptr;
    QLabel* m_loading = nullptr;
    QPushButton* m_scanButton = nullptr;
};
