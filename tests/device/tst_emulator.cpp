#include "device/PivotrixController.h"
#include "emulator/EmulatorCommandLine.h"
#include "emulator/EmulatorWindow.h"
#include "emulator/PanelFrameParser.h"
#include "support/PanelFixture.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QUdpSocket>
#include <QtTest>

namespace {
struct Reply
{
    int status = 0;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

Reply request(const QByteArray& verb, const QString& url, const QByteArray& authorization = {},
              const QByteArray& body = {})
{
    QNetworkAccessManager manager;
    QNetworkRequest req{QUrl(url)};
    if (!authorization.isEmpty())
        req.setRawHeader("Authorization", authorization);
    QNetworkReply* reply = manager.sendCustomRequest(req, verb, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    Reply r;
    r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    r.body = reply->readAll();
    delete reply;
    return r;
}

QString api(const EmulatedPanel& panel, const QString& path)
{
    return QStringLiteral("http://%1:%2%3").arg(panel.address()).arg(panel.apiPort()).arg(path);
}

QString status(const EmulatedPanel& panel, const QString& path = QStringLiteral("/emulator/status"))
{
    return QStringLiteral("http://%1:%2%3").arg(panel.address()).arg(panel.statusPort()).arg(path);
}

QImage canvasImage(int width = 4, int height = 8)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    image.setPixel(0, 0, qRgb(255, 0, 0));
    return image;
}

QStringList args(const char* text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QByteArray goodFrame(const QByteArray& session)
{
    return PivotrixController::buildFrame(canvasImage(), session);
}
} // namespace

class TestEmulator : public QObject
{
    Q_OBJECT
private slots:
    void frameVerdicts_data();
    void frameVerdicts();
    void receiverCountsHostileDatagrams();
    void httpCalls_data();
    void httpCalls();
    void startReplacesSession();
    void http500Fault();
    void slowReplies();
    void standbyFault();
    void statusAndControlEndpoints();
    void hostileControlBodies_data();
    void hostileControlBodies();
    void commandLine_data();
    void commandLine();
    void windowShowsLastFrame();
    void executableServesSeveralPanels();

private:
    PanelFixture m_panels{6};
};

void TestEmulator::frameVerdicts_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("verdict");
    using V = PanelFrameParser::Verdict;
    const QByteArray session = QByteArray::fromHex("0102030405");
    const QByteArray good = goodFrame(session);
    auto patched = [&good](int offset, char value) {
        QByteArray d = good;
        d[offset] = value;
        return d;
    };
    QTest::newRow("good") << good << int(V::Good);
    QTest::newRow("empty") << QByteArray() << int(V::TooShort);
    QTest::newRow("37 bytes") << good.left(37) << int(V::TooShort);
    QTest::newRow("magic") << patched(0, 'P') << int(V::Magic);
    QTest::newRow("version 2") << patched(4, 2) << int(V::Version);
    QTest::newRow("version high byte") << patched(5, 1) << int(V::Version);
    QTest::newRow("other session") << patched(6, 9) << int(V::Session);
    QTest::newRow("session padding not zero") << patched(21, 1) << int(V::Session);
    QTest::newRow("png encoding") << patched(22, 1) << int(V::Encoding);
    QTest::newRow("constant byte") << patched(23, 0) << int(V::Header);
    QTest::newRow("reserved byte") << patched(25, 7) << int(V::Header);
    QTest::newRow("width") << patched(30, 5) << int(V::Size);
    QTest::newRow("height") << patched(33, 1) << int(V::Size);
    QTest::newRow("length field") << patched(34, 95) << int(V::Length);
    QTest::newRow("datagram cut short") << good.left(good.size() - 1) << int(V::Length);
    QTest::newRow("extra bytes") << good + QByteArray(1, '\0') << int(V::Length);
    QTest::newRow("trailer") << patched(good.size() - 1, 1) << int(V::Trailer);
    QTest::newRow("header only, huge length")
        << PivotrixController::buildFrame(QImage(), session).replace(34, 2, "\xff\xff") << int(V::Size);
}

void TestEmulator::frameVerdicts()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, verdict);
    const PanelFrameParser parser(QByteArray::fromHex("0102030405"), QSize(4, 8));
    const PanelFrameParser::Frame frame = parser.parse(datagram);
    QCOMPARE(PanelFrameParser::verdictName(frame.verdict),
             PanelFrameParser::verdictName(PanelFrameParser::Verdict(verdict)));
    if (frame.verdict == PanelFrameParser::Verdict::Good) {
        QCOMPARE(frame.rgb.size(), 96);
        QCOMPARE(frame.rgb.left(6), QByteArray::fromHex("ff00000ac81e"));
    }
}

