#include "capture/GrabManager.h"
#include "capture/session/SystemSession.h"
#include "core/AutostartRegistration.h"
#include "core/ResourceManager.h"
#include "core/SettingsManager.h"
#include "device/PivotrixDeviceController.h"
#include "support/PanelFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QVariantMap record(const QString& id, const QVariant& index,
                   const QString& address = QStringLiteral("127.0.5.250"))
{
    QVariantMap r{{QStringLiteral("address"), address},
                  {QStringLiteral("port"), 16021},
                  {QStringLiteral("auth"), QStringLiteral("k")},
                  {QStringLiteral("name"), QStringLiteral("Panel ") + id},
                  {QStringLiteral("model"), QStringLiteral("px3")},
                  {QStringLiteral("id"), id}};
    if (index.isValid())
        r.insert(QStringLiteral("index"), index);
    return r;
}

QJsonObject fileDevices(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("devices")).toObject();
}
} // namespace

class TestResourceManager : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void loadBuildsSortedControllers();
    void rePairingStartsFresh();
    void removeSignalsBeforeDeletion();
    void shutdownStopsEveryStream();
    void shutdownIsBounded();

private:
    ResourceManager* registry(const QVariantMap& devices = {});

    QTemporaryDir m_dir;
    QString m_path;
    PanelFixture m_panels{5};
};

void TestResourceManager::init()
{
    QVERIFY(m_dir.isValid());
    m_path =
        m_dir.filePath(QStringLiteral("settings-%1.json").arg(QLatin1String(QTest::currentTestFunction())));
    QFile::remove(m_path);
}

void TestResourceManager::cleanup()
{
    ResourceManager::destroyInstance();
}

ResourceManager* TestResourceManager::registry(const QVariantMap& devices)
{
    if (!devices.isEmpty()) {
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly))
            file.write(
                QJsonDocument(QJsonObject{{QStringLiteral("devices"), QJsonObject::fromVariantMap(devices)},
                                          {QStringLiteral("run_on_start"), false}})
                    .toJson());
    }
    ResourceManager* r = ResourceManager::instance();
    r->setAutostartRegistration(nullptr);
    r->setDeviceTimerIntervals(300, 30);
    r->loadSettings(m_path);
    return r;
}

void TestResourceManager::loadBuildsSortedControllers()
{
    const QVariantMap devices{{QStringLiteral("x"), record(QStringLiteral("x"), 3)},
                              {QStringLiteral("y"), record(QStringLiteral("y"), 1)},
                              {QStringLiteral("z"), record(QStringLiteral("z"), 2)}};
    ResourceManager* r = registry(devices);
    const QList<PivotrixDeviceController*> list = r->devices();
    QCOMPARE(list.size(), 3);
    QCOMPARE(list.at(0)->deviceId(), QStringLiteral("y"));
    QCOMPARE(list.at(1)->deviceId(), QStringLiteral("z"));
    QCOMPARE(list.at(2)->deviceId(), QStringLiteral("x"));
    QCOMPARE(list.at(0)->name(), QStringLiteral("Panel y"));
    QCOMPARE(list.at(0)->apiKey(), QStringLiteral("k"));
    QCOMPARE(r->deviceSettings(QStringLiteral("z")).value(QStringLiteral("index")).toInt(), 2);
    QVERIFY(r->deviceSettings(QStringLiteral("nope")).isEmpty());
}

