#include "core/ResourceManager.h"

#include "capture/GrabManager.h"
#include "capture/session/SystemSession.h"
#include "core/AutostartRegistration.h"
#include "core/DiagnosticLog.h"
#include "core/SettingsFile.h"
#include "core/SettingsManager.h"
#include "device/OnlineCheckRound.h"
#include "device/PivotrixDeviceController.h"
#include "effects/RazerSdkColorProvider.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QPointer>
#include <QThread>

#include <algorithm>

namespace {
ResourceManager* g_instance = nullptr;
const QString kDevices = QStringLiteral("devices");
const QString kRunOnStart = QStringLiteral("run_on_start");
} // namespace

ResourceManager* ResourceManager::instance()
{
    if (!g_instance)
        g_instance = new ResourceManager();
    return g_instance;
}

void ResourceManager::destroyInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

ResourceManager::ResourceManager()
    : m_settings(new SettingsManager(this))
    , m_autostart(AutostartRegistration::create())
    , m_onlineCheckMs(PivotrixDeviceController::kDefaultOnlineCheckMs)
    , m_frameMs(PivotrixDeviceController::kDefaultFrameMs)
    , m_requestTimeoutMs(PivotrixController::kDefaultRequestTimeoutMs)
{
    qRegisterMetaType<PivotrixDeviceController*>("PivotrixDeviceController*");
    m_grabManager = new GrabManager(this);
    m_grabManager->init();
    m_grabManager->start();
    m_razerColorProvider = RazerSdkColorProvider::instance();
    m_razerColorProvider->init();
}

ResourceManager::~ResourceManager()
{
    // The grab manager, a child, ends its worker (bounded) when QObject deletes it after this body.
    shutdown();
    // Gone only after the device threads whose generators read its colours. Its destructor unregisters
    // from the broadcast library and unloads it; deleted here rather than later, because no event
    // loop runs after this point to carry out a deferred deletion.
    delete m_razerColorProvider;
    m_razerColorProvider = nullptr;
    delete m_systemSession;
    if (g_instance == this)
        g_instance = nullptr;
}

void ResourceManager::shutdown()
{
    // What a failed save left in memory (a read-only folder, a full disk) gets one more try at exit.
    if (m_settings->hasUnsavedChanges())
        m_settings->save();
    QList<QPointer<QThread>> threads;
    const QList<PivotrixDeviceController*> devices = m_devices;
    m_devices.clear();
    for (PivotrixDeviceController* dev : devices) {
        threads << QPointer<QThread>(dev->controllerThread());
        delete dev;
    }
    // Each controller thread ends after its queued deinit, which sends the stop request of a running stream.
    QDeadlineTimer deadline(kShutdownWaitMs);
    for (const QPointer<QThread>& thread : threads) {
        if (thread && !thread->wait(deadline)) {
            // A panel that does not answer in time: cut its request short so that the thread still ends
            // before the process does.
            qCDebug(lcPivotrix) << "controller thread still busy at shutdown" << thread->objectName();
            thread->quit();
        }
    }
    QDeadlineTimer grace(kShutdownGraceMs);
    for (const QPointer<QThread>& thread : threads) {
        if (thread && !thread->wait(grace))
            qCDebug(lcPivotrix) << "controller thread did not end" << thread->objectName();
    }
    for (const QPointer<QThread>& thread : threads) {
        if (thread && thread->isFinished())
            delete thread.data();
    }
}

PivotrixDeviceController* ResourceManager::createController(const QString& address, int port,
                                                            const QString& apiKey, const QString& name,
                                                            const QString& model, const QString& id)
{
    // One round checks every panel, so that the checks of an idle program wake it together.
    if (!m_checks || m_checks->period() != m_onlineCheckMs)
        m_checks = OnlineCheckRound::start(m_onlineCheckMs);
    return new PivotrixDeviceController(address, port, apiKey, name, model, id, m_onlineCheckMs, m_frameMs,
                                        m_requestTimeoutMs, m_checks);
}

void ResourceManager::sortDevices()
{
    std::stable_sort(m_devices.begin(), m_devices.end(),
                     [](const PivotrixDeviceController* a, const PivotrixDeviceController* b) {
                         return a->index() < b->index();
                     });
}