void TestEmulator::receiverCountsHostileDatagrams()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    int code = 0;
    const QJsonObject reply = panel->startStream("{}", &code);
    QCOMPARE(code, 200);
    const QJsonObject data =
        reply.value(QStringLiteral("success")).toObject().value(QStringLiteral("data")).toObject();
    const QByteArray session =
        QByteArray::fromHex(data.value(QStringLiteral("session_id")).toString().toLatin1());
    QCOMPARE(session.size(), 16);
    const quint16 port = quint16(data.value(QStringLiteral("port")).toInt());
    QVERIFY(port > 0);

    QUdpSocket socket;
    const QHostAddress to(panel->address());
    const QByteArray good = goodFrame(session);
    QByteArray badMagic = good;
    badMagic[0] = 'x';
    for (const QByteArray& datagram : {good, badMagic, good.left(10), QByteArray(2000, '\xff'), good})
        QVERIFY(socket.writeDatagram(datagram, to, port) >= 0);
    QTRY_COMPARE(panel->statistics().snapshot().good + panel->statistics().snapshot().rejected, quint64(5));
    const FrameStatistics::Snapshot s = panel->statistics().snapshot();
    QCOMPARE(s.good, quint64(2));
    QCOMPARE(s.rejectedByReason.value(QStringLiteral("magic")), quint64(2));
    QCOMPARE(s.rejectedByReason.value(QStringLiteral("too_short")), quint64(1));
    QCOMPARE(s.gapCount, quint64(1));
    QCOMPARE(panel->lastFrame(), canvasImage().convertToFormat(QImage::Format_RGB888));

    // Once stopped, the session's port no longer takes frames.
    panel->stopStream();
    socket.writeDatagram(good, to, port);
    QTest::qWait(100);
    QCOMPARE(panel->statistics().snapshot().good, quint64(2));
}

void TestEmulator::httpCalls_data()
{
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    const QByteArray key = PivotrixController::authorizationHeader(QStringLiteral("emulator-key"));
    QTest::newRow("device") << QByteArray("GET") << "/api/v2/device" << key << QByteArray() << 200;
    QTest::newRow("stream") << QByteArray("GET") << "/api/v2/device/stream" << key << QByteArray() << 200;
    QTest::newRow("no key") << QByteArray("GET") << "/api/v2/device" << QByteArray() << QByteArray() << 401;
    QTest::newRow("wrong key") << QByteArray("GET") << "/api/v2/device/stream"
                               << PivotrixController::authorizationHeader(QStringLiteral("nope"))
                               << QByteArray() << 401;
    QTest::newRow("key without colon")
        << QByteArray("GET") << "/api/v2/device"
        << QByteArray("Basic ") + QByteArray("emulator-key").toBase64() << QByteArray() << 401;
    QTest::newRow("bearer") << QByteArray("GET") << "/api/v2/device" << QByteArray("Bearer emulator-key")
                            << QByteArray() << 401;
    QTest::newRow("start") << QByteArray("PUT") << "/api/v2/device/stream/start" << key << QByteArray("{}")
                           << 200;
    QTest::newRow("start, not JSON") << QByteArray("PUT") << "/api/v2/device/stream/start" << key
                                     << QByteArray("{oops") << 400;
    QTest::newRow("start, JSON array")
        << QByteArray("PUT") << "/api/v2/device/stream/start" << key << QByteArray("[]") << 400;
    QTest::newRow("start without key")
        << QByteArray("PUT") << "/api/v2/device/stream/start" << QByteArray() << QByteArray("{}") << 401;
    QTest::newRow("stop") << QByteArray("PUT") << "/api/v2/device/stream/stop" << key << QByteArray() << 200;
    QTest::newRow("unknown path") << QByteArray("GET") << "/api/v2/nothing" << key << QByteArray() << 404;
    QTest::newRow("start with GET") << QByteArray("GET") << "/api/v2/device/stream/start" << key
                                    << QByteArray() << 404;
}

