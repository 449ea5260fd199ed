#include "support/TestPictures.h"
#include "support/XvfbServer.h"

#include "capture/FrameProcessorAvgRects.h"
#include "capture/ScreenGrabber.h"
#include "capture/linux/XcbGrabber.h"

#include <QPainter>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using namespace TestPictures;

namespace {

const QSize FullHd(1920, 1080);

// Counts its calls and remembers the first pixel of the last image it saw.
class ProbeProcessor : public FrameProcessorBase
{
public:
    void processFrame(const QImage& frame) override
    {
        ++calls;
        size = frame.size();
        if (!frame.isNull())
            firstPixel = frame.pixel(0, 0) | 0xff000000u;
    }
    int calls = 0;
    QSize size;
    QRgb firstPixel = 0;
};

QList<ScreenInfo> rebuild(XcbGrabber& grabber)
{
    grabber.deinitScreens();
    const QList<ScreenInfo> screens = grabber.identifyScreens();
    grabber.setScreens(screens);
    grabber.initScreens(screens);
    return screens;
}

} // namespace

class TestXcbGrabber : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void reducesKnownContent_data();
    void reducesKnownContent();
    void staticScreenHasNoNewFrame();
    void damagedBlocksOnly();
    void twoMonitors();
    void monitorPartlyOffScreen();
    void layoutChangeRebuilds();
    void lockedRebuildWaits();
    void serverRestart();
    void unreachableServerStaysNotReady();

private:
    XvfbServer m_shm;
    XvfbServer m_plain;
};

void TestXcbGrabber::initTestCase()
{
    QVERIFY(m_shm.start(FullHd, {QStringLiteral("+extension"), QStringLiteral("MIT-SHM")}));
    QVERIFY(m_plain.start(FullHd, {QStringLiteral("-extension"), QStringLiteral("MIT-SHM")}));
}

void TestXcbGrabber::cleanupTestCase()
{
    m_shm.kill();
    m_plain.kill();
}

void TestXcbGrabber::reducesKnownContent_data()
{
    QTest::addColumn<bool>("shm");
    QTest::addColumn<QImage>("content");
    const QList<bool> modes = {true, false};
    for (bool shm : modes) {
        const char* mode = shm ? "shm" : "getimage";
        QTest::addRow("%s solid", mode) << shm << solid(FullHd, qRgb(200, 30, 90));
        QTest::addRow("%s checker 16", mode)
            << shm << checker(FullHd, 16, qRgb(255, 255, 255), qRgb(0, 0, 0));
        QTest::addRow("%s checker 5", mode) << shm << checker(FullHd, 5, qRgb(17, 18, 19), qRgb(254, 1, 128));
        QTest::addRow("%s gradient", mode) << shm << gradient(FullHd);
        QTest::addRow("%s noise", mode) << shm << noise(FullHd, 7);
    }
}

void TestXcbGrabber::reducesKnownContent()
{
    QFETCH(bool, shm);
    QFETCH(QImage, content);
    XvfbServer& server = shm ? m_shm : m_plain;
    QVERIFY(server.paint(content));

    XcbGrabber grabber(server.display());
    const QList<ScreenInfo> screens = rebuild(grabber);
    QCOMPARE(grabber.state(), Ready);
    QCOMPARE(grabber.usesShm(), shm);
    QCOMPARE(screens.size(), 1);
    QCOMPARE(screens.first().name, QStringLiteral("Monitor 1"));
    QCOMPARE(screens.first().geometry, QRect(QPoint(0, 0), FullHd));

    QVERIFY(grabber.grabFrames());
    QCOMPARE(grabber.frames().size(), 1);
    const ScreenFrame* frame = grabber.frames().first();
    QCOMPARE(frame->width, 120);
    QCOMPARE(frame->height, 67);
    QCOMPARE(frame->stride, 480);
    QCOMPARE(frame->valid, 1);
    QCOMPARE(frame->size, qint64(480 * 67));
    QCOMPARE(firstDifference(frame, reduced(content, screens.first().geometry)), -1);
}

void TestXcbGrabber::staticScreenHasNoNewFrame()
{
    QVERIFY(m_shm.paint(solid(FullHd, qRgb(10, 200, 10))));
    auto* backend = new XcbGrabber(m_shm.display());
    ScreenGrabber grabber(backend);
    grabber.init();
    QCOMPARE(backend->state(), Ready);
    QVERIFY(backend->usesDamage());
    auto probe = QSharedPointer<ProbeProcessor>::create();
    grabber.addFrameProcessor(probe);
    QSignalSpy processed(&grabber, &ScreenGrabber::frameProcessed);

    grabber.grab();
    QCOMPARE(probe->calls, 1);
    QCOMPARE(probe->firstPixel, qRgb(10, 200, 10));
    QCOMPARE(probe->size, QSize(120, 67));

    // Nothing drawn: no new frame, yet processors see the previous image again.
    QVERIFY(!backend->grabFrames());
    grabber.grab();
    grabber.grab();
    QCOMPARE(probe->calls, 3);
    QCOMPARE(probe->firstPixel, qRgb(10, 200, 10));
    QCOMPARE(processed.count(), 3);

    QVERIFY(m_shm.paint(solid(QSize(32, 32), qRgb(250, 250, 0))));
    QVERIFY(backend->grabFrames());
    QVERIFY(!backend->grabFrames());
    grabber.grab();
    QCOMPARE(probe->firstPixel, qRgb(250, 250, 0));
}

