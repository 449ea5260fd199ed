#include "device/PivotrixController.h"
#include "emulator/PanelFrameParser.h"
#include "support/PanelFixture.h"
#include "support/TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {
const QString kKey = QStringLiteral("emulator-key");

QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 10, y * 20, (x + y) & 0xFF, 0x80));
    return image;
}

int le16(const QByteArray& data, int offset)
{
    return int(uchar(data.at(offset))) | (int(uchar(data.at(offset + 1))) << 8);
}

std::unique_ptr<PivotrixController> controllerFor(const QString& address, const QString& key = kKey)
{
    return std::make_unique<PivotrixController>(address, 1234, key, QStringLiteral("px3"),
                                                QStringLiteral("Stored name"), QStringLiteral("dev-1"));
}
} // namespace

class TestPivotrixController : public QObject
{
    Q_OBJECT
private slots:
    void frameLayout();
    void frameSizeLimits_data();
    void frameSizeLimits();
    void initReadsIdentityAndCanvas();
    void framesReachThePanel();
    void startBodies_data();
    void startBodies();
    void updateStreamParamsStartsOnce();
    void missingCanvasSize();
    void checkRunsInitOnUninitialisedDevice();
    void wrongKeyIsRefused();
    void hostileInfoReplies_data();
    void hostileInfoReplies();
    void hostileStartReplies_data();
    void hostileStartReplies();
    void hostileCheckReplies_data();
    void hostileCheckReplies();
    void deinitStopsOnlyARunningStream();
    void startWhileAStartIsOutstanding_data();
    void startWhileAStartIsOutstanding();
    void stopReplies_data();
    void stopReplies();

private:
    PanelFixture m_panels{3};
    int m_hostile = 200;
    QString nextHostileAddress() { return QStringLiteral("127.0.3.%1").arg(++m_hostile); }
};

void TestPivotrixController::frameLayout()
{
    const QByteArray session = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const QImage image = gradient(4, 8);
    const QByteArray frame = PivotrixController::buildFrame(image, session);
    QCOMPARE(frame.size(), 134);
    QCOMPARE(frame.left(4), QByteArray("pxsp"));
    QCOMPARE(le16(frame, 4), 1);
    QCOMPARE(frame.mid(6, 16), session);
    QCOMPARE(frame.mid(22, 8), QByteArray::fromHex("0001010000000000"));
    QCOMPARE(le16(frame, 30), 4);
    QCOMPARE(le16(frame, 32), 8);
    QCOMPARE(le16(frame, 34), 96);
    QCOMPARE(frame.right(2), QByteArray(2, '\0'));
    // Row by row from the top, red-green-blue, alpha dropped.
    for (const QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(3, 0), QPoint(0, 1), QPoint(3, 7)}) {
        const int at = 36 + 3 * (p.y() * 4 + p.x());
        const QRgb pixel = image.pixel(p);
        QCOMPARE(uchar(frame.at(at)), uchar(qRed(pixel)));
        QCOMPARE(uchar(frame.at(at + 1)), uchar(qGreen(pixel)));
        QCOMPARE(uchar(frame.at(at + 2)), uchar(qBlue(pixel)));
    }
    // The panel's own parser agrees.
    const PanelFrameParser parser(session, QSize(4, 8));
    QCOMPARE(int(parser.parse(frame).verdict), int(PanelFrameParser::Verdict::Good));
}

void TestPivotrixController::frameSizeLimits_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("size");
    QTest::newRow("null image: empty frame") << QImage() << 38;
    QTest::newRow("largest payload that fits") << gradient(151, 144) << 38 + 65232;
    QTest::newRow("payload of 65536 bytes") << gradient(1, 21846) << 0; // 3 * 21846 = 65538
    QTest::newRow("zero height") << QImage(300, 0, QImage::Format_RGB32) << 38;
}

void TestPivotrixController::frameSizeLimits()
{
    QFETCH(QImage, image);
    QFETCH(int, size);
    QCOMPARE(PivotrixController::buildFrame(image, QByteArray(16, 'x')).size(), size);
}

