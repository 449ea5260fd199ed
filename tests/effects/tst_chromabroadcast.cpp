// The broadcast library and the publisher for real, through the process-wide Razer source.
#include "broadcast/ChromaBroadcastChannel.h"
#include "broadcast/ChromaBroadcastMessage.h"
#include "broadcast/ChromaBroadcastServer.h"
#include "broadcast/ChromaPublisher.h"
#include "effects/RazerSdkColorProvider.h"

#include "support/LogCapture.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cstring>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr int kWaitMs = 10000;
const QString kDropped = QStringLiteral("chroma broadcast: dropped a message");
const QString kDead = QStringLiteral("RazerSdkColorProvider: dead");

// A socket on the channel's path: a client that sends whatever bytes it is given, or a listener; fd when
// it is made already.
int socketAt(const QString& path, bool listener = false, int flags = 0, int fd = -1)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const auto* a = reinterpret_cast<const sockaddr*>(&address);
    fd = fd < 0 ? ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | flags, 0) : fd;
    if (fd >= 0 && (listener ? ::bind(fd, a, sizeof address) == 0 && ::listen(fd, 1) == 0
                             : ::connect(fd, a, sizeof address) == 0))
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

QByteArray withByte(QByteArray bytes, int at, char value)
{
    bytes[at] = value;
    return bytes;
}

} // namespace

