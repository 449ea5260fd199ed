#include "support/LogCapture.h"
#include "support/ScreenCastDesktop.h"
#include "support/TestPictures.h"

#include "capture/GrabManager.h"
#include "capture/ScreenGrabber.h"
#include "capture/linux/PipeWireGrabber.h"
#include "core/SettingsManager.h"
#include "support/ProbeProcessor.h"

#include <QtTest>

using namespace TestPictures;

namespace {

const QSize Output(320, 240);
constexpr int WaitMs = 15000;

// Rebuilds the way the worker does when the back end asks.
bool rebuildIfAsked(PipeWireGrabber& grabber)
{
    if (!grabber.needsReinit())
        return false;
    grabber.deinitScreens();
    const QList<ScreenInfo> screens = grabber.identifyScreens();
    grabber.setScreens(screens);
    grabber.initScreens(screens);
    return true;
}

// A panel mirrors the first monitor; rebuilds whenever the back end asks, until it is Ready.
bool bringUp(PipeWireGrabber& grabber, int timeoutMs = WaitMs)
{
    grabber.setReinitDelay(50);
    grabber.setUsedScreens({0});
    return QTest::qWaitFor([&] { return (rebuildIfAsked(grabber), grabber.state() == Ready); }, timeoutMs);
}

// Index of the first pixel of frame i that differs from the reduction of content, -1 once none does.
int differenceOnFrame(PipeWireGrabber& grabber, int i, const QImage& content)
{
    grabber.grabFrames();
    return firstDifference(grabber.frames().at(i), reduced(content, content.rect()));
}

} // namespace

class TestPipeWireGrabber : public QObject
{
    Q_OBJECT
    ScreenCastDesktop m_desktop;

private slots:
    void initTestCase()
    {
        if (!ScreenCastDesktop::missing().isEmpty())
            QSKIP(qPrintable(ScreenCastDesktop::missing() + QStringLiteral(" is not installed")));
        QCOMPARE(m_desktop.start(Output, 2), QString());
    }

    // Every case starts from granted choices of unscaled outputs in BGRx, and output 1 at its first size.
    void init()
    {
        m_desktop.grantChoice(true);
        m_desktop.command(QStringLiteral("scale 1"));
        m_desktop.command(QStringLiteral("format BGRx"));
        QVERIFY(m_desktop.paint(solid(Output, qRgb(0, 0, 0))));
    }

    void reducesKnownContent_data()
    {
        QTest::addColumn<int>("output");
        QTest::addColumn<QImage>("content");
        QTest::addColumn<int>("scale");
        QTest::addRow("solid") << 1 << solid(Output, qRgb(200, 30, 90)) << 1;
        QTest::addRow("checker 16") << 1 << checker(Output, 16, qRgb(255, 255, 255), qRgb(0, 0, 0)) << 1;
        QTest::addRow("noise") << 1 << noise(Output, 7) << 1;
        QTest::addRow("second monitor") << 2 << gradient(Output) << 1;
        QTest::addRow("scaled by 2") << 1 << gradient(Output) << 2;
    }