void TestXcbGrabber::damagedBlocksOnly()
{
    QImage screen = noise(FullHd, 11);
    QVERIFY(m_shm.paint(screen));
    XcbGrabber grabber(m_shm.display());
    const QList<ScreenInfo> screens = rebuild(grabber);
    QVERIFY(grabber.grabFrames());

    // Small changes off the block grid, far apart, then many scattered ones.
    QList<QRect> changes = {QRect(37, 53, 20, 20), QRect(1900, 1070, 20, 10), QRect(700, 15, 1, 1)};
    for (int i = 0; i < 20; ++i)
        changes.append(QRect(i * 90 + 3, i * 50 + 7, 9, 9));
    int step = 0;
    for (const QRect& change : changes) {
        const QImage patch = noise(change.size(), quint32(100 + step++));
        QPainter(&screen).drawImage(change.topLeft(), patch);
        QVERIFY(m_shm.paint(patch, change.x(), change.y()));
        if (step <= 3 || step == changes.size()) {
            QVERIFY(grabber.grabFrames());
            QCOMPARE(firstDifference(grabber.frames().first(), reduced(screen, screens.first().geometry)),
                     -1);
        }
    }
}

void TestXcbGrabber::twoMonitors()
{
    XvfbServer server;
    QVERIFY(server.start(FullHd, {}));
    QVERIFY(server.xrandr({QStringLiteral("--setmonitor"), QStringLiteral("left"),
                           QStringLiteral("1200/300x1080/270+0+0"), QStringLiteral("none")}));
    QVERIFY(server.xrandr({QStringLiteral("--setmonitor"), QStringLiteral("right"),
                           QStringLiteral("720/180x600/150+1200+0"), QStringLiteral("none")}));
    QImage screen = solid(FullHd, qRgb(0, 0, 0));
    QPainter(&screen).fillRect(QRect(0, 0, 1200, 1080), QColor(220, 20, 20));
    QPainter(&screen).fillRect(QRect(1200, 0, 720, 600), QColor(20, 20, 220));
    QVERIFY(server.paint(screen));

    auto* backend = new XcbGrabber(server.display());
    ScreenGrabber grabber(backend);
    grabber.init();
    const QList<ScreenInfo> screens = grabber.screens();
    QList<QRect> geometries;
    QStringList names;
    for (const ScreenInfo& s : screens) {
        geometries.append(s.geometry);
        names.append(s.name);
    }
    QVERIFY2(geometries.contains(QRect(0, 0, 1200, 1080)), qPrintable(names.join(QLatin1Char(','))));
    QVERIFY(geometries.contains(QRect(1200, 0, 720, 600)));
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(names.at(i), QStringLiteral("Monitor %1").arg(i + 1));

    const int left = geometries.indexOf(QRect(0, 0, 1200, 1080));
    const int right = geometries.indexOf(QRect(1200, 0, 720, 600));
    auto leftColor = QSharedPointer<FrameProcessorAvgRects>::create();
    auto rightColor = QSharedPointer<FrameProcessorAvgRects>::create();
    leftColor->setRects({QRectF(0, 0, 1, 1)});
    rightColor->setRects({QRectF(0, 0, 1, 1)});
    leftColor->setScreenIndex(left);
    rightColor->setScreenIndex(right);
    grabber.addFrameProcessor(leftColor);
    grabber.addFrameProcessor(rightColor);
    grabber.grab();
    QCOMPARE(leftColor->colors(), QList<QColor>{QColor(220, 20, 20)});
    QCOMPARE(rightColor->colors(), QList<QColor>{QColor(20, 20, 220)});
    QCOMPARE(firstDifference(backend->frames().at(left), reduced(screen, geometries.at(left))), -1);
    QCOMPARE(firstDifference(backend->frames().at(right), reduced(screen, geometries.at(right))), -1);
    QCOMPARE(backend->frames().at(right)->width, 45);
    QCOMPARE(backend->frames().at(right)->height, 37);
}

