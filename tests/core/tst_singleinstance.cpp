#include "core/SingleInstance.h"
#include "ui/MainWindow.h"

#include <QFile>
#include <QHostInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <atomic>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

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
    void secondStartDeliversShow()
    {
        QTemporaryDir dir;
        SingleInstance first(QStringLiteral("tst"), dir.path());
        QCOMPARE(first.start(QStringLiteral("show"), 5000), SingleInstance::Role::Primary);
        QVERIFY(first.isPrimary());
        QSignalSpy received(&first, &SingleInstance::messageReceived);
        QCOMPARE(startInThread(dir.path(), 5000), SingleInstance::Role::MessageDelivered);
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toString(), QStringLiteral("show"));
    }

    void staleLockAndSocketOfADeadInstanceDoNotBlock()
    {
        QTemporaryDir dir;
        // A lock naming a process that no longer exists, as a kill -9 leaves it.
        QFile lock(dir.filePath(QStringLiteral("tst.lock")));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write("999999\n" + QCoreApplication::applicationName().toUtf8() + '\n' +
                   QSysInfo::machineHostName().toUtf8() + '\n');
        lock.close();
        // And a socket file nobody listens on.
        const QByteArray sockPath = QFile::encodeName(dir.filePath(QStringLiteral("tst.sock")));
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        qstrncpy(addr.sun_path, sockPath.constData(), sizeof(addr.sun_path));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
        ::close(fd);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("tst.sock"))));

        SingleInstance next(QStringLiteral("tst"), dir.path());
        QCOMPARE(next.start(QStringLiteral("show"), 5000), SingleInstance::Role::Primary);
        QSignalSpy received(&next, &SingleInstance::messageReceived);
        QCOMPARE(startInThread(dir.path(), 5000), SingleInstance::Role::MessageDelivered);
        QTRY_COMPARE(received.count(), 1);
    }

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

    void hostileClientsAreDroppedAndServiceGoesOn_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("huge length") << QByteArray("\xff\xff\xff\xff", 4) + QByteArray(64, 'x');
        QTest::newRow("length over bound") << frame(QByteArray(SingleInstance::kMaxMessageBytes + 1, 's'));
        QTest::newRow("zero length") << QByteArray(4, '\0');
        QTest::newRow("bytes after message") << frame("show") + "trailing";
        QTest::newRow("not utf-8") << frame(QByteArray("\xc3\x28\xa0\xa1", 4));
        QTest::newRow("idle, nothing sent") << QByteArray();
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
    }

    void onlyTheExactShowMessageShowsTheWindow_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("shows");
        QTest::newRow("show") << QStringLiteral("show") << 1;
        QTest::newRow("Show") << QStringLiteral("Show") << 0;
        QTest::newRow("other") << QStringLiteral("quit") << 0;
    }
    void onlyTheExactShowMessageShowsTheWindow()
    {
        QFETCH(QString, message);
        QFETCH(int, shows);
        MainWindow window;
        QSignalSpy needToShow(&window, &MainWindow::needToShow);
        window.handleMessage(message);
        QCOMPARE(needToShow.count(), shows);
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