void ResourceManager::loadSettings(const QString& path)
{
    qCDebug(lcPivotrix) << "load settings from " << path;
    m_settings->load(path);

    qDeleteAll(m_devices);
    m_devices.clear();
    const QVector<SettingsFile::Device> devices = SettingsFile::devices(m_settings->value(kDevices).toMap());
    for (const SettingsFile::Device& device : devices) {
        PivotrixDeviceController* dev = createController(device.address, device.port, device.apiKey,
                                                         device.name, device.model, device.id);
        dev->setIndex(device.index);
        m_devices.append(dev);
        qCDebug(lcPivotrix) << "add device" << device.name;
    }
    sortDevices();
    syncRunOnStart();
}

PivotrixDeviceController* ResourceManager::addDevice(const QString& address, int port, const QString& apiKey,
                                                     const QString& name, const QString& model,
                                                     const QString& id)
{
    // A second controller for one id would fight the first, and its record would replace the saved one.
    for (const PivotrixDeviceController* dev : qAsConst(m_devices)) {
        if (dev->deviceId() == id) {
            qCDebug(lcPivotrix) << "device already paired" << id;
            return nullptr;
        }
    }
    int largest = 0;
    for (const PivotrixDeviceController* dev : qAsConst(m_devices))
        largest = std::max(largest, dev->index());
    const int index = largest + 1;

    QVariantMap devices = m_settings->value(kDevices).toMap();
    devices.insert(id, QVariantMap{{QStringLiteral("address"), address},
                                   {QStringLiteral("port"), port},
                                   {QStringLiteral("auth"), apiKey},
                                   {QStringLiteral("name"), name},
                                   {QStringLiteral("model"), model},
                                   {QStringLiteral("id"), id},
                                   {QStringLiteral("index"), index}});
    m_settings->setValue(kDevices, devices);
    m_settings->save();

    PivotrixDeviceController* dev = createController(address, port, apiKey, name, model, id);
    dev->setIndex(index);
    m_devices.append(dev);
    sortDevices();
    emit deviceAdded(dev);
    return dev;
}

void ResourceManager::removeDevice(const QString& id)
{
    qCDebug(lcPivotrix) << "remove device" << id;
    for (auto it = m_devices.begin(); it != m_devices.end();) {
        PivotrixDeviceController* dev = *it;
        if (dev->deviceId() != id) {
            ++it;
            continue;
        }
        it = m_devices.erase(it);
        dev->markRemoved();
        emit deviceRemoved(dev);
        dev->deleteLater();
    }
    QVariantMap devices = m_settings->value(kDevices).toMap();
    devices.remove(id);
    m_settings->setValue(kDevices, devices);
    m_settings->save();
}

QVariantMap ResourceManager::deviceSettings(const QString& id) const
{
    return m_settings->value(kDevices).toMap().value(id).toMap();
}

void ResourceManager::setDeviceSettings(const QString& id, const QVariantMap& record)
{
    QVariantMap devices = m_settings->value(kDevices).toMap();
    devices.insert(id, record);
    m_settings->setValue(kDevices, devices);
    m_settings->save();
}

SystemSession* ResourceManager::systemSession()
{
    if (!m_systemSession) {
        m_systemSession = SystemSession::create();
        connect(m_systemSession, &SystemSession::systemStateChanged, this,
                &ResourceManager::systemStateChanged);
    }
    return m_systemSession;
}

void ResourceManager::systemStateChanged(int state)
{
    qCDebug(lcPivotrix) << "ss changed" << state;
    if (m_grabManager && m_systemSession)
        m_grabManager->setSystemLocked(m_systemSession->isLocked());
}

bool ResourceManager::runOnStart() const
{
    return m_settings->contains(kRunOnStart) ? m_settings->value(kRunOnStart).toBool() : true;
}

void ResourceManager::setRunOnStart(bool enabled)
{
    applyRunOnStart(enabled);
    m_settings->setValue(kRunOnStart, enabled);
    m_settings->save();
}

void ResourceManager::syncRunOnStart()
{
    applyRunOnStart(runOnStart());
}

void ResourceManager::setAutostartRegistration(std::unique_ptr<AutostartRegistration> registration)
{
    m_autostart = std::move(registration);
}

void ResourceManager::setDeviceTimerIntervals(int onlineCheckMs, int frameMs, int requestTimeoutMs)
{
    m_onlineCheckMs = onlineCheckMs;
    m_frameMs = frameMs;
    m_requestTimeoutMs = requestTimeoutMs;
}

void ResourceManager::applyRunOnStart(bool enabled)
{
    if (!m_autostart)
        return;
    if (enabled)
        m_autostart->enable(QCoreApplication::applicationFilePath());
    else
        m_autostart->disable();
}
