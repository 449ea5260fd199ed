#include "support/LogCapture.h"
#include "support/ProbeProcessor.h"
#include "support/TestPictures.h"
#include "support/XvfbServer.h"

#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "capture/GrabManager.h"
#include "capture/ScreenGrabber.h"
#include "capture/linux/XcbGrabber.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using namespace TestPictures;

const QSize FullHd(1920, 1080);

class TestXcbGrabber : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_shm.start(FullHd, {QStringLiteral("+extension"), QStringLiteral("MIT-SHM")}));
        QVERIFY(m_plain.start(FullHd, {QStringLiteral("-extension"), QStringLiteral("MIT-SHM")}));
        qputenv("DISPLAY", m_shm.display());
    }

    // Without MIT-SHM the blocks are read with GetImage (with it: damageTracking).
    void reducesKnownContentWithoutShm()
    {
        const QImage content = noise(FullHd, 7);
        QVERIFY(m_plain.paint(content));
        XcbGrabber grabber(m_plain.display());
        const QList<ScreenInfo> screens = grabber.identifyScreens();
        grabber.setScreens(screens);
        grabber.initScreens(screens);
        QCOMPARE(grabber.state(), Ready);
        QVERIFY(!grabber.usesShm());
        QCOMPARE(screens.size(), 1);
        QCOMPARE(screens.first().geometry, QRect(QPoint(0, 0), FullHd));
        QVERIFY(grabber.grabFrames());
        QCOMPARE(firstDifference(grabber.frames().first(), reduced(content, screens.first().geometry)), -1);
    }

    // Read through MIT-SHM with damage tracking: an unchanged screen gives no new frame, yet processors see
    // the last image again; changes anywhere, off the block grid, reach exactly their blocks.
    void damageTracking()
    {
        QImage screen = noise(FullHd, 11);
        QVERIFY(m_shm.paint(screen));
        auto* backend = new XcbGrabber(m_shm.display());
        ScreenGrabber grabber(backend);
        grabber.init();
        QVERIFY(backend->usesDamage() && backend->usesShm());
        auto probe = QSharedPointer<ProbeProcessor>::create();
        grabber.addFrameProcessor(probe);
        QSignalSpy processed(&grabber, &ScreenGrabber::frameProcessed);
        grabber.grab();
        QCOMPARE(probe->size, QSize(120, 67));
        QCOMPARE(firstDifference(backend->frames().first(), reduced(screen, QRect(QPoint(), FullHd))), -1);
        QVERIFY(!backend->grabFrames());
        grabber.grab();
        QCOMPARE(probe->calls.load(), 2);
        QCOMPARE(processed.count(), 2);

        QList<QRect> changes = {QRect(37, 53, 20, 20), QRect(1900, 1070, 20, 10), QRect(700, 15, 1, 1)};
        for (int i = 0; i < 20; ++i)
            changes.append(QRect(i * 90 + 3, i * 50 + 7, 9, 9));
        for (int step = 0; step < changes.size(); ++step) {
            const QRect change = changes.at(step);
            const QImage patch = noise(change.size(), quint32(100 + step));
            QPainter(&screen).drawImage(change.topLeft(), patch);
            QVERIFY(m_shm.paint(patch, change.x(), change.y()));
            if (step < 3 || step == changes.size() - 1) {
                QVERIFY(backend->grabFrames());
                QCOMPARE(firstDifference(backend->frames().first(), reduced(screen, QRect(QPoint(), FullHd))),
                         -1);
            }
        }
        QVERIFY(!backend->grabFrames());
    }

    // Three monitors on one root window: two side by side and one that reaches past its edge.
    void monitors()
    {
        XvfbServer server;
        QVERIFY(server.start(FullHd, {}));
        const QStringList monitors{QStringLiteral("1200/300x1080/270+0+0"),
                                   QStringLiteral("720/180x600/150+1200+0"),
                                   QStringLiteral("400/100x300/75+1700+1000")};
        for (int i = 0; i < monitors.size(); ++i)
            QVERIFY(server.xrandr({QStringLiteral("--setmonitor"), QStringLiteral("m%1").arg(i),
                                   monitors.at(i), QStringLiteral("none")}));
        QImage screen = gradient(FullHd);
        QPainter(&screen).fillRect(QRect(0, 0, 1200, 1080), QColor(220, 20, 20));
        QPainter(&screen).fillRect(QRect(1200, 0, 720, 600), QColor(20, 20, 220));
        QVERIFY(server.paint(screen));

        auto* backend = new XcbGrabber(server.display());
        ScreenGrabber grabber(backend);
        grabber.init();
        QList<QRect> geometries;
        for (const ScreenInfo& s : grabber.screens()) {
            QCOMPARE(s.name, QStringLiteral("Monitor %1").arg(geometries.size() + 1));
            geometries.append(s.geometry);
        }
        const int left = geometries.indexOf(QRect(0, 0, 1200, 1080));
        const int right = geometries.indexOf(QRect(1200, 0, 720, 600));
        const int edge = geometries.indexOf(QRect(1700, 1000, 400, 300));
        QVERIFY2(left >= 0 && right >= 0 && edge >= 0, qPrintable(QString::number(geometries.size())));
        auto rightColor = QSharedPointer<FrameProcessorAvgRects>::create();
        rightColor->setRects({QRectF(0, 0, 1, 1)});
        rightColor->setScreenIndex(right);
        grabber.addFrameProcessor(rightColor);
        grabber.grab();
        QCOMPARE(rightColor->colors(), QList<QColor>{QColor(20, 20, 220)});
        QCOMPARE(firstDifference(backend->frames().at(left), reduced(screen, geometries.at(left))), -1);
        QCOMPARE(firstDifference(backend->frames().at(right), reduced(screen, geometries.at(right))), -1);
        // Blocks on the root window are read (13 x 5 of the 25 x 18), the rest stays black (copy() fills 0).
        const QImage edgeBlocks = reduced(screen, QRect(1700, 1000, 208, 80)).copy(0, 0, 25, 18);
        QCOMPARE(firstDifference(backend->frames().at(edge), edgeBlocks), -1);
    }

    // While the session is locked a rebuild finds no screens; unlocked, it does, a new monitor is picked up,
    // and a server that goes away (logged once) and comes back is grabbed again.
    void rebuilds()
    {
        XvfbServer server;
        QVERIFY(server.start(QSize(800, 600), {}));
        QVERIFY(server.paint(solid(QSize(800, 600), qRgb(255, 0, 0))));
        auto* backend = new XcbGrabber(server.display());
        backend->setReinitDelay(50);
        ScreenGrabber grabber(backend);
        grabber.setSystemLocked(true);
        grabber.init();
        QCOMPARE(backend->state(), NotReady);
        auto probe = QSharedPointer<ProbeProcessor>::create();
        grabber.addFrameProcessor(probe);
        QSignalSpy reinited(&grabber, &ScreenGrabber::screensReinited);
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, &grabber, &ScreenGrabber::grab);
        ticker.start(20);
        QTRY_VERIFY(reinited.count() >= 1);
        QCOMPARE(backend->state(), NotReady);
        grabber.setSystemLocked(false);
        QTRY_COMPARE(backend->state(), Ready);
        QTRY_COMPARE(probe->firstPixel.load(), qRgb(255, 0, 0));

        const int before = grabber.screens().size();
        QVERIFY(server.xrandr({QStringLiteral("--setmonitor"), QStringLiteral("extra"),
                               QStringLiteral("400/100x300/75+400+300"), QStringLiteral("none")}));
        QTRY_COMPARE_WITH_TIMEOUT(grabber.screens().size(), before + 1, 10000);
        QCOMPARE(backend->state(), Ready);

        LogCapture log;
        server.kill();
        QTRY_VERIFY(backend->state() != Ready);
        QTest::qWait(500);
        // Once, not at each of the tries meanwhile (every 50 ms here).
        QCOMPARE(log.count(QStringLiteral("failed to connect to display")), 1);
        QVERIFY(server.restart());
        QVERIFY(server.paint(solid(QSize(800, 600), qRgb(0, 255, 0))));
        QTRY_COMPARE_WITH_TIMEOUT(probe->firstPixel.load(), qRgb(0, 255, 0), 15000);
        QCOMPARE(backend->state(), Ready);
    }

    // The capture worker thread over the X server of DISPLAY; its results are read and its processors
    // retargeted from this thread while it works.
    void processorsReceiveFrames()
    {
        QVERIFY(m_shm.paint(solid(FullHd, qRgb(200, 20, 20))));
        GrabManager manager;
        manager.init();
        auto scaled = QSharedPointer<FrameProccessorScaledFrame>::create();
        scaled->setTargetSize(QSize(11, 7));
        auto rects = QSharedPointer<FrameProcessorAvgRects>::create();
        rects->setRects({QRectF(0, 0, 1, 1)});
        manager.addFrameProcessor(scaled);
        manager.addFrameProcessor(rects);
        manager.start();
        QTRY_COMPARE(scaled->scaledFrame().size(), QSize(11, 7));
        QTRY_COMPARE(rects->colors(), QList<QColor>{QColor(200, 20, 20)});
        for (int i = 0; i < 200; ++i) {
            scaled->setTargetSize(QSize(1 + i % 17, 1 + i % 5));
            QVERIFY(scaled->scaledFrame().width() <= 17 && rects->colors().size() == 1);
        }
        scaled->setTargetSize(QSize(5, 3));
        QTRY_COMPARE(scaled->scaledFrame().size(), QSize(5, 3));
        auto probe = QSharedPointer<ProbeProcessor>::create();
        manager.addFrameProcessor(probe);
        QTRY_VERIFY(probe->calls > 0);
        QCOMPARE(probe->threadName, QStringLiteral("screen-grab-worker"));
        manager.removeFrameProcessor(probe);
        // The worker lets go of a removed processor.
        QWeakPointer<ProbeProcessor> weak = probe;
        probe.reset();
        QTRY_VERIFY(weak.isNull());
    }

    // Started, the worker ticks only while a processor needs it: nothing wakes it with nothing to capture.
    void ticksOnlyForProcessors()
    {
        ScreenGrabber grabber(new XcbGrabber(m_shm.display()));
        grabber.init();
        grabber.start();
        QVERIFY(!grabber.isTicking());
        auto probe = QSharedPointer<ProbeProcessor>::create();
        grabber.addFrameProcessor(probe);
        QVERIFY(grabber.isTicking());
        QTRY_VERIFY(probe->calls > 1);
        grabber.removeFrameProcessor(probe);
        QTRY_VERIFY(!grabber.isTicking());
    }

    void shutdownIsBounded()
    {
        auto* manager = new GrabManager;
        manager->init();
        auto probe = QSharedPointer<ProbeProcessor>::create();
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
        QWeakPointer<ProbeProcessor> weak = probe;
        probe.reset();
        QTRY_VERIFY_WITH_TIMEOUT(weak.isNull(), 10000);
    }

private:
    XvfbServer m_shm;
    XvfbServer m_plain;
};

QTEST_GUILESS_MAIN(TestXcbGrabber)
#include "tst_xcbgrabber.moc"
