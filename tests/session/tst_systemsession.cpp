// The Linux session back end against a private bus with a stand-in logind, and a private X server.
#include "capture/session/linux/LinuxSystemSession.h"
#include "capture/session/linux/X11DisplayPowerMonitor.h"
#include "support/LogCapture.h"
#include "support/PrivateBus.h"
#include "support/StandInLogind.h"
#include "support/XvfbServer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
const QString kLogin1 = StandInLogind::service();
const QString kManagerPath = StandInLogind::managerPath();
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kOurSession = StandInLogind::ourSession();
const QString kOtherSession = QStringLiteral("/org/freedesktop/login1/session/c2");

LogCapture* g_capture = nullptr;

int logCount(const QString& text)
{
    return g_capture->count(text);
}
} // namespace

class TestSystemSession : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<XvfbServer> m_x;
    std::unique_ptr<QDBusConnection> m_fake;
    std::unique_ptr<StandInLogind> m_logind;
    std::unique_ptr<LinuxSystemSession> m_session;
    QString m_appConnection;
    int m_connections = 0;

    QDBusConnection connectNew(const QString& prefix)
    {
        return QDBusConnection::connectToBus(QString::fromLatin1(m_bus->address()),
                                             prefix + QString::number(++m_connections));
    }

    void makeSession(const QByteArray& display)
    {
        m_appConnection = QStringLiteral("app");
        const QDBusConnection app = connectNew(m_appConnection);
        m_appConnection += QString::number(m_connections);
        m_session = std::make_unique<LinuxSystemSession>(app, app, display);
        m_session->setSleepReleaseDelay(100);
    }

    void emitSignal(const QString& path, const QString& interface, const QString& name,
                    const QVariantList& args, QDBusConnection* from = nullptr)
    {
        QDBusMessage message = QDBusMessage::createSignal(path, interface, name);
        message.setArguments(args);
        QDBusConnection& bus = from ? *from : *m_fake;
        QVERIFY(bus.send(message));
        // A round trip makes sure the daemon has queued the signal before anything sent after it.
        bus.interface()->isServiceRegistered(kLogin1);
    }

    void emitLockedHint(const QString& path, const QVariant& value,
                        const QString& interface = QStringLiteral("org.freedesktop.login1.Session"))
    {
        QVariantMap changed;
        changed.insert(QStringLiteral("LockedHint"), value);
        emitSignal(path, QStringLiteral("org.freedesktop.DBus.Properties"),
                   QStringLiteral("PropertiesChanged"), {interface, changed, QStringList()});
    }

    void emitThemeChange(const QString& nameSpace, const QString& key)
    {
        emitSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                   QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"),
                   {nameSpace, key, QVariant::fromValue(QDBusVariant(QVariant(1u)))});
    }

    static QList<int> states(const QSignalSpy& spy)
    {
        QList<int> out;
        for (const QList<QVariant>& args : spy)
            out << args.at(0).toInt();
        return out;
    }

    static bool xset(const QByteArray& display, const QStringList& args)
    {
        QProcess p;
        p.start(QStringLiteral("xset"),
                QStringList{QStringLiteral("-display"), QString::fromLatin1(display)} + args);
        return p.waitForFinished(5000) && p.exitCode() == 0;
    }

