// The panel link against scripted servers and the emulator, and the emulator's own frame verdicts and faults.
#include "device/PanelReply.h"
#include "device/PivotrixController.h"
#include "emulator/PanelFrameParser.h"
#include "support/PanelFixture.h"
#include "support/TestHttpServer.h"
#include "support/TestPictures.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {
const QByteArray kInfo = "GET /api/v2/device";
const QByteArray kCheck = "GET /api/v2/device/stream";
const QByteArray kStart = "PUT /api/v2/device/stream/start";
const QByteArray kStop = "PUT /api/v2/device/stream/stop";
const QByteArray kGoodStart =
    R"({"success":{"data":{"status":"receiving","port":4000,"session_id":"0a0b"}}})";

std::unique_ptr<PivotrixController> controllerFor(const QString& address)
{
    return std::make_unique<PivotrixController>(address, 1234, QStringLiteral("emulator-key"),
                                                QStringLiteral("px3"), QStringLiteral("Stored name"),
                                                QStringLiteral("dev-1"));
}

void waitForCheck(PivotrixController& controller)
{
    QSignalSpy finished(&controller, &PivotrixController::checkOnlineFinished);
    controller.checkOnline();
    QTRY_COMPARE(finished.count(), 1);
}
// One route answers badly: its status and body, and what the controller makes of it.
struct HostileReply
{
    QByteArray route, body;
    int status; // -1: a huge body
    int state;  // the network state after init or check, the streaming state after start or stop
    QString name;
};
} // namespace
Q_DECLARE_METATYPE(HostileReply)

class TestPivotrixController : public QObject
{
    Q_OBJECT
private slots:
    // A 2x2 canvas byte for byte (alpha dropped), a premultiplied one as meant; an empty frame for no image;
    // the largest payload the 16-bit length takes, and none for one beyond it.
    void wireBytes()
    {
        const QByteArray session = QByteArray::fromHex("00112233445566778899aabbccddeeff");
        const QRgb pixels[] = {qRgba(0x10, 0x20, 0x30, 0x80), qRgba(0x40, 0x50, 0x60, 0x80),
                               qRgba(0x70, 0x80, 0x90, 0), qRgba(0xa0, 0xb0, 0xc0, 0xff)};
        const QImage square(reinterpret_cast<const uchar*>(pixels), 2, 2, QImage::Format_ARGB32);
        const QByteArray frame = PivotrixController::buildFrame(square, session);
        QCOMPARE(frame.toHex(), QByteArray("707873700100" + session.toHex() +
                                           "0001010000000000020002000c00102030405060708090a0b0c00000"));
        const PanelFrameParser parser(session, QSize(2, 2));
        QCOMPARE(int(parser.parse(frame).verdict), int(PanelFrameParser::Verdict::Good));
        // A premultiplied canvas sends the colour it means, less at most a step lost in premultiplying.
        QImage canvas(1, 1, QImage::Format_ARGB32_Premultiplied);
        canvas.setPixelColor(0, 0, QColor(200, 100, 50, 128));
        const QByteArray rgb =
            PivotrixController::buildFrame(canvas, session).mid(PivotrixController::kHeaderSize, 3);
        QVERIFY2(qAbs(quint8(rgb[0]) - 200) <= 1 && qAbs(quint8(rgb[1]) - 100) <= 1 &&
                     qAbs(quint8(rgb[2]) - 50) <= 1,
                 rgb.toHex().constData());
        QCOMPARE(PivotrixController::buildFrame(QImage(), session).size(), 38);
        QCOMPARE(PivotrixController::buildFrame(TestPictures::gradient(QSize(151, 144)), session).size(),
                 38 + 65232);
        QVERIFY(PivotrixController::buildFrame(TestPictures::gradient(QSize(1, 21846)), session).isEmpty());
    }

