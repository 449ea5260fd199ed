#include "ui/DeviceListPage.h"

#include "capture/session/SystemSession.h"
#include "core/DiagnosticLog.h"
#include "core/ResourceManager.h"
#include "core/SettingsManager.h"
#include "device/PivotrixDeviceController.h"
#include "effects/EffectDeviceSeasoning.h"
#include "ui/RazerDeviceTabLabel.h"

#include <QDebug>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>

namespace {
const QString kTabStyle = QStringLiteral(
    "QTabBar::tab{ \n    border: 1px solid #CDCDCD;  \n\tborder-right-width: 0px;  "
    "\n\tbackground-color:white;\n"
    "\tborder-top-left-radius:8px;\n \tborder-bottom-left-radius:8px;\n\tborder-bottom-right-radius:0px;\n"
    "\tborder-top-right-radius:0px;\n} \nQTabBar::tab:selected{\n\tbackground-color:white\n}\n\n"
    "QTabBar::tab:!selected{\n\tbackground-color:#dadada;\n}\n\nQTabWidget::pane{\n\tborder-right: 0px;\n"
    "\tmargin-left: -1px;\n}\nQTabBar::tab::first{\n\tmargin-left:0px;\n}");
const QString kStreamEnabled = QStringLiteral("stream_enabled");
const QString kStreamSource = QStringLiteral("stream_source");

// Devices whose last stream request from any tab was a stop: a "standby" they report is our own doing,
// not the panel leaving streaming. Shared by both tabs; GUI thread only.
QSet<PivotrixDeviceController*>& stopsOutstanding()
{
    static QSet<PivotrixDeviceController*> stops;
    return stops;
}
} // namespace

DeviceListPage::DeviceListPage(QWidget* parent)
    : QWidget(parent)
{
    qRegisterMetaType<PivotrixDeviceController*>("PivotrixDeviceController*");
    PivotrixController::registerMetaTypes();
    ResourceManager* registry = ResourceManager::instance();
    connect(registry, &ResourceManager::deviceAdded, this, [this]() { reloadList(); });
    connect(registry, &ResourceManager::deviceRemoved, this, &DeviceListPage::deviceRemoved);
    connect(registry->settingsManager(), &SettingsManager::settingsChanged, this,
            &DeviceListPage::settingsChanged);
    connect(registry->systemSession(), &SystemSession::systemStateChanged, this,
            &DeviceListPage::sessionStateChanged);
}

DeviceListPage::~DeviceListPage() = default;

QWidget* DeviceListPage::pageForController(const PivotrixDeviceController* controller) const
{
    for (auto it = m_pageControllers.cbegin(); it != m_pageControllers.cend(); ++it) {
        if (it.value() == controller)
            return it.key();
    }
    return nullptr;
}

bool DeviceListPage::sessionLocked()
{
    return ResourceManager::instance()->systemSession()->isLocked();
}

void DeviceListPage::startDeviceStream(PivotrixDeviceController* controller)
{
    // The unlock starts what the record asks for.
    if (sessionLocked()) {
        qCDebug(lcPivotrix) << "no stream start while locked" << controller->deviceId();
        return;
    }
    stopsOutstanding().remove(controller);
    controller->startStream();
}

void DeviceListPage::stopDeviceStream(PivotrixDeviceController* controller)
{
    stopsOutstanding().insert(controller);
    controller->stopStream();
}

bool DeviceListPage::shouldRestartDeviceStream(PivotrixDeviceController* controller)
{
    if (!controller)
        return false;
    const QVariantMap record = ResourceManager::instance()->deviceSettings(controller->deviceId());
    const bool enabled = record.value(kStreamEnabled).toBool();
    const bool sameSource = record.value(kStreamSource).toString() == m_sourceName;
    const bool locked = sessionLocked();
    const bool online = controller->isOnline();
    if (online && enabled && sameSource && !locked) {
        qCDebug(lcPivotrix) << "restart stream " << controller->deviceId();
        return true;
    }
    qCDebug(lcPivotrix) << "not restart stream " << controller->deviceId() << online << enabled
                        << (sameSource ? "same sorce" : "not same sorce") << locked;
    return false;
}

