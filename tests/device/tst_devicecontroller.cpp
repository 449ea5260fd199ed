// Paired devices on their own threads: generators feeding emulated panels, panels that go away or hang,
// and the registry that pairs, unpairs and shuts them down.
#include "core/ResourceManager.h"
#include "device/FramePacer.h"
#include "device/PivotrixDeviceController.h"
#include "effects/AbstractColorProvider.h"
#include "effects/EffectDeviceSeasoning.h"
#include "effects/EffectGeneratorFadingPixel.h"
#include "effects/RazerIndexedColorProvider.h"
#include "support/LogCapture.h"
#include "support/PanelFixture.h"
#include "support/TestPictures.h"
#include "support/TestRegistry.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QScopeGuard>
#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <memory>
#include <thread>

Q_DECLARE_METATYPE(QList<QColor>)

using namespace TestPictures;

namespace {
constexpr int kFrameMs = 30;
constexpr int kWaitMs = 10000;

quint64 goodFrames(EmulatedPanel& panel)
{
    return panel.statistics().snapshot().good;
}

// True when no more frames come: the frame timer stopped, the generator was detached or has no colours.
bool comesToRest(const std::atomic<int>& frames)
{
    QTest::qWait(3 * kFrameMs);
    const int before = frames;
    QTest::qWait(5 * kFrameMs);
    return frames == before;
}

// Destroys the device and waits until its thread is gone, as the registry does at exit.
void destroyAndWait(std::unique_ptr<PivotrixDeviceController>& device)
{
    QPointer<QThread> thread = device->controllerThread();
    device.reset();
    QTRY_VERIFY_WITH_TIMEOUT(thread.isNull(), 10000);
}

template <typename T, typename... Args> QSharedPointer<T> shared(Args&&... args)
{
    // Pages share these with deleteLater, so the last owner's release ends them on their own thread.
    return QSharedPointer<T>(new T(std::forward<Args>(args)...), &QObject::deleteLater);
}

// A fading-pixel generator over provider that counts the frames it paints, on whatever thread it runs.
QSharedPointer<EffectGeneratorFadingPixel>
generatorOver(const QSharedPointer<AbstractColorProvider>& provider, std::atomic<int>& frames)
{
    auto generator = shared<EffectGeneratorFadingPixel>();
    generator->setColorProvider(provider);
    QObject::connect(
        generator.data(), &EffectGenerator::canvasUpdated, generator.data(), [&frames] { ++frames; },
        Qt::DirectConnection);
    return generator;
}

// The panel shows red, green and blue only.
bool shows(EmulatedPanel& panel, const QStringList& rows, const QList<QColor>& colors)
{
    return panel.lastFrame() == picture(rows, colors).convertToFormat(QImage::Format_RGB888);
}

} // namespace

