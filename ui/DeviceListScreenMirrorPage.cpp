#include "ui/DeviceListScreenMirrorPage.h"

#include "capture/GrabManager.h"
#include "core/DiagnosticLog.h"
#include "core/ResourceManager.h"
#include "device/PivotrixDeviceController.h"
#include "effects/EffectGenerator.h"
#include "effects/ScreenMirrorPipeline.h"
#include "ui/ScreenMirrorDevicePage.h"
#include "ui/ScreenMirrorPreview.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QTabWidget>

namespace {
const QString kMirror = QStringLiteral("mirror");
const QString kScreenMirror = QStringLiteral("screen_mirror");

ResourceManager* registry()
{
    return ResourceManager::instance();
}
} // namespace

DeviceListScreenMirrorPage::DeviceListScreenMirrorPage(QWidget* parent)
    : DeviceListPage(parent)
{
    qRegisterMetaType<EffecType>("EffecType");
    qRegisterMetaType<EffectDeviceLocation>("EffectDeviceLocation");
    qRegisterMetaType<EffectDeviceSeasoning>("EffectDeviceSeasoning");
    qRegisterMetaType<ColorMode>("ColorMode");

    setObjectName(QStringLiteral("DeviceListScreenMirrorPage"));
    resize(400, 348);
    setWindowTitle(tr("Form"));
    auto* layout = new QHBoxLayout(this);
    layout->setObjectName(QStringLiteral("gridLayout_2"));
    layout->setContentsMargins(11, 19, 12, 19);
    m_tabs = createDeviceTabs();
    layout->addWidget(m_tabs);
    m_previewPage = new ScreenMirrorPreview(this);
    m_previewPage->setObjectName(QStringLiteral("previewPage"));
    layout->addWidget(m_previewPage);

    setPreviewWidget(m_previewPage);
    setSourceName(kMirror);
    connect(m_tabs, &QTabWidget::currentChanged, this, &DeviceListScreenMirrorPage::activeTabChanged);
    reloadList();
    if (GrabManager* grab = registry()->grabManager())
        connect(grab, SIGNAL(userDisabledGrab()), this, SLOT(userDisabledScreenGrab()));
}

DeviceListScreenMirrorPage::~DeviceListScreenMirrorPage() = default;

QSharedPointer<ScreenMirrorPipeline> DeviceListScreenMirrorPage::pipeline(QWidget* page) const
{
    return m_pipelines.value(qobject_cast<ScreenMirrorDevicePage*>(page));
}

QWidget* DeviceListScreenMirrorPage::createDevicePage(PivotrixDeviceController* controller, QWidget* parent)
{
    Q_UNUSED(controller)
    qCDebug(lcPivotrix) << "create page DeviceListScreenMirrorPage";
    auto* page = new ScreenMirrorDevicePage(parent);
    connect(page, &ScreenMirrorDevicePage::streamToggleChanged, this,
            &DeviceListScreenMirrorPage::togleStream);
    connect(page, &ScreenMirrorDevicePage::screenIdxChanged, this,
            &DeviceListScreenMirrorPage::selectedMonitorChanged);
    connect(page, &ScreenMirrorDevicePage::effectTypeChanged, this,
            &DeviceListScreenMirrorPage::selectedModeChanged);
    connect(page, &ScreenMirrorDevicePage::deviceLocationChanged, this,
            &DeviceListScreenMirrorPage::locationChanged);
    connect(page, &ScreenMirrorDevicePage::deviceSeasoningChanged, this,
            &DeviceListScreenMirrorPage::seasoningChanged);
    connect(page, &ScreenMirrorDevicePage::colorModeChanged, this,
            &DeviceListScreenMirrorPage::colorModeChanged);
    m_pipelines.insert(page, QSharedPointer<ScreenMirrorPipeline>::create(registry()->grabManager()));
    return page;
}

void DeviceListScreenMirrorPage::removeDevicePage(QWidget* page, PivotrixDeviceController* controller)
{
    Q_UNUSED(controller)
    // The pipeline takes its processors off the capture worker as it goes.
    m_pipelines.remove(qobject_cast<ScreenMirrorDevicePage*>(page));
}