void DeviceListPage::togleStream(bool enabled)
{
    qCDebug(lcPivotrix) << "togle state chenged " << enabled;
    auto* page = qobject_cast<QWidget*>(sender());
    PivotrixDeviceController* controller = m_pageControllers.value(page, nullptr);
    if (!controller) {
        qCDebug(lcPivotrix) << "invalid controller";
        return;
    }
    applyStreamSwitch(controller, enabled);
}

bool DeviceListPage::switchStream(PivotrixDeviceController* controller, bool enabled)
{
    if (!pageForController(controller))
        return false;
    qCDebug(lcPivotrix) << "stream switch asked for" << controller->deviceId() << enabled << m_sourceName;
    applyStreamSwitch(controller, enabled);
    return true;
}

void DeviceListPage::applyStreamSwitch(PivotrixDeviceController* controller, bool enabled)
{
    ResourceManager* registry = ResourceManager::instance();
    QVariantMap record = registry->deviceSettings(controller->deviceId());
    if (enabled) {
        reviewStreamParams(controller, record);
        startDeviceStream(controller);
    } else {
        stopDeviceStream(controller);
    }
    if (record.isEmpty()) {
        qCDebug(lcPivotrix) << "no device settings";
        return;
    }
    record.insert(kStreamEnabled, enabled);
    record.insert(kStreamSource, m_sourceName);
    registry->setDeviceSettings(controller->deviceId(), record);
}

void DeviceListPage::deviceEntryOnlineChanged(PivotrixController::NetworkState state)
{
    auto* controller = qobject_cast<PivotrixDeviceController*>(sender());
    if (!controller)
        return;
    qCDebug(lcPivotrix) << "device online changed" << state << controller->deviceId();
    // A panel back from an outage reports its idle state before it counts as online again; that is not
    // the panel leaving our stream.
    if (state == PivotrixController::Offline)
        m_lastStreamingState.remove(controller);
    reloadList();
    if (state == PivotrixController::Online) {
        if (shouldRestartDeviceStream(controller))
            startDeviceStream(controller);
        qCDebug(lcPivotrix) << "online changed" << 2;
    }
}

void DeviceListPage::deviceStreamEnabledChanged(PivotrixController::StreamingState steamState)
{
    auto* controller = qobject_cast<PivotrixDeviceController*>(sender());
    if (!controller)
        return;
    qCDebug(lcPivotrix) << "stream changed" << steamState;
    const PivotrixController::StreamingState previous =
        m_lastStreamingState.value(controller, PivotrixController::Stopped);
    m_lastStreamingState.insert(controller, steamState);
    switch (steamState) {
    case PivotrixController::Stopped:
        if (shouldRestartDeviceStream(controller))
            startDeviceStream(controller);
        break;
    case PivotrixController::Standby: {
        // An idle panel reports standby too (at start-up, after our own stop, after a lock): only a
        // panel that leaves a running stream by itself drops the user's choice.
        if (previous != PivotrixController::Receiving || sessionLocked() ||
            stopsOutstanding().contains(controller)) {
            qCDebug(lcPivotrix) << "standby not left by the device" << controller->deviceId() << previous;
            break;
        }
        ResourceManager* registry = ResourceManager::instance();
        QVariantMap record = registry->deviceSettings(controller->deviceId());
        record.insert(kStreamEnabled, false);
        registry->setDeviceSettings(controller->deviceId(), record);
        stopDeviceStream(controller);
        break;
    }
    case PivotrixController::Receiving:
        break;
    }
}