class TestDeviceController : public QObject
{
    Q_OBJECT
private slots:
    // The Razer pipeline end to end: broadcast colours, the ticked ones picked by index, bands painted on
    // the device thread and sent to the panel every tick; then generators replaced, detached, unpaired.
    void generatorsFeedTheStream()
    {
        std::atomic<int> firstFrames{0}, secondFrames{0}; // outlive the device whose thread counts them
        auto panel = m_panels.start();
        QVERIFY(panel);
        auto device = std::make_unique<PivotrixDeviceController>(
            panel->address(), 1234, panel->apiKey(), QString(), QString(), panel->id(), 200, kFrameMs);
        QTRY_VERIFY_WITH_TIMEOUT(device->isOnline(), kWaitMs);
        const QList<QColor> colors{QColor(250, 20, 20), QColor(20, 250, 20), QColor(20, 20, 250),
                                   QColor(240, 200, 10), QColor(255, 255, 255)};
        auto broadcast = shared<AbstractColorProvider>();
        broadcast->updateColors(colors);
        auto indexed = shared<RazerIndexedColorProvider>(broadcast.data());
        const auto tick = [&indexed](const QList<int>& boxes) {
            return QMetaObject::invokeMethod(indexed.data(), "updateIndexes", Qt::QueuedConnection,
                                             Q_ARG(QList<int>, boxes));
        };
        QVERIFY(tick({0, 3}));
        auto first = generatorOver(indexed, firstFrames);
        QPointer<QObject> firstWatch = first.data();
        first->setAngle(directionAngle(0));
        device->setEffectGenerator(first);
        device->setEffectGenerator(first);
        QCOMPARE(first->thread(), device->controllerThread());
        device->startStream();
        QTRY_VERIFY_WITH_TIMEOUT(shows(*panel, repeat(8, "aabb"), {colors.at(0), colors.at(3)}), kWaitMs);
        // The direction combo turns the bands from the GUI thread while frames keep flowing.
        first->setAngle(directionAngle(2));
        QTRY_VERIFY_WITH_TIMEOUT(
            shows(*panel, repeat(4, "aaaa") + repeat(4, "bbbb"), {colors.at(0), colors.at(3)}), kWaitMs);
        // New broadcast colours arrive from another thread; one ticked box fills the canvas.
        const QList<QColor> next{QColor(1, 2, 3), QColor(4, 5, 6), QColor(7, 8, 9), QColor(100, 0, 200),
                                 QColor(9, 9, 9)};
        std::thread([&broadcast, &next] { broadcast->updateColors(next); }).join();
        QVERIFY(tick({4}));
        QTRY_VERIFY_WITH_TIMEOUT(shows(*panel, repeat(8, "aaaa"), {next.at(4)}), kWaitMs);
        // No box ticked: no frames at all, so the panel keeps the last one.
        QVERIFY(tick({}));
        QVERIFY(comesToRest(firstFrames));
        QVERIFY(shows(*panel, repeat(8, "aaaa"), {next.at(4)}));

        // A replacement takes over; the old one, no longer owned, is deleted on the controller thread.
        auto second = generatorOver(broadcast, secondFrames);
        QPointer<QObject> secondWatch = second.data();
        device->setEffectGenerator(second);
        first.clear();
        QTRY_VERIFY(firstWatch.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(secondFrames >= 3, kWaitMs);
        device->stopStream();
        QTRY_COMPARE(panel->stream().status, QStringLiteral("standby"));
        QVERIFY(comesToRest(secondFrames));
        // Attached twice is attached once: one datagram per frame at most (before the session opens, none).
        const quint64 sent = device->controller()->framesSent();
        QVERIFY(sent > 0 && sent <= quint64(firstFrames + secondFrames));
        QTRY_COMPARE(goodFrames(*panel), sent);
        QCOMPARE(panel->statistics().snapshot().rejected, quint64(0));

        // A pause is no late frame: nothing reports a gap of a second. Detached, a generator gets no more
        // ticks.
        QTest::qWait(1000);
        LogCapture log;
        device->startStream();
        const int resumed = secondFrames;
        QTRY_VERIFY_WITH_TIMEOUT(device->isStreaming() && secondFrames > resumed + 3, kWaitMs);
        const QStringList stalls = log.lines(QStringLiteral("too slow"))
                                       .filter(QRegularExpression(QStringLiteral("too slow \\d{4}")));
        QVERIFY2(stalls.isEmpty(), qPrintable(stalls.join(QLatin1Char('\n'))));
        device->setEffectGenerator({});
        QVERIFY(comesToRest(secondFrames));
        device->setEffectGenerator(second);
        second.clear();
        destroyAndWait(device);
        QVERIFY(secondWatch.isNull());
    }

    // A mirroring panel's frame goes out as soon as the capture made a picture, once per picture even when
    // two come close together, and on its own ticks while pictures stop; a stopped pacer ignores pictures.
    void pacerFollowsThePictureSource()
    {
        FramePacer pacer(300);
        QSignalSpy ticks(&pacer, &FramePacer::tick);
        const auto picture = [&] {
            pacer.sourceTicked();
            return ticks.count();
        };
        QCOMPARE(picture(), 0);
        pacer.start();
        QCOMPARE(picture(), 1);
        QCOMPARE(picture(), 1);
        QCOMPARE(picture(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(ticks.count(), 2, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 4, 5000);
        pacer.stop();
        QCOMPARE(picture(), ticks.count());
        QVERIFY(!pacer.isRunning());
    }

    // A device whose panel hangs (takes a start and never answers) can still be unpaired. (Faults
    // mid-stream are rows of the tabs' stream rules.)
    void unpairWhilePanelHangs()
    {
        auto panel = m_panels.start();
        QVERIFY(panel);
        auto device = std::make_unique<PivotrixDeviceController>(
            panel->address(), 1234, panel->apiKey(), QString(), QString(), panel->id(), 200, kFrameMs, 800);
        QTRY_VERIFY_WITH_TIMEOUT(device->isOnline(), 10000);
        panel->setFault(PanelFault::Hang);
        device->startStream();
        QTRY_COMPARE(panel->requestCounts().value(QStringLiteral("start")), quint64(1));
        destroyAndWait(device);
    }

    // A registry's panels are checked by one round, apart from their controllers' threads: with one held,
    // its panel's answers keep coming; the one that finds the panel failing waits for the thread, and so does
    // the next that finds it back, though it looks unchanged next to the state before. A panel unpaired
    // while its check hangs is let go; the other is still checked, and one paired later joins its beat.
    void checksShareOneRound()
    {
        auto steady = m_panels.start();
        auto flaky = m_panels.start();
        QVERIFY(steady && flaky);
        ResourceManager* r = m_registry.load(
            {TestRegistry::record(steady.get(), 1), TestRegistry::record(flaky.get(), 2)}, 200, 1000);
        PivotrixDeviceController* dev = r->devices().at(1);
        QTRY_VERIFY_WITH_TIMEOUT(dev->isOnline() && r->devices().at(0)->isOnline(), kWaitMs);
        // Until n more calls reached the panel (so n - 1 answers were taken).
        const auto calls = [](const std::unique_ptr<EmulatedPanel>& panel, const char* call, quint64 n) {
            const auto count = [&] {
                return panel->requestCounts().value(QLatin1String(call));
            };
            const quint64 until = count() + n;
            return QTest::qWaitFor([&] { return count() >= until; }, kWaitMs);
        };
        auto gate = std::make_shared<std::pair<QSemaphore, QSemaphore>>(); // held, released
        QMetaObject::invokeMethod(
            dev->controller(),
            [gate] {
                gate->first.release();
                gate->second.acquire();
            },
            Qt::QueuedConnection);
        const auto release = qScopeGuard([gate] { gate->second.release(); });
        QVERIFY(gate->first.tryAcquire(1, kWaitMs));
        QSignalSpy online(dev, &PivotrixDeviceController::onlineChanged);
        LogCapture log;
        QVERIFY(calls(flaky, "stream", 3));
        flaky->setFault(PanelFault::Http500);
        QVERIFY(calls(flaky, "failed", 2));
        flaky->setFault(PanelFault::None);
        QVERIFY(calls(flaky, "stream", 2));
        flaky->setFault(PanelFault::Hang);  // no later answer tells it is back
        QVERIFY(calls(flaky, "stream", 1)); // asked again: every earlier answer was taken
        gate->second.release();
        // (The spy may have caught the first Online still on its way.)
        const auto lastTwo = [&online] {
            QList<int> states;
            for (const QList<QVariant>& signal : online)
                states << signal.at(0).toInt();
            return states.mid(states.size() - 2);
        };
        QTRY_COMPARE_WITH_TIMEOUT(
            lastTwo(), (QList<int>{PivotrixController::Offline, PivotrixController::Online}), kWaitMs);
        QCOMPARE(log.count(QStringLiteral("answers again")), 1);

        r->removeDevice(flaky->id());
        QVERIFY(calls(steady, "stream", 10));
        flaky->setFault(PanelFault::None);
        // Paired later, a panel is asked along with the other.
        const int together = log.count(QStringLiteral("check online 2 panels"));
        auto late = m_panels.start();
        QVERIFY(late && r->addDevice(late->address(), 1, late->apiKey(), {}, {}, late->id()));
        QTRY_VERIFY(log.count(QStringLiteral("check online 2 panels")) > together);
    }

    void cleanup() { ResourceManager::destroyInstance(); }

    // Paired devices load in the order of their indexes. Unpairing signals before deletion, stops the stream
    // and forgets the device's settings, so pairing it again starts fresh; at exit every other stream is
    // stopped, and a panel that answers late does not hold the exit up.
    void pairedLifecycle()
    {
        auto removed = m_panels.start();
        auto prompt = m_panels.start();
        auto late = m_panels.start();
        QVERIFY(removed && prompt && late);
        const QVariantMap razer{{QStringLiteral("razer"), QVariantMap{{QStringLiteral("angle"), 3}}}};
        ResourceManager* r =
            m_registry.load({TestRegistry::record(removed.get(), 3, razer),
                             TestRegistry::record(prompt.get(), 1), TestRegistry::record(late.get(), 2)});
        QStringList order;
        for (PivotrixDeviceController* dev : r->devices()) {
            order << dev->deviceId();
            QTRY_VERIFY_WITH_TIMEOUT(dev->isOnline(), kWaitMs);
            dev->startStream();
            QTRY_VERIFY_WITH_TIMEOUT(dev->isStreaming(), kWaitMs);
        }
        QCOMPARE(order, (QStringList{prompt->id(), late->id(), removed->id()}));
        QPointer<PivotrixDeviceController> watch = r->devices().constLast();
        PivotrixDeviceController* lateDevice = r->devices().at(1);
        // At the signal the device is still there, offline and marked removed, and out of the list.
        bool asExpected = false;
        connect(r, &ResourceManager::deviceRemoved, this, [&](PivotrixDeviceController* gone) {
            asExpected = watch == gone && !gone->isOnline() && gone->isRemoved() && r->devices().size() == 2;
        });
        r->removeDevice(removed->id());
        QVERIFY(asExpected);
        QFile file(m_registry.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject kept = QJsonDocument::fromJson(file.readAll())[QLatin1String("devices")].toObject();
        QVERIFY(kept.size() == 2 && !kept.contains(removed->id()));
        QTRY_VERIFY(watch.isNull());
        QTRY_COMPARE(removed->requestCounts().value(QStringLiteral("stop")), quint64(1));
        r->addDevice(removed->address(), 1, QStringLiteral("k2"), QStringLiteral("n"), QStringLiteral("m"),
                     removed->id());
        QVERIFY(!r->deviceSettings(removed->id()).contains(QStringLiteral("razer")));
        QCOMPARE(r->deviceSettings(removed->id()).value(QStringLiteral("auth")).toString(),
                 QStringLiteral("k2"));

        QPointer<QThread> thread = lateDevice->controllerThread();
        late->setReplyDelay(8000);
        QElapsedTimer clock;
        clock.start();
        ResourceManager::destroyInstance();
        // Bounded well below the panel's delay; the exact figure is not the point.
        QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
        // The stop went out before the registry was gone, without any further event processing.
        QCOMPARE(prompt->requestCounts().value(QStringLiteral("stop")), quint64(1));
        QCOMPARE(prompt->stream().status, QStringLiteral("standby"));
        // The late request was cut short, so the thread is over and only its object waits for deletion.
        QVERIFY(!thread || thread->isFinished());
        QTRY_VERIFY(thread.isNull());
        late->stop();
    }

private:
    TestRegistry m_registry;
    PanelFixture m_panels{4};
};

QTEST_MAIN(TestDeviceController)
#include "tst_devicecontroller.moc"
