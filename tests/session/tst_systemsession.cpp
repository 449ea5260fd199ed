// The Linux session back end against a private bus with a stand-in logind, and a private X server.
#include "capture/session/linux/LinuxSystemSession.h"
#include "capture/session/linux/X11DisplayPowerMonitor.h"
#include "support/LogCapture.h"
#include "support/PrivateBus.h"
#include "support/StandInLogind.h"
#include "support/XvfbServer.h"

#include <QtDBus>
#include <QtTest>

#include <memory>

namespace {
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kOurSession = StandInLogind::ourSession();
} // namespace

class TestSystemSession : public QObject
{
    Q_OBJECT
private:
    PrivateBus m_bus;
    XvfbServer m_x;
    int m_connections = 0;
    QDBusConnection m_fake = connectNew();
    QDBusConnection m_stranger = connectNew();
    StandInLogind m_logind;
    std::unique_ptr<LinuxSystemSession> m_session;
    QString m_appConnection;
    QStringList m_seen; // each state change, "L" when the session read locked as it was signalled

    QDBusConnection connectNew()
    {
        return QDBusConnection::connectToBus(QString::fromLatin1(m_bus.address()),
                                             QStringLiteral("c%1").arg(++m_connections));
    }

    void send(const QString& path, const QString& interface, const QString& name, const QVariantList& args,
              QDBusConnection* from = nullptr)
    {
        QDBusMessage message = QDBusMessage::createSignal(path, interface, name);
        message.setArguments(args);
        QDBusConnection& bus = from ? *from : m_fake;
        QVERIFY(bus.send(message));
        // A round trip makes sure the daemon has queued the signal before anything sent after it.
        bus.interface()->isServiceRegistered(StandInLogind::service());
    }

    void sendTheme(const QString& nameSpace, const QString& key)
    {
        send(QStringLiteral("/org/freedesktop/portal/desktop"),
             QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"),
             {nameSpace, key, QVariant::fromValue(QDBusVariant(QVariant(1u)))});
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_bus.isRunning() && m_fake.isConnected(), "dbus-daemon did not start");
        QVERIFY2(m_x.start(QSize(320, 240)), "Xvfb did not start");
        QVERIFY(m_logind.registerOn(m_fake));
        QVERIFY(m_fake.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }

    void init() { qunsetenv("XDG_SESSION_ID"); }

    void cleanup()
    {
        m_session.reset();
        QDBusConnection::disconnectFromBus(m_appConnection);
    }

