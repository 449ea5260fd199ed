#include "ui/DeviceListRazerPage.h"

#include "core/DiagnosticLog.h"
#include "core/ResourceManager.h"
#include "device/PivotrixDeviceController.h"
#include "effects/EffectGeneratorFadingPixel.h"
#include "effects/RazerIndexedColorProvider.h"
#include "effects/RazerSdkColorProvider.h"
#include "ui/RazerDevicePage.h"
#include "ui/RazerPageEntry.h"
#include "ui/RazerPreviewPage.h"

#include <QDebug>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
const QString kRazer = QStringLiteral("razer");
const QString kColorIndexes = QStringLiteral("color_indexes");
const QString kAngle = QStringLiteral("angle");
const QString kShowFadingPixels = QStringLiteral("show_fading_pixels");

RazerSdkColorProvider* razer()
{
    return RazerSdkColorProvider::instance();
}

int seasoningOf(const QVariantMap& razerMap)
{
    return razerMap.contains(kShowFadingPixels) ? razerMap.value(kShowFadingPixels).toInt()
                                                : int(FadingTriangles);
}

QList<int> toIntList(const QVariantList& list)
{
    QList<int> out;
    for (const QVariant& v : list)
        out << v.toInt();
    return out;
}
} // namespace

DeviceListRazerPage::DeviceListRazerPage(QWidget* parent)
    : DeviceListPage(parent)
{
    qRegisterMetaType<EffectDeviceSeasoning>("EffectDeviceSeasoning");
    qRegisterMetaType<QList<int>>("QList<int>");
    setWindowTitle(tr("Form"));
    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("gridLayout_2"));
    layout->setContentsMargins(11, 19, 12, 19);
    m_tabs = createDeviceTabs();
    m_tabs->setMinimumHeight(310);
    layout->addWidget(m_tabs);
    m_previewPage = new RazerPreviewPage(this);
    m_previewPage->setObjectName(QStringLiteral("previewPage"));
    layout->addWidget(m_previewPage);

    setPreviewWidget(m_previewPage);
    setSourceName(kRazer);
    connect(razer(), &RazerSdkColorProvider::colorsChanged, this,
            &DeviceListRazerPage::colorsProvidedChanged);
    connect(razer(), &RazerSdkColorProvider::availableChanged, this,
            &DeviceListRazerPage::razerAvailableChanged);
    for (int i = 0; i < 8; ++i)
        m_directionIndexes << i;
    connect(m_tabs, &QTabWidget::currentChanged, this, &DeviceListRazerPage::activeTabChanged);
    reloadList();
}

DeviceListRazerPage::~DeviceListRazerPage() = default;

QWidget* DeviceListRazerPage::createDevicePage(PivotrixDeviceController* controller, QWidget* parent)
{
    Q_UNUSED(controller)
    auto* page = new RazerDevicePage(parent);
    page->showColors(razer()->colors());
    QStringList directions;
    for (int index : qAsConst(m_directionIndexes))
        directions << directionLabel(index);
    page->setDirectionItems(directions);

    QSharedPointer<RazerIndexedColorProvider> provider(new RazerIndexedColorProvider(razer()),
                                                       &QObject::deleteLater);
    QSharedPointer<EffectGeneratorFadingPixel> generator(new EffectGeneratorFadingPixel(),
                                                         &QObject::deleteLater);
    generator->setColorProvider(provider);
    m_entries.insert(page, QSharedPointer<RazerPageEntry>::create(generator, provider));

    connect(page, &RazerDevicePage::streamToggleChanged, this, &DeviceListRazerPage::togleStream);
    connect(page, &RazerDevicePage::colorSelectionChanged, this,
            &DeviceListRazerPage::colorSelectionChangedSlot);
    connect(page, &RazerDevicePage::gradientDirectionChanged, this,
            &DeviceListRazerPage::gradientDirectionChanged);
    connect(page, &RazerDevicePage::seasoningChanged, this, &DeviceListRazerPage::seasoningChanged);
    return page;
}

void DeviceListRazerPage::removeDevicePage(QWidget* page, PivotrixDeviceController* controller)
{
    Q_UNUSED(controller)
    m_entries.remove(page);
}