void TestXcbGrabber::monitorPartlyOffScreen()
{
    XvfbServer server;
    QVERIFY(server.start(QSize(640, 480), {}));
    QVERIFY(server.xrandr({QStringLiteral("--setmonitor"), QStringLiteral("edge"),
                           QStringLiteral("400/100x300/75+500+400"), QStringLiteral("none")}));
    const QImage screen = gradient(QSize(640, 480));
    QVERIFY(server.paint(screen));
    XcbGrabber grabber(server.display());
    const QList<ScreenInfo> screens = rebuild(grabber);
    int edge = -1;
    for (int i = 0; i < screens.size(); ++i) {
        if (screens.at(i).geometry == QRect(500, 400, 400, 300))
            edge = i;
    }
    QVERIFY(edge >= 0);
    QVERIFY(grabber.grabFrames());
    // Blocks on the root window are read (8 x 5 of them), the rest stays black.
    const ScreenFrame* frame = grabber.frames().at(edge);
    QCOMPARE(frame->width, 25);
    const QImage expected = reduced(screen, QRect(500, 400, 128, 80));
    for (int y = 0; y < frame->height; ++y) {
        const auto* line = reinterpret_cast<const quint32*>(frame->buffer + y * frame->stride);
        for (int x = 0; x < frame->width; ++x) {
            const quint32 want = x < 8 && y < 5 ? expected.pixel(x, y) : 0u;
            QCOMPARE(line[x], want);
        }
    }
}

void TestXcbGrabber::layoutChangeRebuilds()
{
    XvfbServer server;
    QVERIFY(server.start(QSize(800, 600), {}));
    auto* backend = new XcbGrabber(server.display());
    backend->setReinitDelay(100);
    ScreenGrabber grabber(backend);
    QSignalSpy reinited(&grabber, &ScreenGrabber::screensReinited);
    grabber.init();
    QCOMPARE(reinited.count(), 1);
    const int before = grabber.screens().size();
    grabber.addFrameProcessor(QSharedPointer<ProbeProcessor>::create());
    grabber.grab();

    QVERIFY(server.xrandr({QStringLiteral("--setmonitor"), QStringLiteral("extra"),
                           QStringLiteral("400/100x300/75+400+300"), QStringLiteral("none")}));
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, &grabber, &ScreenGrabber::grab);
    ticker.start(30);
    QTRY_VERIFY_WITH_TIMEOUT(reinited.count() >= 2, 10000);
    QCOMPARE(grabber.screens().size(), before + 1);
    QCOMPARE(backend->state(), Ready);
}

void TestXcbGrabber::lockedRebuildWaits()
{
    auto* backend = new XcbGrabber(m_shm.display());
    backend->setReinitDelay(50);
    ScreenGrabber grabber(backend);
    grabber.setSystemLocked(true);
    grabber.init();
    QCOMPARE(backend->state(), NotReady);
    grabber.addFrameProcessor(QSharedPointer<ProbeProcessor>::create());
    QSignalSpy reinited(&grabber, &ScreenGrabber::screensReinited);
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, &grabber, &ScreenGrabber::grab);
    ticker.start(20);
    QTRY_VERIFY(reinited.count() >= 1);
    QCOMPARE(backend->state(), NotReady);
    grabber.setSystemLocked(false);
    QTRY_COMPARE(backend->state(), Ready);
}

void TestXcbGrabber::serverRestart()
{
    XvfbServer server;
    QVERIFY(server.start(QSize(640, 480)));
    QVERIFY(server.paint(solid(QSize(640, 480), qRgb(255, 0, 0))));
    auto* backend = new XcbGrabber(server.display());
    backend->setReinitDelay(200);
    ScreenGrabber grabber(backend);
    grabber.init();
    auto probe = QSharedPointer<ProbeProcessor>::create();
    grabber.addFrameProcessor(probe);
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, &grabber, &ScreenGrabber::grab);
    ticker.start(30);
    QTRY_COMPARE(probe->firstPixel, qRgb(255, 0, 0));

    server.kill();
    QTRY_VERIFY(backend->state() != Ready);
    QTest::qWait(500);
    QVERIFY(server.restart());
    QVERIFY(server.paint(solid(QSize(640, 480), qRgb(0, 255, 0))));
    QTRY_COMPARE_WITH_TIMEOUT(probe->firstPixel, qRgb(0, 255, 0), 15000);
    QCOMPARE(backend->state(), Ready);
}

void TestXcbGrabber::unreachableServerStaysNotReady()
{
    XcbGrabber grabber(QByteArrayLiteral(":4999"));
    grabber.setReinitDelay(50);
    const QList<ScreenInfo> screens = rebuild(grabber);
    QVERIFY(screens.isEmpty());
    QCOMPARE(grabber.state(), NotReady);
    QVERIFY(!grabber.grabFrames());
    QVERIFY(!grabber.needsReinit());
    QTRY_VERIFY(grabber.needsReinit());
}

QTEST_GUILESS_MAIN(TestXcbGrabber)
#include "tst_xcbgrabber.moc"
