// The reply parser over byte buffers: ordinary replies, the edges of the TXT rules and hostile datagrams.
#include "discovery/MdnsMessage.h"
#include "discovery/MdnsRecordCollector.h"
#include "emulator/EmulatedPanel.h"
#include "emulator/PanelMdnsResponder.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {
using Bytes = QByteArray;

Bytes u16(int v)
{
    return Bytes(1, char(v >> 8)) + Bytes(1, char(v));
}
Bytes header(int questions, int answers)
{
    return u16(0) + u16(0x8400) + u16(questions) + u16(answers) + u16(0) + u16(0);
}
const Bytes owner("\x01p\x00", 3);
Bytes rr(int type, const Bytes& data, const Bytes& name = owner)
{
    return name + u16(type) + u16(1) + u16(0) + u16(120) + u16(data.size()) + data;
}
Bytes srv(int port)
{
    return rr(33, u16(0) + u16(0) + u16(port) + Bytes("\x01h\x00", 3));
}
Bytes txt(const QList<Bytes>& strings)
{
    Bytes data;
    for (const Bytes& s : strings)
        data += char(s.size()) + s;
    return rr(16, data);
}
Bytes reply(const QList<Bytes>& records)
{
    return header(0, records.size()) + records.join();
}
const QList<Bytes> full{"nm=Kitchen", "md=px3", "id=abc", "ss=1"};
Bytes labels(const QList<int>& sizes)
{
    Bytes name;
    for (int size : sizes)
        name += char(size) + Bytes(size, 'a');
    return name + Bytes(1, '\0');
}
// Question k names itself by a pointer to question k-1, so the last one follows `chain` pointers.
Bytes pointerChain(int chain)
{
    Bytes data = header(chain + 1, 2) + Bytes("\x01q\x00", 3) + u16(12) + u16(1);
    for (int i = 0; i < chain; ++i)
        data += u16(0xC000 | (i == 0 ? 12 : 19 + 6 * (i - 1))) + u16(12) + u16(1);
    return data + srv(8080) + txt(full);
}
QList<Bytes> junk(int count)
{
    return QVector<Bytes>(count, "x=1").toList();
}
const MdnsSource v4 = MdnsSource::fromNumericHost(QStringLiteral("192.168.1.20"), false);
} // namespace

