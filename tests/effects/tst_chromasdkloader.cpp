#include "effects/ChromaModule.h"
#include "effects/ChromaSdkLoader.h"
#include "effects/RazerSdkColorProvider.h"
#include "effects/linux/LibraryFileCheck.h"

#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kVariants = QStringLiteral(CHROMA_VARIANTS);

QString variant(const char* name)
{
    return kVariants + QLatin1Char('/') + QLatin1String(name) + QStringLiteral("/libRzChromaBroadcast.so");
}

// Puts a copy of `source` into `folder` under the library's name with the given mode bits.
QString install(const QString& folder, const QString& source, mode_t mode = 0755)
{
    const QString path = folder + QLatin1Char('/') + ChromaModule::fileName();
    QFile::remove(path);
    if (!QFile::copy(source, path) || ::chmod(QFile::encodeName(path).constData(), mode) != 0)
        return QString();
    return path;
}
} // namespace

class TestChromaSdkLoader : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_folder = m_dir.path() + QStringLiteral("/lib");
        QVERIFY(QDir().mkpath(m_folder));
        QVERIFY(::chmod(QFile::encodeName(m_folder).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_dir.path()).constData(), 0700) == 0);
    }
    void cleanup() { QVERIFY(QDir(m_folder).removeRecursively()); }

    void fileChecks_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* name, const char* setup, const char* reason) {
            QTest::newRow(name) << QString::fromLatin1(setup) << QString::fromLatin1(reason);
        };
        row("safe file", "plain", "");
        row("sticky parent", "parent 01777", "");
        row("group-writable file", "file 0775", "writable by group or others");
        row("folder writable by group", "folder 0775", "folder writable by group or others");
        row("parent writable by others", "parent 0757", "folder inside one that others may change");
        row("symbolic link", "symlink", "not a regular file");
        row("relative path", "relative", "not an absolute path");
        row("in a subfolder", "subfolder", "not in an accepted folder");
        row("dot-dot out of a folder", "dotdot", "path not in canonical form");
        row("missing", "missing", "missing");
        row("folder owned by another user", "chown folder", "folder owned by another user");
        row("owned by another user", "chown file", "owned by another user");
    }
    void fileChecks()
    {
        QFETCH(QString, setup);
        QFETCH(QString, reason);
        const QString library = QStringLiteral(CHROMA_LIBRARY);
        QString path = install(m_folder, library);
        QVERIFY(!path.isEmpty());
        const QString what = setup.section(QLatin1Char(' '), 0, 0), arg = setup.section(QLatin1Char(' '), 1);
        const QString on = what == QLatin1String("chown") ? arg : what; // file, folder or parent
        const QString target = on == QLatin1String("file")     ? path
                               : on == QLatin1String("parent") ? m_dir.path()
                                                               : m_folder;
        if (arg.startsWith(QLatin1Char('0')))
            QCOMPARE(::chmod(QFile::encodeName(target).constData(), mode_t(arg.toInt(nullptr, 8))), 0);
        if (what == QLatin1String("symlink")) {
            QVERIFY(QFile::rename(path, m_dir.filePath(QStringLiteral("elsewhere.so"))));
            QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("elsewhere.so")), path));
        } else if (what == QLatin1String("relative")) {
            QVERIFY(QDir::setCurrent(m_dir.path()));
            path = QStringLiteral("lib/") + ChromaModule::fileName();
        } else if (what == QLatin1String("subfolder")) {
            QVERIFY(QDir().mkpath(m_folder + QStringLiteral("/sub")));
            path = install(m_folder + QStringLiteral("/sub"), library);
        } else if (what == QLatin1String("dotdot")) {
            path = m_folder + QStringLiteral("/../") + QFileInfo(install(m_dir.path(), library)).fileName();
        } else if (what == QLatin1String("missing")) {
            QVERIFY(QFile::remove(path));
        } else if (what == QLatin1String("chown")) {
            if (::geteuid() != 0)
                QSKIP("only root can give a file to another user");
            QCOMPARE(::chown(QFile::encodeName(target).constData(), 4242, 4242), 0);
        }
        QCOMPARE(LibraryFileCheck::reject(path, {m_folder}), reason);
    }

    // What loadAndInit answers for each kind of file found in an accepted folder.
    void loadResults_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<int>("registered");
        const QString genuine = QStringLiteral(CHROMA_LIBRARY);
        QTest::newRow("genuine") << genuine << 0755 << 0 << true << 0;
        QTest::newRow("rejected before loading") << genuine << 0775 << 1154 << false << 126;
        QTest::newRow("no library") << QString() << 0755 << 2 << false << 126;
        QTest::newRow("not a library") << QStringLiteral("junk") << 0755 << 2 << false << 126;
        QTest::newRow("no Init") << variant("no_init") << 0755 << 1 << true << 0;
        QTest::newRow("Init fails") << variant("init_fails") << 0755 << 1627 << true << 0;
        QTest::newRow("no registration") << variant("no_register") << 0755 << 0 << true << 126;
    }
    void loadResults()
    {
        QFETCH(QString, source);
        QFETCH(int, mode);
        QFETCH(int, result);
        QFETCH(bool, loaded);
        QFETCH(int, registered);
        if (source == QLatin1String("junk")) {
            QFile junk(m_folder + QLatin1Char('/') + ChromaModule::fileName());
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write("\177ELF but not really");
        } else if (!source.isEmpty()) {
            QVERIFY(!install(m_folder, source, mode_t(mode)).isEmpty());
        }
        ChromaSdkLoader loader({m_folder});
        QCOMPARE(loader.loadAndInit(RazerSdkColorProvider::kApplicationId), result);
        QCOMPARE(loader.isLoaded(), loaded);
        QCOMPARE(loader.registerEvents(&chromaEventCallback), registered);
        if (loaded)
            QCOMPARE(loader.loadAndInit(RazerSdkColorProvider::kApplicationId), 1247);
        loader.unload();
        QVERIFY(!loader.isLoaded());

        // The provider over the same folder: initialised when Init succeeded, registered or not, never live.
        LogCapture capture;
        RazerSdkColorProvider provider{ChromaSdkLoader({m_folder})};
        QCOMPARE(provider.init(), result == 0);
        QVERIFY(!provider.isAvailable());
        QCOMPARE(capture.count(QStringLiteral("RazerSdkColorProvider: failed to register events 126")),
                 result == 0 && registered != 0 ? 1 : 0);
    }

    void buildTreeLibraryIsFound()
    {
        // Run from the build tree, the default folders lead to the library built beside us.
        const QStringList folders = ChromaModule::defaultFolders();
        QVERIFY2(folders.contains(QFileInfo(QStringLiteral(CHROMA_LIBRARY)).path()),
                 qPrintable(folders.join(u' ')));
        ChromaSdkLoader loader;
        QCOMPARE(loader.loadAndInit(RazerSdkColorProvider::kApplicationId), 0);
    }

private:
    QTemporaryDir m_dir;
    QString m_folder;
};

QTEST_GUILESS_MAIN(TestChromaSdkLoader)
#include "tst_chromasdkloader.moc"