void TestPivotrixController::initReadsIdentityAndCanvas()
{
    PanelConfig config;
    config.name = QStringLiteral("Living room");
    config.serial = QStringLiteral("SN-42");
    config.model = QStringLiteral("px3-pro");
    config.canvas = QSize(6, 10);
    auto panel = m_panels.start(config);
    QVERIFY(panel);
    auto controller = controllerFor(panel->address());
    QCOMPARE(controller->networkState(), PivotrixController::NotChecked);
    QCOMPARE(controller->canvasSize(), QSize(0, 0));
    QSignalSpy online(controller.get(), &PivotrixController::onlineChanged);
    controller->init();
    QCOMPARE(online.count(), 1);
    QCOMPARE(controller->name(), QStringLiteral("Living room"));
    QCOMPARE(controller->serial(), QStringLiteral("SN-42"));
    QCOMPARE(controller->model(), QStringLiteral("px3-pro"));
    QCOMPARE(controller->osVersion(), QStringLiteral("1.0.0-emulator"));
    QCOMPARE(controller->canvasSize(), QSize(6, 10));
    QCOMPARE(controller->streamingState(), PivotrixController::Standby);
}

void TestPivotrixController::framesReachThePanel()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    auto controller = controllerFor(panel->address());
    controller->init();
    controller->startStream();
    QVERIFY(controller->isStreaming());
    QCOMPARE(controller->sessionId(), panel->stream().sessionId);
    QCOMPARE(controller->streamPort(), panel->stream().port);
    const QImage image = gradient(4, 8);
    for (int i = 0; i < 5; ++i)
        controller->sendStreamImage(image);
    controller->sendStreamImage(gradient(5, 8)); // not the canvas
    QTRY_COMPARE(panel->statistics().snapshot().good, quint64(5));
    QTRY_COMPARE(panel->statistics().snapshot().rejected, quint64(1));
    QCOMPARE(panel->statistics().snapshot().rejectedByReason.value(QStringLiteral("size")), quint64(1));
    QCOMPARE(panel->lastFrame(), image.convertToFormat(QImage::Format_RGB888));
    QCOMPARE(controller->framesSent(), quint64(6));

    // Too big for the 16-bit length field: dropped whole, never sent cut short.
    controller->sendStreamImage(gradient(148, 148));
    QCOMPARE(controller->framesSent(), quint64(6));
    controller->sendStreamImage(image);
    QTRY_COMPARE(panel->statistics().snapshot().good, quint64(6));
    QCOMPARE(panel->statistics().snapshot().rejected, quint64(1));
}

void TestPivotrixController::startBodies_data()
{
    QTest::addColumn<int>("seasoning");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("params");
    // The seasoning-to-words mapping the device pages apply.
    QTest::newRow("0 no effect") << 0 << "none"
                                 << "pixel" << false;
    QTest::newRow("1 fading pixels") << 1 << "effect"
                                     << "pixel" << true;
    QTest::newRow("2 fading triangles") << 2 << "effect"
                                        << "triangle" << true;
}

void TestPivotrixController::startBodies()
{
    QFETCH(QString, type);
    QFETCH(QString, mode);
    QFETCH(bool, params);
    TestHttpServer server;
    server.status = 404;
    const QString address = nextHostileAddress();
    QVERIFY(server.listen(QHostAddress(address)));
    server.setReply("PUT /api/v2/device/stream/start", 200,
                    R"({"success":{"data":{"status":"receiving","port":4000,"session_id":"0a0b"}}})");
    auto controller = controllerFor(address);
    controller->setPostProcessType(type);
    controller->setRenderMode(mode);
    controller->startStream();

    const QByteArray raw = server.lastBody("PUT /api/v2/device/stream/start");
    QVERIFY2(raw.contains("\n    \"canvas\""), raw.constData()); // indented text
    const QJsonObject canvas =
        QJsonDocument::fromJson(raw).object().value(QStringLiteral("canvas")).toObject();
    QCOMPARE(canvas.value(QStringLiteral("fill_type")).toString(), QStringLiteral("scale"));
    QCOMPARE(canvas.value(QStringLiteral("render_mode")).toString(), mode);
    const QJsonObject postProcess = canvas.value(QStringLiteral("post_process")).toObject();
    QCOMPARE(postProcess.value(QStringLiteral("type")).toString(), type);
    QCOMPARE(postProcess.contains(QStringLiteral("params")), params);
    if (params) {
        const QJsonObject p = postProcess.value(QStringLiteral("params")).toObject();
        QCOMPARE(p.value(QStringLiteral("effect_type")).toString(), QStringLiteral("fading_pixels"));
        QCOMPARE(p.value(QStringLiteral("effect_params"))
                     .toObject()
                     .value(QStringLiteral("pixel_base"))
                     .toDouble(),
                 0.45);
    }
    QCOMPARE(server.lastHeaders().toLower().contains("content-type"), false);
}

