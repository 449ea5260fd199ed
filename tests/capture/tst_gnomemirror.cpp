// The application mirroring a real GNOME desktop (headless mutter 43 with two virtual monitors, its portal
// and share dialog, software rendering) onto an emulated panel it has paired. The user answers the dialog
// over the accessibility bus; the pictures are shown by a client window on each monitor.
#include "capture/ScreenGrabberImp.h"
#include "emulator/EmulatedPanel.h"
#include "support/GnomeDesktop.h"
#include "support/PanelFixture.h"
#include "support/TestPictures.h"
#include "support/TestRegistry.h"

#include <QDir>
#include <QJsonDocument>
#include <QtTest>

namespace {

// Monitor 2 can take scale 2: mutter keeps a logical monitor at 800x480 or more.
const QList<QSize> kMonitors{{1280, 720}, {1600, 1200}};
constexpr int kWaitMs = 20000;
// Largest difference of a channel between the panel's quarters and the screen's, each averaged whole. The
// panel's picture is the screen's blurred across its few pixels, so colours run over into the next quarter.
constexpr int kTolerance = 20;

// Four quarters, one colour each, row by row from the top left.
QImage quarters(const QSize& size, const QList<QColor>& colors)
{
    return TestPictures::picture({QStringLiteral("ab"), QStringLiteral("cd")}, colors).scaled(size);
}

const QImage kPictures[] = {quarters(kMonitors[0], {Qt::red, Qt::green, Qt::blue, Qt::yellow}),
                            quarters(kMonitors[1], {Qt::cyan, Qt::magenta, Qt::white, Qt::darkGray})};

} // namespace

class TestGnomeMirror : public QObject
{
    Q_OBJECT
    GnomeDesktop m_desktop;
    PanelFixture m_panels{84};
    std::unique_ptr<EmulatedPanel> m_panel;
    QProcess m_app;

    QString settingsFile() const
    {
        return m_desktop.home().filePath(QStringLiteral("data/PivotrixEntertainment/settings.json"));
    }

