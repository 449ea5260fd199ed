#include "core/SingleInstance.h"

#include <QtNetwork>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {
QByteArray frame(const QByteArray& payload)
{
    QByteArray f(4, '\0');
    qToBigEndian<quint32>(quint32(payload.size()), f.data());
    return f + payload;
}

// Sends from a plain thread so the server's event loop keeps running here.
SingleInstance::Role startInThread(const QString& dir, int timeoutMs)
{
    std::atomic<int> role{-1};
    std::thread t([&] {
        SingleInstance other(QStringLiteral("tst"), dir);
        role = int(other.start(QStringLiteral("show"), timeoutMs));
    });
    while (role.load() < 0)
        QTest::qWait(10);
    t.join();
    return SingleInstance::Role(role.load());
}
} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void liveButSilentHolderIsUnreachable()
    {
        QTemporaryDir dir;
        QLockFile held(dir.filePath(QStringLiteral("tst.lock")));
        QVERIFY(held.tryLock(0));
        QElapsedTimer timer;
        timer.start();
        SingleInstance blocked(QStringLiteral("tst"), dir.path());
        QCOMPARE(blocked.start(QStringLiteral("show"), 600), SingleInstance::Role::Unreachable);
        QVERIFY(timer.elapsed() >= 500);
        QVERIFY(!blocked.isPrimary());
    }

    // Junk is dropped without an answer; the exact "show" of a later start still arrives.
    void hostileClientsAreDroppedAndServiceGoesOn_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("length over bound") << frame(QByteArray(SingleInstance::kMaxMessageBytes + 1, 's'));
        QTest::newRow("zero length") << QByteArray(4, '\0');
        QTest::newRow("bytes after message") << frame("show") + "trailing";
        QTest::newRow("not utf-8") << frame(QByteArray("\xc3\x28\xa0\xa1", 4));
        QTest::newRow("partial body then idle") << frame("show").left(6);
    }
    void hostileClientsAreDroppedAndServiceGoesOn()
    {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        SingleInstance server(QStringLiteral("tst"), dir.path());
        server.setIdleTimeout(300);
        QCOMPARE(server.start(QStringLiteral("show"), 1000), SingleInstance::Role::Primary);
        QSignalSpy received(&server, &SingleInstance::messageReceived);

        QLocalSocket client;
        client.connectToServer(server.serverName());
        QVERIFY(client.waitForConnected(1000));
        client.write(bytes);
        client.flush();
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 3000);
        QCOMPARE(client.readAll(), QByteArray()); // no ack for junk
        QCOMPARE(received.count(), 0);

        QCOMPARE(startInThread(dir.path(), 3000), SingleInstance::Role::MessageDelivered);
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toString(), QStringLiteral("show"));
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