    // The monitors are placed by the portal's logical geometry, their pictures reduced whole at the size
    // the streams agreed on.
    void reducesKnownContent()
    {
        QFETCH(int, output);
        QFETCH(QImage, content);
        QFETCH(int, scale);
        QVERIFY(m_desktop.paint(content, output));
        m_desktop.command(QStringLiteral("scale %1").arg(scale));
        PipeWireGrabber grabber;
        QVERIFY(bringUp(grabber));
        QCOMPARE(grabber.screens().size(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(grabber.screens().at(i).name, QStringLiteral("Monitor %1").arg(i + 1));
            QCOMPARE(grabber.screens().at(i).geometry,
                     QRect(QPoint(i * Output.width() / scale, 0), Output / scale));
        }
        QTRY_COMPARE_WITH_TIMEOUT(differenceOnFrame(grabber, output - 1, content), -1, WaitMs);
        QCOMPARE(QSize(grabber.frames().at(output - 1)->width, grabber.frames().at(output - 1)->height),
                 QSize(20, 15));
        // A picture that did not change brings no new frame.
        QTest::qWait(100);
        grabber.grabFrames();
        QVERIFY(!grabber.grabFrames());
    }

    void askedOnlyForMirrorsAndNotAgainAfterNo_data()
    {
        QTest::addColumn<bool>("stopSharing");
        QTest::addRow("no in the dialog") << false;
        QTest::addRow("stop sharing") << true;
    }

    // The desktop is asked only once a panel mirrors. A "no" in its dialog, or its "Stop sharing" later, is
    // the user's: the rebuilds do not ask again (it is logged once), a panel that starts mirroring anew does
    // (a shared choice comes back with its token). The session lasts only while a panel mirrors.
    void askedOnlyForMirrorsAndNotAgainAfterNo()
    {
        QFETCH(bool, stopSharing);
        LogCapture log;
        m_desktop.grantChoice(stopSharing);
        const int before = m_desktop.choices();
        PipeWireGrabber grabber;
        QVERIFY(grabber.identifyScreens().isEmpty());
        QTest::qWait(300);
        QCOMPARE(m_desktop.choices(), before);

        QCOMPARE(bringUp(grabber, 1500), stopSharing);
        if (stopSharing) {
            QCOMPARE(m_desktop.command(QStringLiteral("close")), QByteArray("ok"));
            QTRY_VERIFY_WITH_TIMEOUT((grabber.grabFrames(), grabber.state() == DisabledByUser), WaitMs);
        }
        QCOMPARE(grabber.state(), DisabledByUser);
        QCOMPARE(m_desktop.choices(), before + 1);
        QCOMPARE(log.count(QStringLiteral("screen cast unavailable")), int(!stopSharing));

        m_desktop.grantChoice(true);
        QVERIFY(!bringUp(grabber, 1500));
        QCOMPARE(m_desktop.choices(), before + 1);
        grabber.setUsedScreens({});
        QVERIFY(bringUp(grabber));
        QCOMPARE(m_desktop.choices(), before + 1 + int(!stopSharing));
        QVERIFY(grabber.failure().isEmpty());

        QCOMPARE(m_desktop.command(QStringLiteral("sessions")), QByteArray("1"));
        grabber.setUsedScreens({});
        QVERIFY(rebuildIfAsked(grabber) && !grabber.needsReinit());
        QTRY_COMPARE(m_desktop.command(QStringLiteral("sessions")), QByteArray("0"));
        QVERIFY(bringUp(grabber));
        QCOMPARE(m_desktop.choices(), before + 1 + int(!stopSharing));
    }

    // The worker brings the screen up while the GUI thread sleeps. A token the portal does not know brings
    // the choice back; the portal's new token goes to the settings and, at the next start, back to the
    // worker, so the user chooses once.
    void tokenIsHandedOver()
    {
        const QString unknown = QStringLiteral("not-a-token");
        QObject owner;
        auto* settings = new SettingsManager(&owner);
        settings->setValue(QStringLiteral("screen_cast_restore_token"), unknown);
        const int asked = m_desktop.choices();
        for (int run = 0; run < 2; ++run) {
            auto grab = std::make_unique<GrabManager>(&owner);
            grab->init();
            grab->start();
            auto probe = QSharedPointer<ProbeProcessor>::create();
            grab->addFrameProcessor(probe);
            for (QDeadlineTimer deadline(WaitMs); probe->calls == 0 && !deadline.hasExpired();)
                QThread::msleep(20);
            QVERIFY(probe->calls > 0);
            const auto stored = [&] {
                return settings->value(QStringLiteral("screen_cast_restore_token")).toString();
            };
            QTRY_VERIFY(!stored().isEmpty() && stored() != unknown);
            QCOMPARE(m_desktop.choices(), asked + 1);
        }
    }

    // A frame is handed on when it arrives rather than at the next tick (a long one here), and a tick that
    // finds nothing new feeds no one, so that the panels' frames follow arrivals, not ticks.
    void framesGoOnWhenTheyArrive()
    {
        auto* backend = new PipeWireGrabber;
        backend->setReinitDelay(50);
        ScreenGrabber grabber(backend);
        auto probe = QSharedPointer<ProbeProcessor>::create();
        grabber.addFrameProcessor(probe);
        grabber.init();
        grabber.start(2000);
        QTRY_VERIFY_WITH_TIMEOUT(probe->calls > 0, WaitMs);
        int seen = 0;
        for (int i = 0; i < 2; ++i) {
            // Past a tick that found nothing new; the first time also past the other monitor's first frame.
            QTest::qWait(2300);
            if (i == 1)
                QCOMPARE(probe->calls, seen);
            seen = probe->calls;
            QVERIFY(m_desktop.paint(noise(Output, 11 + i)));
            QTRY_VERIFY_WITH_TIMEOUT(probe->calls > seen, 1000);
            seen = probe->calls;
        }
    }

    void brokenStreamPropertiesAreNotBelieved()
    {
        m_desktop.grantChoice(true, true);
        PipeWireGrabber grabber;
        QVERIFY(bringUp(grabber));
        // The stream on "any node" is dropped; a place beyond belief is the origin, a size beyond belief no
        // place at all, listed after the placed one.
        QCOMPARE(grabber.screens().size(), 2);
        QCOMPARE(grabber.frames().at(0)->geometry, QRect(QPoint(), Output));
        QVERIFY(grabber.frames().at(1)->geometry.isEmpty());
        // The picture is sized by the stream, not by the portal's word.
        QVERIFY(m_desktop.paint(noise(Output, 3), 1));
        QTRY_COMPARE_WITH_TIMEOUT(differenceOnFrame(grabber, 1, noise(Output, 3)), -1, WaitMs);
    }

    void lossRebuilds_data()
    {
        QTest::addColumn<QByteArray>("what");
        QTest::addColumn<QString>("offered");
        QTest::addRow("portal killed") << QByteArray("portal") << QString();
        QTest::addRow("back end killed") << QByteArray("back end") << QString();
        QTest::addRow("mode changed") << QByteArray("mode") << QString();
        QTest::addRow("odd format") << QByteArray("NV12") << QStringLiteral("offered NV12");
        QTest::addRow("DMA-BUF only") << QByteArray("dmabuf") << QStringLiteral("offered BGRx DMA-BUF");
    }

    // Streams that agree on nothing readable give no picture: they say what they offered, count as not
    // ready and are retried on the same session, without asking the user again.
    void lossRebuilds()
    {
        QFETCH(QByteArray, what);
        QFETCH(QString, offered);
        const QImage before = checker(Output, 16, qRgb(0, 90, 255), qRgb(250, 250, 0));
        QVERIFY(m_desktop.paint(before));
        m_desktop.command(QStringLiteral("format ") + QString::fromLatin1(offered.isEmpty() ? "BGRx" : what));
        LogCapture log;
        PipeWireGrabber grabber;
        grabber.setFirstFrameTimeout(500);
        QVERIFY(bringUp(grabber));
        const int asked = m_desktop.choices();
        // Also makes the first format the stream agreed on the one a mode change departs from.
        if (offered.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(differenceOnFrame(grabber, 0, before), -1, WaitMs);

        const QImage after = what == "mode" ? noise(QSize(336, 208), 5) : before;
        if (what == "mode")
            QVERIFY(m_desktop.paint(after));
        else if (offered.isEmpty())
            m_desktop.kill(what == "portal" ? ScreenCastDesktop::Part::Portal
                                            : ScreenCastDesktop::Part::Backend);
        const GrabberState lost = offered.isEmpty() ? Lost : NotReady;
        QTRY_VERIFY_WITH_TIMEOUT((grabber.grabFrames(), grabber.state() == lost), WaitMs);
        if (!offered.isEmpty()) {
            QCOMPARE(log.count(offered), 2);
            m_desktop.command(QStringLiteral("format BGRx"));
        }

        // A new back end starts black. Its picture does come, only a busy machine may be slower than the
        // short watch above, and nothing here rebuilds a stream the watch gave up on.
        QCOMPARE(m_desktop.revive(), QString());
        QVERIFY(m_desktop.paint(after));
        grabber.setFirstFrameTimeout(WaitMs);
        QVERIFY(bringUp(grabber));
        QTRY_COMPARE_WITH_TIMEOUT(differenceOnFrame(grabber, 0, after), -1, WaitMs);
        QCOMPARE(grabber.frames().first()->width, after.width() / 16);
        if (!offered.isEmpty())
            QCOMPARE(m_desktop.choices(), asked);
    }
};

QTEST_GUILESS_MAIN(TestPipeWireGrabber)
#include "tst_pipewiregrabber.moc"