    // One panel from pairing to unpairing: its canvas, repeated parameters, frames, the emulator's standby,
    // deinit. (A reply without a size is a hostile reply; a new size a row of the tabs' stream rules.)
    void emulatedSession()
    {
        PanelConfig config;
        config.canvas = QSize(6, 10);
        auto panel = m_panels.start(config);
        QVERIFY(panel);
        auto controller = controllerFor(panel->address());
        QSignalSpy done(controller.get(), &PivotrixController::deinitFinished);
        controller->init();
        QCOMPARE(controller->networkState(), PivotrixController::Online);
        QCOMPARE(controller->canvasSize(), QSize(6, 10));
        // Nothing to stop yet.
        controller->deinit();
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(panel->requestCounts().value(QStringLiteral("stop")), quint64(0));

        // Before any start there are no last parameters, so this starts a stream; unchanged ones do not.
        controller->updateStreamParams();
        controller->updateStreamParams();
        QCOMPARE(panel->requestCounts().value(QStringLiteral("start")), quint64(1));
        QVERIFY(controller->isStreaming());
        controller->setRenderMode(QStringLiteral("pixel"));
        controller->updateStreamParams();
        controller->updateStreamParams();
        QCOMPARE(panel->requestCounts().value(QStringLiteral("start")), quint64(2));

        // Frames as the panel's receiver counts them.
        QCOMPARE(controller->sessionId(), panel->stream().sessionId);
        const QImage image = TestPictures::gradient(QSize(6, 10));
        for (int i = 0; i < 3; ++i)
            controller->sendStreamImage(image);
        controller->sendStreamImage(TestPictures::gradient(QSize(5, 8))); // not the canvas
        // Too big for the 16-bit length field: dropped whole, never sent cut short.
        controller->sendStreamImage(TestPictures::gradient(QSize(148, 148)));
        QCOMPARE(controller->framesSent(), quint64(4));
        QTRY_COMPARE(panel->statistics().snapshot().rejected, quint64(1));
        QCOMPARE(panel->statistics().snapshot().rejectedByReason.value(QStringLiteral("size")), quint64(1));
        QCOMPARE(panel->statistics().snapshot().good, quint64(3));
        QCOMPARE(panel->lastFrame(), image.convertToFormat(QImage::Format_RGB888));
        // Once stopped, the session's port no longer takes frames.
        panel->stopStream();
        controller->sendStreamImage(image);
        QTest::qWait(100);
        QCOMPARE(panel->statistics().snapshot().good, quint64(3));

        // Firmware that leaves the size out: no canvas, until it reports one again.
        panel->setReportCanvasSize(false);
        waitForCheck(*controller);
        QCOMPARE(controller->canvasSize(), QSize(0, 0));
        panel->setReportCanvasSize(true);
        waitForCheck(*controller);
        QCOMPARE(controller->canvasSize(), QSize(6, 10));

        panel->setFault(PanelFault::Http500);
        controller->startStream();
        QVERIFY(!controller->isStreaming());
        // Standby ends the session, and a start answers "standby" without one. A start not taken is tried
        // again by the next check.
        panel->setFault(PanelFault::Standby);
        QCOMPARE(panel->stream().status, QStringLiteral("standby"));
        controller->startStream();
        QCOMPARE(controller->streamingState(), PivotrixController::Standby);
        QCOMPARE(panel->stream().port, 0);
        panel->setFault(PanelFault::None);
        waitForCheck(*controller);
        QCOMPARE(panel->stream().status, QStringLiteral("receiving"));
        panel->dropToStandby();
        QCOMPARE(panel->stream().status, QStringLiteral("standby"));

        // The controller has not noticed, so the deinit still stops the stream.
        controller->deinit();
        QTRY_COMPARE(done.count(), 2);
        QCOMPARE(panel->requestCounts().value(QStringLiteral("stop")), quint64(1));
        QCOMPARE(controller->streamingState(), PivotrixController::Standby);
    }

    // One route at a time answers badly while the others answer well.
    void hostileReplies_data()
    {
        QTest::addColumn<HostileReply>("reply");
        const auto row = [](const char* tag, const QByteArray& route, int status, const QByteArray& body,
                            int state, const QString& name = {}) {
            QTest::newRow(tag) << HostileReply{route, body, status, state, name};
        };
        const auto start = [](const QByteArray& data) {
            return R"({"success":{"data":{"status":"receiving",)" + data + "}}}";
        };
        const int online = PivotrixController::Online, offline = PivotrixController::Offline;
        const int stopped = PivotrixController::Stopped;
        row("info not JSON", kInfo, 200, "<html>", online);
        row("info name is a number", kInfo, 200, R"({"name":5})", online, QStringLiteral("5"));
        row("info 500: the check inits again", kInfo, 500, "{}", PivotrixController::NotChecked,
            QStringLiteral("Stored name"));
        row("check not JSON", kCheck, 200, "nope", online);
        row("check size not an object", kCheck, 200, R"({"canvas":{"pixel":{"size":7}}})", online);
        row("check huge body", kCheck, -1, {}, offline);
        row("start not JSON", kStart, 200, "garbage", stopped);
        row("start 500", kStart, 500, kGoodStart, stopped);
        row("start garbage session id", kStart, 200, start(R"("port":4000,"session_id":"zz12")"), stopped);
        row("start odd session id", kStart, 200, start(R"("port":4000,"session_id":"abc")"), stopped);
        row("start session id not text", kStart, 200, start(R"("port":4000,"session_id":12)"), stopped);
        row("start negative port", kStart, 200, start(R"("port":-5,"session_id":"0a0b")"), stopped);
        row("stop standby", kStop, 200, R"({"status":"standby"})", PivotrixController::Standby);
        row("stop without status", kStop, 200, "{}", stopped);
        row("stop not 200", kStop, 500, R"({"status":"standby"})", stopped);
    }