void TestEmulator::httpCalls()
{
    QFETCH(QByteArray, verb);
    QFETCH(QString, path);
    QFETCH(QByteArray, authorization);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    auto panel = m_panels.start();
    QVERIFY(panel);
    const Reply reply = request(verb, api(*panel, path), authorization, body);
    QCOMPARE(reply.status, status);
    if (status != 200)
        return;
    const QJsonObject json = reply.json();
    if (path == QLatin1String("/api/v2/device")) {
        QCOMPARE(json.value(QStringLiteral("name")).toString(), panel->name());
        QCOMPARE(json.value(QStringLiteral("model")).toString(), QStringLiteral("px3"));
        QVERIFY(json.contains(QStringLiteral("serial")));
        QVERIFY(json.contains(QStringLiteral("os_version")));
    } else if (path.endsWith(QLatin1String("/stream"))) {
        QCOMPARE(json.value(QStringLiteral("status")).toString(), QStringLiteral("standby"));
        const QJsonObject size = json.value(QStringLiteral("canvas"))
                                     .toObject()
                                     .value(QStringLiteral("pixel"))
                                     .toObject()
                                     .value(QStringLiteral("size"))
                                     .toObject();
        QCOMPARE(size.value(QStringLiteral("width")).toInt(), 4);
        QCOMPARE(size.value(QStringLiteral("height")).toInt(), 8);
    } else if (path.endsWith(QLatin1String("/start"))) {
        QCOMPARE(panel->stream().status, QStringLiteral("receiving"));
    } else if (path.endsWith(QLatin1String("/stop"))) {
        QCOMPARE(json.value(QStringLiteral("status")).toString(), QStringLiteral("standby"));
    }
}

void TestEmulator::startReplacesSession()
{
    PanelConfig config;
    config.sessionId = QStringLiteral("aa00bb");
    auto panel = m_panels.start(config);
    QVERIFY(panel);
    int code = 0;
    panel->startStream("{}", &code);
    const int firstPort = panel->stream().port;
    QCOMPARE(panel->stream().sessionId, QByteArray::fromHex("aa00bb"));
    QUdpSocket socket;
    socket.writeDatagram(goodFrame(QByteArray::fromHex("aa00bb")), QHostAddress(panel->address()),
                         quint16(firstPort));
    QTRY_COMPARE(panel->statistics().snapshot().good, quint64(1));
    panel->startStream(R"({"canvas":{"render_mode":"pixel"}})", &code);
    QVERIFY(panel->stream().port > 0);
    QCOMPARE(panel->stream()
                 .params.value(QStringLiteral("canvas"))
                 .toObject()
                 .value(QStringLiteral("render_mode")),
             QJsonValue(QStringLiteral("pixel")));
    socket.writeDatagram(goodFrame(QByteArray::fromHex("aa00bb")), QHostAddress(panel->address()),
                         quint16(panel->stream().port));
    QTRY_COMPARE(panel->statistics().snapshot().good, quint64(2));
    // A new session does not count the gap from the old one.
    QCOMPARE(panel->statistics().snapshot().gapCount, quint64(0));
}

void TestEmulator::http500Fault()
{
    PanelConfig config;
    config.fault = PanelFault::Http500;
    auto panel = m_panels.start(config);
    QVERIFY(panel);
    const QByteArray key = PivotrixController::authorizationHeader(panel->apiKey());
    QCOMPARE(request("GET", api(*panel, QStringLiteral("/api/v2/device")), key).status, 500);
    QCOMPARE(request("PUT", api(*panel, QStringLiteral("/api/v2/device/stream/start")), key, "{}").status,
             500);
    QCOMPARE(panel->stream().status, QStringLiteral("standby"));
    panel->setFault(PanelFault::None);
    QCOMPARE(request("GET", api(*panel, QStringLiteral("/api/v2/device")), key).status, 200);
}

void TestEmulator::slowReplies()
{
    PanelConfig config;
    config.replyDelayMs = 300;
    auto panel = m_panels.start(config);
    QVERIFY(panel);
    QElapsedTimer clock;
    clock.start();
    const Reply reply = request("GET", api(*panel, QStringLiteral("/api/v2/device")),
                                PivotrixController::authorizationHeader(panel->apiKey()));
    QCOMPARE(reply.status, 200);
    QVERIFY(clock.elapsed() >= 300);
}

