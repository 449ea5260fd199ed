#include "core/ResourceManager.h"
#include "core/SettingsManager.h"
#include "core/linux/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes,
              QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    QFile::setPermissions(path, perms);
}

constexpr QFile::Permissions kOwnerRw = QFile::ReadOwner | QFile::WriteOwner;
QFile::Permissions modeBits(const QString& path)
{
    // ReadUser/WriteUser mirror the owner bits for the running user; compare the real mode only.
    return QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
}
} // namespace

class TestSettingsManager : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("settings.json"));
        QFile::remove(m_path);
    }

    void missingFileStartsEmptyAndFirstSaveCreates()
    {
        SettingsManager s;
        s.load(m_path);
        QVERIFY(!s.contains(QStringLiteral("devices")));
        QCOMPARE(s.value(QStringLiteral("devices")).toMap().size(), 0);
        QSignalSpy changed(&s, &SettingsManager::settingsChanged);
        QVERIFY(s.save());
        QCOMPARE(changed.count(), 1);
        QVERIFY(QFile::exists(m_path));
        QCOMPARE(QJsonDocument::fromJson(readAll(m_path)).isObject(), true);
    }

    void unparsableFilesLoadEmptyAndAreKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("json array") << QByteArray("[1, 2, 3]");
        QTest::newRow("not json") << QByteArray("devices: none");
        QTest::newRow("truncated object") << QByteArray("{\"devices\": {\"a\": {\"auth\": \"k");
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe{}", 5);
    }
    void unparsableFilesLoadEmptyAndAreKeptAside()
    {
        QFETCH(QByteArray, content);
        writeAll(m_path, content);
        QFile::remove(m_path + QStringLiteral(".corrupt"));
        SettingsManager s;
        s.load(m_path);
        QVERIFY(!s.contains(QStringLiteral("devices")));
        s.setValue(QStringLiteral("run_on_start"), false);
        QVERIFY(s.save());
        QCOMPARE(readAll(m_path + QStringLiteral(".corrupt")), content);
        QCOMPARE(modeBits(m_path + QStringLiteral(".corrupt")), kOwnerRw);
        // Only the first save after the load keeps a copy; later saves must not multiply them.
        QVERIFY(s.save());
        QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("settings.json.corrupt*")}).size(), 1);
        QFile::remove(m_path + QStringLiteral(".corrupt"));
    }

    void aSecondCorruptFileDoesNotOverwriteTheFirstCopy()
    {
        writeAll(m_path + QStringLiteral(".corrupt"), "older copy");
        writeAll(m_path, "newer garbage");
        SettingsManager s;
        s.load(m_path);
        QVERIFY(s.save());
        QCOMPARE(readAll(m_path + QStringLiteral(".corrupt")), QByteArray("older copy"));
        const QStringList copies = QDir(m_dir.path()).entryList({QStringLiteral("settings.json.corrupt.*")});
        QCOMPARE(copies.size(), 1);
        QCOMPARE(readAll(m_dir.filePath(copies.first())), QByteArray("newer garbage"));
        for (const QString& f : QDir(m_dir.path()).entryList({QStringLiteral("settings.json.corrupt*")}))
            QFile::remove(m_dir.filePath(f));
    }

    void roundTripKeepsTypesAndSortsKeys()
    {
        SettingsManager s;
        s.load(m_path);
        s.setValue(QStringLiteral("run_on_start"), true);
        s.setValue(
            QStringLiteral("devices"),
            QVariantMap{{QStringLiteral("b"), QVariantMap{{QStringLiteral("index"), 2}}},
                        {QStringLiteral("a"), QVariantMap{{QStringLiteral("port"), 16021},
                                                          {QStringLiteral("auth"), QStringLiteral("k")}}}});
        QVERIFY(s.save());
        const QByteArray text = readAll(m_path);
        QVERIFY(text.contains("\"run_on_start\": true"));
        QVERIFY(text.contains("\"port\": 16021"));
        QVERIFY(text.indexOf("\"a\"") < text.indexOf("\"b\""));
        QVERIFY(text.contains("\n    ")); // indented

        SettingsManager again;
        again.load(m_path);
        QCOMPARE(again.value(QStringLiteral("devices"))
                     .toMap()
                     .value(QStringLiteral("a"))
                     .toMap()
                     .value(QStringLiteral("port"))
                     .toInt(),
                 16021);
        QCOMPARE(again.value(QStringLiteral("run_on_start")).toBool(), true);
    }

    void fileIsOwnerOnlyAndLooserFileIsTightened_data()
    {
        QTest::addColumn<bool>("preexisting");
        QTest::newRow("new file") << false;
        QTest::newRow("existing 0644") << true;
    }
    void fileIsOwnerOnlyAndLooserFileIsTightened()
    {
        QFETCH(bool, preexisting);
        if (preexisting)
            writeAll(m_path, "{}", kOwnerRw | QFile::ReadGroup | QFile::ReadOther);
        SettingsManager s;
        s.load(m_path);
        QVERIFY(s.save());
        QCOMPARE(modeBits(m_path), kOwnerRw);
    }

    void failedSaveKeepsMapAndFileAndEmitsNothing()
    {
        // A path below a regular file can never be created, even for root.
        const QString blocker = m_dir.filePath(QStringLiteral("not-a-dir"));
        writeAll(blocker, "x");
        SettingsManager s;
        s.load(blocker + QStringLiteral("/settings.json"));
        s.setValue(QStringLiteral("run_on_start"), false);
        QSignalSpy changed(&s, &SettingsManager::settingsChanged);
        QVERIFY(!s.save());
        QCOMPARE(changed.count(), 0);
        QCOMPARE(s.value(QStringLiteral("run_on_start")).toBool(), false);
        QCOMPARE(readAll(blocker), QByteArray("x"));
    }

    void killDuringSaveLeavesAWholeFile()
    {
        SettingsManager seed;
        seed.load(m_path);
        seed.setValue(QStringLiteral("round"), -1);
        QVERIFY(seed.save());

        for (int attempt = 0; attempt < 8; ++attempt) {
            QProcess writer;
            writer.start(QStringLiteral(SETTINGS_WRITER), {m_path});
            QVERIFY(writer.waitForStarted());
            QTest::qWait(150 + attempt * 37);
            writer.kill();
            QVERIFY(writer.waitForFinished());
            const QJsonDocument doc = QJsonDocument::fromJson(readAll(m_path));
            QVERIFY2(doc.isObject(), "settings.json was left broken by a kill");
            QVERIFY(doc.object().contains(QStringLiteral("round")));
        }
    }

    void deviceRecordsThroughTheRegistry()
    {
        ResourceManager* rm = ResourceManager::instance();
        rm->setAutostartRegistration(
            std::make_unique<XdgAutostart>(m_dir.filePath(QStringLiteral("autostart"))));
        rm->loadSettings(m_path);
        QCOMPARE(rm->deviceSettings(QStringLiteral("nope")), QVariantMap());
        const QVariantMap record{{QStringLiteral("id"), QStringLiteral("dev1")},
                                 {QStringLiteral("razer"), QVariantMap{{QStringLiteral("angle"), 3}}}};
        rm->setDeviceSettings(QStringLiteral("dev1"), record);
        QCOMPARE(rm->deviceSettings(QStringLiteral("dev1")), record);
        SettingsManager reread;
        reread.load(m_path);
        QCOMPARE(reread.value(QStringLiteral("devices")).toMap().value(QStringLiteral("dev1")).toMap(),
                 record);
        ResourceManager::destroyInstance();
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

QTEST_MAIN(TestSettingsManager)
#include "tst_settingsmanager.moc"