private slots:
    void initTestCase()
    {
        g_capture = new LogCapture;
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY2(m_bus->isRunning(), "dbus-daemon did not start");
        m_x = std::make_unique<XvfbServer>();
        QVERIFY2(m_x->start(QSize(320, 240)), "Xvfb did not start");
        m_fake = std::make_unique<QDBusConnection>(connectNew(QStringLiteral("fake")));
        QVERIFY(m_fake->isConnected());
        m_logind = std::make_unique<StandInLogind>();
        QVERIFY(m_logind->registerOn(*m_fake));
        QVERIFY(m_fake->registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }

    void cleanupTestCase()
    {
        m_session.reset();
        m_fake.reset();
        m_logind.reset();
        delete g_capture;
        g_capture = nullptr;
    }

    void init()
    {
        g_capture->clear();
        m_logind->failByPid = false;
        qunsetenv("XDG_SESSION_ID");
    }

    void cleanup()
    {
        m_session.reset();
        QDBusConnection::disconnectFromBus(m_appConnection);
    }

    void resolvesThisProcessSession()
    {
        makeSession(m_x->display());
        QSignalSpy resolved(m_session.get(), &LinuxSystemSession::sessionPathResolved);
        QTRY_COMPARE_WITH_TIMEOUT(m_session->sessionPath(), kOurSession, 5000);
        QCOMPARE(qint64(m_logind->lastPid), QCoreApplication::applicationPid());
        QCOMPARE(resolved.count(), 1);
        QVERIFY(!m_session->isLocked());
    }

    void fallsBackToTheEnvironmentSessionId()
    {
        m_logind->failByPid = true;
        qputenv("XDG_SESSION_ID", "7");
        makeSession(m_x->display());
        QTRY_COMPARE_WITH_TIMEOUT(m_session->sessionPath(),
                                  QStringLiteral("/org/freedesktop/login1/session/_37"), 5000);
        QSignalSpy spy(m_session.get(), &SystemSession::systemStateChanged);
        emitSignal(m_session->sessionPath(), kSession, QStringLiteral("Lock"), {});
        QTRY_COMPARE(states(spy), QList<int>{1});
    }

    void noSessionAtAllLogsOnce()
    {
        m_logind->failByPid = true;
        makeSession(m_x->display());
        QTRY_COMPARE_WITH_TIMEOUT(logCount(QStringLiteral("failed to subscribe on session notifications")), 1,
                                  5000);
        QVERIFY(m_session->sessionPath().isEmpty());
    }

    void lockEvents_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<int>>("expected");
        QTest::addColumn<bool>("lockedAfter");
        QTest::newRow("lock then unlock")
            << QStringLiteral("lock,unlock").split(QLatin1Char(',')) << QList<int>{1, 4} << false;
        QTest::newRow("locked hint on and off")
            << QStringLiteral("hint-on,hint-off").split(QLatin1Char(',')) << QList<int>{1, 4} << false;
        QTest::newRow("lock and its hint count once")
            << QStringLiteral("lock,hint-on,lock,hint-off,unlock").split(QLatin1Char(',')) << QList<int>{1, 4}
            << false;
        QTest::newRow("unlock while unlocked")
            << QStringLiteral("unlock,hint-off").split(QLatin1Char(',')) << QList<int>{} << false;
        QTest::newRow("other session's lock")
            << QStringLiteral("other-lock").split(QLatin1Char(',')) << QList<int>{} << false;
        QTest::newRow("lock from a stranger")
            << QStringLiteral("stranger-lock").split(QLatin1Char(',')) << QList<int>{} << false;
        QTest::newRow("hint of the wrong type")
            << QStringLiteral("hint-text").split(QLatin1Char(',')) << QList<int>{} << false;
        QTest::newRow("display on clears a lock")
            << QStringLiteral("lock,sync,saver-on,saver-off").split(QLatin1Char(',')) << QList<int>{1, 5, 6}
            << false;
    }

    void lockEvents()
    {
        QFETCH(QStringList, steps);
        QFETCH(QList<int>, expected);
        QFETCH(bool, lockedAfter);

        makeSession(m_x->display());
        QTRY_COMPARE_WITH_TIMEOUT(m_session->sessionPath(), kOurSession, 5000);
        QSignalSpy spy(m_session.get(), &SystemSession::systemStateChanged);
        QSignalSpy theme(m_session.get(), &SystemSession::systemThemeChanged);
        QDBusConnection stranger = connectNew(QStringLiteral("stranger"));
        int syncs = 0;
        for (const QString& step : qAsConst(steps)) {
            const int before = spy.count();
            if (step == QLatin1String("sync")) {
                // Everything sent so far has arrived once the theme change behind it has.
                emitThemeChange(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"));
                ++syncs;
                QTRY_COMPARE(theme.count(), syncs);
            } else if (step == QLatin1String("lock"))
                emitSignal(kOurSession, kSession, QStringLiteral("Lock"), {});
            else if (step == QLatin1String("unlock"))
                emitSignal(kOurSession, kSession, QStringLiteral("Unlock"), {});
            else if (step == QLatin1String("hint-on"))
                emitLockedHint(kOurSession, true);
            else if (step == QLatin1String("hint-off"))
                emitLockedHint(kOurSession, false);
            else if (step == QLatin1String("hint-text"))
                emitLockedHint(kOurSession, QStringLiteral("yes"));
            else if (step == QLatin1String("user-hint"))
                emitLockedHint(kOurSession, true, QStringLiteral("org.freedesktop.login1.User"));
            else if (step == QLatin1String("other-lock"))
                emitSignal(kOtherSession, kSession, QStringLiteral("Lock"), {});
            else if (step == QLatin1String("other-hint"))
                emitLockedHint(kOtherSession, true);
            else if (step == QLatin1String("stranger-lock"))
                emitSignal(kOurSession, kSession, QStringLiteral("Lock"), {}, &stranger);
            else if (step == QLatin1String("saver-on"))
                QVERIFY(xset(m_x->display(), {QStringLiteral("s"), QStringLiteral("activate")}));
            else if (step == QLatin1String("saver-off"))
                QVERIFY(xset(m_x->display(), {QStringLiteral("s"), QStringLiteral("reset")}));
            if (step.startsWith(QLatin1String("saver")))
                QTRY_COMPARE_WITH_TIMEOUT(spy.count(), before + 1, 5000);
        }
        // A cancelled shutdown changes nothing; a theme change marks the end of everything sent above.
        emitSignal(kManagerPath, kManager, QStringLiteral("PrepareForShutdown"), {false});
        emitThemeChange(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"));
        QTRY_COMPARE(theme.count(), syncs + 1);
        QCOMPARE(states(spy), expected);
        QCOMPARE(m_session->isLocked(), lockedAfter);
        QDBusConnection::disconnectFromBus(stranger.name());
    }

    void flagIsSetBeforeTheSignal_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("lock") << kOurSession << kSession << QStringLiteral("Lock") << QVariantList{} << 1
                              << true << QStringLiteral("System is locking");
        QTest::newRow("sleep") << kManagerPath << kManager << QStringLiteral("PrepareForSleep")
                               << QVariantList{true} << 2 << true << QStringLiteral("System is go to sleep");
        QTest::newRow("shutdown") << kManagerPath << kManager << QStringLiteral("PrepareForShutdown")
                                  << QVariantList{true} << 0 << true << QStringLiteral("Session is ending");
    }

    void flagIsSetBeforeTheSignal()
    {
        QFETCH(QString, path);
        QFETCH(QString, interface);
        QFETCH(QString, name);
        QFETCH(QVariantList, args);
        QFETCH(int, state);
        QFETCH(bool, locked);
        QFETCH(QString, logLine);

        makeSession(m_x->display());
        QTRY_COMPARE_WITH_TIMEOUT(m_session->sessionPath(), kOurSession, 5000);
        QList<QPair<int, bool>> seen;
        connect(m_session.get(), &SystemSession::systemStateChanged, this,
                [&](int s) { seen << qMakePair(s, m_session->isLocked()); });
        g_capture->clear();
        emitSignal(path, interface, name, args);
        QTRY_COMPARE(seen.size(), 1);
        QCOMPARE(seen.first().first, state);
        QCOMPARE(seen.first().second, locked);
        QCOMPARE(logCount(logLine), 1);
    }

    void sleepIsDelayedUntilTheStreamsStop()
    {
        makeSession(m_x->display());
        QTRY_VERIFY_WITH_TIMEOUT(m_session->holdsSleepInhibitor(), 5000);
        const int first = m_logind->inhibitorReadEnds.size() - 1;
        QVERIFY(!m_logind->inhibitorReleased(first));

        QSignalSpy spy(m_session.get(), &SystemSession::systemStateChanged);
        emitSignal(kManagerPath, kManager, QStringLiteral("PrepareForSleep"), {true});
        QTRY_COMPARE(states(spy), QList<int>{2});
        QVERIFY(m_session->isLocked());
        QTRY_VERIFY_WITH_TIMEOUT(m_logind->inhibitorReleased(first), 5000);
        QVERIFY(!m_session->holdsSleepInhibitor());

        // Back from sleep: a new delay for the next time.
        const int callsBefore = m_logind->inhibitCalls;
        emitSignal(kManagerPath, kManager, QStringLiteral("PrepareForSleep"), {false});
        QTRY_COMPARE(states(spy), (QList<int>{2, 3}));
        QVERIFY(!m_session->isLocked());
        QTRY_VERIFY_WITH_TIMEOUT(m_session->holdsSleepInhibitor(), 5000);
        QCOMPARE(m_logind->inhibitCalls, callsBefore + 1);
    }

    void displayOffAndOnFromTheScreenSaver()
    {
        makeSession(m_x->display());
        QVERIFY(m_session->displayMonitor()->isConnected());
        QSignalSpy spy(m_session.get(), &SystemSession::systemStateChanged);
        QVERIFY(xset(m_x->display(), {QStringLiteral("s"), QStringLiteral("activate")}));
        QTRY_COMPARE_WITH_TIMEOUT(states(spy), QList<int>{5}, 5000);
        QVERIFY(m_session->isLocked());
        QCOMPARE(logCount(QStringLiteral("Display is off")), 1);
        QVERIFY(xset(m_x->display(), {QStringLiteral("s"), QStringLiteral("reset")}));
        QTRY_COMPARE_WITH_TIMEOUT(states(spy), (QList<int>{5, 6}), 5000);
        QVERIFY(!m_session->isLocked());
        QCOMPARE(logCount(QStringLiteral("Display is on")), 1);
    }

    void themeChanges_data()
    {
        QTest::addColumn<QString>("nameSpace");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("expected");
        QTest::newRow("colour scheme")
            << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme") << 1;
        QTest::newRow("accent colour")
            << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("accent-color") << 0;
        QTest::newRow("other namespace")
            << QStringLiteral("org.gnome.desktop.interface") << QStringLiteral("color-scheme") << 0;
    }

    void themeChanges()
    {
        QFETCH(QString, nameSpace);
        QFETCH(QString, key);
        QFETCH(int, expected);
        makeSession(m_x->display());
        QTRY_COMPARE_WITH_TIMEOUT(m_session->sessionPath(), kOurSession, 5000);
        QSignalSpy theme(m_session.get(), &SystemSession::systemThemeChanged);
        QSignalSpy states(m_session.get(), &SystemSession::systemStateChanged);
        emitThemeChange(nameSpace, key);
        emitSignal(kManagerPath, kManager, QStringLiteral("PrepareForSleep"), {true});
        QTRY_COMPARE(states.count(), 1);
        QCOMPARE(theme.count(), expected);
    }

    void noBusAndNoDisplay()
    {
        const QDBusConnection none = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/pivotrix-bus"), QStringLiteral("none"));
        QVERIFY(!none.isConnected());
        LinuxSystemSession session(none, none, QByteArrayLiteral(":9999"));
        QSignalSpy spy(&session, &SystemSession::systemStateChanged);
        QTest::qWait(300);
        QCOMPARE(logCount(QStringLiteral("failed to subscribe on session notifications")), 1);
        QCOMPARE(logCount(QStringLiteral("failed to subscribe on power notifications")), 1);
        QVERIFY(!session.displayMonitor()->isConnected());
        QVERIFY(!session.holdsSleepInhibitor());
        QVERIFY(!session.isLocked());
        QCOMPARE(spy.count(), 0);
        QDBusConnection::disconnectFromBus(QStringLiteral("none"));
    }
};

QTEST_GUILESS_MAIN(TestSystemSession)
#include "tst_systemsession.moc"