void TestPivotrixController::updateStreamParamsStartsOnce()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    auto controller = controllerFor(panel->address());
    controller->init();
    // Before any start there are no last parameters, so this starts a stream.
    controller->updateStreamParams();
    controller->updateStreamParams();
    QCOMPARE(panel->requestCounts().value(QStringLiteral("start")), quint64(1));
    QVERIFY(controller->isStreaming());
    controller->setRenderMode(QStringLiteral("pixel"));
    controller->updateStreamParams();
    controller->updateStreamParams();
    QCOMPARE(panel->requestCounts().value(QStringLiteral("start")), quint64(2));
    QCOMPARE(panel->requestCounts().value(QStringLiteral("stop")), quint64(0));
}

void TestPivotrixController::missingCanvasSize()
{
    PanelConfig config;
    config.reportCanvasSize = false;
    config.canvas = QSize(9, 9);
    auto panel = m_panels.start(config);
    QVERIFY(panel);
    auto controller = controllerFor(panel->address());
    controller->init();
    QCOMPARE(controller->canvasSize(), QSize(4, 8));
    QSignalSpy finished(controller.get(), &PivotrixController::checkOnlineFinished);
    controller->checkOnline();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(controller->canvasSize(), QSize(0, 0));
    panel->setReportCanvasSize(true);
    controller->checkOnline();
    QTRY_COMPARE(finished.count(), 2);
    QCOMPARE(controller->canvasSize(), QSize(9, 9));
}

void TestPivotrixController::checkRunsInitOnUninitialisedDevice()
{
    TestHttpServer server;
    server.status = 404;
    const QString address = nextHostileAddress();
    QVERIFY(server.listen(QHostAddress(address)));
    server.setReply("GET /api/v2/device", 500, "{}");
    server.setReply("GET /api/v2/device/stream", 200, R"({"status":"standby"})");
    auto controller = controllerFor(address);
    controller->init();
    QCOMPARE(controller->networkState(), PivotrixController::NotChecked);
    QSignalSpy finished(controller.get(), &PivotrixController::checkOnlineFinished);
    controller->checkOnline();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(controller->networkState(), PivotrixController::Online);
    QCOMPARE(server.requestCount("GET /api/v2/device"), 2);
    QCOMPARE(controller->name(), QStringLiteral("Stored name")); // the failing init changed nothing
}

void TestPivotrixController::wrongKeyIsRefused()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    auto controller = controllerFor(panel->address(), QStringLiteral("wrong"));
    controller->init();
    QCOMPARE(controller->networkState(), PivotrixController::NotChecked);
    QCOMPARE(panel->requestCounts().value(QStringLiteral("unauthorized")), quint64(1));
    QSignalSpy finished(controller.get(), &PivotrixController::checkOnlineFinished);
    controller->checkOnline();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(controller->networkState(), PivotrixController::Offline);
}

void TestPivotrixController::hostileInfoReplies_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("online");
    QTest::addColumn<QString>("name");
    const int raw = int(TestHttpServer::Mode::Raw);
    QTest::newRow("not JSON") << raw << 200 << QByteArray("<html>hi") << true << QString();
    QTest::newRow("name is a number")
        << raw << 200 << QByteArray(R"({"name":5})") << true << QStringLiteral("5");
    QTest::newRow("HTTP 500") << raw << 500 << QByteArray("{}") << false << QStringLiteral("Stored name");
}

void TestPivotrixController::hostileInfoReplies()
{
    QFETCH(int, mode);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, online);
    QFETCH(QString, name);
    TestHttpServer server;
    server.status = 404;
    const QString address = nextHostileAddress();
    QVERIFY(server.listen(QHostAddress(address)));
    server.setReply("GET /api/v2/device", status, body);
    server.setMode("GET /api/v2/device", TestHttpServer::Mode(mode));
    server.setReply("GET /api/v2/device/stream", 200, R"({"status":"standby"})");
    auto controller = controllerFor(address);
    controller->init();
    QCOMPARE(controller->networkState(),
             online ? PivotrixController::Online : PivotrixController::NotChecked);
    QCOMPARE(controller->name(), name);
}