void DeviceListRazerPage::updatePageWithSettingsMap(QWidget* page, QVariantMap deviceMap)
{
    auto* razerPage = qobject_cast<RazerDevicePage*>(page);
    if (!razerPage)
        return;
    qCDebug(lcPivotrix) << "updated page  " << page;
    const QVariantMap razerMap = deviceMap.value(kRazer).toMap();
    const QList<int> indexes = toIntList(razerMap.value(kColorIndexes).toList());
    const int direction = razerMap.value(kAngle).toInt();
    const int position = m_directionIndexes.indexOf(direction);
    const int degrees = directionAngle(direction);
    const int effect = seasoningOf(razerMap);

    razerPage->setSelectedColorIndexes(indexes);
    razerPage->setEffect(effect);
    razerPage->setDirectionIndex(position);
    const bool streaming = deviceMap.value(QStringLiteral("stream_enabled")).toBool() &&
                           deviceMap.value(QStringLiteral("stream_source")).toString() == kRazer &&
                           razer()->isAvailable();
    razerPage->setStreamEnabled(streaming);

    const QSharedPointer<RazerPageEntry> pageEntry = m_entries.value(page);
    if (!pageEntry) {
        qCDebug(lcPivotrix) << "invalid settings in page";
        return;
    }
    pageEntry->generator()->setAngle(degrees);
    pageEntry->generator()->setShowFadingPixels(false);

    PivotrixDeviceController* controller = pageControllers().value(page, nullptr);
    if (!controller)
        return;
    if (streaming) {
        reviewStreamParams(controller, deviceMap);
        controller->setEffectGenerator(pageEntry->generator());
    }
    QMetaObject::invokeMethod(pageEntry->provider().data(), "updateIndexes", Qt::AutoConnection,
                              Q_ARG(QList<int>, indexes));
}

void DeviceListRazerPage::reviewStreamParams(PivotrixDeviceController* dev, QVariantMap deviceMap)
{
    const int effect = seasoningOf(deviceMap.value(kRazer).toMap());
    applySeasoning(dev, effect);
}

bool DeviceListRazerPage::shouldRestartDeviceStream(PivotrixDeviceController* controller)
{
    return DeviceListPage::shouldRestartDeviceStream(controller) && razer()->isAvailable();
}

void DeviceListRazerPage::reviewPreviewPage()
{
    const bool hasDevices = !pageControllers().isEmpty();
    if (!hasDevices)
        m_previewPage->setState(RazerPreviewPage::NoDevice);
    if (!razer()->isInitialized()) {
        m_previewPage->setState(RazerPreviewPage::SdkMissing);
        m_previewPage->show();
        m_tabs->hide();
    } else if (!razer()->isAvailable()) {
        m_previewPage->setState(RazerPreviewPage::BroadcastNotLive);
        m_previewPage->show();
        m_tabs->hide();
    } else if (hasDevices) {
        m_previewPage->hide();
        m_tabs->show();
    } else {
        m_previewPage->setState(RazerPreviewPage::NoDevice);
        m_previewPage->show();
        m_tabs->hide();
    }
}

void DeviceListRazerPage::saveRazerSetting(QObject* page, const QString& key, const QVariant& value)
{
    PivotrixDeviceController* controller = pageControllers().value(qobject_cast<QWidget*>(page), nullptr);
    if (!controller)
        return;
    ResourceManager* registry = ResourceManager::instance();
    QVariantMap record = registry->deviceSettings(controller->deviceId());
    if (record.isEmpty()) {
        qCDebug(lcPivotrix) << "no device settings";
        return;
    }
    QVariantMap razerMap = record.value(kRazer).toMap();
    razerMap.insert(key, value);
    record.insert(kRazer, razerMap);
    registry->setDeviceSettings(controller->deviceId(), record);
}

void DeviceListRazerPage::colorSelectionChangedSlot()
{
    qCDebug(lcPivotrix) << "color selection chenged ";
    auto* page = qobject_cast<RazerDevicePage*>(sender());
    if (!page)
        return;
    QVariantList indexes;
    for (int index : page->selectedColorIndexes())
        indexes << index;
    saveRazerSetting(page, kColorIndexes, indexes);
}

void DeviceListRazerPage::gradientDirectionChanged(int idx)
{
    auto* page = qobject_cast<RazerDevicePage*>(sender());
    if (!page)
        return;
    if (idx < 0 || idx >= m_directionIndexes.size()) {
        qCDebug(lcPivotrix) << "invalid direction";
        return;
    }
    saveRazerSetting(page, kAngle, m_directionIndexes.at(idx));
}

void DeviceListRazerPage::seasoningChanged(EffectDeviceSeasoning value)
{
    auto* page = qobject_cast<RazerDevicePage*>(sender());
    if (!page)
        return;
    saveRazerSetting(page, kShowFadingPixels, int(value));
}

void DeviceListRazerPage::colorsProvidedChanged()
{
    const QList<QColor> colors = razer()->colors();
    const QList<QWidget*> pages = pageControllers().keys();
    for (QWidget* page : pages) {
        if (auto* razerPage = qobject_cast<RazerDevicePage*>(page))
            razerPage->showColors(colors);
    }
}

void DeviceListRazerPage::razerAvailableChanged(bool available)
{
    reviewPreviewPage();
    if (!available)
        return;
    const QMap<QWidget*, PivotrixDeviceController*> pages = pageControllers();
    for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
        if (!it.value())
            break;
        updatePageWithSettingsMap(it.key(),
                                  ResourceManager::instance()->deviceSettings(it.value()->deviceId()));
        // Re-applying the record only opens a session with new parameters; a device the broadcast was
        // waiting for needs its stream and our frame timer started, even when the panel still reports a
        // session of an earlier run.
        PivotrixDeviceController* controller = it.value();
        if (shouldRestartDeviceStream(controller) &&
            !(controller->isSendingFrames() && controller->isStreaming()))
            startDeviceStream(controller);
    }
}
