#include "support/XvfbServer.h"

#include "capture/FrameProccessorScaledFrame.h"
#include "capture/GrabManager.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

std::atomic<int> g_liveProcessors{0};

// Blocks the worker inside processFrame once armed.
class SlowProcessor : public FrameProcessorBase
{
public:
    SlowProcessor() { ++g_liveProcessors; }
    ~SlowProcessor() override { --g_liveProcessors; }
    void processFrame(const QImage&) override
    {
        threadName = QThread::currentThread()->objectName();
        ++calls;
        if (blockMs > 0) {
            entered = true;
            QThread::msleep(static_cast<unsigned long>(blockMs.load()));
        }
    }
    std::atomic<int> blockMs{0};
    std::atomic<bool> entered{false};
    std::atomic<int> calls{0};
    QString threadName;
};

} // namespace

class TestGrabManager : public QObject
{
    Q_OBJECT
private:
    XvfbServer m_server;

private slots:
    void initTestCase();
    void processorsReceiveFrames();
    void removedProcessorIsReleased();
    void shutdownIsBounded();
};

void TestGrabManager::initTestCase()
{
    // A server of our own: the shared one resets whenever its last client leaves.
    QVERIFY(m_server.start(QSize(1920, 1080)));
    qputenv("DISPLAY", m_server.display());
}

void TestGrabManager::processorsReceiveFrames()
{
    GrabManager manager;
    manager.init();
    auto scaled = QSharedPointer<FrameProccessorScaledFrame>::create();
    scaled->setTargetSize(QSize(11, 7));
    manager.addFrameProcessor(scaled);
    manager.start();
    QTRY_VERIFY(!scaled->scaledFrame().isNull());
    QCOMPARE(scaled->scaledFrame().size(), QSize(11, 7));
    // Retargeting from another thread while the worker scales.
    scaled->setTargetSize(QSize(5, 3));
    QTRY_COMPARE(scaled->scaledFrame().size(), QSize(5, 3));

    auto probe = QSharedPointer<SlowProcessor>::create();
    manager.addFrameProcessor(probe);
    QTRY_VERIFY(probe->calls > 0);
    QCOMPARE(probe->threadName, QStringLiteral("screen-grab-worker"));
}

void TestGrabManager::removedProcessorIsReleased()
{
    GrabManager manager;
    manager.init();
    manager.start();
    {
        auto probe = QSharedPointer<SlowProcessor>::create();
        manager.addFrameProcessor(probe);
        QTRY_VERIFY(probe->calls > 0);
        manager.removeFrameProcessor(probe);
    }
    QTRY_COMPARE(g_liveProcessors.load(), 0);
}

void TestGrabManager::shutdownIsBounded()
{
    auto* manager = new GrabManager;
    manager->init();
    auto probe = QSharedPointer<SlowProcessor>::create();
    probe->blockMs = 4000;
    manager->addFrameProcessor(probe);
    manager->start();
    QTRY_VERIFY(probe->entered);
    QElapsedTimer timer;
    timer.start();
    delete manager;
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 1900 && elapsed < 3000, qPrintable(QString::number(elapsed)));
    // The abandoned worker still finishes and releases its processors.
    QWeakPointer<SlowProcessor> weak = probe;
    probe.reset();
    QTRY_VERIFY_WITH_TIMEOUT(weak.isNull(), 10000);
}

QTEST_GUILESS_MAIN(TestGrabManager)
#include "tst_grabmanager.moc"