class TestMdnsParser : public QObject
{
    Q_OBJECT
private slots:
    void collects_data()
    {
        QTest::addColumn<QList<Bytes>>("datagrams");
        QTest::addColumn<int>("reports");
        QTest::addColumn<QString>("last");
        const QString kitchen = QStringLiteral("Kitchen/px3/abc/8080/1");
        const auto row = [](const char* name, const QList<Bytes>& datagrams, int reports,
                            const QString& last) {
            QTest::newRow(name) << datagrams << reports << (reports ? last : QString());
        };
        const Bytes complete = reply({srv(8080), txt(full)});
        const auto txtPlus = [](const Bytes& extra) {
            return QList<Bytes>(full) << extra;
        };
        // A complete TXT record, then an SRV record whose owner is `name`.
        const auto srvOwnedBy = [](const Bytes& name) {
            return reply({txt(full), rr(33, srv(8080).mid(13), name)});
        };
        PanelConfig config;
        config.id = QStringLiteral("emu");
        EmulatedPanel panel(config);

        row("TXT then SRV", {reply({txt(full), srv(8080)})}, 1, kitchen);
        row("complete again: every update", {complete, complete}, 6, kitchen);
        row("across datagrams", {reply({txt(full)}), reply({srv(8080)})}, 1, kitchen);
        row("emulator reply, compressed names", PanelMdnsResponder(&panel).replies(0), 1,
            QStringLiteral("Emulated PRISM/px3/emu/8080/1"));
        row("no SRV", {reply({txt(full)})}, 0, {});
        row("port 0", {reply({txt(full), srv(0)})}, 0, {});
        row("SRV shorter than 8", {reply({txt(full), rr(33, Bytes(7, '\x1f'))})}, 0, {});
        row("ss 0", {reply({srv(8080), txt(full.mid(0, 3) << "ss=0")})}, 0, {});
        row("ss not a number", {reply({srv(8080), txt(full.mid(0, 3) << "ss=1x")})}, 0, {});
        row("key nmx, UTF-8 value with =",
            {reply({srv(8080), txt(QList<Bytes>{"nmx=K\xc3\xbc=1"} + full.mid(1))})}, 1,
            QStringLiteral("K\u00fc=1/px3/abc/8080/1"));
        row("one id per address",
            {reply({srv(8080), txt(txtPlus("id=b") << "id=c")}), reply({txt({"id=d"})})}, 1, kitchen);
        row("nm empty or bare changes nothing", {complete, reply({txt({"nm=", "nm"})})}, 1, kitchen);
        row("control byte before =", {reply({srv(8080), txt(txtPlus("n\x01m=Evil"))})}, 1, kitchen);
        row("= first is not kept", {reply({srv(8080), txt(junk(127) + QList<Bytes>{"=nm", "ss=1"})})}, 0, {});
        row("128th string used", {complete, reply({txt(junk(127) << "ss=7")})}, 2,
            QStringLiteral("Kitchen/px3/abc/8080/7"));
        row("129th string not used", {complete, reply({txt(junk(128) << "ss=7")})}, 1, kitchen);
        row("name of 255 bytes", {srvOwnedBy(labels({63, 63, 63, 61}))}, 1, kitchen);
        row("64 labels", {srvOwnedBy(labels(QVector<int>(64, 1).toList()))}, 1, kitchen);
        row("16 chained pointers", {pointerChain(16)}, 1, kitchen);

        // Hostile datagrams: each ends quickly and reports nothing incomplete.
        row("empty datagram", {Bytes()}, 0, {});
        row("header cut short", {complete.left(11)}, 0, {});
        row("name of 256 bytes", {srvOwnedBy(labels({63, 63, 63, 62}))}, 0, {});
        row("65 labels", {srvOwnedBy(labels(QVector<int>(65, 1).toList()))}, 0, {});
        row("17 chained pointers", {pointerChain(17)}, 0, {});
        row("counts beyond the data", {header(0, 65535) + complete.mid(12)}, 1, kitchen);
        row("pointer cut off", {reply({txt(full)}) + "\xc0"}, 0, {});
        row("pointer into header", {srvOwnedBy(u16(0xC004))}, 0, {});
        row("forward pointer", {header(0, 2) + rr(16, txt(full).mid(13), u16(0xC00E)) + srv(8080)}, 0, {});
        row("label type 0x40", {srvOwnedBy(Bytes("\x40p\x00", 3))}, 0, {});
        row("label past the end", {reply({txt(full)}) + "\x3f" + Bytes(20, 'a')}, 0, {});
        row("data length past the end", {complete.chopped(1)}, 0, {});
        row("fixed fields cut short", {reply({txt(full), srv(8080).left(11)})}, 0, {});
        // Read past its record, the name would take the next record's first byte and the panel be reported.
        row("TXT string past its record",
            {reply({rr(16, txt(full.mid(1)).mid(13) + "\x0anm=Kitche"), srv(8080)})}, 0, {});
        row("1000 answers", {header(0, 1001) + txt(full) + srv(8080).repeated(1000)}, 1000, kitchen);
        row("bad owner keeps earlier records",
            {reply({txt(full), srv(8080), rr(33, srv(9).mid(13), u16(0xC0FF))})}, 1, kitchen);
    }
    void collects()
    {
        QFETCH(QList<Bytes>, datagrams);
        QFETCH(int, reports);
        QFETCH(QString, last);
        MdnsRecordCollector collector;
        QVector<PivotrixBSS> found;
        QElapsedTimer clock;
        clock.start();
        for (const Bytes& datagram : datagrams)
            found += collector.addDatagram(datagram.constData(), datagram.size(), v4);
        QVERIFY(clock.elapsed() < 5000);
        QString described; // the last report
        for (const PivotrixBSS& d : found) {
            QVERIFY(d.isComplete());
            QCOMPARE(d.address, QStringLiteral("192.168.1.20"));
            described = QStringLiteral("%1/%2/%3/%4/%5").arg(d.name, d.model, d.id).arg(d.port).arg(d.ssFlag);
        }
        QCOMPARE(found.size(), reports);
        QCOMPARE(described, last);
    }