void TestPivotrixController::hostileStartReplies_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    const int raw = int(TestHttpServer::Mode::Raw);
    QTest::newRow("not JSON") << raw << 200 << QByteArray("garbage");
    QTest::newRow("no data") << raw << 200 << QByteArray(R"({"success":{}})");
    QTest::newRow("HTTP 500") << raw << 500 << QByteArray(R"({"error":"x"})");
    QTest::newRow("garbage session id")
        << raw << 200
        << QByteArray(R"({"success":{"data":{"status":"receiving","port":4000,"session_id":"zz12"}}})");
    QTest::newRow("odd session id")
        << raw << 200
        << QByteArray(R"({"success":{"data":{"status":"receiving","port":4000,"session_id":"abc"}}})");
    QTest::newRow("session id not text")
        << raw << 200
        << QByteArray(R"({"success":{"data":{"status":"receiving","port":4000,"session_id":12}}})");
    QTest::newRow("negative port")
        << raw << 200
        << QByteArray(R"({"success":{"data":{"status":"receiving","port":-5,"session_id":"0a0b"}}})");
    QTest::newRow("port not a number")
        << raw << 200
        << QByteArray(R"({"success":{"data":{"status":"receiving","port":"x","session_id":"0a0b"}}})");
}

void TestPivotrixController::hostileStartReplies()
{
    QFETCH(int, mode);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    TestHttpServer server;
    server.status = 404;
    const QString address = nextHostileAddress();
    QVERIFY(server.listen(QHostAddress(address)));
    const QByteArray start = "PUT /api/v2/device/stream/start";
    server.setReply(start, 200,
                    R"({"success":{"data":{"status":"receiving","port":4000,"session_id":"0a0b"}}})");
    auto controller = controllerFor(address);
    controller->startStream();
    QCOMPARE(controller->streamingState(), PivotrixController::Receiving);
    controller->setRenderMode(QStringLiteral("pixel"));

    server.setReply(start, status, body);
    server.setMode(start, TestHttpServer::Mode(mode));
    controller->updateStreamParams();
    // Qt may resend an idempotent PUT once when the connection drops.
    const int attempts = server.requestCount(start);
    QVERIFY(attempts >= 2);
    // No usable session in the reply: the old one is kept and the stream does not count as receiving.
    QCOMPARE(controller->streamingState(), PivotrixController::Stopped);
    QCOMPARE(controller->sessionId(), QByteArray::fromHex("0a0b"));
    QCOMPARE(controller->streamPort(), 4000);
    // The new parameters were never accepted, so asking again tries again.
    controller->updateStreamParams();
    QVERIFY(server.requestCount(start) > attempts);
}

void TestPivotrixController::hostileCheckReplies_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<PivotrixController::NetworkState>("state");
    const int raw = int(TestHttpServer::Mode::Raw);
    QTest::newRow("not JSON") << raw << 200 << QByteArray("nope") << PivotrixController::Online;
    QTest::newRow("size not an object")
        << raw << 200 << QByteArray(R"({"canvas":{"pixel":{"size":7}}})") << PivotrixController::Online;
    QTest::newRow("HTTP 500") << raw << 500 << QByteArray() << PivotrixController::Offline;
    QTest::newRow("connection reset")
        << int(TestHttpServer::Mode::Reset) << 0 << QByteArray() << PivotrixController::Offline;
    QTest::newRow("huge body") << int(TestHttpServer::Mode::HugeBody) << 0 << QByteArray()
                               << PivotrixController::Offline;
}

void TestPivotrixController::hostileCheckReplies()
{
    QFETCH(int, mode);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(PivotrixController::NetworkState, state);
    TestHttpServer server;
    server.status = 404;
    const QString address = nextHostileAddress();
    QVERIFY(server.listen(QHostAddress(address)));
    server.setReply("GET /api/v2/device", 200, R"({"name":"n"})");
    server.setReply("GET /api/v2/device/stream", 200,
                    R"({"status":"receiving","canvas":{"pixel":{"size":{"width":4,"height":8}}}})");
    auto controller = controllerFor(address);
    controller->init();
    QCOMPARE(controller->networkState(), PivotrixController::Online);

    server.setReply("GET /api/v2/device/stream", status, body);
    server.setMode("GET /api/v2/device/stream", TestHttpServer::Mode(mode));
    QSignalSpy finished(controller.get(), &PivotrixController::checkOnlineFinished);
    controller->checkOnline();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(controller->networkState(), state);
    if (state == PivotrixController::Online) {
        QCOMPARE(controller->streamingState(), PivotrixController::Stopped);
        QCOMPARE(controller->canvasSize(), QSize(0, 0));
    } else {
        QVERIFY(!controller->lastError().isEmpty());
    }
}

