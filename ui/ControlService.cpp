#include "ui/ControlService.h"

#include "core/DiagnosticLog.h"
#include "core/ResourceManager.h"
#include "core/SettingsManager.h"
#include "device/PivotrixDeviceController.h"
#include "effects/ScreenMirrorModes.h"
#include "effects/ScreenMirrorPipeline.h"
#include "ui/DeviceListPage.h"
#include "ui/DeviceListScreenMirrorPage.h"

#include <QDBusError>
#include <QDebug>
#include <QTimer>

#include <iterator>

namespace {
const QString kRazer = QStringLiteral("razer");
const QString kMirror = QStringLiteral("mirror");
const QString kStreamEnabled = QStringLiteral("stream_enabled");
const QString kStreamSource = QStringLiteral("stream_source");

// What a script named, short enough to quote back.
QString quoted(const QString& text)
{
    return text.size() > 64 ? text.left(61) + QStringLiteral("...") : text;
}

QString wordAt(const char* const* words, int count, int index)
{
    return index >= 0 && index < count ? QString::fromLatin1(words[index]) : QString();
}
} // namespace

ControlService::ControlService(DeviceListPage* razerTab, DeviceListScreenMirrorPage* mirrorTab,
                               QObject* parent)
    : QObject(parent)
    , m_razerTab(razerTab)
    , m_mirrorTab(mirrorTab)
    , m_bus(QString())
    , m_busCheck(new QTimer(this))
{
    m_busCheck->setInterval(kBusCheckMs);
    connect(m_busCheck, &QTimer::timeout, this, &ControlService::checkBus);
    ControlBus::registerTypes();
    ResourceManager* registry = ResourceManager::instance();
    connect(registry, &ResourceManager::deviceAdded, this, [this](PivotrixDeviceController* controller) {
        watch(controller);
        review();
    });
    connect(registry, &ResourceManager::deviceRemoved, this, &ControlService::review);
    connect(registry->settingsManager(), &SettingsManager::settingsChanged, this, &ControlService::review);
    const QList<PivotrixDeviceController*> controllers = registry->devices();
    for (PivotrixDeviceController* controller : controllers) {
        watch(controller);
        m_states.insert(controller->deviceId(), state(controller));
    }
}

ControlService::~ControlService()
{
    if (m_registered) {
        m_bus.unregisterService(QLatin1String(ControlBus::kService));
        m_bus.unregisterObject(QLatin1String(ControlBus::kPath));
    }
}

bool ControlService::registerOn(QDBusConnection bus)
{
    if (!bus.isConnected()) {
        qCDebug(lcPivotrix) << "no session bus, no control from scripts";
        return false;
    }
    if (!bus.registerObject(QLatin1String(ControlBus::kPath), this,
                            QDBusConnection::ExportScriptableSlots |
                                QDBusConnection::ExportScriptableSignals)) {
        qCDebug(lcPivotrix) << "control object not exported" << bus.lastError().message();
        return false;
    }
    if (!bus.registerService(QLatin1String(ControlBus::kService))) {
        qCDebug(lcPivotrix) << "control name not had" << ControlBus::kService << bus.lastError().message();
        bus.unregisterObject(QLatin1String(ControlBus::kPath));
        return false;
    }
    m_bus = bus;
    m_registered = true;
    m_busCheck->start();
    qCDebug(lcPivotrix) << "control on the session bus" << ControlBus::kService;
    return true;
}

void ControlService::checkBus()
{
    if (m_bus.isConnected())
        return;
    if (m_registered) {
        // Rare: a restarted session bus usually ends the desktop session too.
        qCDebug(lcPivotrix) << "session bus lost; control from scripts waits for it to come back";
        m_registered = false;
    }
    const QString name = QStringLiteral("pivotrix-control-%1").arg(++m_reconnects);
    const QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    if (bus.isConnected() && !registerOn(bus))
        m_busCheck->stop(); // another instance holds the name now: it offers the controls
    if (!m_registered)
        QDBusConnection::disconnectFromBus(name);
}

void ControlService::watch(PivotrixDeviceController* controller)
{
    connect(controller, &PivotrixDeviceController::onlineChanged, this, &ControlService::review,
            Qt::UniqueConnection);
}

QVariantMap ControlService::state(const PivotrixDeviceController* controller) const
{
    const QVariantMap record = ResourceManager::instance()->deviceSettings(controller->deviceId());
    const ScreenMirrorSettings mirror =
        ScreenMirrorSettings::fromMap(record.value(QStringLiteral("screen_mirror")).toMap());
    return {{QStringLiteral("id"), controller->deviceId()},
            {QStringLiteral("name"), controller->name()},
            {QStringLiteral("address"), controller->address()},
            {QStringLiteral("online"), controller->isOnline()},
            {QStringLiteral("streaming"), record.value(kStreamEnabled).toBool()},
            {QStringLiteral("source"), record.value(kStreamSource).toString()},
            {QStringLiteral("mirror_mode"),
             wordAt(ControlBus::kMirrorModes, int(std::size(ControlBus::kMirrorModes)), mirror.mode)},
            {QStringLiteral("color_mode"),
             wordAt(ControlBus::kColorModes, int(std::size(ControlBus::kColorModes)), mirror.colorMode)}};
}

