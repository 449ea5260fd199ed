#include "support/LogCapture.h"
#include "support/ScreenCastDesktop.h"
#include "support/TestPictures.h"

#include "capture/linux/PipeWireGrabber.h"

#include <QtTest>

using namespace TestPictures;

namespace {

const QSize Output(320, 240);
constexpr int WaitMs = 15000;

// Rebuilds the way the worker does whenever the back end asks, until it is Ready or time runs out.
bool bringUp(PipeWireGrabber& grabber, int timeoutMs = WaitMs)
{
    grabber.setReinitDelay(50);
    QElapsedTimer timer;
    timer.start();
    bool first = true;
    while (timer.elapsed() < timeoutMs) {
        if (first || grabber.needsReinit()) {
            first = false;
            grabber.deinitScreens();
            const QList<ScreenInfo> screens = grabber.identifyScreens();
            grabber.setScreens(screens);
            grabber.initScreens(screens);
        }
        if (grabber.state() == Ready)
            return true;
        QTest::qWait(10);
    }
    return false;
}

// Grabs until frame i shows expected; a changed picture arrives within a few frames.
bool showsOnFrame(PipeWireGrabber& grabber, int i, const QImage& expected, int* difference)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < WaitMs) {
        grabber.grabFrames();
        if (grabber.state() != Ready || grabber.frames().size() <= i)
            return false;
        *difference = firstDifference(grabber.frames().at(i), expected);
        if (*difference < 0)
            return true;
        QTest::qWait(10);
    }
    return false;
}

} // namespace

class TestPipeWireGrabber : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void reducesKnownContent_data();
    void reducesKnownContent();
    void restoreTokenSkipsTheChoice();
    void refusalStaysNotReadyUntilGranted();
    void brokenStreamPropertiesGiveEmptyMonitors();
    void lossRebuilds_data();
    void lossRebuilds();

private:
    ScreenCastDesktop m_desktop;
};

void TestPipeWireGrabber::initTestCase()
{
    if (!m_desktop.start(Output, 2)) {
        if (m_desktop.unavailable())
            QSKIP(qPrintable(QStringLiteral("no screen-cast portal here: ") + m_desktop.failure()));
        QFAIL(qPrintable(m_desktop.failure()));
    }
}

void TestPipeWireGrabber::reducesKnownContent_data()
{
    QTest::addColumn<int>("output");
    QTest::addColumn<QImage>("content");
    QTest::addRow("solid") << 1 << solid(Output, qRgb(200, 30, 90));
    QTest::addRow("checker 16") << 1 << checker(Output, 16, qRgb(255, 255, 255), qRgb(0, 0, 0));
    QTest::addRow("noise") << 1 << noise(Output, 7);
    QTest::addRow("second monitor") << 2 << gradient(Output);
}

void TestPipeWireGrabber::reducesKnownContent()
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
        QCOMPARE(grabber.frames().at(i)->width, 20);
        QCOMPARE(grabber.frames().at(i)->height, 15);
    }
    int difference = -1;
    QVERIFY2(showsOnFrame(grabber, output - 1, reduced(content, QRect(QPoint(0, 0), Output)), &difference),
             qPrintable(QStringLiteral("first difference at %1").arg(difference)));
    // A picture that did not change brings no new frame.
    QTest::qWait(100);
    grabber.grabFrames();
    QVERIFY(!grabber.grabFrames());
}

void TestPipeWireGrabber::restoreTokenSkipsTheChoice()
{
    QString stored;
    auto load = [&stored] {
        return stored;
    };
    auto save = [&stored](const QString& token) {
        stored = token;
    };
    const int before = m_desktop.choices();
    {
        PipeWireGrabber first(load, save);
        QVERIFY(bringUp(first));
    }
    QCOMPARE(m_desktop.choices(), before + 1);
    QVERIFY(!stored.isEmpty());

    PipeWireGrabber second(load, save);
    QVERIFY(bringUp(second));
    QCOMPARE(m_desktop.choices(), before + 1);
    QCOMPARE(second.screens().size(), 2);

    // A token the portal does not know only brings the choice back.
    stored = QStringLiteral("not-a-token");
    PipeWireGrabber third(load, save);
    QVERIFY(bringUp(third));
    QCOMPARE(m_desktop.choices(), before + 2);
}

void TestPipeWireGrabber::refusalStaysNotReadyUntilGranted()
{
    LogCapture log;
    m_desktop.grantChoice(false);
    const int before = m_desktop.choices();
    PipeWireGrabber grabber;
    QVERIFY(!bringUp(grabber, 1500));
    QCOMPARE(grabber.state(), NotReady);
    QVERIFY(!grabber.failure().isEmpty());
    // Asked again at every rebuild, logged once.
    QVERIFY(m_desktop.choices() - before >= 2);
    QCOMPARE(log.count(QStringLiteral("screen cast unavailable")), 1);

    m_desktop.grantChoice(true);
    QVERIFY(bringUp(grabber));
    QVERIFY(grabber.failure().isEmpty());
}

void TestPipeWireGrabber::brokenStreamPropertiesGiveEmptyMonitors()
{
    m_desktop.grantChoice(true, true);
    PipeWireGrabber grabber;
    const bool up = bringUp(grabber);
    m_desktop.grantChoice(true);
    QVERIFY(up);
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

void TestPipeWireGrabber::lossRebuilds_data()
{
    QTest::addColumn<QByteArray>("what");
    QTest::addRow("portal killed") << QByteArray("portal");
    QTest::addRow("back end killed") << QByteArray("back end");
    // Last: the output keeps its new size.
    QTest::addRow("mode changed") << QByteArray("mode");
}

void TestPipeWireGrabber::lossRebuilds()
{
    QFETCH(QByteArray, what);
    const QImage content = checker(Output, 16, qRgb(0, 90, 255), qRgb(250, 250, 0));
    QVERIFY(m_desktop.paint(content));
    PipeWireGrabber grabber;
    QVERIFY(bringUp(grabber));

    const QImage after = what == "mode" ? noise(QSize(336, 208), 5) : content;
    if (what == "mode")
        QVERIFY(m_desktop.paint(after));
    else if (what == "portal")
        m_desktop.killPortal();
    else
        m_desktop.killBackend();
    QTRY_VERIFY_WITH_TIMEOUT((grabber.grabFrames(), grabber.state() == Lost), WaitMs);

    if (what == "portal")
        QVERIFY(m_desktop.restartPortal());
    if (what == "back end")
        QVERIFY(m_desktop.restartBackend() && m_desktop.paint(content));
    QVERIFY(bringUp(grabber));
    QCOMPARE(grabber.frames().first()->width, after.width() / 16);
    int difference = -1;
    QVERIFY2(showsOnFrame(grabber, 0, reduced(after, after.rect()), &difference),
             qPrintable(QStringLiteral("first difference at %1").arg(difference)));
}

QTEST_GUILESS_MAIN(TestPipeWireGrabber)
#include "tst_pipewiregrabber.moc"
