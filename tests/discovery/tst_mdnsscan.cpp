// Real scans: the scan thread's sockets against emulated panels' responders, inside a private network.
#include "support/PrivateNetwork.h"
#include "discovery/MdnsTransport.h"
#include "discovery/PivotrixScanningThread.h"
#include "emulator/EmulatedPanel.h"
#include "emulator/PanelMdnsResponder.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <vector>

namespace {
constexpr int extraAddresses = 40;

struct Scan
{
    QList<PivotrixBSS> found;
    qint64 elapsedMs = 0;
};

Scan scan(int silenceMs)
{
    Scan result;
    auto* thread = new PivotrixScanningThread;
    thread->setSilenceTimeout(silenceMs);
    QObject::connect(thread, &PivotrixScanningThread::DeviceFound, thread,
                     [&result](const PivotrixBSS& device) { result.found << device; });
    QSignalSpy finished(thread, &QThread::finished);
    QElapsedTimer clock;
    clock.start();
    thread->start();
    if (!finished.wait(60000))
        qWarning("scan did not end");
    thread->wait(5000);
    result.elapsedMs = clock.elapsed();
    QCoreApplication::processEvents(); // queued reports still on their way
    delete thread;
    return result;
}
} // namespace

class TestMdnsScan : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QString why;
        if (!PrivateNetwork::inside(&why))
            QSKIP(qPrintable(why));
    }

    void socketPerAddressSkipsLoopbackAndStopsAt32()
    {
        const std::unique_ptr<MdnsTransport> transport = MdnsTransport::create();
        QCOMPARE(transport->open(), MdnsTransport::maxSockets);
        const QStringList local = transport->localAddresses();
        QVERIFY(!local.contains(QStringLiteral("127.0.0.1")));
        QCOMPARE(QSet<QString>(local.begin(), local.end()).size(), MdnsTransport::maxSockets);
    }

    void onlyCompleteRecordsAreReported_data()
    {
        QTest::addColumn<QList<int>>("ssFlags");   // per panel; -1 leaves "ss" out
        QTest::addColumn<QList<int>>("ports");     // per panel SRV port; -1 leaves the SRV record out
        QTest::addColumn<bool>("apart");           // SRV and TXT in separate datagrams
        QTest::addColumn<QList<bool>>("reported"); // per panel

        QTest::newRow("three complete panels")
            << QList<int>{1, 1, 1} << QList<int>{8080, 8080, 8080} << false << QList<bool>{true, true, true};
        QTest::newRow("ss 0, ss missing, no SRV, port 0")
            << QList<int>{1, 0, -1, 1, 1} << QList<int>{8080, 8080, 8080, -1, 0} << false
            << QList<bool>{true, false, false, false, false};
        QTest::newRow("SRV and TXT apart")
            << QList<int>{1, 1} << QList<int>{8080, 0} << true << QList<bool>{true, false};
    }
    void onlyCompleteRecordsAreReported()
    {
        QFETCH(QList<int>, ssFlags);
        QFETCH(QList<int>, ports);
        QFETCH(bool, apart);
        QFETCH(QList<bool>, reported);

        std::vector<std::unique_ptr<EmulatedPanel>> panels;
        QSet<QString> expected;
        for (int i = 0; i < ssFlags.size(); ++i) {
            PanelConfig config;
            config.address = QStringLiteral("127.0.0.%1").arg(10 + i);
            config.id = QStringLiteral("panel-%1").arg(i);
            config.name = QStringLiteral("Panel %1").arg(i);
            PanelMdnsAnswer answer;
            answer.srv = ports[i] >= 0;
            answer.srvPort = ports[i] == 8080 ? -1 : ports[i];
            answer.srvAndTxtApart = apart;
            if (ssFlags[i] >= 0) {
                answer.ssFlag = ssFlags[i];
            } else {
                answer.txtStrings = {"nm=" + config.name.toUtf8(), "md=px3", "id=" + config.id.toUtf8()};
            }
            auto panel = std::make_unique<EmulatedPanel>(config);
            panel->addProtocol(std::make_unique<PanelMdnsResponder>(panel.get(), answer));
            QString error;
            QVERIFY2(panel->start(&error), qPrintable(error));
            if (reported[i])
                expected << config.id;
            panels.push_back(std::move(panel));
        }

        const Scan result = scan(1500);
        QSet<QString> ids;
        for (const PivotrixBSS& device : result.found) {
            QVERIFY(device.isComplete());
            const int index = device.id.section(QLatin1Char('-'), 1).toInt();
            QCOMPARE(device.address, QStringLiteral("127.0.0.%1").arg(10 + index));
            QCOMPARE(device.name, QStringLiteral("Panel %1").arg(index));
            QCOMPARE(device.model, QStringLiteral("px3"));
            QCOMPARE(device.port, 8080);
            ids << device.id;
        }
        QCOMPARE(ids, expected);
    }

    void scanEndsAfterSilence()
    {
        const Scan result = scan(700);
        QVERIFY(result.found.isEmpty());
        QVERIFY2(result.elapsedMs >= 700, qPrintable(QString::number(result.elapsedMs)));
    }
};

int main(int argc, char** argv)
{
    if (const int status = PrivateNetwork::enter(argc, argv, extraAddresses); status >= 0)
        return status;
    QCoreApplication app(argc, argv);
    qRegisterMetaType<PivotrixBSS>("PivotrixBSS");
    TestMdnsScan test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mdnsscan.moc"
