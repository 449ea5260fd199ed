#pragma once

// What the device list page tests share: a private bus that stands in for the system bus with a logind
// that can lock this session, and a registry loaded with emulated panels.
#include "capture/session/linux/LinuxSystemSession.h"
#include "core/ResourceManager.h"
#include "device/PivotrixDeviceController.h"
#include "support/PanelFixture.h"
#include "support/PrivateBus.h"
#include "support/StandInLogind.h"
#include "support/TestRegistry.h"

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

#include <memory>
#include <vector>

class PageTestBench : public TestRegistry
{
public:
    // Call before the application object exists: Qt reads the bus addresses once.
    static PrivateBus* startBus()
    {
        static PrivateBus bus;
        if (bus.isRunning()) {
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
            qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address());
        }
        return &bus;
    }

    explicit PageTestBench(int block)
        : m_panels(block)
    {}

    bool serveLogind()
    {
        m_bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
            QString::fromLatin1(startBus()->address()), QStringLiteral("logind")));
        return m_bus->isConnected() && m_logind.registerOn(*m_bus);
    }

    // Lock or unlock this session the way logind announces it.
    bool sendLock(bool locked)
    {
        return m_bus->send(QDBusMessage::createSignal(
            StandInLogind::ourSession(), QStringLiteral("org.freedesktop.login1.Session"),
            locked ? QStringLiteral("Lock") : QStringLiteral("Unlock")));
    }

    // As sendLock, and waits until the registry's session saw it.
    void setLocked(bool locked)
    {
        auto* session = qobject_cast<LinuxSystemSession*>(ResourceManager::instance()->systemSession());
        QVERIFY(session);
        QTRY_COMPARE_WITH_TIMEOUT(session->sessionPath(), StandInLogind::ourSession(), 10000);
        QVERIFY(sendLock(locked));
        QTRY_COMPARE_WITH_TIMEOUT(session->isLocked(), locked, 10000);
    }

    EmulatedPanel* startPanel(const QString& name = QString())
    {
        PanelConfig config;
        if (!name.isEmpty())
            config.name = name;
        m_started.push_back(m_panels.start(config));
        return m_started.back().get();
    }

    static PivotrixDeviceController* controllerFor(const EmulatedPanel* panel)
    {
        for (PivotrixDeviceController* c : ResourceManager::instance()->devices()) {
            if (c->deviceId() == panel->id())
                return c;
        }
        return nullptr;
    }

    static QVariantMap storedRecord(const EmulatedPanel* panel)
    {
        return ResourceManager::instance()->deviceSettings(panel->id());
    }

    static bool receiving(const EmulatedPanel* panel)
    {
        return panel->stream().status == QLatin1String("receiving");
    }

    static quint64 goodFrames(EmulatedPanel* panel) { return panel->statistics().snapshot().good; }

    // True when no frame arrives for half a second once those in flight landed.
    static bool framesStopped(EmulatedPanel* panel)
    {
        QTest::qWait(200);
        const quint64 before = goodFrames(panel);
        QTest::qWait(500);
        return goodFrames(panel) == before;
    }

    // "<post-process type> <render mode>" of the stream the panel was last asked for.
    static QString streamKind(const EmulatedPanel* panel)
    {
        const QJsonObject canvas = panel->stream().params.value(QStringLiteral("canvas")).toObject();
        return canvas.value(QStringLiteral("post_process"))
                   .toObject()
                   .value(QStringLiteral("type"))
                   .toString() +
               QLatin1Char(' ') + canvas.value(QStringLiteral("render_mode")).toString();
    }

    // Ends the test's panels and registry; the pages must be gone already.
    void reset()
    {
        ResourceManager::destroyInstance();
        m_started.clear();
    }

private:
    PanelFixture m_panels;
    std::vector<std::unique_ptr<EmulatedPanel>> m_started;
    std::unique_ptr<QDBusConnection> m_bus;
    StandInLogind m_logind;
};

#define PAGE_TEST_MAIN(TestClass)                                                                            \
    int main(int argc, char** argv)                                                                          \
    {                                                                                                        \
        if (!PageTestBench::startBus()->isRunning())                                                         \
            qFatal("dbus-daemon did not start");                                                             \
        QApplication app(argc, argv);                                                                        \
        TestClass test;                                                                                      \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
