#include "core/ResourceManager.h"

#include "core/AutostartRegistration.h"
#include "core/SettingsManager.h"

#include <QCoreApplication>
#include <QDebug>

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
{}

ResourceManager::~ResourceManager()
{
    if (g_instance == this)
        g_instance = nullptr;
}

void ResourceManager::loadSettings(const QString& path)
{
    qDebug() << "load settings from" << path;
    m_settings->load(path);
    syncRunOnStart();
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

void ResourceManager::applyRunOnStart(bool enabled)
{
    if (!m_autostart)
        return;
    if (enabled)
        m_autostart->enable(QCoreApplication::applicationFilePath());
    else
        m_autostart->disable();
}