void ControlService::review()
{
    QHash<QString, QVariantMap> states;
    const QList<PivotrixDeviceController*> controllers = ResourceManager::instance()->devices();
    for (const PivotrixDeviceController* controller : controllers) {
        const QVariantMap now = state(controller);
        states.insert(controller->deviceId(), now);
        if (m_states.value(controller->deviceId()) != now)
            emit DeviceChanged(now);
    }
    for (auto it = m_states.cbegin(); it != m_states.cend(); ++it) {
        if (!states.contains(it.key()))
            emit DeviceRemoved(it.key());
    }
    m_states = states;
}

void ControlService::refuse(const char* error, const QString& text)
{
    qCDebug(lcPivotrix) << "control refused" << text;
    if (calledFromDBus())
        sendErrorReply(QLatin1String(error), text);
}

PivotrixDeviceController* ControlService::find(const QString& device)
{
    if (device.isEmpty()) {
        refuse(ControlBus::kInvalidArgument, tr("No device named: give a device's id or name."));
        return nullptr;
    }
    QList<PivotrixDeviceController*> named;
    const QList<PivotrixDeviceController*> controllers = ResourceManager::instance()->devices();
    for (PivotrixDeviceController* controller : controllers) {
        if (controller->deviceId() == device)
            return controller;
        if (controller->name() == device)
            named << controller;
    }
    if (named.size() == 1)
        return named.first();
    if (named.isEmpty())
        refuse(ControlBus::kUnknownDevice, tr("No paired device is called '%1'.").arg(quoted(device)));
    else
        refuse(ControlBus::kInvalidArgument,
               tr("%1 paired devices are called '%2': give the id.").arg(named.size()).arg(quoted(device)));
    return nullptr;
}

int ControlService::choice(const QString& word, const char* const* words, int count, const char* refusal)
{
    QStringList allowed;
    for (int i = 0; i < count; ++i) {
        if (word == QLatin1String(words[i]))
            return i;
        allowed << QString::fromLatin1(words[i]);
    }
    refuse(ControlBus::kInvalidArgument, tr(refusal).arg(quoted(word), allowed.join(QStringLiteral(", "))));
    return -1;
}

DeviceListPage* ControlService::tabFor(const QString& source) const
{
    return source == kRazer ? m_razerTab : m_mirrorTab;
}

QList<QVariantMap> ControlService::ListDevices()
{
    QList<QVariantMap> devices;
    const QList<PivotrixDeviceController*> controllers = ResourceManager::instance()->devices();
    for (const PivotrixDeviceController* controller : controllers)
        devices << state(controller);
    return devices;
}

void ControlService::SetStreaming(const QString& device, bool on)
{
    PivotrixDeviceController* controller = find(device);
    if (!controller)
        return;
    ResourceManager* registry = ResourceManager::instance();
    QVariantMap record = registry->deviceSettings(controller->deviceId());
    QString source = record.value(kStreamSource).toString();
    // Without a choice yet, the source that always has a picture.
    if (source != kRazer)
        source = kMirror;
    qCDebug(lcPivotrix) << "control stream" << controller->deviceId() << on << source;
    if (tabFor(source)->switchStream(controller, on))
        return;
    // Offline: the tab starts what the record asks for once the panel is back, as after any outage.
    if (record.isEmpty())
        return;
    record.insert(kStreamEnabled, on);
    record.insert(kStreamSource, source);
    registry->setDeviceSettings(controller->deviceId(), record);
}

void ControlService::SetSource(const QString& device, const QString& source)
{
    const char* const sources[] = {"razer", "mirror"};
    PivotrixDeviceController* controller = find(device);
    if (!controller || choice(source, sources, 2, QT_TR_NOOP("'%1' is not a source; use one of: %2.")) < 0)
        return;
    ResourceManager* registry = ResourceManager::instance();
    QVariantMap record = registry->deviceSettings(controller->deviceId());
    qCDebug(lcPivotrix) << "control source" << controller->deviceId() << source;
    // A streaming device moves over as when the other tab's switch is clicked; a switched-off one only
    // remembers where its next stream comes from.
    if (record.value(kStreamEnabled).toBool() && tabFor(source)->switchStream(controller, true))
        return;
    if (record.value(kStreamSource).toString() == source)
        return;
    record.insert(kStreamSource, source);
    registry->setDeviceSettings(controller->deviceId(), record);
}

void ControlService::SetMirrorMode(const QString& device, const QString& mode)
{
    PivotrixDeviceController* controller = find(device);
    if (!controller)
        return;
    const int value = choice(mode, ControlBus::kMirrorModes, int(std::size(ControlBus::kMirrorModes)),
                             QT_TR_NOOP("'%1' is not a mirror mode; use one of: %2."));
    if (value >= 0)
        m_mirrorTab->chooseMode(controller, EffecType(value));
}

void ControlService::SetColorMode(const QString& device, const QString& mode)
{
    PivotrixDeviceController* controller = find(device);
    if (!controller)
        return;
    const int value = choice(mode, ControlBus::kColorModes, int(std::size(ControlBus::kColorModes)),
                             QT_TR_NOOP("'%1' is not a colour mode; use one of: %2."));
    if (value >= 0)
        m_mirrorTab->chooseColorMode(controller, ColorMode(value));
}
