// The broadcast library and the publisher for real, through the process-wide Razer source.
#include "broadcast/ChromaBroadcastChannel.h"
#include "broadcast/ChromaBroadcastMessage.h"
#include "broadcast/ChromaPublisher.h"
#include "core/ResourceManager.h"
#include "effects/RazerSdkColorProvider.h"

#include "support/LogCapture.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr int kWaitMs = 10000;
const QString kDropped = QStringLiteral("chroma broadcast: dropped a message");
const QString kDead = QStringLiteral("RazerSdkColorProvider: dead");

// A client that sends whatever bytes it is given.
int rawClient(const QString& path)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

QStringList words(const char* text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '));
}

QByteArray withByte(QByteArray bytes, int at, char value)
{
    bytes[at] = value;
    return bytes;
}

const QList<QColor> kFive{QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(17, 34, 51),
                          QColor(250, 250, 250)};
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

    void liveStatus_data()
    {
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<QList<bool>>("emitted");
        QTest::newRow("live") << QList<int>{1} << QList<bool>{true};
        QTest::newRow("live twice") << QList<int>{1, 1} << QList<bool>{true};
        QTest::newRow("live, dead, live") << QList<int>{1, 2, 1} << QList<bool>{true, false, true};
        QTest::newRow("dead while not live") << QList<int>{2, 2} << QList<bool>{};
    }
    void liveStatus()
    {
        QFETCH(QList<int>, statuses);
        QFETCH(QList<bool>, emitted);
        LogCapture capture;
        QSignalSpy spy(m_provider, &RazerSdkColorProvider::availableChanged);
        for (int status : statuses)
            QVERIFY(m_publisher->send(ChromaBroadcastMessage::status(status)));
        // Every status is written to the log, changed or not; the last line tells us all arrived.
        QTRY_COMPARE_WITH_TIMEOUT(capture.count(QStringLiteral("RazerSdkColorProvider: live")) +
                                      capture.count(kDead),
                                  statuses.size(), kWaitMs);
        QList<bool> got;
        for (const QList<QVariant>& args : qAsConst(spy))
            got << args.at(0).toBool();
        QCOMPARE(got, emitted);
        QCOMPARE(m_provider->isAvailable(), statuses.last() == 1);
    }

    void coloursArriveInOrder()
    {
        LogCapture capture;
        QSignalSpy spy(m_provider, &AbstractColorProvider::colorsChanged);
        QVERIFY(m_publisher->sendColors(kFive));
        QTRY_COMPARE_WITH_TIMEOUT(m_provider->colors(), kFive, kWaitMs);
        // The same five again change nothing.
        QVERIFY(m_publisher->sendColors(kFive));
        QVERIFY(m_publisher->setLive(false));
        QTRY_COMPARE_WITH_TIMEOUT(capture.count(kDead), 1, kWaitMs);
        QCOMPARE(spy.count(), 1);
    }

    void callbackContract_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("changes");
        const QByteArray five = QByteArray::fromHex("112233004455660000000000ffffff00807f0100");
        QTest::newRow("effect") << 1 << five << true;
        // Callers owe no alignment: the same colours one byte into a buffer.
        QTest::newRow("effect, unaligned") << 1 << QByteArray(1, 'x') + five << true;
        QTest::newRow("effect, null") << 1 << QByteArray() << false;
        QTest::newRow("unknown type") << 3 << five << false;
        QTest::newRow("negative type") << -1 << five << false;
    }
    void callbackContract()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, changes);
        QSignalSpy spy(m_provider, &AbstractColorProvider::colorsChanged);
        void* data = bytes.isEmpty() ? nullptr : bytes.data() + (bytes.size() == 21 ? 1 : 0);
        QCOMPARE(chromaEventCallback(type, data), 1);
        QCOMPARE(spy.count(), changes ? 1 : 0);
        if (changes)
            QCOMPARE(m_provider->colors(),
                     (QList<QColor>{QColor(0x11, 0x22, 0x33), QColor(0x44, 0x55, 0x66), QColor(0, 0, 0),
                                    QColor(255, 255, 255), QColor(0x80, 0x7f, 0x01)}));
    }

    void unknownStatusIsIgnored()
    {
        QSignalSpy live(m_provider, &RazerSdkColorProvider::availableChanged);
        for (std::intptr_t status :
             {std::intptr_t(0), std::intptr_t(3), std::intptr_t(-1), std::intptr_t(0x100000001)})
            QCOMPARE(chromaEventCallback(2, reinterpret_cast<void*>(status)), 1);
        QCOMPARE(live.count(), 0);
        QVERIFY(!m_provider->isAvailable());
    }

    void junkIsDropped_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const QByteArray good = ChromaBroadcastMessage::status(1).encode();
        QTest::newRow("short") << good.left(27) << "wrong size";
        QTest::newRow("one byte long") << good + 'x' << "wrong size";
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
        const int fd = rawClient(m_path);
        QVERIFY(fd >= 0);
        QCOMPARE(::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL), ssize_t(bytes.size()));
        // The channel stays usable after junk.
        const QByteArray dead = ChromaBroadcastMessage::status(2).encode();
        QCOMPARE(::send(fd, dead.constData(), size_t(dead.size()), MSG_NOSIGNAL), ssize_t(dead.size()));
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
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            const int fd = rawClient(m_path);
            const QByteArray live = ChromaBroadcastMessage::status(1).encode();
            if (fd < 0)
                ::_exit(4);
            // The listener may already have hung up on us.
            (void)::send(fd, live.constData(), size_t(live.size()), MSG_NOSIGNAL);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        QCOMPARE(::chmod(dir.constData(), 0700), 0);
        QCOMPARE(WEXITSTATUS(status), 0);
        QTRY_COMPARE_WITH_TIMEOUT(
            capture.count(QStringLiteral("chroma broadcast: refused a peer of uid 65534")), 1, kWaitMs);
        QVERIFY(!m_provider->isAvailable());
    }

    void channelStartUp_data()
    {
        QTest::addColumn<QString>("leftover");
        QTest::addColumn<bool>("initialized");
        QTest::newRow("stale socket") << "socket" << true;
        QTest::newRow("a file of the user's") << "file" << false;
        QTest::newRow("a live listener") << "listener" << false;
    }
    void channelStartUp()
    {
        QFETCH(QString, leftover);
        QFETCH(bool, initialized);
        m_publisher.reset();
        delete RazerSdkColorProvider::instance();
        const QByteArray path = QFile::encodeName(m_path);
        int listener = -1;
        if (leftover == QLatin1String("file")) {
            QFile file(m_path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("keep me");
        } else {
            listener = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
            sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
            QCOMPARE(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
            QCOMPARE(::listen(listener, 1), 0);
            if (leftover == QLatin1String("socket"))
                ::close(listener);
        }
        QCOMPARE(RazerSdkColorProvider::instance()->init(), initialized);
        if (leftover == QLatin1String("file")) {
            QFile file(m_path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("keep me"));
        }
        if (leftover == QLatin1String("listener"))
            ::close(listener);
        if (!initialized)
            QVERIFY(QFile::remove(m_path));
        // cleanup() expects a running channel again.
        delete RazerSdkColorProvider::instance();
        init();
    }

    void publisherTool_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QList<QColor>>("colors");
        QTest::addColumn<bool>("live");
        QTest::newRow("colours") << words("colors red lime blue #112233 #fafafa") << 0 << kFive << false;
        QTest::newRow("live on") << words("live on") << 0 << QList<QColor>() << true;
        QTest::newRow("effect") << words("effect --seconds 0.2 --frame-ms 20") << 0
                                << ChromaPublisher::effectFrame(0) << false;
        QTest::newRow("four colours") << words("colors red red red red") << 2 << QList<QColor>() << false;
        QTest::newRow("live maybe") << words("live maybe") << 2 << QList<QColor>() << false;
        QTest::newRow("unknown command") << words("blink") << 2 << QList<QColor>() << false;
        QTest::newRow("nobody listening")
            << words("live on --socket /nonexistent/socket") << 1 << QList<QColor>() << false;
    }
    void publisherTool()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QList<QColor>, colors);
        QFETCH(bool, live);
        QSignalSpy changed(m_provider, &AbstractColorProvider::colorsChanged);
        QProcess tool;
        tool.start(QStringLiteral(CHROMA_PUBLISHER), arguments);
        QVERIFY(tool.waitForFinished(kWaitMs));
        QCOMPARE(tool.exitCode(), exitCode);
        if (exitCode == 0 && arguments.first() == QLatin1String("effect")) {
            // A moving effect: many different frames, the first of them the effect's first step.
            QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= 3, kWaitMs);
            QVERIFY(m_provider->colors() != colors);
        } else if (!colors.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(m_provider->colors(), colors, kWaitMs);
        }
        if (live)
            QTRY_VERIFY_WITH_TIMEOUT(m_provider->isAvailable(), kWaitMs);
        QVERIFY(m_provider->isAvailable() == live);
    }

    void registryOwnsTheSource()
    {
        m_publisher.reset();
        delete RazerSdkColorProvider::instance();
        ResourceManager* registry = ResourceManager::instance();
        QCOMPARE(registry->razerColorProvider(), RazerSdkColorProvider::instance());
        QVERIFY(registry->razerColorProvider()->isInitialized());
        QVERIFY(QFile::exists(m_path));
        ResourceManager::destroyInstance();
        // Its destruction unloaded the library, which closed the channel.
        QVERIFY(!QFile::exists(m_path));
        init();
    }

private:
    QString m_path;
    RazerSdkColorProvider* m_provider = nullptr;
    std::unique_ptr<ChromaPublisher> m_publisher;
};

QTEST_MAIN(TestChromaBroadcast)
#include "tst_chromabroadcast.moc"
