#pragma once

#include <QObject>

#include <atomic>

// A desktop panel's StatusNotifier watcher, as far as an application sees it. Applications call it
// synchronously, so it must not live on the thread of an application it serves.
class FakeStatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    std::atomic<int> registrations{0};
    bool hostRegistered() const { return true; }
public slots:
    void RegisterStatusNotifierItem(const QString&) { ++registrations; }
};
