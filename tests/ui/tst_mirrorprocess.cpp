// The application itself mirroring a private X screen onto an emulated panel it has paired, with a
// stand-in logind on a private bus that locks and unlocks the session.
#include "PageTestBench.h"
#include "capture/XvfbServer.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
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

// True when every pixel of the panel's frame is led by the given channel: 'r', 'g' or 'b'.
bool ledBy(const QImage& img, char channel)
{
    if (img.isNull())
        return false;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = img.pixel(x, y);
            const int r = qRed(p), g = qGreen(p), b = qBlue(p);
            const int lead = channel == 'r'   ? r - qMax(g, b)
                             : channel == 'g' ? g - qMax(r, b)
                                              : b - qMax(r, g);
            if (lead < 60)
                return false;
        }
    }
    return true;
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

    void writeSettings(const EmulatedPanel* panel, const QVariantMap& screenMirror)
    {
        const QVariantMap record =
            PageTestBench::record(panel, 1,
                                  {{QStringLiteral("stream_enabled"), true},
                                   {QStringLiteral("stream_source"), QStringLiteral("mirror")},
                                   {QStringLiteral("screen_mirror"), screenMirror}});
        const QString dir = m_home.filePath(QStringLiteral("data/PivotrixEntertainment"));
        QVERIFY(QDir().mkpath(dir));
        QFile file(dir + QStringLiteral("/settings.json"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(
            QJsonDocument(QJsonObject{{QStringLiteral("devices"),
                                       QJsonObject{{panel->id(), QJsonObject::fromVariantMap(record)}}},
                                      {QStringLiteral("run_on_start"), false}})
                .toJson());
    }

    static bool waitFor(const std::function<bool()>& condition)
    {
        return QTest::qWaitFor(condition, kWaitMs);
    }

    void lock(bool locked)
    {
        QDBusMessage message = QDBusMessage::createSignal(
            StandInLogind::sessionPath(), QStringLiteral("org.freedesktop.login1.Session"),
            locked ? QStringLiteral("Lock") : QStringLiteral("Unlock"));
        QVERIFY(QDBusConnection::connectToBus(QString::fromLatin1(PageTestBench::startBus()->address()),
                                              QStringLiteral("logind"))
                    .send(message));
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
        QTest::addColumn<bool>("rightStrip");
        QTest::newRow("Screen Season") << 0 << false;
        QTest::newRow("Dominant Season") << 1 << false;
        QTest::newRow("Continue Screen right") << 2 << true;
    }

    void panelFollowsTheScreen()
    {
        QFETCH(int, mode);
        QFETCH(bool, rightStrip);
        EmulatedPanel* panel = m_bench.startPanel();
        QVERIFY(panel);
        writeSettings(panel, {{QStringLiteral("effect_mode"), mode},
                              {QStringLiteral("device_location"), 2},
                              {QStringLiteral("color_mode"), 1}});
        // Paints the colour the panel should show; for the strip, the rest of the screen in another.
        const auto paint = [&](QColor shown, QColor elsewhere) {
            if (!rightStrip)
                return m_server.paint(block(kScreen, shown));
            return m_server.paint(block(kScreen, elsewhere)) &&
                   m_server.paint(block(QSize(kScreen.width() / 5, kScreen.height()), shown),
                                  kScreen.width() * 4 / 5, 0);
        };
        QVERIFY(paint(Qt::red, Qt::blue));

        QProcess app;
        startApp(app);
        QVERIFY2(waitFor([&] { return ledBy(panel->lastFrame(), 'r'); }), "red never reached the panel");
        QVERIFY(paint(Qt::green, Qt::red));
        QVERIFY2(waitFor([&] { return ledBy(panel->lastFrame(), 'g'); }), "green never reached the panel");

        lock(true);
        QVERIFY2(waitFor([&] { return !PageTestBench::receiving(panel); }),
                 "the lock did not stop the stream");
        const quint64 frames = PageTestBench::goodFrames(panel);
        QVERIFY(paint(Qt::blue, Qt::red));
        QTest::qWait(300);
        QCOMPARE(PageTestBench::goodFrames(panel), frames);

        lock(false);
        QVERIFY2(waitFor([&] { return ledBy(panel->lastFrame(), 'b'); }),
                 "the unlock did not resume the stream");

        app.kill();
        QVERIFY(app.waitForFinished(10000));
        m_bench.reset();
    }
};

int main(int argc, char** argv)
{
    if (!PageTestBench::startBus()->isRunning()) {
        std::fprintf(stderr, "dbus-daemon did not start\n");
        return 1;
    }
    QApplication app(argc, argv);
    TestMirrorProcess test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mirrorprocess.moc"
