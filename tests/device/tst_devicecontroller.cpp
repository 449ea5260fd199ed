#include "device/PivotrixDeviceController.h"
#include "support/PanelFixture.h"
#include "support/TestGenerator.h"
#include "support/TestHttpServer.h"

#include <QPointer>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {
constexpr int kCheckMs = 200;
constexpr int kFrameMs = 30;

std::unique_ptr<PivotrixDeviceController> deviceFor(const EmulatedPanel& panel, int checkMs = kCheckMs)
{
    return std::make_unique<PivotrixDeviceController>(panel.address(), 1234, panel.apiKey(),
                                                      QStringLiteral("Stored"), QStringLiteral("px3"),
                                                      panel.id(), checkMs, kFrameMs);
}

QSharedPointer<TestGenerator> newGenerator()
{
    return QSharedPointer<TestGenerator>(new TestGenerator, &QObject::deleteLater);
}

// Destroys the device and waits until its thread is gone, as the registry does at exit.
void destroyAndWait(std::unique_ptr<PivotrixDeviceController>& device)
{
    QPointer<QThread> thread = device->controllerThread();
    device.reset();
    QTRY_VERIFY_WITH_TIMEOUT(thread.isNull(), 10000);
}
} // namespace

class TestDeviceController : public QObject
{
    Q_OBJECT
private slots:
    void streamsGeneratorFrames();
    void sameGeneratorTwice();
    void replacingGeneratorDisconnectsOld();
    void generatorResizedWhenOnline();
    void destroyWhileStreamingSendsStop();
    void panelDiesAndComesBack();
    void hungPanelTimesOut();

private:
    PanelFixture m_panels{4};
};

void TestDeviceController::streamsGeneratorFrames()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    auto device = deviceFor(*panel);
    QTRY_VERIFY(device->isOnline());
    auto generator = newGenerator();
    device->setEffectGenerator(generator);
    // Attaching resizes it; the online report may still be on its way and resize it once more.
    QTRY_VERIFY(generator->resizes >= 1);
    QCOMPARE(generator->lastWidth.load(), 4);
    QCOMPARE(generator->lastHeight.load(), 8);
    QCOMPARE(generator->thread(), device->controllerThread());

    QSignalSpy streaming(device.get(), &PivotrixDeviceController::streamEnabledChanged);
    device->startStream();
    QTRY_VERIFY(device->isStreaming());
    QTRY_VERIFY_WITH_TIMEOUT(panel->statistics().snapshot().good >= 10, 10000);
    QCOMPARE(panel->statistics().snapshot().rejected, quint64(0));
    QTRY_VERIFY(streaming.count() >= 1);

    device->stopStream();
    QTRY_VERIFY(!device->isStreaming());
    QTRY_COMPARE(panel->stream().status, QStringLiteral("standby"));
    // The frame timer is stopped: updates come to rest.
    QTest::qWait(3 * kFrameMs);
    const int updates = generator->updates;
    QTest::qWait(5 * kFrameMs);
    QCOMPARE(generator->updates.load(), updates);
    destroyAndWait(device);
}

void TestDeviceController::sameGeneratorTwice()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    auto device = deviceFor(*panel);
    QTRY_VERIFY(device->isOnline());
    auto generator = newGenerator();
    device->setEffectGenerator(generator);
    device->setEffectGenerator(generator);
    QTRY_VERIFY(generator->resizes >= 1);
    device->startStream();
    QTRY_VERIFY_WITH_TIMEOUT(generator->updates >= 10, 10000);
    device->stopStream();
    QTRY_VERIFY(!device->isStreaming());
    QTest::qWait(3 * kFrameMs);
    // One datagram per update at most (frames before the session opens fail); never two.
    const quint64 sent = device->controller()->framesSent();
    QVERIFY(sent > 0);
    QVERIFY(sent <= quint64(generator->updates.load()));
    QTRY_COMPARE(panel->statistics().snapshot().good, sent);
    destroyAndWait(device);
}

void TestDeviceController::replacingGeneratorDisconnectsOld()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    auto device = deviceFor(*panel);
    QTRY_VERIFY(device->isOnline());
    auto first = newGenerator();
    QPointer<TestGenerator> firstWatch = first.data();
    device->setEffectGenerator(first);
    device->startStream();
    QTRY_VERIFY_WITH_TIMEOUT(first->updates >= 3, 10000);
    auto second = newGenerator();
    device->setEffectGenerator(second);
    first.clear(); // the last owner: deleted on the controller thread
    QTRY_VERIFY(firstWatch.isNull());
    QTRY_VERIFY_WITH_TIMEOUT(second->updates >= 3, 10000);
    device->setEffectGenerator({});
    QVERIFY(!device->effectGenerator());
    QTest::qWait(2 * kFrameMs);
    const int updates = second->updates;
    QTest::qWait(5 * kFrameMs);
    QCOMPARE(second->updates.load(), updates);
    destroyAndWait(device);
}