    // The session is this process's by its pid, else by XDG_SESSION_ID, else there is none (one log line).
    // What logind, the portal and the screen saver say, and the states the session reports for it: the
    // locked flag is set before each state is signalled; only our session's own news counts, once.
    void events_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const char* steps, const char* expected) {
            QTest::newRow(name) << QString::fromLatin1(steps) << QString::fromLatin1(expected);
        };
        row("lock then unlock", "lock unlock", "1L 4");
        row("session by XDG_SESSION_ID", "by-env lock", "1L");
        row("no session at all", "no-session lock", "");
        row("locked hint on and off", "hint-on hint-off", "1L 4");
        row("lock and its hint count once", "lock hint-on lock hint-off unlock", "1L 4");
        row("unlock while unlocked", "unlock hint-off", "");
        row("other session's lock", "other-lock", "");
        row("lock from a stranger", "stranger-lock", "");
        row("hint of the wrong type", "hint-text", "");
        row("sleep and wake", "sleep wake", "2L 3");
        row("shutdown, and one cancelled", "cancel-shutdown shutdown", "0L");
        // Only the colour scheme of the appearance settings is a theme change.
        row("other settings", "accent-color other-namespace", "");
        row("display on clears a lock", "lock sync saver-activate saver-reset", "1L 5L 6");
    }
    void events()
    {
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        LogCapture log;
        m_logind.failByPid =
            steps.startsWith(QLatin1String("by-env")) || steps.startsWith(QLatin1String("no-"));
        if (steps.startsWith(QLatin1String("by-env")))
            qputenv("XDG_SESSION_ID", "7");
        const QDBusConnection app = connectNew();
        m_appConnection = app.name();
        m_session = std::make_unique<LinuxSystemSession>(app, app, m_x.display());
        m_session->setSleepReleaseDelay(100);
        m_seen.clear();
        connect(m_session.get(), &SystemSession::systemStateChanged, this, [this](int s) {
            m_seen << QString::number(s) + QLatin1String(m_session->isLocked() ? "L" : "");
        });
        if (steps.startsWith(QLatin1String("no-session"))) {
            QTRY_COMPARE_WITH_TIMEOUT(
                log.count(QStringLiteral("failed to subscribe on session notifications")), 1, 5000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!m_session->sessionPath().isEmpty(), 5000);
            QCOMPARE(m_session->sessionPath(), m_logind.failByPid
                                                   ? QStringLiteral("/org/freedesktop/login1/session/_37")
                                                   : kOurSession);
            QCOMPARE(qint64(m_logind.lastPid), QCoreApplication::applicationPid());
        }
        const QString ours = m_session->sessionPath().isEmpty() ? kOurSession : m_session->sessionPath();
        QSignalSpy theme(m_session.get(), &SystemSession::systemThemeChanged);
        const QString appearance = QStringLiteral("org.freedesktop.appearance");
        const QString scheme = QStringLiteral("color-scheme");
        int syncs = 0;
        for (const QString& step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const int before = m_seen.size();
            if (step == QLatin1String("sync")) {
                // Everything sent so far has arrived once the theme change behind it has.
                sendTheme(appearance, scheme);
                ++syncs;
                QTRY_COMPARE(theme.count(), syncs);
            } else if (step == QLatin1String("lock") || step == QLatin1String("unlock")) {
                send(ours, kSession,
                     step == QLatin1String("lock") ? QStringLiteral("Lock") : QStringLiteral("Unlock"), {});
            } else if (step.startsWith(QLatin1String("hint-"))) {
                const QVariant hint = step == QLatin1String("hint-on")    ? QVariant(true)
                                      : step == QLatin1String("hint-off") ? QVariant(false)
                                                                          : QVariant(QStringLiteral("yes"));
                send(kOurSession, QStringLiteral("org.freedesktop.DBus.Properties"),
                     QStringLiteral("PropertiesChanged"),
                     {kSession, QVariantMap{{QStringLiteral("LockedHint"), hint}}, QStringList()});
            } else if (step == QLatin1String("other-lock")) {
                send(QStringLiteral("/org/freedesktop/login1/session/c2"), kSession, QStringLiteral("Lock"),
                     {});
            } else if (step == QLatin1String("stranger-lock")) {
                send(ours, kSession, QStringLiteral("Lock"), {}, &m_stranger);
            } else if (step == QLatin1String("sleep") || step == QLatin1String("wake")) {
                // Sleep waits for the session's delay, released once the streams stopped; waking takes a new
                // one.
                const bool sleep = step == QLatin1String("sleep");
                QTRY_VERIFY_WITH_TIMEOUT(m_session->holdsSleepInhibitor() == sleep, 5000);
                const int last = m_logind.inhibitorReadEnds.size() - 1, calls = m_logind.inhibitCalls;
                send(StandInLogind::managerPath(), kManager, QStringLiteral("PrepareForSleep"), {sleep});
                QTRY_VERIFY_WITH_TIMEOUT(
                    sleep ? m_logind.inhibitorReleased(last) && !m_session->holdsSleepInhibitor()
                          : m_session->holdsSleepInhibitor() && m_logind.inhibitCalls == calls + 1,
                    5000);
            } else if (step.endsWith(QLatin1String("shutdown"))) {
                send(StandInLogind::managerPath(), kManager, QStringLiteral("PrepareForShutdown"),
                     {!step.startsWith(QLatin1String("cancel"))});
            } else if (step == QLatin1String("accent-color")) {
                sendTheme(appearance, step);
            } else if (step == QLatin1String("other-namespace")) {
                sendTheme(QStringLiteral("org.gnome.desktop.interface"), scheme);
            } else if (step.startsWith(QLatin1String("saver"))) {
                QProcess xset;
                // "saver-activate" or "saver-reset": the screen saver as xset turns it on or off.
                xset.start(QStringLiteral("xset"),
                           {QStringLiteral("-display"), QString::fromLatin1(m_x.display()),
                            QStringLiteral("s"), step.mid(6)});
                QVERIFY(xset.waitForFinished(5000) && xset.exitCode() == 0);
                QTRY_COMPARE_WITH_TIMEOUT(m_seen.size(), before + 1, 5000);
            }
        }
        // A theme change marks the end of everything sent above.
        sendTheme(appearance, scheme);
        QTRY_COMPARE(theme.count(), syncs + 1);
        QCOMPARE(m_seen.join(QLatin1Char(' ')), expected);
    }

    void noBusAndNoDisplay()
    {
        LogCapture log;
        const QDBusConnection none = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/pivotrix-bus"), QStringLiteral("none"));
        QVERIFY(!none.isConnected());
        LinuxSystemSession session(none, none, QByteArrayLiteral(":9999"));
        QSignalSpy spy(&session, &SystemSession::systemStateChanged);
        QTest::qWait(300);
        QCOMPARE(log.count(QStringLiteral("failed to subscribe on session notifications")), 1);
        QCOMPARE(log.count(QStringLiteral("failed to subscribe on power notifications")), 1);
        QVERIFY(!session.displayMonitor()->isConnected() && !session.holdsSleepInhibitor() &&
                !session.isLocked());
        QCOMPARE(spy.count(), 0);
        QDBusConnection::disconnectFromBus(QStringLiteral("none"));
    }
};

QTEST_GUILESS_MAIN(TestSystemSession)
#include "tst_systemsession.moc"
