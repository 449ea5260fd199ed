#pragma once

#include "core/ControlBus.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVariantMap>

class DeviceListPage;
class DeviceListScreenMirrorPage;
class PivotrixDeviceController;
class QTimer;

// The running instance's controls for scripts and hotkeys on the session bus: the paired devices, their
// stream switch, their source and the mirror's mode and colours. Every change takes the path of a click in
// the window, so the tabs, the tray and the settings file agree with what a script did. Nothing more is
// offered: no paths, no settings by name, no keys.
class ControlService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.pivotrix_entertainment.PivotrixEntertainment1")
public:
    ControlService(DeviceListPage* razerTab, DeviceListScreenMirrorPage* mirrorTab,
                   QObject* parent = nullptr);
    ~ControlService() override;

    // How often the bus is looked at: a session bus that went away (restarted) is replaced by the next one
    // at the session bus address, and the controls are offered there again.
    static constexpr int kBusCheckMs = 5000;

    // Exports the controls and claims the well-known name; false, logged, when the bus will not have them.
    bool registerOn(QDBusConnection bus);

public slots:
    // A device is named by its id, or by a name no other paired device has.
    Q_SCRIPTABLE QList<QVariantMap> ListDevices();
    Q_SCRIPTABLE void SetStreaming(const QString& device, bool on);
    Q_SCRIPTABLE void SetSource(const QString& device, const QString& source);
    Q_SCRIPTABLE void SetMirrorMode(const QString& device, const QString& mode);
    Q_SCRIPTABLE void SetColorMode(const QString& device, const QString& mode);

signals:
    // The device's entry of ListDevices, whenever any of it changes (also for a newly paired device).
    Q_SCRIPTABLE void DeviceChanged(const QVariantMap& device);
    Q_SCRIPTABLE void DeviceRemoved(const QString& id);

private slots:
    void review();
    void checkBus();

private:
    QVariantMap state(const PivotrixDeviceController* controller) const;
    PivotrixDeviceController* find(const QString& device);
    DeviceListPage* tabFor(const QString& source) const;
    // Index of word in words, or -1 with `refusal` (a text to translate: the word, the allowed ones) sent.
    int choice(const QString& word, const char* const* words, int count, const char* refusal);
    void refuse(const char* error, const QString& text);
    void watch(PivotrixDeviceController* controller);

    DeviceListPage* m_razerTab;
    DeviceListScreenMirrorPage* m_mirrorTab;
    QDBusConnection m_bus;
    bool m_registered = false;
    QTimer* m_busCheck;
    int m_reconnects = 0;
    QHash<QString, QVariantMap> m_states;
};