    QVariantMap settings() const
    {
        QFile file(settingsFile());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).toVariant().toMap()
                                              : QVariantMap();
    }

    QString token() const { return settings().value(QStringLiteral("screen_cast_restore_token")).toString(); }

    // Starts the application with the panel mirroring monitor (1 = the first), with the desktop's token or
    // without.
    bool startApp(int monitor, const QString& restoreToken)
    {
        const QVariantMap mirror{
            {QStringLiteral("stream_enabled"), true},
            {QStringLiteral("stream_source"), QStringLiteral("mirror")},
            {QStringLiteral("screen_mirror"),
             QVariantMap{{QStringLiteral("monitor_idx"), monitor - 1}, {QStringLiteral("color_mode"), 1}}}};
        const QVariantMap top{{QStringLiteral("screen_cast_restore_token"), restoreToken}};
        if (!QDir().mkpath(QFileInfo(settingsFile()).path()) ||
            !TestRegistry::writeSettings(settingsFile(), {TestRegistry::record(m_panel.get(), 1, mirror)},
                                         top))
            return false;
        m_desktop.home().start(m_app, QStringLiteral(APP_PATH), {QStringLiteral("--minimized")},
                               m_desktop.home().environment());
        return m_app.state() == QProcess::Running;
    }

    // What the application's runs logged.
    QByteArray log() const
    {
        QFile file(m_desktop.home().filePath(
            QStringLiteral("data/PivotrixEntertainment/PivotrixEntertainment.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QByteArray stopApp()
    {
        m_app.terminate();
        m_app.waitForFinished(10000);
        return log();
    }

    // Switches the panel's stream on or off through the running application's command line.
    bool stream(bool on)
    {
        QProcess cli;
        m_desktop.home().start(cli, QStringLiteral(APP_PATH),
                               {QStringLiteral("--stream"), QLatin1String(on ? "on" : "off"), m_panel->id()},
                               m_desktop.home().environment());
        return cli.waitForFinished(10000) && cli.exitCode() == 0;
    }

    bool receiving() const { return m_panel->stream().status == QLatin1String("receiving"); }

    // Largest difference of a channel between the panel's picture and screen in the four corner blocks of a
    // 4x4 grid, each averaged whole: the middle of each quarter, away from where the panel's blur mixes them.
    int difference(const QImage& screen) const
    {
        const QImage panel = m_panel->lastFrame();
        if (panel.isNull())
            return 256;
        const QImage got = panel.scaled(4, 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage want = screen.scaled(4, 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        int worst = 0;
        for (const QPoint& p : {QPoint(0, 0), QPoint(3, 0), QPoint(0, 3), QPoint(3, 3)}) {
            const QRgb a = got.pixel(p);
            const QRgb b = want.pixel(p);
            worst = std::max(
                {worst, qAbs(qRed(a) - qRed(b)), qAbs(qGreen(a) - qGreen(b)), qAbs(qBlue(a) - qBlue(b))});
        }
        return worst;
    }

    // Waits until frames that come from now on show screen on the panel; share dialogs on the way are
    // answered with Share and counted.
    bool shows(const QImage& screen, int* dialogs)
    {
        const quint64 before = m_panel->statistics().snapshot().good;
        return QTest::qWaitFor(
            [&] {
                if (m_desktop.command(QStringLiteral("dialogs")) != "0" &&
                    m_desktop.command(QStringLiteral("answer share")) == "ok")
                    ++*dialogs;
                return m_panel->statistics().snapshot().good > before && difference(screen) <= kTolerance;
            },
            kWaitMs);
    }

    QVariant record(const char* key) const
    {
        return settings()
            .value(QStringLiteral("devices"))
            .toMap()
            .value(m_panel->id())
            .toMap()
            .value(QLatin1String(key));
    }

private slots:
    void initTestCase()
    {
        if (!GnomeDesktop::missing().isEmpty())
            QSKIP(qPrintable(GnomeDesktop::missing() + QStringLiteral(" is not installed")));
        QCOMPARE(m_desktop.start(kMonitors), QString());
        // The application finds the desktop, and no display, in this process's environment.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        m_panel = m_panels.start();
        QVERIFY(m_panel);
    }

    // Every case starts with the monitors side by side, unscaled, each showing its picture.
    void init()
    {
        QCOMPARE(m_desktop.command(QStringLiteral("scale 1 1")), QByteArray("ok"));
        for (int monitor = 1; monitor <= 2; ++monitor)
            QVERIFY(m_desktop.paint(kPictures[monitor - 1], monitor));
    }

    void cleanup() { stopApp(); }

    void mirrorsTheChosenMonitor_data()
    {
        QTest::addColumn<int>("monitor");
        QTest::addColumn<double>("scale");
        QTest::addColumn<bool>("firstShare");
        QTest::addRow("first share") << 1 << 1.0 << true;
        QTest::addRow("monitor 2") << 2 << 1.0 << false;
        QTest::addRow("monitor 2 at scale 2") << 2 << 2.0 << false;
    }

    // The first share goes through the dialog and its token into the settings; later starts share without
    // asking. The portal's order of the monitors varies between sessions, "Monitor 2" does not. A scaled
    // monitor is mirrored whole, from the buffer of its full resolution.
    void mirrorsTheChosenMonitor()
    {
        QFETCH(int, monitor);
        QFETCH(double, scale);
        QFETCH(bool, firstShare);
        QCOMPARE(m_desktop.command(QStringLiteral("scale 1 %1").arg(scale)), QByteArray("ok"));
        for (int run = 0; run < 2; ++run) {
            const bool asks = (firstShare && run == 0) || token().isEmpty();
            QVERIFY(startApp(monitor, asks ? QString() : token()));
            int dialogs = 0;
            QVERIFY2(shows(kPictures[monitor - 1], &dialogs), "the panel never showed the monitor");
            QCOMPARE(dialogs, int(asks));
            QTRY_VERIFY_WITH_TIMEOUT(!token().isEmpty(), kWaitMs);
            const QByteArray log = stopApp();
            QVERIFY(log.contains("\"Monitor 1\" QRect(0,0 1280x720)"));
            QVERIFY(log.contains(QStringLiteral("\"Monitor 2\" QRect(1280,0 %1x%2)")
                                     .arg(1600 / scale)
                                     .arg(1200 / scale)
                                     .toUtf8()));
        }
    }

    void sharingEnds_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addRow("stop sharing") << QStringLiteral("stop");
        QTest::addRow("no in the dialog") << QStringLiteral("no");
        QTest::addRow("switched off here") << QStringLiteral("off");
    }

    // The desktop's "Stop sharing" and a "no" in its dialog switch the mirroring panel off, and nothing asks
    // or shares again until it is switched on anew; each time. The compositor's session lasts only while a
    // panel mirrors, and switching one on again needs no dialog. mutter ends a session itself when a shared
    // monitor changes its layout, the way the shell's "Stop sharing" ends it, and that is how the desktop
    // stops here.
    void sharingEnds()
    {
        QFETCH(QString, how);
        QVERIFY(startApp(1, how == QLatin1String("no") ? QString() : token()));
        for (int round = 0; round < 2; ++round) {
            if (how == QLatin1String("no")) {
                QCOMPARE(m_desktop.command(QStringLiteral("answer cancel")), QByteArray("ok"));
            } else {
                int dialogs = 0;
                QVERIFY(shows(kPictures[0], &dialogs));
                QCOMPARE(m_desktop.command(QStringLiteral("sessions")), QByteArray("1"));
                if (how == QLatin1String("off"))
                    QVERIFY(stream(false));
                else
                    QCOMPARE(m_desktop.command(QStringLiteral("scale 1.25 1")), QByteArray("ok"));
            }
            QTRY_VERIFY_WITH_TIMEOUT(!receiving() && !record("stream_enabled").toBool(), kWaitMs);
            QTRY_COMPARE(m_desktop.command(QStringLiteral("sessions")), QByteArray("0"));
            // Longer than the back end waits before it tries again.
            if (round == 0)
                QTest::qWait(ScreenGrabberImp::DefaultReinitDelayMs + 500);
            QVERIFY(!receiving());
            QCOMPARE(m_desktop.command(QStringLiteral("dialogs")), QByteArray("0"));
            QCOMPARE(m_desktop.command(QStringLiteral("scale 1 1")), QByteArray("ok"));
            QVERIFY(stream(true));
        }
    }

    // A compositor that goes away mid-stream takes the picture along; a new one is mirrored again, with its
    // dialog once if the old token no longer holds.
    void newCompositor()
    {
        QVERIFY(startApp(1, token()));
        int dialogs = 0;
        QVERIFY(shows(kPictures[0], &dialogs));
        const int lost = log().count("screen cast lost");
        m_desktop.kill(ScreenCastDesktop::Part::Backend);
        QTRY_VERIFY_WITH_TIMEOUT(log().count("screen cast lost") > lost, kWaitMs);
        QCOMPARE(m_desktop.revive(), QString());
        init();
        QVERIFY(m_desktop.paint(kPictures[1].scaled(kMonitors[0]), 1));
        dialogs = 0;
        QVERIFY2(shows(kPictures[1].scaled(kMonitors[0]), &dialogs), "the mirror did not come back");
        QVERIFY(dialogs <= 1);
    }
};

QTEST_MAIN(TestGnomeMirror)
#include "tst_gnomemirror.moc"
