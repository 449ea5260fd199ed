#include "device/PivotrixController.h"
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
    void http500Fault();
    void slowReplies();
    void standbyFault();
    void hostileControlBodies_data();
    void hostileControlBodies();

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

void TestEmulator::hostileControlBodies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("not JSON") << QByteArray("fault=offline");
    QTest::newRow("unknown fault") << QByteArray(R"({"fault":"explode"})");
    QTest::newRow("fault not text") << QByteArray(R"({"fault":3})");
    QTest::newRow("negative delay") << QByteArray(R"({"reply_delay_ms":-1})");
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

QTEST_MAIN(TestEmulator)
#include "tst_emulator.moc"