    void hostileReplies()
    {
        QFETCH(HostileReply, reply);
        TestHttpServer server;
        const QString address = m_panels.nextAddress();
        QVERIFY(server.listen(QHostAddress(address)));
        server.setReply(kInfo, 200, R"({"name":"n"})");
        server.setReply(kCheck, 200,
                        R"({"status":"receiving","canvas":{"pixel":{"size":{"width":4,"height":8}}}})");
        server.setReply(kStart, 200, kGoodStart);
        auto controller = controllerFor(address);
        if (reply.route == kInfo) {
            server.setReply(reply.route, reply.status, reply.body);
            controller->init();
            QCOMPARE(int(controller->networkState()), reply.state);
            QCOMPARE(controller->name(), reply.name);
            // A failed init is tried again by the next check.
            waitForCheck(*controller);
            QCOMPARE(controller->networkState(), PivotrixController::Online);
            QCOMPARE(server.requestCount(kInfo), reply.state == PivotrixController::NotChecked ? 2 : 1);
            return;
        }
        controller->init();
        controller->startStream();
        QCOMPARE(controller->streamingState(), PivotrixController::Receiving);
        server.setReply(reply.route, reply.status, reply.body);
        if (reply.status < 0)
            server.setHugeBody(reply.route);
        if (reply.route == kCheck) {
            waitForCheck(*controller);
            QCOMPARE(int(controller->networkState()), reply.state);
            if (reply.state == PivotrixController::Online) {
                QCOMPARE(controller->streamingState(), PivotrixController::Stopped);
                QCOMPARE(controller->canvasSize(), QSize(0, 0));
            } else {
                QVERIFY(!controller->lastError().isEmpty());
            }
        } else if (reply.route == kStart) {
            controller->setRenderMode(QStringLiteral("pixel"));
            controller->updateStreamParams();
            // No usable session in the reply: the old one is kept and the stream does not count as receiving.
            QCOMPARE(int(controller->streamingState()), reply.state);
            QCOMPARE(controller->sessionId(), QByteArray::fromHex("0a0b"));
            QCOMPARE(controller->streamPort(), 4000);
            // The new parameters were never accepted, so asking again tries again.
            const int attempts = server.requestCount(kStart);
            controller->updateStreamParams();
            QVERIFY(server.requestCount(kStart) > attempts);
        } else {
            controller->stopStream();
            QCOMPARE(server.requestCount(kStop), 1);
            QCOMPARE(int(controller->streamingState()), reply.state);
        }
    }

    // A start blocks in a nested event loop; a second start or parameter change queued meanwhile must not
    // send a second request.
    void startWhileAStartIsOutstanding()
    {
        TestHttpServer server;
        QVERIFY(server.listen(QHostAddress(m_panels.nextAddress())));
        server.setReply(kStart, 200, kGoodStart);
        server.delayMs = 300;
        auto controller = controllerFor(server.baseUrl().host());
        QTimer::singleShot(50, controller.get(), [&controller] { controller->startStream(); });
        controller->startStream();
        QTimer::singleShot(50, controller.get(), [&controller] {
            controller->setRenderMode(QStringLiteral("pixel"));
            controller->updateStreamParams();
        });
        controller->startStream();
        QTest::qWait(400);
        QCOMPARE(server.requestCount(kStart), 2);
        QCOMPARE(controller->streamingState(), PivotrixController::Receiving);
    }

