#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

class AutostartRegistration;
class SettingsManager;

// Process-wide registry of the long-lived objects: settings store, paired devices and service objects.
class ResourceManager : public QObject
{
    Q_OBJECT
public:
    static ResourceManager* instance();
    // Deletes the singleton; the next instance() builds a fresh one.
    static void destroyInstance();

    ~ResourceManager() override;

    void loadSettings(const QString& path);

    QVariantMap deviceSettings(const QString& id) const;
    void setDeviceSettings(const QString& id, const QVariantMap& record);

    SettingsManager* settingsManager() const { return m_settings; }

    bool runOnStart() const;
    void setRunOnStart(bool enabled);
    void syncRunOnStart();

    // Tests point the run-at-logon entry somewhere harmless.
    void setAutostartRegistration(std::unique_ptr<AutostartRegistration> registration);

private:
    ResourceManager();
    void applyRunOnStart(bool enabled);

    SettingsManager* m_settings = nullptr;
    std::unique_ptr<AutostartRegistration> m_autostart;
};
