#pragma once

#include "device/PivotrixController.h"

#include <QList>
#include <QTemporaryDir>
#include <QVariantMap>

class EmulatedPanel;
class ResourceManager;

// The application's registry, without an autostart entry, loaded from a settings file of paired records.
class TestRegistry
{
public:
    // The record the pairing stores for panel, with extra keys added.
    static QVariantMap record(const EmulatedPanel* panel, int index, QVariantMap extra = {});
    // With the entries of top beside the devices.
    static bool writeSettings(const QString& path, const QList<QVariantMap>& records, QVariantMap top = {});
    // Writes a fresh settings file with records and loads the registry from it.
    ResourceManager* load(const QList<QVariantMap>& records = {}, int onlineCheckMs = 400,
                          int requestTimeoutMs = PivotrixController::kDefaultRequestTimeoutMs);
    // The settings file of the last load.
    QString path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    int m_files = 0;
    QString m_path;
};
