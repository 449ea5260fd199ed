#pragma once

#include "effects/EffectDeviceSeasoning.h"
#include "effects/ScreenMirrorModes.h"
#include "ui/DeviceListPage.h"

#include <QMap>
#include <QSharedPointer>

class ScreenMirrorDevicePage;
class ScreenMirrorPipeline;
class ScreenMirrorPreview;

// The "Screen Mirror" tab: per online device, which monitor is mirrored onto the panel and how. A device's
// capture and effect pipeline exists while its record says it streams from this tab.
class DeviceListScreenMirrorPage : public DeviceListPage
{
    Q_OBJECT
public:
    explicit DeviceListScreenMirrorPage(QWidget* parent = nullptr);
    ~DeviceListScreenMirrorPage() override;

    ScreenMirrorPreview* previewPage() const { return m_previewPage; }
    QSharedPointer<ScreenMirrorPipeline> pipeline(QWidget* page) const;
    // The choices of the device's mode and colour combos, also for a device without a page here.
    void chooseMode(PivotrixDeviceController* controller, EffecType mode);
    void chooseColorMode(PivotrixDeviceController* controller, ColorMode mode);

protected:
    QWidget* createDevicePage(PivotrixDeviceController* controller, QWidget* parent) override;
    void removeDevicePage(QWidget* page, PivotrixDeviceController* controller) override;

protected slots:
    void updatePageWithSettingsMap(QWidget* page, QVariantMap entry) override;
    void reviewPreviewPage() override;
    void reviewStreamParams(PivotrixDeviceController* dev, QVariantMap deviceMap) override;

private slots:
    void selectedMonitorChanged(int idx);
    void selectedModeChanged(EffecType idx);
    void locationChanged(EffectDeviceLocation idx);
    void seasoningChanged(EffectDeviceSeasoning idx);
    void colorModeChanged(ColorMode mode);
    void userDisabledScreenGrab();

private:
    // The device of the page that sent the signal, or null.
    PivotrixDeviceController* senderController() const;
    void storeSetting(PivotrixDeviceController* controller, const QString& key, int value,
                      const char* noSettings, const char* unchanged);

    QTabWidget* m_tabs = nullptr;
    ScreenMirrorPreview* m_previewPage = nullptr;
    QMap<ScreenMirrorDevicePage*, QSharedPointer<ScreenMirrorPipeline>> m_pipelines;
};
