// Scripts and hotkeys: the command line and the session bus drive the real tabs, the registry and an
// emulated panel as a click would; the running application offers them, and nothing runs without it.
#include "core/ResourceManager.h"
#include "device/PivotrixDeviceController.h"
#include "support/AppHome.h"
#include "support/PanelFixture.h"
#include "support/PrivateBus.h"
#include "support/TestRegistry.h"
#include "support/XvfbServer.h"
#include "ui/ControlService.h"
#include "ui/DeviceListRazerPage.h"
#include "ui/DeviceListScreenMirrorPage.h"
#include "ui/ScreenMirrorDevicePage.h"

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

class TestControl : public QObject
{
    Q_OBJECT
    XvfbServer m_server;
    PanelFixture m_panels{26};
    std::unique_ptr<EmulatedPanel> m_panel;
    TestRegistry m_registry;

    // The program's command line, the test's event loop serving the bus meanwhile; exit status and output.
    static int run(const QString& args, QByteArray* output, const QProcessEnvironment& env = {})
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setProcessEnvironment(env.isEmpty() ? QProcessEnvironment::systemEnvironment() : env);
        p.start(QStringLiteral(APP_PATH), QProcess::splitCommand(args));
        const bool ended = QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 20000);
        *output = p.readAll();
        return ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start(QSize(320, 240)));
        qputenv("DISPLAY", m_server.display());
        m_panel = m_panels.start();
        QVERIFY(m_panel);
    }

    // Each command line on the state the one before left: exit status, printed text, then the record's
    // switch, source and mirror mode, the mirror tab's toggle and whether the panel receives frames. Then
    // the bus itself: named errors, typed and introspectable, nothing offered but the controls.
    void scriptsDriveTheTabs()
    {
        m_registry.load({TestRegistry::record(m_panel.get(), 1)});
        DeviceListRazerPage razer;
        DeviceListScreenMirrorPage mirror;
        ControlService control(&razer, &mirror);
        QVERIFY(control.registerOn(QDBusConnection::sessionBus()));
        ScreenMirrorDevicePage* page = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(page = qobject_cast<ScreenMirrorDevicePage*>(mirror.pageForController(
                                     ResourceManager::instance()->devices().value(0))),
                                 10000);
        QSignalSpy changed(&control, &ControlService::DeviceChanged);
        const QString id = m_panel->id();
        const struct
        {
            QString args;
            int status, mode;
            const char* said;
            bool on;
        } steps[] = {
            {QStringLiteral("--source mirror ") + id, 0, -1, "", false},
            {QStringLiteral("--stream on \"Emulated PRISM\""), 0, -1, "", true},
            {QStringLiteral("--mirror-mode dominant %1 --list").arg(id), 0, 1, "\tEmulated PRISM\t", true},
            {QStringLiteral("--stream off ") + id, 0, 1, "", false},
            {QStringLiteral("--stream on nobody"), 1, 1, "No paired device is called 'nobody'.", false},
        };
        QByteArray out;
        for (const auto& step : steps) {
            const int changes = changed.count();
            QCOMPARE(run(step.args, &out), step.status);
            QVERIFY2(out.contains(step.said), out.constData());
            QFile file(m_registry.path());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QVariantMap record = QJsonDocument::fromJson(file.readAll())[QStringLiteral("devices")][id]
                                           .toObject()
                                           .toVariantMap();
            QCOMPARE(record.value(QStringLiteral("stream_enabled")).toBool(), step.on);
            QCOMPARE(record.value(QStringLiteral("stream_source")), QVariant(QStringLiteral("mirror")));
            QCOMPARE(record[QStringLiteral("screen_mirror")].toMap().value(QStringLiteral("effect_mode"), -1),
                     QVariant(step.mode));
            QCOMPARE(page->findChild<QCheckBox*>(QStringLiteral("streamToggle"))->isChecked(), step.on);
            const quint64 frames = m_panel->statistics().snapshot().good;
            if (step.on)
                QTRY_VERIFY_WITH_TIMEOUT(m_panel->statistics().snapshot().good > frames + 3, 10000);
            QTRY_COMPARE_WITH_TIMEOUT(m_panel->stream().status == QLatin1String("receiving"), step.on, 10000);
            QCOMPARE(changed.count() > changes, step.status == 0);
        }

        QDBusConnection client = QDBusConnection::connectToBus(
            QString::fromLatin1(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("client"));
        QDBusInterface bus(QLatin1String(ControlBus::kService), QLatin1String(ControlBus::kPath),
                           QLatin1String(ControlBus::kInterface), client);
        const auto refusal = [&](const char* method, const QVariantList& args) {
            const QDBusMessage r = bus.callWithArgumentList(QDBus::BlockWithGui, QLatin1String(method), args);
            return r.errorName().section(u'.', -1) + u' ' + r.errorMessage();
        };
        QCOMPARE(refusal("SetSource", {id, QStringLiteral("tv")}),
                 QStringLiteral("InvalidArgument 'tv' is not a source; use one of: razer, mirror."));
        QCOMPARE(refusal("SetColorMode", {id, QString(200, u'x')}),
                 QStringLiteral("InvalidArgument '%1...' is not a colour mode; use one of: boosted, natural.")
                     .arg(QString(61, u'x')));
        QCOMPARE(refusal("SetStreaming", {QString(), true}),
                 QStringLiteral("InvalidArgument No device named: give a device's id or name."));
        QCOMPARE(refusal("SetMirrorMode", {QStringLiteral("x"), QStringLiteral("screen")}),
                 QStringLiteral("UnknownDevice No paired device is called 'x'."));
        const QDBusReply<QList<QVariantMap>> list =
            bus.call(QDBus::BlockWithGui, QStringLiteral("ListDevices"));
        QCOMPARE(list.value().value(0).keys().join(u' '),
                 QStringLiteral("address color_mode id mirror_mode name online source streaming"));
        const QString xml =
            QDBusInterface(QLatin1String(ControlBus::kService), QLatin1String(ControlBus::kPath),
                           QStringLiteral("org.freedesktop.DBus.Introspectable"), client)
                .call(QDBus::BlockWithGui, QStringLiteral("Introspect"))
                .arguments()
                .value(0)
                .toString();
        // Our five, and Properties, Introspectable and Peer with their 3, 1 and 2 methods.
        QVERIFY2(xml.contains(QLatin1String("type=\"aa{sv}\" direction=\"out\"")) &&
                     xml.count(QLatin1String("<method ")) == 5 + 3 + 1 + 2,
                 qPrintable(xml));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        ResourceManager::destroyInstance();
    }

    // The application itself offers the controls on its session bus, also after that bus restarted; without
    // it the command line says so and starts nothing (it has no display to start on).
    void applicationOffersTheControls()
    {
        PrivateBus bus;
        AppHome home;
        const QString dir = home.filePath(QStringLiteral("data/PivotrixEntertainment"));
        QVERIFY(QDir().mkpath(dir) && TestRegistry::writeSettings(dir + QStringLiteral("/settings.json"),
                                                                  {TestRegistry::record(m_panel.get(), 1)}));
        QProcessEnvironment env = home.environment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(bus.address()));
        env.remove(QStringLiteral("DISPLAY"));
        QByteArray out;
        QCOMPARE(run(QStringLiteral("--stream on x"), &out, env), 1);
        QCOMPARE(out, QByteArray(
                          "PivotrixEntertainment: Pivotrix Entertainment is not running; start it first.\n"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess app;
        home.start(app, QStringLiteral(APP_PATH), {QStringLiteral("--minimized")}, env);
        QTRY_COMPARE_WITH_TIMEOUT(run(QStringLiteral("--list"), &out, env), 0, 20000);
        QVERIFY2(out.startsWith(m_panel->id().toUtf8() + "\tEmulated PRISM\t" + m_panel->address().toUtf8()),
                 out.constData());
        // A restarted session bus: the running program offers its controls on the new one.
        QVERIFY(bus.restart());
        QTRY_COMPARE_WITH_TIMEOUT(run(QStringLiteral("--list"), &out, env), 0,
                                  3 * ControlService::kBusCheckMs);
    }
};

int main(int argc, char** argv)
{
    return execOnPrivateBus<TestControl>(argc, argv);
}

#include "tst_control.moc"