    // A shared check asked before a start, or while it is on its way (the panel may answer the check
    // first, on its own connection), and answered after the start's "receiving": its "standby" may be older
    // than the start and must not end the stream, whether the answer is dropped at once or taken for its
    // new canvas. Asked after the start, the same "standby" does end it.
    void checkAnsweredAfterAStart_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QSize>("canvas");
        QTest::addColumn<int>("state");
        const int receiving = PivotrixController::Receiving;
        QTest::newRow("asked before, nothing else new") << "before" << QSize(4, 8) << receiving;
        QTest::newRow("asked before, new canvas") << "before" << QSize(5, 9) << receiving;
        QTest::newRow("asked during") << "during" << QSize(4, 8) << receiving;
        QTest::newRow("asked after") << "after" << QSize(4, 8) << int(PivotrixController::Standby);
    }
    void checkAnsweredAfterAStart()
    {
        QFETCH(QString, asked);
        QFETCH(QSize, canvas);
        QFETCH(int, state);
        auto panel = m_panels.start({});
        QVERIFY(panel);
        auto controller = controllerFor(panel->address());
        controller->init();
        quint64 askedAfter = controller->streamReplies();
        panel->setReplyDelay(300);
        if (asked == QLatin1String("during"))
            QTimer::singleShot(100, [&] { askedAfter = controller->streamReplies(); });
        controller->startStream();
        QCOMPARE(controller->streamingState(), PivotrixController::Receiving);
        if (asked == QLatin1String("after"))
            askedAfter = controller->streamReplies();
        const QVariantMap standby = PanelReply::map(
            QStringLiteral(R"({"status":"standby","canvas":{"pixel":{"size":{"width":%1,"height":%2}}}})")
                .arg(canvas.width())
                .arg(canvas.height())
                .toUtf8());
        controller->offerCheckAnswer(standby, 200, {}, askedAfter);
        QCoreApplication::sendPostedEvents(controller.get());
        QCOMPARE(controller->canvasSize(), canvas);
        QCOMPARE(int(controller->streamingState()), state);
        QCOMPARE(panel->requestCounts().value(QStringLiteral("start")), quint64(1));
    }

    void frameVerdicts_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("verdict");
        using V = PanelFrameParser::Verdict;
        const QByteArray session = QByteArray::fromHex("0102030405");
        QImage canvas(4, 8, QImage::Format_RGB32);
        canvas.fill(qRgb(10, 200, 30));
        canvas.setPixel(0, 0, qRgb(255, 0, 0));
        const QByteArray good = PivotrixController::buildFrame(canvas, session);
        auto patched = [&good](int offset, char value) {
            QByteArray d = good;
            d[offset] = value;
            return d;
        };
        QTest::newRow("good") << good << int(V::Good);
        QTest::newRow("empty") << QByteArray() << int(V::TooShort);
        QTest::newRow("magic") << patched(0, 'P') << int(V::Magic);
        QTest::newRow("version 2") << patched(4, 2) << int(V::Version);
        QTest::newRow("other session") << patched(6, 9) << int(V::Session);
        QTest::newRow("png encoding") << patched(22, 1) << int(V::Encoding);
        QTest::newRow("constant byte") << patched(23, 0) << int(V::Header);
        QTest::newRow("width") << patched(30, 5) << int(V::Size);
        QTest::newRow("length field") << patched(34, 95) << int(V::Length);
        QTest::newRow("datagram cut short") << good.left(good.size() - 1) << int(V::Length);
        QTest::newRow("trailer") << patched(good.size() - 1, 1) << int(V::Trailer);
        QTest::newRow("header only, huge length")
            << PivotrixController::buildFrame(QImage(), session).replace(34, 2, "\xff\xff") << int(V::Size);
        // Checked against a 62571x45761 canvas: 3 x 62571 x 45761 is 2^33 + 1, so a 32-bit product would
        // take one byte for the whole canvas.
        QTest::newRow("canvas size overflowing the length")
            << good.left(30) + QByteArray::fromHex("6bf4c1b201007f0000") << int(V::Length);
    }

    void frameVerdicts()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(int, verdict);
        const bool huge = QByteArray(QTest::currentDataTag()).startsWith("canvas size");
        const QSize canvas = huge ? QSize(62571, 45761) : QSize(4, 8);
        const PanelFrameParser parser(QByteArray::fromHex("0102030405"), canvas);
        const PanelFrameParser::Frame frame = parser.parse(datagram);
        QCOMPARE(PanelFrameParser::verdictName(frame.verdict),
                 PanelFrameParser::verdictName(PanelFrameParser::Verdict(verdict)));
        if (frame.verdict == PanelFrameParser::Verdict::Good)
            QCOMPARE(frame.rgb.left(6), QByteArray::fromHex("ff00000ac81e"));
    }

private:
    PanelFixture m_panels{3};
};

QTEST_MAIN(TestPivotrixController)
#include "tst_pivotrixcontroller.moc"