void TestResourceManager::rePairingStartsFresh()
{
    ResourceManager* r = registry();
    const QString id = QStringLiteral("panel-1");
    r->addDevice(QStringLiteral("127.0.5.253"), 1, QStringLiteral("k1"), QStringLiteral("n"),
                 QStringLiteral("m"), id);
    QVariantMap settings = r->deviceSettings(id);
    settings.insert(QStringLiteral("stream_enabled"), true);
    settings.insert(QStringLiteral("stream_source"), QStringLiteral("razer"));
    settings.insert(QStringLiteral("razer"), QVariantMap{{QStringLiteral("angle"), 3}});
    r->setDeviceSettings(id, settings);
    QCOMPARE(fileDevices(m_path).value(id).toObject().keys().size(), 10);

    r->removeDevice(id);
    QVERIFY(!fileDevices(m_path).contains(id));
    r->addDevice(QStringLiteral("127.0.5.253"), 1, QStringLiteral("k2"), QStringLiteral("n"),
                 QStringLiteral("m"), id);
    const QVariantMap fresh = r->deviceSettings(id);
    QCOMPARE(fresh.size(), 7);
    QVERIFY(!fresh.contains(QStringLiteral("razer")));
    QVERIFY(!fresh.contains(QStringLiteral("stream_enabled")));
    QCOMPARE(fresh.value(QStringLiteral("auth")).toString(), QStringLiteral("k2"));
    QCOMPARE(fresh.value(QStringLiteral("index")).toInt(), 1);
}

void TestResourceManager::removeSignalsBeforeDeletion()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    ResourceManager* r = registry();
    PivotrixDeviceController* dev = r->addDevice(panel->address(), 1, panel->apiKey(), QStringLiteral("n"),
                                                 QStringLiteral("m"), panel->id());
    QTRY_VERIFY(dev->isOnline());
    dev->startStream();
    QTRY_VERIFY(dev->isStreaming());
    QPointer<PivotrixDeviceController> watch = dev;
    bool aliveAtSignal = false;
    bool offlineAtSignal = false;
    bool recordGoneAtSignal = false;
    connect(r, &ResourceManager::deviceRemoved, this, [&](PivotrixDeviceController* removed) {
        aliveAtSignal = watch == removed && !watch.isNull();
        offlineAtSignal = !removed->isOnline() && removed->isRemoved();
        recordGoneAtSignal = r->devices().isEmpty();
    });
    r->removeDevice(panel->id());
    QVERIFY(aliveAtSignal);
    QVERIFY(offlineAtSignal);
    QVERIFY(recordGoneAtSignal);
    QVERIFY(!fileDevices(m_path).contains(panel->id()));
    QTRY_VERIFY(watch.isNull());
    // Unpairing a streaming panel stops its stream.
    QTRY_COMPARE(panel->requestCounts().value(QStringLiteral("stop")), quint64(1));
}

void TestResourceManager::shutdownStopsEveryStream()
{
    auto a = m_panels.start();
    auto b = m_panels.start();
    QVERIFY(a && b);
    ResourceManager* r = registry();
    for (EmulatedPanel* panel : {a.get(), b.get()}) {
        PivotrixDeviceController* dev = r->addDevice(panel->address(), 1, panel->apiKey(),
                                                     QStringLiteral("n"), QStringLiteral("m"), panel->id());
        QTRY_VERIFY(dev->isOnline());
        dev->startStream();
        QTRY_VERIFY(dev->isStreaming());
    }
    ResourceManager::destroyInstance();
    // The stop requests went out before the registry was gone, without any further event processing.
    QCOMPARE(a->requestCounts().value(QStringLiteral("stop")), quint64(1));
    QCOMPARE(b->requestCounts().value(QStringLiteral("stop")), quint64(1));
    QCOMPARE(a->stream().status, QStringLiteral("standby"));
}

void TestResourceManager::shutdownIsBounded()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    ResourceManager* r = registry();
    PivotrixDeviceController* dev = r->addDevice(panel->address(), 1, panel->apiKey(), QStringLiteral("n"),
                                                 QStringLiteral("m"), panel->id());
    QTRY_VERIFY(dev->isOnline());
    dev->startStream();
    QTRY_VERIFY(dev->isStreaming());
    panel->setReplyDelay(8000);
    QPointer<QThread> thread = dev->controllerThread();
    QElapsedTimer clock;
    clock.start();
    ResourceManager::destroyInstance();
    // Bounded well below the panel's delay; the exact figure is not the point.
    QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    // The request was cut short, so the thread is over and only its object waits for deletion.
    QVERIFY(!thread || thread->isFinished());
    QTRY_VERIFY(thread.isNull());
    panel->stop();
}

QTEST_MAIN(TestResourceManager)
#include "tst_resourcemanager.moc"
