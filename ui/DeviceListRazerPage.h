#pragma once

#include "effects/EffectDeviceSeasoning.h"
#include "ui/DeviceListPage.h"

#include <QList>
#include <QMap>
#include <QSharedPointer>

class RazerPageEntry;
class RazerPreviewPage;

// The "Razer Chroma" tab: per online device, which broadcast colours go to the panel, in which band
// direction and with which of the panel's own effects.
class DeviceListRazerPage : public DeviceListPage
{
    Q_OBJECT
public:
    explicit DeviceListRazerPage(QWidget* parent = nullptr);
    ~DeviceListRazerPage() override;

    RazerPreviewPage* previewPage() const { return m_previewPage; }
    QSharedPointer<RazerPageEntry> entry(QWidget* page) const { return m_entries.value(page); }

protected:
    QWidget* createDevicePage(PivotrixDeviceController* controller, QWidget* parent) override;
    void removeDevicePage(QWidget* page, PivotrixDeviceController* controller) override;

protected slots:
    void updatePageWithSettingsMap(QWidget* page, QVariantMap deviceMap) override;
    void reviewPreviewPage() override;

private slots:
    void gradientDirectionChanged(int);
    void colorSelectionChangedSlot();
    void colorsProvidedChanged();
    void seasoningChanged(EffectDeviceSeasoning);
    void razerAvailableChanged(bool available);

protected slots:
    bool shouldRestartDeviceStream(PivotrixDeviceController* controller) override;
    void reviewStreamParams(PivotrixDeviceController* dev, QVariantMap deviceMap) override;

private:
    void saveRazerSetting(QObject* page, const QString& key, const QVariant& value);

    QTabWidget* m_tabs = nullptr;
    RazerPreviewPage* m_previewPage = nullptr;
    QMap<QWidget*, QSharedPointer<RazerPageEntry>> m_entries;
    QList<int> m_directionIndexes;
};
