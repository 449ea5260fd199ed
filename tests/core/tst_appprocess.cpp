// Starts the real application as separate processes under the test X server.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

class TestAppProcess : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_home;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        return env;
    }

    void startApp(QProcess& p, const QStringList& args = {QStringLiteral("--minimized")})
    {
        p.setProcessEnvironment(environment());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(APP_PATH), args);
        QVERIFY(p.waitForStarted());
    }

    QString socketPath() const
    {
        return m_home.filePath(QStringLiteral("runtime/pivotrix-entertainment.sock"));
    }

    // The socket appears once the instance serves.
    void waitServing(QProcess& p)
    {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socketPath()), 15000);
        QCOMPARE(p.state(), QProcess::Running);
    }

    static bool outputContains(QProcess& p, QByteArray& seen, const QByteArray& text)
    {
        seen += p.readAllStandardOutput();
        return seen.contains(text);
    }

    void stop(QProcess& p)
    {
        p.kill();
        p.waitForFinished(5000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QDir(m_home.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(m_home.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the test X server");
    }

    void secondStartShowsTheFirstAndExitsZero()
    {
        QProcess first;
        startApp(first);
        waitServing(first);

        QProcess second;
        startApp(second, {});
        QElapsedTimer timer;
        timer.start();
        QVERIFY(second.waitForFinished(5000));
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QByteArray seen;
        QTRY_VERIFY_WITH_TIMEOUT(outputContains(first, seen, "handle external msg \"show\""), 5000);
        QCOMPARE(first.state(), QProcess::Running);
        stop(first);
    }

    void killedInstanceDoesNotBlockTheNext()
    {
        QProcess first;
        startApp(first);
        waitServing(first);
        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(5000));
        QVERIFY(QFile::exists(socketPath())); // left behind

        QProcess next;
        startApp(next);
        QTest::qWait(500);
        QCOMPARE(next.state(), QProcess::Running);

        QProcess third;
        startApp(third, {});
        QVERIFY(third.waitForFinished(5000));
        QCOMPARE(third.exitCode(), 0);
        QByteArray seen;
        QTRY_VERIFY_WITH_TIMEOUT(outputContains(next, seen, "handle external msg \"show\""), 5000);
        stop(next);
    }

    static QByteArray runTool(const QString& tool, const QStringList& args)
    {
        QProcess p;
        p.start(tool, args);
        return p.waitForFinished(5000) ? p.readAllStandardOutput() : QByteArray();
    }

    // Whether process `pid` has a viewable window titled like ours; other tests share the X server.
    static bool mainWindowMapped(qint64 pid)
    {
        const QList<QByteArray> lines =
            runTool(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")})
                .split('\n');
        for (const QByteArray& line : lines) {
            if (!line.contains("\"Pivotrix Entertainment\""))
                continue;
            const QString id = QString::fromLatin1(line.trimmed().split(' ').first());
            const QByteArray owner =
                runTool(QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("_NET_WM_PID")});
            if (!owner.trimmed().endsWith(" " + QByteArray::number(pid)))
                continue;
            if (runTool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id})
                    .contains("Map State: IsViewable"))
                return true;
        }
        return false;
    }

    static QByteArray mappedFiles(qint64 pid)
    {
        QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
        return maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray();
    }

    // The window draws without GL, so no GL driver is loaded for it unless the user asks for one; the
    // choice holds for a window made long after start-up (started minimised, shown by a second start).
    void glIntegrationOnlyWhenTheUserChoosesOne_data()
    {
        QTest::addColumn<QString>("userChoice");
        QTest::addColumn<QByteArray>("mapped");
        QTest::addColumn<QByteArray>("notMapped");
        QTest::newRow("not set") << QString() << QByteArray() << QByteArray("/xcbglintegrations/");
        QTest::newRow("xcb_glx") << QStringLiteral("xcb_glx") << QByteArray("qxcb-glx-integration")
                                 << QByteArray("qxcb-egl-integration");
    }
    void glIntegrationOnlyWhenTheUserChoosesOne()
    {
        QFETCH(QString, userChoice);
        QFETCH(QByteArray, mapped);
        QFETCH(QByteArray, notMapped);
        QProcessEnvironment env = environment();
        env.remove(QStringLiteral("QT_XCB_GL_INTEGRATION"));
        if (!userChoice.isEmpty())
            env.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), userChoice);
        QFile::remove(socketPath()); // a killed instance's, which would make the wait below pass at once
        QProcess app;
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start(QStringLiteral(APP_PATH), {QStringLiteral("--minimized")});
        QVERIFY(app.waitForStarted());
        waitServing(app);
        QProcess second;
        startApp(second, {});
        // Polled, so that the first instance's output keeps draining meanwhile.
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(mainWindowMapped(app.processId()), 15000);
        const QByteArray files = mappedFiles(app.processId());
        stop(app);
        QVERIFY(!files.isEmpty());
        if (!mapped.isEmpty())
            QVERIFY2(files.contains(mapped), mapped.constData());
        QVERIFY2(!files.contains(notMapped), notMapped.constData());
    }

    void startUpRegistersTheAutostartEntry()
    {
        QProcess app;
        startApp(app);
        waitServing(app);
        const QString entry =
            m_home.filePath(QStringLiteral("config/autostart/PivotrixEntertainment.desktop"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(entry), 5000);
        QFile f(entry);
        QVERIFY(f.open(QIODevice::ReadOnly));
        // The program knows itself by its canonical path, even when the checkout is reached by a link.
        const QString exec = QFileInfo(QStringLiteral(APP_PATH)).canonicalFilePath();
        QVERIFY(f.readAll().contains("\nExec=" + exec.toUtf8() + " --minimized\n"));
        stop(app);
    }
};

QTEST_GUILESS_MAIN(TestAppProcess)
#include "tst_appprocess.moc"
