#include "support/TestPictures.h"
#include "support/XvfbServer.h"

#include "capture/ScreenGrabber.h"
#include "capture/linux/XcbGrabber.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

using namespace TestPictures;

namespace {

class CountingProcessor : public FrameProcessorBase
{
public:
    explicit CountingProcessor(int index = 0) { setScreenIndex(index); }
    void processFrame(const QImage& frame) override
    {
        ++calls;
        lastSize = frame.size();
    }
    int calls = 0;
    QSize lastSize;
};

} // namespace

class TestScreenGrabber : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void initAnnouncesScreens();
    void noProcessorsCapturesNothing();
    void addTwiceKeepsOne();
    void removeLogsCount();
    void usedScreens_data();
    void usedScreens();
    void outOfRangeIndexNeverCalled_data();
    void outOfRangeIndexNeverCalled();
    void frameProcessedAfterEveryProcessImg();
    void rebuildDropsOldImages();
    void lockFlagReachesBackend();
    void slowTickIsLogged();

private:
    XvfbServer m_server;
    ScreenGrabber* m_grabber = nullptr;
    XcbGrabber* m_backend = nullptr;
};

void TestScreenGrabber::initTestCase()
{
    QVERIFY(m_server.start(QSize(640, 480), {}));
    QVERIFY(m_server.xrandr({QStringLiteral("--setmonitor"), QStringLiteral("second"),
                             QStringLiteral("320/80x240/60+320+240"), QStringLiteral("none")}));
    QVERIFY(m_server.paint(solid(QSize(640, 480), qRgb(120, 120, 0))));
}

void TestScreenGrabber::init()
{
    m_backend = new XcbGrabber(m_server.display());
    m_grabber = new ScreenGrabber(m_backend);
    m_grabber->init();
}

void TestScreenGrabber::cleanup()
{
    delete m_grabber;
    m_grabber = nullptr;
    m_backend = nullptr;
}

void TestScreenGrabber::initAnnouncesScreens()
{
    ScreenGrabber grabber(new XcbGrabber(m_server.display()));
    QSignalSpy reinited(&grabber, &ScreenGrabber::screensReinited);
    QVERIFY(grabber.screens().isEmpty());
    grabber.init();
    QCOMPARE(reinited.count(), 1);
    QVERIFY(grabber.screens().size() >= 2);
}

void TestScreenGrabber::noProcessorsCapturesNothing()
{
    QSignalSpy processed(m_grabber, &ScreenGrabber::frameProcessed);
    m_grabber->grab();
    m_grabber->grab();
    QCOMPARE(m_grabber->imageCount(), 0);
    QCOMPARE(processed.count(), 0);
}

void TestScreenGrabber::addTwiceKeepsOne()
{
    auto proc = QSharedPointer<CountingProcessor>::create();
    m_grabber->addFrameProcessor(proc);
    m_grabber->addFrameProcessor(proc);
    QCOMPARE(m_grabber->processorCount(), 1);
    m_grabber->grab();
    QCOMPARE(proc->calls, 1);
    m_grabber->addFrameProcessor(QSharedPointer<FrameProcessorBase>());
    QCOMPARE(m_grabber->processorCount(), 1);
}

void TestScreenGrabber::removeLogsCount()
{
    auto proc = QSharedPointer<CountingProcessor>::create();
    auto other = QSharedPointer<CountingProcessor>::create();
    m_grabber->addFrameProcessor(proc);
    m_grabber->addFrameProcessor(other);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
                                         "^remove processor base QSharedPointer\\(0x[0-9a-f]+\\) 1$")));
    m_grabber->removeFrameProcessor(proc);
    QCOMPARE(m_grabber->processorCount(), 1);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
                                         "^remove processor base QSharedPointer\\(0x[0-9a-f]+\\) 0$")));
    m_grabber->removeFrameProcessor(proc);
    m_grabber->grab();
    QCOMPARE(proc->calls, 0);
    QCOMPARE(other->calls, 1);
}

void TestScreenGrabber::usedScreens_data()
{
    QTest::addColumn<QList<int>>("indices");
    QTest::addColumn<QList<int>>("used");
    QTest::newRow("same index twice") << QList<int>{0, 0} << QList<int>{0};
    QTest::newRow("first occurrence order") << QList<int>{1, 0, 1, 5} << QList<int>{1, 0, 5};
    QTest::newRow("none") << QList<int>{} << QList<int>{};
}

void TestScreenGrabber::usedScreens()
{
    QFETCH(QList<int>, indices);
    QFETCH(QList<int>, used);
    for (int index : indices)
        m_grabber->addFrameProcessor(QSharedPointer<CountingProcessor>::create(index));
    QCOMPARE(m_backend->usedScreens(), used);
}

void TestScreenGrabber::outOfRangeIndexNeverCalled_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("called");
    QTest::newRow("-1") << -1 << false;
    QTest::newRow("0") << 0 << true;
    QTest::newRow("1") << 1 << true;
    QTest::newRow("beyond last") << 2 << false;
    QTest::newRow("far beyond") << 1000 << false;
}

void TestScreenGrabber::outOfRangeIndexNeverCalled()
{
    QFETCH(int, index);
    QFETCH(bool, called);
    QCOMPARE(m_grabber->screens().size(), 2);
    auto proc = QSharedPointer<CountingProcessor>::create(index);
    m_grabber->addFrameProcessor(proc);
    m_grabber->grab();
    m_grabber->grab();
    QCOMPARE(proc->calls, called ? 2 : 0);
    if (called)
        QVERIFY(!proc->lastSize.isEmpty());
}

void TestScreenGrabber::frameProcessedAfterEveryProcessImg()
{
    QSignalSpy processed(m_grabber, &ScreenGrabber::frameProcessed);
    m_grabber->processImg();
    QCOMPARE(processed.count(), 1);
    m_grabber->addFrameProcessor(QSharedPointer<CountingProcessor>::create(7));
    m_grabber->grab();
    m_grabber->grab();
    QCOMPARE(processed.count(), 3);
}

void TestScreenGrabber::rebuildDropsOldImages()
{
    auto proc = QSharedPointer<CountingProcessor>::create(0);
    m_grabber->addFrameProcessor(proc);
    m_grabber->grab();
    QCOMPARE(m_grabber->imageCount(), 2);
    QCOMPARE(proc->calls, 1);
    // The buffers behind those images are freed by the rebuild.
    m_grabber->init();
    QCOMPARE(m_grabber->imageCount(), 0);
    m_grabber->processImg();
    QCOMPARE(proc->calls, 1);
    m_grabber->grab();
    QCOMPARE(proc->calls, 2);
}

void TestScreenGrabber::lockFlagReachesBackend()
{
    QVERIFY(!m_backend->systemLocked());
    m_grabber->setSystemLocked(true);
    QVERIFY(m_backend->systemLocked());
    m_grabber->setSystemLocked(true);
    QVERIFY(m_backend->systemLocked());
    m_grabber->setSystemLocked(false);
    QVERIFY(!m_backend->systemLocked());
}

void TestScreenGrabber::slowTickIsLogged()
{
    m_grabber->addFrameProcessor(QSharedPointer<CountingProcessor>::create(0));
    m_grabber->grab();
    QTest::qWait(60);
    QVERIFY(m_server.paint(solid(QSize(64, 64), qRgb(1, 2, 3))));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
                                         "^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} grab slow \\d+ grab duration  \\d+ "
                                         "scale duration  \\d+ process duration \\d+ processors 1$")));
    m_grabber->grab();
}

QTEST_GUILESS_MAIN(TestScreenGrabber)
#include "tst_screengrabber.moc"
