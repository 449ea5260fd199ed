// The application itself mirroring a private X screen onto an emulated panel it has paired, with a
// stand-in logind on a private bus that locks and unlocks the session.
#include "PageTestBench.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <functional>

namespace {
const QSize kScreen(640, 480);
constexpr int kWaitMs = 20000;

QImage block(QSize size, QColor color)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(color);
    return img;
}

// The channel leading each column of the panel's middle row ('r', 'g', 'b', or '0' for none), left to right.
QString columns(const QImage& img)
{
    QString out;
    for (int x = 0; x < img.width(); ++x) {
        const QRgb p = img.pixel(x, img.height() / 2);
        const int r = qRed(p), g = qGreen(p), b = qBlue(p);
        out += QLatin1Char(r > qMax(g, b) + 60   ? 'r'
                           : g > qMax(r, b) + 60 ? 'g'
                           : b > qMax(r, g) + 60 ? 'b'
                                                 : '0');
    }
    return out;
}
} // namespace

class TestMirrorProcess : public QObject
{
    Q_OBJECT
private:
    XvfbServer m_server;
    PageTestBench m_bench{73};
    QTemporaryDir m_home;

    void startApp(QProcess& app)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_server.display()));
        // The window stays off the shared display; capture reads the private screen all the same.
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(QStringLiteral(APP_PATH), {QStringLiteral("--minimized")});
        QVERIFY(app.waitForStarted());
    }

    static bool waitFor(const std::function<bool()>& condition)
    {
        return QTest::qWaitFor(condition, kWaitMs);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start(kScreen));
        QVERIFY(m_bench.serveLogind());
    }

    void panelFollowsTheScreen_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("first");
        QTest::addColumn<int>("seasoning");  // -1: not stored
        QTest::addColumn<QString>("stream"); // post-process type and render mode the panel was asked for
        QTest::newRow("Screen Season") << 0 << "rrrr" << 0 << "none pixel";
        QTest::newRow("Dominant Season") << 1 << "rrrr" << -1 << "effect triangle";
        // Only the right fifth, unmirrored: its inner half green, its outer half blue.
        QTest::newRow("Continue Screen right") << 2 << "g[g0b]{2}b" << 1 << "effect pixel";
    }

    void panelFollowsTheScreen()
    {
        QFETCH(int, mode);
        QFETCH(QString, first);
        QFETCH(int, seasoning);
        QFETCH(QString, stream);
        EmulatedPanel* panel = m_bench.startPanel();
        QVERIFY(panel);
        QVariantMap choices{{QStringLiteral("effect_mode"), mode},
                            {QStringLiteral("device_location"), 2},
                            {QStringLiteral("color_mode"), 1}};
        if (seasoning >= 0)
            choices.insert(QStringLiteral("effect_type"), seasoning);
        const QString dir = m_home.filePath(QStringLiteral("data/PivotrixEntertainment"));
        QVERIFY(QDir().mkpath(dir) &&
                PageTestBench::writeSettings(
                    dir + QStringLiteral("/settings.json"),
                    {PageTestBench::record(panel, 1,
                                           {{QStringLiteral("stream_enabled"), true},
                                            {QStringLiteral("stream_source"), QStringLiteral("mirror")},
                                            {QStringLiteral("screen_mirror"), choices}})}));
        QVERIFY(m_server.paint(block(kScreen, Qt::red)));
        QVERIFY(m_server.paint(block(QSize(64, 480), Qt::green), 512, 0));
        QVERIFY(m_server.paint(block(QSize(64, 480), Qt::blue), 576, 0));
        const auto shows = [panel](const QString& want) {
            const QRegularExpression pattern(QRegularExpression::anchoredPattern(want));
            return waitFor([&] { return pattern.match(columns(panel->lastFrame())).hasMatch(); });
        };

        QProcess app;
        startApp(app);
        QVERIFY2(shows(first), qPrintable(columns(panel->lastFrame())));
        QCOMPARE(PageTestBench::streamKind(panel), stream);
        QVERIFY(m_server.paint(block(kScreen, Qt::green)));
        QVERIFY2(shows(QStringLiteral("gggg")), qPrintable(columns(panel->lastFrame())));

        QVERIFY(m_bench.sendLock(true));
        QVERIFY2(waitFor([&] { return !PageTestBench::receiving(panel); }),
                 "the lock did not stop the stream");
        QVERIFY(m_server.paint(block(kScreen, Qt::blue)));
        QVERIFY(PageTestBench::framesStopped(panel));
        QVERIFY(m_bench.sendLock(false));
        QVERIFY2(shows(QStringLiteral("bbbb")), "the unlock did not resume the stream");

        app.kill();
        QVERIFY(app.waitForFinished(10000));
        m_bench.reset();
    }
};

PAGE_TEST_MAIN(TestMirrorProcess)
#include "tst_mirrorprocess.moc"
