#pragma once

#include "device/PivotrixController.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QVariantMap>
#include <QWidget>

class PivotrixDeviceController;
class QTabWidget;

// One source tab: a vertical tab per online device, a placeholder when there is nothing to control, and
// the rules that start, stop and restart a device's stream on behalf of this tab's source. Subclasses
// build the per-device pages and add the source's own parts.
class DeviceListPage : public QWidget
{
    Q_OBJECT
public:
    explicit DeviceListPage(QWidget* parent = nullptr);
    ~DeviceListPage() override;

    // Brings the tabs in line with the registry: pages of devices gone offline go, new online ones come.
    void reloadList();

    QMap<QWidget*, PivotrixDeviceController*> pageControllers() const { return m_pageControllers; }
    // The first page mapped to the controller, or null.
    QWidget* pageForController(const PivotrixDeviceController* controller) const;
    QTabWidget* tabWidget() const { return m_tabWidget; }
    QWidget* previewWidget() const { return m_previewWidget; }
    QString sourceName() const { return m_sourceName; }
    // What a click on the device's stream switch on this tab does; false when the tab has no page for the
    // device (it is offline) and nothing was done.
    bool switchStream(PivotrixDeviceController* controller, bool enabled);

signals:
    void deviceSelected(PivotrixDeviceController* controller);

protected:
    void setTabWidget(QTabWidget* tabWidget) { m_tabWidget = tabWidget; }
    // The vertical device tabs both source tabs show, styled alike; becomes this page's tab widget.
    QTabWidget* createDeviceTabs();
    void setPreviewWidget(QWidget* previewWidget) { m_previewWidget = previewWidget; }
    void setSourceName(const QString& name) { m_sourceName = name; }

    // `parent` is where the tab widget keeps its pages: a page built there is styled once, where one
    // moved in after it was built is styled again under the tabs' style sheet (combo boxes then make
    // their popup lists, and so on).
    virtual QWidget* createDevicePage(PivotrixDeviceController* controller, QWidget* parent) = 0;
    virtual void removeDevicePage(QWidget* page, PivotrixDeviceController* controller) = 0;

    // Every start and stop of this tab goes through these, so that a stop of ours is told apart from
    // a panel leaving streaming on its own.
    void startDeviceStream(PivotrixDeviceController* controller);
    // Hands the panel's own effect for a seasoning to the stream parameters and re-applies them.
    static void applySeasoning(PivotrixDeviceController* controller, int seasoning);
    void stopDeviceStream(PivotrixDeviceController* controller);

protected slots:
    virtual void settingsChanged();
    virtual void updatePageWithSettingsMap(QWidget* page, QVariantMap entry);
    void deviceEntryOnlineChanged(PivotrixController::NetworkState state);
    void deviceStreamEnabledChanged(PivotrixController::StreamingState steamState);
    void togleStream(bool enabled);
    void deviceRemoved(PivotrixDeviceController* dev);
    void sessionStateChanged(int state);
    virtual bool shouldRestartDeviceStream(PivotrixDeviceController* controller);
    virtual void activeTabChanged(int idx);
    virtual void reviewPreviewPage() = 0;
    virtual void reviewStreamParams(PivotrixDeviceController* dev, QVariantMap deviceMap) = 0;

public slots:
    void selectDevice(PivotrixDeviceController* controller);

private:
    static bool sessionLocked();
    void forgetController(PivotrixDeviceController* controller);
    void applyStreamSwitch(PivotrixDeviceController* controller, bool enabled);
    QWidget* pageParent() const;

    QMap<QWidget*, PivotrixDeviceController*> m_pageControllers;
    QTabWidget* m_tabWidget = nullptr;
    QWidget* m_previewWidget = nullptr;
    QString m_sourceName;
    int m_activeTab = -1;
    // The last streaming state each device reported to this tab.
    QHash<PivotrixDeviceController*, PivotrixController::StreamingState> m_lastStreamingState;
};