void TestDeviceController::generatorResizedWhenOnline()
{
    PanelConfig config;
    config.canvas = QSize(7, 3);
    auto panel = m_panels.start(config);
    QVERIFY(panel);
    panel->setFault(PanelFault::Offline);
    auto device = deviceFor(*panel);
    auto generator = newGenerator();
    device->setEffectGenerator(generator);
    QTRY_COMPARE(generator->resizes.load(), 1);
    QCOMPARE(generator->lastWidth.load(), 0); // no canvas known yet
    QTRY_COMPARE(device->networkState(), PivotrixController::Offline);
    panel->setFault(PanelFault::None);
    QTRY_VERIFY_WITH_TIMEOUT(device->isOnline(), 10000);
    QTRY_COMPARE(generator->lastWidth.load(), 7);
    QCOMPARE(generator->lastHeight.load(), 3);
    destroyAndWait(device);
}

void TestDeviceController::destroyWhileStreamingSendsStop()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    auto device = deviceFor(*panel);
    QTRY_VERIFY(device->isOnline());
    auto generator = newGenerator();
    QPointer<TestGenerator> watch = generator.data();
    device->setEffectGenerator(generator);
    generator.clear();
    device->startStream();
    QTRY_VERIFY(device->isStreaming());
    QTRY_VERIFY(panel->statistics().snapshot().good > 0);
    destroyAndWait(device);
    QCOMPARE(panel->requestCounts().value(QStringLiteral("stop")), quint64(1));
    QCOMPARE(panel->stream().status, QStringLiteral("standby"));
    QVERIFY(watch.isNull());
}

void TestDeviceController::panelDiesAndComesBack()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    auto device = deviceFor(*panel);
    QTRY_VERIFY(device->isOnline());
    auto generator = newGenerator();
    device->setEffectGenerator(generator);
    device->startStream();
    QTRY_VERIFY(device->isStreaming());
    QTRY_VERIFY_WITH_TIMEOUT(panel->statistics().snapshot().good > 5, 10000);

    panel->setFault(PanelFault::Offline);
    QTRY_VERIFY_WITH_TIMEOUT(device->networkState() == PivotrixController::Offline, 5000);
    panel->setFault(PanelFault::None);
    QTRY_VERIFY_WITH_TIMEOUT(device->isOnline(), 5000);
    // The rebooted panel is idle; the next check reports it.
    QTRY_COMPARE(device->streamingState(), PivotrixController::Standby);
    const quint64 before = panel->statistics().snapshot().good;
    device->startStream(); // what the device page does when the device is back
    QTRY_VERIFY(device->isStreaming());
    QTRY_VERIFY_WITH_TIMEOUT(panel->statistics().snapshot().good > before + 5, 10000);
    destroyAndWait(device);
}

// A panel that accepts connections and never answers: every request gives up, the device reads Offline
// and keeps checking, and a hung device can still be destroyed.
void TestDeviceController::hungPanelTimesOut()
{
    const QByteArray info = "GET /api/v2/device";
    const QByteArray stream = "GET /api/v2/device/stream";
    const QByteArray start = "PUT /api/v2/device/stream/start";
    TestHttpServer server;
    const QString address = m_panels.nextAddress();
    QVERIFY(server.listen(QHostAddress(address)));
    for (const QByteArray& route : {info, stream, start})
        server.setMode(route, TestHttpServer::Mode::Silent);
    auto device = std::make_unique<PivotrixDeviceController>(
        address, 0, QStringLiteral("k"), QString(), QString(), QStringLiteral("hung"), 500, kFrameMs, 800);
    QTRY_COMPARE_WITH_TIMEOUT(device->networkState(), PivotrixController::Offline, 10000);
    QCOMPARE(device->lastError(), QStringLiteral("Timeout"));

    server.setReply(info, 200, R"({"name":"n"})");
    server.setReply(stream, 200, R"({"status":"standby"})");
    QTRY_COMPARE_WITH_TIMEOUT(device->networkState(), PivotrixController::Online, 10000);

    device->startStream();
    QTRY_COMPARE(server.requestCount(start), 1);
    destroyAndWait(device);
}

QTEST_MAIN(TestDeviceController)
#include "tst_devicecontroller.moc"
