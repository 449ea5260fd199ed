#include "support/TestRegistry.h"

#include "core/AutostartRegistration.h"
#include "core/ResourceManager.h"
#include "emulator/EmulatedPanel.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

QVariantMap TestRegistry::record(const EmulatedPanel* panel, int index, QVariantMap extra)
{
    extra.insert({{QStringLiteral("address"), panel->address()},
                  {QStringLiteral("port"), 16021},
                  {QStringLiteral("auth"), panel->apiKey()},
                  {QStringLiteral("name"), panel->name()},
                  {QStringLiteral("model"), panel->model()},
                  {QStringLiteral("id"), panel->id()},
                  {QStringLiteral("index"), index}});
    return extra;
}

bool TestRegistry::writeSettings(const QString& path, const QList<QVariantMap>& records, QVariantMap top)
{
    QVariantMap devices;
    for (const QVariantMap& r : records)
        devices.insert(r.value(QStringLiteral("id")).toString(), r);
    top.insert({{QStringLiteral("devices"), devices}, {QStringLiteral("run_on_start"), false}});
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(QJsonDocument(QJsonObject::fromVariantMap(top)).toJson()) > 0;
}

ResourceManager* TestRegistry::load(const QList<QVariantMap>& records, int onlineCheckMs,
                                    int requestTimeoutMs)
{
    m_path = m_dir.filePath(QStringLiteral("settings-%1.json").arg(++m_files));
    writeSettings(m_path, records);
    ResourceManager* registry = ResourceManager::instance();
    registry->setAutostartRegistration(nullptr);
    registry->setDeviceTimerIntervals(onlineCheckMs, 30, requestTimeoutMs);
    registry->loadSettings(m_path);
    return registry;
}