void TestEmulator::standbyFault()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    int code = 0;
    panel->startStream("{}", &code);
    QCOMPARE(panel->stream().status, QStringLiteral("receiving"));
    panel->setFault(PanelFault::Standby);
    QCOMPARE(panel->stream().status, QStringLiteral("standby"));
    const QJsonObject reply = panel->startStream("{}", &code);
    QCOMPARE(code, 200);
    const QJsonObject data =
        reply.value(QStringLiteral("success")).toObject().value(QStringLiteral("data")).toObject();
    QCOMPARE(data.value(QStringLiteral("status")).toString(), QStringLiteral("standby"));
    QCOMPARE(panel->stream().port, 0);
    panel->setFault(PanelFault::None);
    panel->startStream("{}", &code);
    QCOMPARE(panel->stream().status, QStringLiteral("receiving"));
    panel->dropToStandby();
    QCOMPARE(panel->stream().status, QStringLiteral("standby"));
}

void TestEmulator::statusAndControlEndpoints()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    int code = 0;
    panel->startStream("{}", &code);
    QUdpSocket socket;
    for (int i = 0; i < 3; ++i)
        socket.writeDatagram(goodFrame(panel->stream().sessionId), QHostAddress(panel->address()),
                             quint16(panel->stream().port));
    QTRY_COMPARE(panel->statistics().snapshot().good, quint64(3));

    Reply reply = request("GET", status(*panel));
    QCOMPARE(reply.status, 200);
    QJsonObject json = reply.json();
    QCOMPARE(json.value(QStringLiteral("id")).toString(), panel->id());
    QCOMPARE(json.value(QStringLiteral("stream")).toObject().value(QStringLiteral("status")).toString(),
             QStringLiteral("receiving"));
    QCOMPARE(json.value(QStringLiteral("frames")).toObject().value(QStringLiteral("good")).toInt(), 3);
    QCOMPARE(
        json.value(QStringLiteral("last_frame")).toObject().value(QStringLiteral("rgb")).toString().left(12),
        QStringLiteral("ff00000ac81e"));
    QCOMPARE(json.value(QStringLiteral("inter_arrival_ms")).toObject().value(QStringLiteral("count")).toInt(),
             2);

    reply = request("PUT", status(*panel, QStringLiteral("/emulator/control")), {}, R"({"fault":"offline"})");
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.json().value(QStringLiteral("fault")).toString(), QStringLiteral("offline"));
    QCOMPARE(request("GET", api(*panel, QStringLiteral("/api/v2/device"))).status, 0); // refused
    QCOMPARE(request("GET", status(*panel)).status, 200);                              // status stays up
    reply = request("PUT", status(*panel, QStringLiteral("/emulator/control")), {},
                    R"({"fault":"none","reply_delay_ms":5})");
    QCOMPARE(reply.status, 200);
    QCOMPARE(panel->replyDelay(), 5);
    QCOMPARE(request("GET", api(*panel, QStringLiteral("/api/v2/device"))).status, 401);
}

void TestEmulator::hostileControlBodies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("not JSON") << QByteArray("fault=offline");
    QTest::newRow("array") << QByteArray(R"(["offline"])");
    QTest::newRow("unknown fault") << QByteArray(R"({"fault":"explode"})");
    QTest::newRow("fault not text") << QByteArray(R"({"fault":3})");
    QTest::newRow("negative delay") << QByteArray(R"({"reply_delay_ms":-1})");
    QTest::newRow("delay text") << QByteArray(R"({"reply_delay_ms":"5"})");
}

void TestEmulator::hostileControlBodies()
{
    QFETCH(QByteArray, body);
    auto panel = m_panels.start();
    QVERIFY(panel);
    QCOMPARE(request("PUT", status(*panel, QStringLiteral("/emulator/control")), {}, body).status, 400);
    QCOMPARE(int(panel->fault()), int(PanelFault::None));
    QCOMPARE(panel->replyDelay(), 0);
}

