// The application in a Wayland session mirroring the portal's screen onto an emulated panel it has paired;
// the monitors chosen once stay chosen across a restart.
#include "emulator/EmulatedPanel.h"
#include "support/PanelFixture.h"
#include "support/ScreenCastDesktop.h"
#include "support/TestRegistry.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QSize kScreen(640, 480);
constexpr int kWaitMs = 20000;

QImage block(QSize size, QColor color)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(color);
    return img;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The channel leading the middle pixel of the panel's picture: 'r', 'g', 'b', or '0' for none.
QChar leading(const QImage& img)
{
    if (img.isNull())
        return QLatin1Char('0');
    const QRgb p = img.pixel(img.width() / 2, img.height() / 2);
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    return QLatin1Char(r > qMax(g, b) + 60   ? 'r'
                       : g > qMax(r, b) + 60 ? 'g'
                       : b > qMax(r, g) + 60 ? 'b'
                                             : '0');
}

} // namespace

class TestWaylandMirror : public QObject
{
    Q_OBJECT
private:
    ScreenCastDesktop m_desktop;
    PanelFixture m_panels{83};
    QTemporaryDir m_home;

    void startApp(QProcess& app)
    {
        QProcessEnvironment env = m_desktop.environment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(QStringLiteral(APP_PATH), {QStringLiteral("--minimized")});
        QVERIFY(app.waitForStarted());
    }

    void stopApp(QProcess& app)
    {
        app.terminate();
        if (!app.waitForFinished(10000)) {
            app.kill();
            app.waitForFinished(5000);
        }
    }

private slots:
    void initTestCase()
    {
        if (!m_desktop.start(kScreen)) {
            if (m_desktop.unavailable())
                QSKIP(qPrintable(QStringLiteral("no screen-cast portal here: ") + m_desktop.failure()));
            QFAIL(qPrintable(m_desktop.failure()));
        }
    }

    void panelFollowsTheScreen()
    {
        std::unique_ptr<EmulatedPanel> panel = m_panels.start();
        QVERIFY(panel);
        const QString dir = m_home.filePath(QStringLiteral("data/PivotrixEntertainment"));
        const QString settings = dir + QStringLiteral("/settings.json");
        QVERIFY(
            QDir().mkpath(dir) &&
            TestRegistry::writeSettings(
                settings, {TestRegistry::record(panel.get(), 1,
                                                {{QStringLiteral("stream_enabled"), true},
                                                 {QStringLiteral("stream_source"), QStringLiteral("mirror")},
                                                 {QStringLiteral("screen_mirror"),
                                                  QVariantMap{{QStringLiteral("effect_mode"), 0}}}})}));
        const auto shows = [&panel](QChar colour) {
            return QTest::qWaitFor([&] { return leading(panel->lastFrame()) == colour; }, kWaitMs);
        };
        const int before = m_desktop.choices();

        QVERIFY(m_desktop.paint(block(kScreen, Qt::red)));
        QProcess app;
        startApp(app);
        QVERIFY2(shows(QLatin1Char('r')), "the panel never showed the screen");
        QVERIFY(m_desktop.paint(block(kScreen, Qt::green)));
        QVERIFY2(shows(QLatin1Char('g')), "the panel did not follow the screen");
        QCOMPARE(m_desktop.choices(), before + 1);
        // The portal's token is kept beside the devices, which stay as they were.
        QTRY_VERIFY_WITH_TIMEOUT(readFile(settings).contains("screen_cast_restore_token"), kWaitMs);
        QVERIFY(readFile(settings).contains(panel->id().toUtf8()));
        stopApp(app);

        QVERIFY(m_desktop.paint(block(kScreen, Qt::blue)));
        startApp(app);
        QVERIFY2(shows(QLatin1Char('b')), "the panel did not show the screen after a restart");
        QCOMPARE(m_desktop.choices(), before + 1);
        stopApp(app);
    }
};

QTEST_MAIN(TestWaylandMirror)
#include "tst_waylandmirror.moc"