    void addressFamilies_data()
    {
        // One complete reply from each host, in order; "6:" marks IPv6. Blank-separated lists.
        QTest::addColumn<QString>("hosts");
        QTest::addColumn<QString>("reported");
        const auto row = [](const char* name, const char* hosts, const char* reported) {
            QTest::newRow(name) << QString::fromLatin1(hosts) << QString::fromLatin1(reported);
        };
        row("IPv6 link-local only", "6:fe80::1%eth0", "fe80::1%eth0");
        row("IPv4 first keeps IPv4", "10.0.0.5 6:fe80::1%eth0", "10.0.0.5");
        row("IPv4 after IPv6 is reported", "6:fe80::1%eth0 10.0.0.5", "fe80::1%eth0 10.0.0.5");
        row("host text over 63 characters", QByteArray(64, '1').constData(), "");
    }
    void addressFamilies()
    {
        QFETCH(QString, hosts);
        QFETCH(QString, reported);
        const Bytes datagram = reply({srv(8080), txt(full)});
        MdnsRecordCollector collector;
        QStringList addresses;
        for (const QString& host : hosts.split(QLatin1Char(' '))) {
            const bool ipv6 = host.startsWith(QLatin1String("6:"));
            const MdnsSource source = MdnsSource::fromNumericHost(ipv6 ? host.mid(2) : host, ipv6);
            // The numeric host, zone included, as the URLs and the frames' destination take it.
            for (const PivotrixBSS& device :
                 collector.addDatagram(datagram.constData(), datagram.size(), source))
                addresses << device.address;
        }
        QCOMPARE(addresses.join(QLatin1Char(' ')), reported);
    }

    // However many hosts answer, one scan lists at most so many panels.
    void panelsPerScanAreCapped()
    {
        MdnsRecordCollector collector;
        QSet<QString> ids;
        for (int i = 0; i < 100; ++i) {
            const Bytes d = reply({srv(8080), txt({"nm=K", "md=px3", "id=" + Bytes::number(i), "ss=1"})});
            for (const PivotrixBSS& device : collector.addDatagram(
                     d.constData(), d.size(), MdnsSource::fromNumericHost(QString::number(i), false)))
                ids << device.id;
        }
        QCOMPARE(ids.size(), MdnsRecordCollector::maxDevices);
    }

    void query_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<bool>("unicast");
        QTest::addColumn<Bytes>("expected");
        const Bytes name = Bytes("\x0d_pivotrix-api\x04_tcp\x05local", 25) + Bytes(1, '\0');
        const auto questions = [&](int qclass) {
            return header(3, 0).replace(2, 2, u16(0)) + name + u16(12) + u16(qclass) + name + u16(1) +
                   u16(qclass) + name + u16(16) + u16(qclass);
        };
        QTest::newRow("unicast response") << MdnsMessage::bufferSize << true << questions(0x8001);
        QTest::newRow("from port 5353") << MdnsMessage::bufferSize << false << questions(0x0001);
        QTest::newRow("exactly fits") << 102 << true << questions(0x8001);
        QTest::newRow("one byte short") << 101 << true << Bytes();
    }
    void query()
    {
        QFETCH(int, capacity);
        QFETCH(bool, unicast);
        QFETCH(Bytes, expected);
        Bytes buffer(capacity, '\xAA');
        const int length = MdnsMessage::composeQuery(buffer.data(), capacity, unicast);
        QCOMPARE(buffer.left(length), expected);
        bool wantsUnicast = false;
        QCOMPARE(PanelMdnsResponder::asksForService(buffer.left(length), &wantsUnicast), length > 0);
        QCOMPARE(wantsUnicast, length > 0 && unicast);
    }
};

QTEST_GUILESS_MAIN(TestMdnsParser)
#include "tst_mdnsparser.moc"