void TestPivotrixController::deinitStopsOnlyARunningStream()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    auto controller = controllerFor(panel->address());
    controller->init();
    QSignalSpy done(controller.get(), &PivotrixController::deinitFinished);
    controller->deinit();
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(panel->requestCounts().value(QStringLiteral("stop")), quint64(0));

    controller->startStream();
    QVERIFY(controller->isStreaming());
    controller->deinit();
    QTRY_COMPARE(done.count(), 2);
    QCOMPARE(panel->requestCounts().value(QStringLiteral("stop")), quint64(1));
    QCOMPARE(panel->stream().status, QStringLiteral("standby"));
    QCOMPARE(controller->streamingState(), PivotrixController::Standby);
    const QJsonObject stopBody = QJsonDocument::fromJson(PivotrixController::stopBody()).object();
    QCOMPARE(stopBody,
             (QJsonObject{{QStringLiteral("canvas"),
                           QJsonObject{{QStringLiteral("fill_type"), QStringLiteral("scale")},
                                       {QStringLiteral("render_mode"), QStringLiteral("pixel")}}}}));
}

namespace {
const QByteArray kStart = "PUT /api/v2/device/stream/start";
const QByteArray kStop = "PUT /api/v2/device/stream/stop";
const QByteArray kGoodStart =
    R"({"success":{"data":{"status":"receiving","port":4000,"session_id":"0a0b"}}})";
} // namespace

// A start blocks in a nested event loop; a second start or parameter change queued meanwhile must not send
// a second request.
void TestPivotrixController::startWhileAStartIsOutstanding_data()
{
    QTest::addColumn<bool>("viaParams");
    QTest::newRow("startStream") << false;
    QTest::newRow("updateStreamParams") << true;
}

void TestPivotrixController::startWhileAStartIsOutstanding()
{
    QFETCH(bool, viaParams);
    TestHttpServer server;
    const QString address = nextHostileAddress();
    QVERIFY(server.listen(QHostAddress(address)));
    server.setReply(kStart, 200, kGoodStart);
    server.delayMs = 300;
    auto controller = controllerFor(address);
    PivotrixController* c = controller.get();
    QTimer::singleShot(50, c, [c, viaParams] {
        c->setRenderMode(QStringLiteral("pixel"));
        if (viaParams)
            c->updateStreamParams();
        else
            c->startStream();
    });
    controller->startStream();
    QTest::qWait(400);
    QCOMPARE(server.requestCount(kStart), 1);
    QCOMPARE(controller->streamingState(), PivotrixController::Receiving);
}

void TestPivotrixController::stopReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("state");
    QTest::newRow("standby") << 200 << QByteArray(R"({"status":"standby"})")
                             << int(PivotrixController::Standby);
    QTest::newRow("no status") << 200 << QByteArray("{}") << int(PivotrixController::Stopped);
    QTest::newRow("not json") << 200 << QByteArray("<html>") << int(PivotrixController::Stopped);
    QTest::newRow("not 200") << 500 << QByteArray(R"({"status":"standby"})")
                             << int(PivotrixController::Stopped);
}

void TestPivotrixController::stopReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, state);
    TestHttpServer server;
    const QString address = nextHostileAddress();
    QVERIFY(server.listen(QHostAddress(address)));
    server.setReply(kStart, 200, kGoodStart);
    server.setReply(kStop, status, body);
    auto controller = controllerFor(address);
    controller->startStream();
    QCOMPARE(controller->streamingState(), PivotrixController::Receiving);
    controller->stopStream();
    QCOMPARE(server.requestCount(kStop), 1);
    QCOMPARE(int(controller->streamingState()), state);
}

QTEST_MAIN(TestPivotrixController)
#include "tst_pivotrixcontroller.moc"