void DeviceListPage::sessionStateChanged(int state)
{
    Q_UNUSED(state)
    const QList<PivotrixDeviceController*> controllers = m_pageControllers.values();
    if (!sessionLocked()) {
        for (PivotrixDeviceController* controller : controllers) {
            if (shouldRestartDeviceStream(controller))
                startDeviceStream(controller);
        }
        return;
    }
    // Also the devices without a page: one whose online check failed keeps its frame timer, and its panel may
    // still take the frames, so the desktop would go on showing on it through the lock.
    const QList<PivotrixDeviceController*> devices = ResourceManager::instance()->devices();
    for (PivotrixDeviceController* controller : devices) {
        const bool online = controller->isOnline();
        const bool streaming = controller->isStreaming();
        qCDebug(lcPivotrix) << "need stop device stream" << controller->deviceId() << online << streaming;
        // A start still unanswered would stream through the lock; the stop is sent after it.
        if ((online && streaming) || controller->isSendingFrames())
            stopDeviceStream(controller);
    }
}

void DeviceListPage::settingsChanged()
{
    qCDebug(lcPivotrix) << "settings changed";
    const QVariantMap devices =
        ResourceManager::instance()->settingsManager()->value(QStringLiteral("devices")).toMap();
    const QList<PivotrixDeviceController*> controllers = ResourceManager::instance()->devices();
    for (PivotrixDeviceController* controller : controllers) {
        const QVariantMap record = devices.value(controller->deviceId()).toMap();
        if (record.isEmpty()) {
            qCDebug(lcPivotrix) << "invalid settings" << controller->deviceId() << record;
            continue;
        }
        if (QWidget* page = pageForController(controller))
            updatePageWithSettingsMap(page, record);
    }
}

void DeviceListPage::updatePageWithSettingsMap(QWidget* page, QVariantMap entry)
{
    Q_UNUSED(page)
    Q_UNUSED(entry)
}

void DeviceListPage::reloadList()
{
    qCDebug(lcPivotrix) << "reload list";
    for (auto it = m_pageControllers.begin(); it != m_pageControllers.end();) {
        PivotrixDeviceController* controller = it.value();
        if (controller->isOnline()) {
            ++it;
            continue;
        }
        QWidget* page = it.key();
        removeDevicePage(page, controller);
        if (m_tabWidget)
            m_tabWidget->removeTab(m_tabWidget->indexOf(page));
        it = m_pageControllers.erase(it);
        // The page holds the last references to its generator and providers.
        page->deleteLater();
    }

    const QList<PivotrixDeviceController*> controllers = ResourceManager::instance()->devices();
    for (PivotrixDeviceController* controller : controllers) {
        connect(controller, SIGNAL(onlineChanged(PivotrixController::NetworkState)), this,
                SLOT(deviceEntryOnlineChanged(PivotrixController::NetworkState)), Qt::UniqueConnection);
        connect(controller, SIGNAL(streamEnabledChanged(PivotrixController::StreamingState)), this,
                SLOT(deviceStreamEnabledChanged(PivotrixController::StreamingState)), Qt::UniqueConnection);
        qCDebug(lcPivotrix) << "isonline" << controller->deviceId() << controller->name()
                            << controller->isOnline() << controller->networkState();
        if (!controller->isOnline() || pageForController(controller) || !m_tabWidget)
            continue;
        QWidget* page = createDevicePage(controller, pageParent());
        if (!page)
            continue;
        page->setAttribute(Qt::WA_StyledBackground, true);
        m_pageControllers.insert(page, controller);
        const int index = m_tabWidget->addTab(page, QString());
        auto* label = new RazerDeviceTabLabel();
        label->setText(controller->name());
        label->adjustSize();
        m_tabWidget->tabBar()->setTabButton(index, QTabBar::LeftSide, label);
    }

    if (m_tabWidget) {
        QList<QWidget*> labels;
        int width = 0;
        for (int i = 0; i < m_tabWidget->count(); ++i) {
            if (QWidget* label = m_tabWidget->tabBar()->tabButton(i, QTabBar::LeftSide)) {
                labels << label;
                width = qMax(width, label->width());
            }
        }
        for (QWidget* label : qAsConst(labels)) {
            label->resize(width, label->height());
            if (auto* tabLabel = qobject_cast<RazerDeviceTabLabel*>(label))
                tabLabel->setActive(false);
            label->update();
        }
        activeTabChanged(m_tabWidget->currentIndex());
    }
    reviewPreviewPage();
    settingsChanged();
}

