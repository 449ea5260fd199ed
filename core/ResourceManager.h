#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

class AutostartRegistration;
class GrabManager;
class OnlineCheckRound;
class PivotrixDeviceController;
class RazerSdkColorProvider;
class SettingsManager;
class SystemSession;

// Process-wide registry of the long-lived objects: settings store, paired devices and service objects.
class ResourceManager : public QObject
{
    Q_OBJECT
public:
    // Bound on how long the exit waits for the panels' stop requests, all panels together.
    static constexpr int kShutdownWaitMs = 2000;
    // After that, requests still waiting are cut short; this bounds how long their threads may take to end.
    static constexpr int kShutdownGraceMs = 500;

    static ResourceManager* instance();
    // Deletes the singleton; the next instance() builds a fresh one.
    static void destroyInstance();

    ~ResourceManager() override;

    void loadSettings(const QString& path);

    // Null, and nothing stored, for an id that is registered already.
    PivotrixDeviceController* addDevice(const QString& address, int port, const QString& apiKey,
                                        const QString& name, const QString& model, const QString& id);
    void removeDevice(const QString& id);
    QList<PivotrixDeviceController*> devices() const { return m_devices; }

    QVariantMap deviceSettings(const QString& id) const;
    void setDeviceSettings(const QString& id, const QVariantMap& record);

    SettingsManager* settingsManager() const { return m_settings; }
    // Arrives with the capture area; until then there is none.
    GrabManager* grabManager() const { return m_grabManager; }
    // The process-wide Razer Chroma source, initialised when the registry was created.
    RazerSdkColorProvider* razerColorProvider() const { return m_razerColorProvider; }
    // Arrives with the session events; created on first request and wired to systemStateChanged().
    SystemSession* systemSession();

    bool runOnStart() const;
    void setRunOnStart(bool enabled);
    void syncRunOnStart();

    // Tests point the run-at-logon entry somewhere harmless.
    void setAutostartRegistration(std::unique_ptr<AutostartRegistration> registration);
    // Applies to controllers created afterwards; tests shorten the 15 s check, the 30 ms tick and the 5 s
    // bound on a request.
    void setDeviceTimerIntervals(int onlineCheckMs, int frameMs, int requestTimeoutMs);

    // Deletes every device controller and waits, bounded, for their stop requests and threads to end.
    void shutdown();

signals:
    void deviceAdded(PivotrixDeviceController* dev);
    void deviceRemoved(PivotrixDeviceController* dev);
    void newDeviceAdded();

public slots:
    void systemStateChanged(int state);

private:
    ResourceManager();
    void applyRunOnStart(bool enabled);
    PivotrixDeviceController* createController(const QString& address, int port, const QString& apiKey,
                                               const QString& name, const QString& model, const QString& id);
    void sortDevices();

    SettingsManager* m_settings = nullptr;
    QList<PivotrixDeviceController*> m_devices;
    GrabManager* m_grabManager = nullptr;
    RazerSdkColorProvider* m_razerColorProvider = nullptr;
    SystemSession* m_systemSession = nullptr;
    std::unique_ptr<AutostartRegistration> m_autostart;
    std::shared_ptr<OnlineCheckRound> m_checks;
    int m_onlineCheckMs;
    int m_frameMs;
    int m_requestTimeoutMs;
};