void DeviceListScreenMirrorPage::updatePageWithSettingsMap(QWidget* page, QVariantMap entry)
{
    auto* mirrorPage = qobject_cast<ScreenMirrorDevicePage*>(page);
    if (!mirrorPage)
        return;
    const bool streaming = entry.value(QStringLiteral("stream_enabled")).toBool() &&
                           entry.value(QStringLiteral("stream_source")).toString() == kMirror;
    mirrorPage->setStreamEnabled(streaming);

    const QSharedPointer<ScreenMirrorPipeline> pipe = m_pipelines.value(mirrorPage);
    if (!pipe) {
        qCDebug(lcPivotrix) << page << "invalid settings in page";
        return;
    }
    const ScreenMirrorSettings s = ScreenMirrorSettings::fromMap(entry.value(kScreenMirror).toMap());
    PivotrixDeviceController* controller = pageControllers().value(page, nullptr);
    if (!controller)
        return;
    mirrorPage->setMonitor(s.monitor);
    mirrorPage->setMode(s.mode);
    mirrorPage->setLocation(s.location);
    mirrorPage->setSeasoning(s.seasoning);
    mirrorPage->setColorMode(s.colorMode);

    if (!streaming) {
        pipe->tearDown();
        return;
    }
    // Any settings save refreshes every page; only a change of this device's choices rebuilds.
    if (!pipe->isBuiltFor(s))
        pipe->rebuild(s);
    reviewStreamParams(controller, entry);
    // Its frames follow the capture, so that a new picture goes out as soon as it is made.
    controller->setEffectGenerator(pipe->generator(), registry()->grabManager());
}

void DeviceListScreenMirrorPage::reviewStreamParams(PivotrixDeviceController* dev, QVariantMap deviceMap)
{
    const int effect = ScreenMirrorSettings::fromMap(deviceMap.value(kScreenMirror).toMap()).seasoning;
    applySeasoning(dev, effect);
}

void DeviceListScreenMirrorPage::reviewPreviewPage()
{
    const bool hasDevices = !pageControllers().isEmpty();
    m_previewPage->setVisible(!hasDevices);
    m_tabs->setVisible(hasDevices);
}

PivotrixDeviceController* DeviceListScreenMirrorPage::senderController() const
{
    auto* page = qobject_cast<ScreenMirrorDevicePage*>(sender());
    return page ? pageControllers().value(page, nullptr) : nullptr;
}

void DeviceListScreenMirrorPage::storeSetting(PivotrixDeviceController* controller, const QString& key,
                                              int value, const char* noSettings, const char* unchanged)
{
    if (!controller)
        return;
    QVariantMap record = registry()->deviceSettings(controller->deviceId());
    if (record.isEmpty()) {
        qCDebug(lcPivotrix) << noSettings;
        return;
    }
    QVariantMap mirror = record.value(kScreenMirror).toMap();
    if (mirror.contains(key) && mirror.value(key).toInt() == value) {
        if (unchanged)
            qCDebug(lcPivotrix) << unchanged;
        return;
    }
    mirror.insert(key, value);
    record.insert(kScreenMirror, mirror);
    registry()->setDeviceSettings(controller->deviceId(), record);
}

void DeviceListScreenMirrorPage::selectedMonitorChanged(int idx)
{
    storeSetting(senderController(), QStringLiteral("monitor_idx"), idx, "no device settings", nullptr);
}

void DeviceListScreenMirrorPage::selectedModeChanged(EffecType idx)
{
    chooseMode(senderController(), idx);
}

void DeviceListScreenMirrorPage::locationChanged(EffectDeviceLocation idx)
{
    storeSetting(senderController(), QStringLiteral("device_location"), idx, "invalid controller",
                 "same mode");
}

void DeviceListScreenMirrorPage::seasoningChanged(EffectDeviceSeasoning idx)
{
    storeSetting(senderController(), QStringLiteral("effect_type"), idx, "invalid controller",
                 "same seasoning");
}

void DeviceListScreenMirrorPage::colorModeChanged(ColorMode mode)
{
    chooseColorMode(senderController(), mode);
}

void DeviceListScreenMirrorPage::chooseMode(PivotrixDeviceController* controller, EffecType mode)
{
    storeSetting(controller, QStringLiteral("effect_mode"), mode, "invalid controller", "same mode");
}

void DeviceListScreenMirrorPage::chooseColorMode(PivotrixDeviceController* controller, ColorMode mode)
{
    storeSetting(controller, QStringLiteral("color_mode"), mode, "invalid controller", "same mode");
}

void DeviceListScreenMirrorPage::userDisabledScreenGrab()
{
    const QMap<QWidget*, PivotrixDeviceController*> pages = pageControllers();
    for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
        PivotrixDeviceController* controller = it.value();
        if (!controller)
            continue;
        QVariantMap record = registry()->deviceSettings(controller->deviceId());
        // Every panel switched to the mirror goes off, also one whose start is still unanswered; capture
        // going away is no reason to switch off a panel that another tab drives.
        if (!record.value(QStringLiteral("stream_enabled")).toBool() ||
            record.value(QStringLiteral("stream_source")).toString() != kMirror)
            continue;
        record.insert(QStringLiteral("stream_enabled"), false);
        registry()->setDeviceSettings(controller->deviceId(), record);
        stopDeviceStream(controller);
        updatePageWithSettingsMap(it.key(), record);
    }
}
