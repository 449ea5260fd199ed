// The scan's sockets, inside a private network. Real scans of emulated panels, over IPv4 and IPv6: the
// pairing test's scanAndPair; the records themselves: the parser's tests.
#include "discovery/MdnsTransport.h"
#include "discovery/PivotrixScanningThread.h"
#include "support/PrivateNetwork.h"

#include <QElapsedTimer>
#include <QSet>
#include <QtTest>

#include <memory>

class TestMdnsScan : public QObject
{
    Q_OBJECT
private slots:
    // One socket per address, loopback skipped, at most 32; with nobody answering the scan ends after the
    // silence, not before.
    void socketsAndSilence()
    {
        QString why;
        if (!PrivateNetwork::inside(&why))
            QSKIP(qPrintable(why));
        const std::unique_ptr<MdnsTransport> transport = MdnsTransport::create();
        QCOMPARE(transport->open(), MdnsTransport::maxSockets);
        const QStringList local = transport->localAddresses();
        QVERIFY(!local.contains(QStringLiteral("127.0.0.1")));
        QCOMPARE(QSet<QString>(local.begin(), local.end()).size(), MdnsTransport::maxSockets);

        PivotrixScanningThread scan;
        scan.setSilenceTimeout(1500);
        QElapsedTimer clock;
        clock.start();
        scan.start();
        QVERIFY(scan.wait(60000));
        QVERIFY2(clock.elapsed() >= 1500, qPrintable(QString::number(clock.elapsed())));
    }
};

int main(int argc, char** argv)
{
    if (const int status = PrivateNetwork::enter(argc, argv, 40); status >= 0)
        return status;
    QCoreApplication app(argc, argv);
    TestMdnsScan test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mdnsscan.moc"
