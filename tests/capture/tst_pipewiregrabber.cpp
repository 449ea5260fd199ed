#include "support/LogCapture.h"
#include "support/ScreenCastDesktop.h"
#include "support/TestPictures.h"

#include "capture/linux/PipeWireGrabber.h"

#include <QtTest>

using namespace TestPictures;

namespace {

const QSize Output(320, 240);
constexpr int WaitMs = 15000;

// A panel mirrors the first monitor; rebuilds the way the worker does, whenever the back end asks, until
// it is Ready.
bool bringUp(PipeWireGrabber& grabber, int timeoutMs = WaitMs)
{
    grabber.setReinitDelay(50);
    grabber.setUsedScreens({0});
    return QTest::qWaitFor(
        [&] {
            if (grabber.needsReinit()) {
                grabber.deinitScreens();
                const QList<ScreenInfo> screens = grabber.identifyScreens();
                grabber.setScreens(screens);
                grabber.initScreens(screens);
            }
            return grabber.state() == Ready;
        },
        timeoutMs);
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

    // Every case starts from granted choices and output 1 at its first size.
    void init()
    {
        m_desktop.grantChoice(true);
        QVERIFY(m_desktop.paint(solid(Output, qRgb(0, 0, 0))));
    }

    void reducesKnownContent_data()
    {
        QTest::addColumn<int>("output");
        QTest::addColumn<QImage>("content");
        QTest::addRow("solid") << 1 << solid(Output, qRgb(200, 30, 90));
        QTest::addRow("checker 16") << 1 << checker(Output, 16, qRgb(255, 255, 255), qRgb(0, 0, 0));
        QTest::addRow("noise") << 1 << noise(Output, 7);
        QTest::addRow("second monitor") << 2 << gradient(Output);
    }

    void reducesKnownContent()
    {
        QFETCH(int, output);
        QFETCH(QImage, content);
        QVERIFY(m_desktop.paint(content, output));
        PipeWireGrabber grabber;
        QVERIFY(bringUp(grabber));
        // In the portal's order, placed where its stream properties say.
        QCOMPARE(grabber.screens().size(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(grabber.screens().at(i).name, QStringLiteral("Monitor %1").arg(i + 1));
            QCOMPARE(grabber.screens().at(i).geometry, QRect(QPoint(i * Output.width(), 0), Output));
            QCOMPARE(QSize(grabber.frames().at(i)->width, grabber.frames().at(i)->height), QSize(20, 15));
        }
        QTRY_COMPARE_WITH_TIMEOUT(differenceOnFrame(grabber, output - 1, content), -1, WaitMs);
        // A picture that did not change brings no new frame.
        QTest::qWait(100);
        grabber.grabFrames();
        QVERIFY(!grabber.grabFrames());
    }

    // The token kept across a restart skipping the choice is the mirror test's; here the portal does not
    // know the token and only brings the choice back.
    void unknownRestoreTokenBringsTheChoiceBack()
    {
        QString stored = QStringLiteral("not-a-token");
        const int before = m_desktop.choices();
        PipeWireGrabber grabber([&stored] { return stored; },
                                [&stored](const QString& token) { stored = token; });
        QVERIFY(bringUp(grabber));
        QCOMPARE(m_desktop.choices(), before + 1);
        QVERIFY(!stored.isEmpty() && stored != QStringLiteral("not-a-token"));
    }

    // The desktop is asked only once a panel mirrors. A "no" in its dialog is the user's: the rebuilds do
    // not ask again (it is logged once), a panel that starts mirroring anew does.
    void askedOnlyForMirrorsAndNotAgainAfterNo()
    {
        LogCapture log;
        m_desktop.grantChoice(false);
        const int before = m_desktop.choices();
        PipeWireGrabber grabber;
        QVERIFY(grabber.identifyScreens().isEmpty());
        QTest::qWait(300);
        QCOMPARE(m_desktop.choices(), before);

        QVERIFY(!bringUp(grabber, 1500));
        QCOMPARE(grabber.state(), DisabledByUser);
        QCOMPARE(m_desktop.choices(), before + 1);
        QCOMPARE(log.count(QStringLiteral("screen cast unavailable")), 1);

        m_desktop.grantChoice(true);
        QVERIFY(!bringUp(grabber, 500));
        QCOMPARE(m_desktop.choices(), before + 1);
        grabber.setUsedScreens({});
        QVERIFY(bringUp(grabber));
        QCOMPARE(m_desktop.choices(), before + 2);
        QVERIFY(grabber.failure().isEmpty());
    }

    void brokenStreamPropertiesGiveEmptyMonitors()
    {
        m_desktop.grantChoice(true, true);
        PipeWireGrabber grabber;
        QVERIFY(bringUp(grabber));
        QCOMPARE(grabber.screens().size(), 2);
        for (const ScreenFrame* frame : grabber.frames()) {
            QVERIFY(frame->geometry.isEmpty());
            QCOMPARE(frame->size, qint64(0));
        }
        QVERIFY(m_desktop.paint(noise(Output, 3)));
        QTest::qWait(100);
        QVERIFY(!grabber.grabFrames());
        QCOMPARE(grabber.state(), Ready);
    }

    void lossRebuilds_data()
    {
        QTest::addColumn<QByteArray>("what");
        QTest::addRow("portal killed") << QByteArray("portal");
        QTest::addRow("back end killed") << QByteArray("back end");
        QTest::addRow("mode changed") << QByteArray("mode");
    }

    void lossRebuilds()
    {
        QFETCH(QByteArray, what);
        const QImage before = checker(Output, 16, qRgb(0, 90, 255), qRgb(250, 250, 0));
        QVERIFY(m_desktop.paint(before));
        PipeWireGrabber grabber;
        QVERIFY(bringUp(grabber));
        // Also makes the first format the stream agreed on the one a mode change departs from.
        QTRY_COMPARE_WITH_TIMEOUT(differenceOnFrame(grabber, 0, before), -1, WaitMs);

        const QImage after = what == "mode" ? noise(QSize(336, 208), 5) : before;
        if (what == "mode")
            QVERIFY(m_desktop.paint(after));
        else
            m_desktop.kill(what == "portal" ? ScreenCastDesktop::Part::Portal
                                            : ScreenCastDesktop::Part::Backend);
        QTRY_VERIFY_WITH_TIMEOUT((grabber.grabFrames(), grabber.state() == Lost), WaitMs);

        // A new back end starts black.
        QCOMPARE(m_desktop.revive(), QString());
        QVERIFY(m_desktop.paint(after));
        QVERIFY(bringUp(grabber));
        QCOMPARE(grabber.frames().first()->width, after.width() / 16);
        QTRY_COMPARE_WITH_TIMEOUT(differenceOnFrame(grabber, 0, after), -1, WaitMs);
    }
};

QTEST_GUILESS_MAIN(TestPipeWireGrabber)
#include "tst_pipewiregrabber.moc"