void TestEmulator::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("panels");
    QTest::addColumn<QString>("lastAddress");
    QTest::newRow("defaults") << QStringList() << true << 1 << "127.0.0.2";
    QTest::newRow("count") << args("--address 127.0.0.9 --count 3") << true << 3 << "127.0.0.11";
    QTest::newRow("two addresses") << args("--address 127.0.0.2 --address 127.0.0.7") << true << 2
                                   << "127.0.0.7";
    QTest::newRow("canvas") << args("--canvas 16x9") << true << 1 << "127.0.0.2";
    QTest::newRow("bad canvas") << args("--canvas 16*9") << false << 0 << "";
    QTest::newRow("zero canvas") << args("--canvas 0x9") << false << 0 << "";
    QTest::newRow("bad address") << args("--address panel.local") << false << 0 << "";
    QTest::newRow("ipv6") << args("--address ::1") << false << 0 << "";
    QTest::newRow("bad fault") << args("--fault fire") << false << 0 << "";
    QTest::newRow("fault") << args("--fault http500 --slow 20") << true << 1 << "127.0.0.2";
    QTest::newRow("bad session") << args("--session-id xyz") << false << 0 << "";
    QTest::newRow("odd session") << args("--session-id abc") << false << 0 << "";
    QTest::newRow("same ports") << args("--api-port 9000 --status-port 9000") << false << 0 << "";
    QTest::newRow("port out of range") << args("--api-port 70000") << false << 0 << "";
    QTest::newRow("negative delay") << args("--slow -1") << false << 0 << "";
    QTest::newRow("count zero") << args("--count 0") << false << 0 << "";
    QTest::newRow("unknown option") << args("--frobnicate") << false << 0 << "";
    QTest::newRow("pairing options") << args("--no-pairing --pairing-duration 0") << true << 1 << "127.0.0.2";
    QTest::newRow("bad pairing duration") << args("--pairing-duration -1") << false << 0 << "";
}

void TestEmulator::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, ok);
    QFETCH(int, panels);
    QFETCH(QString, lastAddress);
    arguments.prepend(QStringLiteral("prism-emulator"));
    EmulatorCommandLine commandLine;
    QString error;
    QCOMPARE(commandLine.parse(arguments, &error), ok);
    QCOMPARE(error.isEmpty(), ok);
    if (!ok)
        return;
    QCOMPARE(commandLine.panels.size(), panels);
    QCOMPARE(commandLine.panels.constLast().address, lastAddress);
    QSet<QString> ids;
    for (const PanelConfig& config : qAsConst(commandLine.panels))
        ids.insert(config.id);
    QCOMPARE(ids.size(), panels);
}

void TestEmulator::windowShowsLastFrame()
{
    auto panel = m_panels.start();
    QVERIFY(panel);
    EmulatorWindow window(panel.get());
    window.show();
    QVERIFY(window.shownFrame().isNull());
    int code = 0;
    panel->startStream("{}", &code);
    QUdpSocket socket;
    socket.writeDatagram(goodFrame(panel->stream().sessionId), QHostAddress(panel->address()),
                         quint16(panel->stream().port));
    QTRY_COMPARE(window.shownFrame(), canvasImage().convertToFormat(QImage::Format_RGB888));
    const QImage shot = window.grab().toImage();
    QVERIFY(window.width() >= 200);
    // The top-left panel pixel is red, drawn large.
    QCOMPARE(QColor(shot.pixel(window.width() / 2 - 10, 10)).red() > 0 ||
                 QColor(shot.pixel(10, 10)).red() > 0,
             true);
}

void TestEmulator::executableServesSeveralPanels()
{
    QProcess process;
    process.setProgram(QStringLiteral(PRISM_EMULATOR));
    process.setArguments({QStringLiteral("--address"), QStringLiteral("127.0.6.200"),
                          QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--canvas"),
                          QStringLiteral("3x2"), QStringLiteral("--api-key"), QStringLiteral("secret")});
    process.start();
    QVERIFY(process.waitForStarted());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += process.readAllStandardOutput()).contains("ready"), 10000);
    for (const char* address : {"127.0.6.200", "127.0.6.201"}) {
        const QString base = QStringLiteral("http://%1:8080").arg(QLatin1String(address));
        const Reply stream = request("GET", base + QStringLiteral("/api/v2/device/stream"),
                                     PivotrixController::authorizationHeader(QStringLiteral("secret")));
        QCOMPARE(stream.status, 200);
        const Reply st =
            request("GET", QStringLiteral("http://%1:8081/emulator/status").arg(QLatin1String(address)));
        QCOMPARE(st.status, 200);
        QCOMPARE(st.json().value(QStringLiteral("canvas")).toObject().value(QStringLiteral("width")).toInt(),
                 3);
    }
    // A second emulator on the same address must fail instead of sharing the port.
    QProcess clash;
    clash.start(QStringLiteral(PRISM_EMULATOR), {QStringLiteral("--address"), QStringLiteral("127.0.6.200")});
    QVERIFY(clash.waitForFinished(10000));
    QCOMPARE(clash.exitCode(), 1);
    process.terminate();
    QVERIFY(process.waitForFinished(10000));
}

QTEST_MAIN(TestEmulator)
#include "tst_emulator.moc"