void DeviceListPage::activeTabChanged(int idx)
{
    if (!m_tabWidget)
        return;
    QWidget* page = m_tabWidget->widget(idx);
    PivotrixDeviceController* controller = page ? m_pageControllers.value(page, nullptr) : nullptr;
    QTabBar* bar = m_tabWidget->tabBar();
    auto* label = qobject_cast<RazerDeviceTabLabel*>(bar->tabButton(idx, QTabBar::LeftSide));
    if (label)
        label->setActive(true);
    if (m_activeTab >= 0 && m_activeTab < bar->count()) {
        auto* previous = qobject_cast<RazerDeviceTabLabel*>(bar->tabButton(m_activeTab, QTabBar::LeftSide));
        if (previous && previous != label)
            previous->setActive(false);
    }
    m_activeTab = idx;
    if (controller)
        emit deviceSelected(controller);
}

void DeviceListPage::selectDevice(PivotrixDeviceController* controller)
{
    QWidget* page = pageForController(controller);
    if (page && m_tabWidget)
        m_tabWidget->setCurrentWidget(page);
}

void DeviceListPage::deviceRemoved(PivotrixDeviceController* dev)
{
    disconnect(dev, SIGNAL(onlineChanged(PivotrixController::NetworkState)), this,
               SLOT(deviceEntryOnlineChanged(PivotrixController::NetworkState)));
    disconnect(dev, SIGNAL(streamEnabledChanged(PivotrixController::StreamingState)), this,
               SLOT(deviceStreamEnabledChanged(PivotrixController::StreamingState)));
    reloadList();
    forgetController(dev);
}

void DeviceListPage::forgetController(PivotrixDeviceController* controller)
{
    // The address may be reused by a controller created later.
    m_lastStreamingState.remove(controller);
    stopsOutstanding().remove(controller);
}

QWidget* DeviceListPage::pageParent() const
{
    // The tab widget's own page stack; when it cannot be found, pages are moved in by addTab.
    return m_tabWidget ? m_tabWidget->findChild<QStackedWidget*>(QStringLiteral("qt_tabwidget_stackedwidget"),
                                                                 Qt::FindDirectChildrenOnly)
                       : nullptr;
}

QTabWidget* DeviceListPage::createDeviceTabs()
{
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabWidget"));
    tabs->setTabPosition(QTabWidget::West);
    tabs->setDocumentMode(false);
    tabs->setStyleSheet(kTabStyle);
    tabs->setAttribute(Qt::WA_StyledBackground, true);
    setTabWidget(tabs);
    return tabs;
}

void DeviceListPage::applySeasoning(PivotrixDeviceController* controller, int seasoning)
{
    QString postProcess = QStringLiteral("none");
    QString renderMode = QStringLiteral("pixel");
    if (seasoning == FadingPixels) {
        postProcess = QStringLiteral("effect");
    } else if (seasoning == FadingTriangles) {
        postProcess = QStringLiteral("effect");
        renderMode = QStringLiteral("triangle");
    }
    controller->setPostProcessType(postProcess);
    controller->setRenderMode(renderMode);
    // New parameters open a session; while locked the unlock's start takes them along.
    if (sessionLocked()) {
        qCDebug(lcPivotrix) << "stream params kept for the unlock" << controller->deviceId();
        return;
    }
    controller->updateStreamParams();
}
