// Real scans: the scan thread's sockets against emulated panels' responders, inside a private network.
#include "discovery/MdnsTransport.h"
#include "discovery/PivotrixScanningThread.h"
#include "emulator/EmulatedPanel.h"
#include "emulator/PanelMdnsResponder.h"
#include "support/PrivateNetwork.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <vector>

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

    // Panels answering together or in two datagrams are reported; incomplete ones are not.
    void onlyCompleteRecordsAreReported()
    {
        struct Kind
        {
            int ss, port; // port -1: no SRV record
            bool apart, reported;
        };
        const QList<Kind> kinds{{1, 8080, false, true},
                                {1, 8080, true, true},
                                {0, 8080, false, false},
                                {1, -1, false, false},
                                {1, 0, true, false}};
        std::vector<std::unique_ptr<EmulatedPanel>> panels;
        QSet<QString> expected;
        for (int i = 0; i < kinds.size(); ++i) {
            PanelConfig config;
            config.address = QStringLiteral("127.0.0.%1").arg(10 + i);
            config.id = QStringLiteral("panel-%1").arg(i);
            config.name = QStringLiteral("Panel %1").arg(i);
            PanelMdnsAnswer answer;
            answer.srv = kinds[i].port >= 0;
            answer.srvPort = kinds[i].port == 8080 ? -1 : kinds[i].port;
            answer.srvAndTxtApart = kinds[i].apart;
            answer.ssFlag = kinds[i].ss;
            auto panel = std::make_unique<EmulatedPanel>(config);
            panel->addProtocol(std::make_unique<PanelMdnsResponder>(panel.get(), answer));
            QString error;
            QVERIFY2(panel->start(&error), qPrintable(error));
            if (kinds[i].reported)
                expected << config.id;
            panels.push_back(std::move(panel));
        }
        QList<PivotrixBSS> found;
        PivotrixScanningThread scan;
        scan.setSilenceTimeout(1500);
        connect(&scan, &PivotrixScanningThread::DeviceFound, this,
                [&found](const PivotrixBSS& d) { found << d; });
        QSignalSpy finished(&scan, &QThread::finished);
        QElapsedTimer clock;
        clock.start();
        scan.start();
        QVERIFY(finished.wait(60000) && scan.wait(5000));
        // The scan ends after the silence, not before.
        QVERIFY2(clock.elapsed() >= 1500, qPrintable(QString::number(clock.elapsed())));
        QCoreApplication::processEvents(); // queued reports still on their way
        QSet<QString> ids;
        for (const PivotrixBSS& device : qAsConst(found)) {
            const int index = device.id.section(QLatin1Char('-'), 1).toInt();
            QCOMPARE(device.address, QStringLiteral("127.0.0.%1").arg(10 + index));
            QCOMPARE(device.name, QStringLiteral("Panel %1").arg(index));
            QVERIFY(device.isComplete() && device.model == QLatin1String("px3") && device.port == 8080);
            ids << device.id;
        }
        QCOMPARE(ids, expected);
    }
};

int main(int argc, char** argv)
{
    if (const int status = PrivateNetwork::enter(argc, argv, 40); status >= 0)
        return status;
    QCoreApplication app(argc, argv);
    qRegisterMetaType<PivotrixBSS>("PivotrixBSS");
    TestMdnsScan test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mdnsscan.moc"
