// What outlives a run: the settings file (broken, loose, killed mid-save), the autostart entry that follows
// "run_on_start", and the single instance's lock and socket (a silent holder, hostile clients).
#include "core/ApplicationShell.h"
#include "core/ResourceManager.h"
#include "core/SettingsManager.h"
#include "core/SingleInstance.h"
#include "core/linux/XdgAutostart.h"
#include "support/LogCapture.h"
#include "support/PrivateDisk.h"

#include <QtNetwork>
#include <QtTest>

#include <future>

namespace {
constexpr QFile::Permissions kOwnerRw = QFile::ReadOwner | QFile::WriteOwner;

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
    QFile::setPermissions(path, kOwnerRw | QFile::ReadGroup | QFile::ReadOther);
}

QFile::Permissions modeBits(const QString& path)
{
    // ReadUser/WriteUser mirror the owner bits for the running user; compare the real mode only.
    return QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
}
QByteArray frame(const QByteArray& payload)
{
    QByteArray f(4, '\0');
    qToBigEndian<quint32>(quint32(payload.size()), f.data());
    return f + payload;
}
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    // A file that does not parse loads empty and is kept aside, owner-only, by the first save only (an
    // older copy stays); every saved file is owner-only, a looser one is tightened.
    void loadAndSave_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<bool>("corrupt");
        QTest::addColumn<bool>("olderCopy");
        QTest::newRow("no file") << QByteArray() << false << false;
        QTest::newRow("valid, readable by all") << QByteArray("{\"round\": 1}") << false << false;
        QTest::newRow("json array") << QByteArray("[1, 2, 3]") << true << false;
        QTest::newRow("truncated object")
            << QByteArray("{\"devices\": {\"a\": {\"auth\": \"k") << true << false;
        QTest::newRow("binary, older copy") << QByteArray("\x00\xff\xfe{}", 5) << true << true;
    }
    void loadAndSave()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, corrupt);
        QFETCH(bool, olderCopy);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        const QString copy = path + QStringLiteral(".corrupt");
        if (!content.isNull())
            writeAll(path, content);
        if (olderCopy)
            writeAll(copy, "older copy");
        SettingsManager s;
        s.load(path);
        QVERIFY(!s.contains(QStringLiteral("devices")));
        s.setValue(QStringLiteral("run_on_start"), false);
        QSignalSpy changed(&s, &SettingsManager::settingsChanged);
        QVERIFY(s.save() && s.save());
        QCOMPARE(changed.count(), 2);
        QCOMPARE(QJsonDocument::fromJson(readAll(path)).object().value(QStringLiteral("run_on_start")),
                 QJsonValue(false));
        QCOMPARE(modeBits(path), kOwnerRw);
        const QStringList copies = QDir(dir.path()).entryList({QStringLiteral("settings.json.corrupt*")});
        QCOMPARE(copies.size(), int(corrupt) + int(olderCopy));
        if (corrupt) {
            QCOMPARE(readAll(dir.filePath(copies.last())), content);
            QCOMPARE(modeBits(dir.filePath(copies.last())), kOwnerRw);
        }
        if (olderCopy)
            QCOMPARE(readAll(copy), QByteArray("older copy"));
    }

    void killDuringSaveLeavesAWholeFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        writeAll(path, "{\"round\": -1}");
        for (int attempt = 0; attempt < 8; ++attempt) {
            QProcess writer;
            writer.start(QStringLiteral(SETTINGS_WRITER), {path});
            QVERIFY(writer.waitForStarted());
            QTest::qWait(150 + attempt * 37);
            writer.kill();
            QVERIFY(writer.waitForFinished());
            QVERIFY2(QJsonDocument::fromJson(readAll(path)).object().contains(QStringLiteral("round")),
                     "settings.json was left broken by a kill");
        }
    }

    // A save onto a read-only folder or a full disk fails with one warning, announces nothing and leaves the
    // old file whole; nothing is lost: once the disk takes it again, the save at exit writes what it held.
    void hostileDisk_data()
    {
        QTest::addColumn<bool>("full");
        QTest::newRow("read-only folder") << false;
        QTest::newRow("disk full") << true;
    }
    void hostileDisk()
    {
        QFETCH(bool, full);
        if (!PrivateDisk::inside())
            return PrivateDisk::rerunInside(64 * 1024);
        const QString path = QDir::temp().filePath(QStringLiteral("settings.json"));
        ResourceManager* rm = ResourceManager::instance();
        rm->loadSettings(path);
        rm->setDeviceSettings(QStringLiteral("kept"), {{QStringLiteral("auth"), QStringLiteral("k")}});
        const QByteArray before = readAll(path);
        QFile filler(QDir::temp().filePath(QStringLiteral("filler")));
        // Files open for writing keep a disk from turning read-only.
        QVERIFY(full ? filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
                     : PrivateDisk::setReadOnly(true));
        while (full && filler.write(QByteArray(4096, 'f')) == 4096) {
        }
        LogCapture log;
        QSignalSpy changed(rm->settingsManager(), &SettingsManager::settingsChanged);
        rm->setDeviceSettings(QStringLiteral("added"),
                              {{QStringLiteral("auth"), QString(8192, QLatin1Char('a'))}});
        QCOMPARE(readAll(path), before);
        QVERIFY(log.count(QStringLiteral("settings not saved")) == 1 && changed.isEmpty());
        QVERIFY(full ? filler.remove() : PrivateDisk::setReadOnly(false));
        ResourceManager::destroyInstance();
        QCOMPARE(QJsonDocument::fromJson(readAll(path))[QLatin1String("devices")].toObject().keys(),
                 (QStringList{QStringLiteral("added"), QStringLiteral("kept")}));
        QCOMPARE(QDir::temp().entryList(QDir::Files), QStringList{QStringLiteral("settings.json")});
    }

    // With no settings file "run_on_start" is true and start-up registers the entry, which starts the
    // program minimised; a start with it false removes an entry someone put back meanwhile. What the registry
    // stored is read back whole by the next start. The entry's Exec key is quoted when the path needs it,
    // with the key's own escapes.
    void autostartFollowsRunOnStart()
    {
        const auto quoted = [](const char* path) {
            return XdgAutostart::quoteExecArgument(QString::fromUtf8(path)).toUtf8();
        };
        QCOMPARE(quoted("/usr/bin/pivotrix"), QByteArray("/usr/bin/pivotrix"));
        QCOMPARE(quoted("/opt/My Apps/pivotrix"), QByteArray("\"/opt/My Apps/pivotrix\""));
        QCOMPARE(quoted("/opt/100%/p"), QByteArray("/opt/100%%/p"));
        QCOMPARE(quoted("/opt/$HOME/p"), QByteArray("\"/opt/\\\\$HOME/p\""));
        QCOMPARE(quoted("/opt/a\"b/p"), QByteArray("\"/opt/a\\\\\"b/p\""));
        QCOMPARE(quoted("/opt/a\\b/p"), QByteArray("\"/opt/a\\\\\\\\b/p\""));
        QTemporaryDir dir;
        const QString settings = dir.filePath(QStringLiteral("settings.json"));
        auto* autostart = new XdgAutostart(dir.filePath(QStringLiteral("autostart")));
        ResourceManager* rm = ResourceManager::instance();
        rm->setAutostartRegistration(std::unique_ptr<AutostartRegistration>(autostart));
        rm->loadSettings(settings);
        QVERIFY(rm->runOnStart() && autostart->isEnabled());
        const QByteArray self = QCoreApplication::applicationFilePath().toUtf8();
        QVERIFY(readAll(autostart->filePath())
                    .contains("\nExec=" + self + " --minimized\nTryExec=" + self + "\n"));
        rm->setRunOnStart(false);
        QVERIFY(!autostart->isEnabled());
        const QVariantMap record{{QStringLiteral("auth"), QStringLiteral("k")},
                                 {QStringLiteral("razer"), QVariantMap{{QStringLiteral("angle"), 3}}}};
        rm->setDeviceSettings(QStringLiteral("dev"), record);
        QVERIFY(autostart->enable(QStringLiteral("/x")));
        rm->loadSettings(settings);
        QVERIFY(!autostart->isEnabled());
        QCOMPARE(rm->deviceSettings(QStringLiteral("dev")), record);
        ResourceManager::destroyInstance();

        QVERIFY(ApplicationShell::hasMinimizedFlag({QStringLiteral("app"), QStringLiteral("-x"),
                                                    QStringLiteral("--minimized"), QStringLiteral("y")}));
        QVERIFY(
            !ApplicationShell::hasMinimizedFlag({QStringLiteral("app"), QStringLiteral("--minimized=1")}));
    }

    // While a live holder of the lock stays silent, a start is unreachable after its time-out; once it lets
    // go, the next start serves. Junk is dropped without an answer (a length over the bound or zero, bytes
    // after the message, text that is not UTF-8, a partial body left idle); the exact "show" of a later
    // start still arrives.
    void singleInstance()
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
        held.unlock();
        SingleInstance server(QStringLiteral("tst"), dir.path());
        server.setIdleTimeout(300);
        QCOMPARE(server.start(QStringLiteral("show"), 1000), SingleInstance::Role::Primary);
        QSignalSpy received(&server, &SingleInstance::messageReceived);
        const QList<QByteArray> junk{frame(QByteArray(SingleInstance::kMaxMessageBytes + 1, 's')),
                                     QByteArray(4, '\0'), frame("show") + "trailing",
                                     frame(QByteArray("\xc3\x28\xa0\xa1", 4)), frame("show").left(6)};
        for (const QByteArray& bytes : junk) {
            QLocalSocket client;
            client.connectToServer(server.serverName());
            QVERIFY(client.waitForConnected(1000));
            client.write(bytes);
            client.flush();
            QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 3000);
            QCOMPARE(client.readAll(), QByteArray());
        }
        QCOMPARE(received.count(), 0);
        // The later start sends from a plain thread so the server's event loop keeps running here.
        auto role = std::async(std::launch::async, [&dir] {
            return SingleInstance(QStringLiteral("tst"), dir.path()).start(QStringLiteral("show"), 3000);
        });
        // Events flow while the other thread starts; get() waits on regardless.
        (void)QTest::qWaitFor(
            [&] { return role.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        QCOMPARE(role.get(), SingleInstance::Role::MessageDelivered);
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toString(), QStringLiteral("show"));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