class TestChromaBroadcast : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QString error;
        m_path = ChromaBroadcastChannel::socketPath(&error);
        QVERIFY2(!m_path.isEmpty(), qPrintable(error));
        m_provider = RazerSdkColorProvider::instance();
        QVERIFY(m_provider->init());
        m_publisher = std::make_unique<ChromaPublisher>();
        QVERIFY2(m_publisher->connectTo(m_path, &error), qPrintable(error));
    }
    void cleanup()
    {
        m_publisher.reset();
        delete RazerSdkColorProvider::instance();
        // Unloading removed the channel.
        QVERIFY(!QFile::exists(m_path));
    }

    // Only a change of the live status is announced; every status is logged, changed or not.
    void liveStatus()
    {
        LogCapture capture;
        // Received here, queued from the library's thread, as the GUI receives it.
        QObject receiver;
        QList<bool> got;
        connect(m_provider, &RazerSdkColorProvider::availableChanged, &receiver,
                [&got](bool on) { got << on; });
        const QList<int> statuses{2, 1, 1, 2, 2, 1};
        for (int status : statuses)
            QVERIFY(m_publisher->send(ChromaBroadcastMessage::status(status)));
        // The last status is the last change: once it is here, every line has been written.
        QTRY_COMPARE_WITH_TIMEOUT(got, (QList<bool>{true, false, true}), kWaitMs);
        QCOMPARE(capture.count(QStringLiteral("RazerSdkColorProvider: live")) + capture.count(kDead),
                 statuses.size());
        QVERIFY(m_provider->isAvailable());
    }

    // The library's callback: five colours from any address, nothing from null data, unknown types or
    // statuses (a status must not be cut to an int).
    void callbackContract_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("bytes"); // effect data, one byte in: callers owe no alignment
        QTest::addColumn<qint64>("status");
        QTest::addColumn<bool>("changes");
        const QByteArray five = QByteArray::fromHex("00112233004455660000000000ffffff00807f0100");
        QTest::newRow("effect, unaligned") << 1 << five << qint64(0) << true;
        QTest::newRow("effect, null") << 1 << QByteArray() << qint64(0) << false;
        QTest::newRow("unknown type") << 3 << five << qint64(0) << false;
        QTest::newRow("unknown status") << 2 << QByteArray() << qint64(3) << false;
        QTest::newRow("status beyond int") << 2 << QByteArray() << qint64(0x100000001) << false;
    }
    void callbackContract()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, status);
        QFETCH(bool, changes);
        QSignalSpy colors(m_provider, &AbstractColorProvider::colorsChanged);
        QSignalSpy live(m_provider, &RazerSdkColorProvider::availableChanged);
        void* data = bytes.isEmpty() ? reinterpret_cast<void*>(std::intptr_t(status)) : bytes.data() + 1;
        QCOMPARE(chromaEventCallback(type, data), 1);
        QCOMPARE(colors.count(), changes ? 1 : 0);
        QCOMPARE(live.count(), 0);
        if (changes)
            QCOMPARE(m_provider->colors(),
                     (QList<QColor>{QColor(0x11, 0x22, 0x33), QColor(0x44, 0x55, 0x66), QColor(0, 0, 0),
                                    QColor(255, 255, 255), QColor(0x80, 0x7f, 0x01)}));
    }

    void junkIsDropped_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const QByteArray good = ChromaBroadcastMessage::status(1).encode();
        QTest::newRow("short") << good.left(27) << "wrong size";
        QTest::newRow("oversized") << QByteArray(4096, 'P') << "oversized";
        QTest::newRow("bad magic") << withByte(good, 0, 'Q') << "bad magic";
        QTest::newRow("other version") << withByte(good, 4, 2) << "unknown version";
        QTest::newRow("reserved byte") << withByte(good, 7, 1) << "reserved bytes set";
        QTest::newRow("unknown type") << withByte(good, 5, 3) << "unknown type";
        QTest::newRow("unknown status") << withByte(good, 8, 7) << "unknown status";
        QTest::newRow("status with values") << withByte(good, 12, 1) << "status with extra values";
        QTest::newRow("colour high byte")
            << withByte(ChromaBroadcastMessage::effect({1, 2, 3, 4, 5}).encode(), 27, 1)
            << "colour with a high byte";
    }
    void junkIsDropped()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        LogCapture capture;
        QSignalSpy live(m_provider, &RazerSdkColorProvider::availableChanged);
        const int fd = socketAt(m_path);
        QVERIFY(fd >= 0);
        // The channel stays usable after junk.
        for (const QByteArray& sent : {bytes, ChromaBroadcastMessage::status(2).encode()})
            QCOMPARE(::send(fd, sent.constData(), size_t(sent.size()), MSG_NOSIGNAL), ssize_t(sent.size()));
        QTRY_COMPARE_WITH_TIMEOUT(capture.count(kDead), 1, kWaitMs);
        ::close(fd);
        QCOMPARE(capture.count(kDropped), 1);
        QCOMPARE(capture.count(reason), 1);
        QCOMPARE(live.count(), 0);
        QCOMPARE(m_provider->colors(), QList<QColor>());
    }

    void channelIsOwnerOnly()
    {
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &st), 0);
        QVERIFY(S_ISSOCK(st.st_mode));
        QCOMPARE(int(st.st_mode & 0777), 0600);
        if (::geteuid() != 0)
            QSKIP("another user's publisher needs root to play");
        // Even with the directory and the socket opened up, another user's connection is refused.
        const QByteArray dir = QFile::encodeName(QFileInfo(m_path).path());
        QCOMPARE(::chmod(dir.constData(), 0711), 0);
        QCOMPARE(::chmod(QFile::encodeName(m_path).constData(), 0666), 0);
        LogCapture capture;
        const pid_t child = ::fork();
        if (child == 0) {
            // From inside the directory: the folders above it (the checkout's) may be closed to others.
            if (::chdir(dir.constData()) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            const int fd = socketAt(QFileInfo(m_path).fileName());
            const QByteArray live = ChromaBroadcastMessage::status(1).encode();
            // The listener may already have hung up on us.
            if (fd >= 0)
                (void)::send(fd, live.constData(), size_t(live.size()), MSG_NOSIGNAL);
            ::_exit(fd < 0 ? 4 : 0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        QCOMPARE(::chmod(dir.constData(), 0700), 0);
        QCOMPARE(WEXITSTATUS(status), 0);
        QTRY_COMPARE_WITH_TIMEOUT(
            capture.count(QStringLiteral("chroma broadcast: refused a peer of uid 65534")), 1, kWaitMs);
        QVERIFY(!m_provider->isAvailable());
    }

    // A live listener on the channel's path (also one that accepts nobody, its backlog full) or a file of the
    // user's there is left alone and the channel does not start; the socket a listener left behind is taken
    // over.
    void channelStartUp()
    {
        m_publisher.reset();
        delete RazerSdkColorProvider::instance();
        const int listener = socketAt(m_path, true);
        QVERIFY(listener >= 0);
        QVERIFY(!RazerSdkColorProvider::instance()->init());
        delete RazerSdkColorProvider::instance();
        const int queued[] = {socketAt(m_path, false, SOCK_NONBLOCK), socketAt(m_path, false, SOCK_NONBLOCK)};
        QVERIFY(queued[1] < 0 && !RazerSdkColorProvider::instance()->init());
        delete RazerSdkColorProvider::instance();
        ::close(queued[0]);
        ::close(listener);
        QVERIFY(RazerSdkColorProvider::instance()->init());
        delete RazerSdkColorProvider::instance();
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep me") == 7);
        file.close();
        QVERIFY(!RazerSdkColorProvider::instance()->init());
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "keep me");
        QVERIFY(file.remove());
        // cleanup() expects a running channel again.
        delete RazerSdkColorProvider::instance();
        init();
    }

    // Out of descriptors, the channel pauses accepting, longer each time, and takes the publisher later.
    void acceptWaitsForDescriptors()
    {
        LogCapture capture;
        rlimit saved = {};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0); // the last one it may have
        const rlimit last = {rlim_t(fd) + 1, saved.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &last), 0);
        const bool paused =
            socketAt(m_path, false, 0, fd) == fd &&
            QTest::qWaitFor([&] { return capture.count(QStringLiteral("retrying in 200 ms")); }, kWaitMs);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        QVERIFY(paused);
        const QByteArray live = ChromaBroadcastMessage::status(1).encode();
        QCOMPARE(::send(fd, live.constData(), size_t(live.size()), MSG_NOSIGNAL), ssize_t(live.size()));
        QTRY_COMPARE_WITH_TIMEOUT(capture.count(QStringLiteral("RazerSdkColorProvider: live")), 1, kWaitMs);
        ::close(fd);
    }

    // A publisher killed mid-broadcast leaves its last colours; the channel frees its place for the next
    // one, also after more kills than it takes publishers at once, and logs nothing.
    void publisherKilledMidBroadcast()
    {
        LogCapture capture;
        for (int i = 0; i <= ChromaBroadcastServer::kMaxClients; ++i) {
            const QList<QColor> before = m_provider->colors();
            QProcess effect;
            effect.start(QStringLiteral(CHROMA_PUBLISHER),
                         QStringLiteral("effect --frame-ms 5 --socket").split(QLatin1Char(' ')) << m_path);
            QTRY_VERIFY_WITH_TIMEOUT(m_provider->colors() != before, kWaitMs);
            effect.kill();
            QVERIFY(effect.waitForFinished());
        }
        QCOMPARE(capture.lines(QStringLiteral("chroma broadcast")), QStringList());
    }

    // The publisher refuses effect lengths that have no milliseconds in an int, and says why.
    void publisherEffectLength()
    {
        for (const char* seconds : {"1e300", "inf", "nan", "-1", "0.0001", "86401", "x", "0.001"}) {
            const bool refused = std::strcmp(seconds, "0.001") != 0;
            QProcess p;
            p.start(QStringLiteral(CHROMA_PUBLISHER),
                    {QStringLiteral("effect"), QStringLiteral("--seconds"), QLatin1String(seconds),
                     QStringLiteral("--socket"), m_path});
            QVERIFY2(p.waitForFinished(kWaitMs) && p.exitCode() == (refused ? 2 : 0) &&
                         p.readAllStandardError().startsWith("--seconds wants a length") == refused,
                     seconds);
        }
    }

private:
    QString m_path;
    RazerSdkColorProvider* m_provider = nullptr;
    std::unique_ptr<ChromaPublisher> m_publisher;
};

QTEST_MAIN(TestChromaBroadcast)
#include "tst_chromabroadcast.moc"
