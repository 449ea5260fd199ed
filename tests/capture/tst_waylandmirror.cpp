// The application in a Wayland session mirroring the portal's screen onto an emulated panel it has paired;
// the monitors chosen once stay chosen across a restart.
#include "emulator/EmulatedPanel.h"
#include "support/PanelFixture.h"
#include "support/ScreenCastDesktop.h"
#include "support/TestPictures.h"
#include "support/TestRegistry.h"

#include <QDir>
#include <QtTest>

namespace {

const QSize kScreen(640, 480);
constexpr int kWaitMs = 20000;

// Whether the middle of the panel's picture is clearly led by the one channel of primary (pure red, green
// or blue).
bool shows(const EmulatedPanel& panel, QRgb primary)
{
    const QImage img = panel.lastFrame();
    const QRgb p = img.isNull() ? 0 : img.pixel(img.width() / 2, img.height() / 2);
    const int lead = (qRed(p) & qRed(primary)) + (qGreen(p) & qGreen(primary)) + (qBlue(p) & qBlue(primary));
    return lead > qRed(p) + qGreen(p) + qBlue(p) - lead + 60;
}

} // namespace

class TestWaylandMirror : public QObject
{
    Q_OBJECT
    ScreenCastDesktop m_desktop;
    PanelFixture m_panels{83};

private slots:
    void initTestCase()
    {
        if (!ScreenCastDesktop::missing().isEmpty())
            QSKIP(qPrintable(ScreenCastDesktop::missing() + QStringLiteral(" is not installed")));
        QCOMPARE(m_desktop.start(kScreen), QString());
        // The application finds the desktop, and no display, in this process's environment.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    void panelFollowsTheScreen()
    {
        std::unique_ptr<EmulatedPanel> panel = m_panels.start();
        QVERIFY(panel);
        const QString settings =
            m_desktop.home().filePath(QStringLiteral("data/PivotrixEntertainment/settings.json"));
        const QVariantMap mirror{
            {QStringLiteral("stream_enabled"), true},
            {QStringLiteral("stream_source"), QStringLiteral("mirror")},
            {QStringLiteral("screen_mirror"), QVariantMap{{QStringLiteral("effect_mode"), 0}}}};
        QVERIFY(QDir().mkpath(QFileInfo(settings).path()));
        QVERIFY(TestRegistry::writeSettings(settings, {TestRegistry::record(panel.get(), 1, mirror)}));
        const int before = m_desktop.choices();

        QVERIFY(m_desktop.paint(TestPictures::solid(kScreen, qRgb(255, 0, 0))));
        QProcess app;
        m_desktop.home().start(app, QStringLiteral(APP_PATH), {QStringLiteral("--minimized")},
                               m_desktop.home().environment());
        QTRY_VERIFY2_WITH_TIMEOUT(shows(*panel, qRgb(255, 0, 0)), "the panel never showed the screen",
                                  kWaitMs);
        QVERIFY(m_desktop.paint(TestPictures::solid(kScreen, qRgb(0, 255, 0))));
        QTRY_VERIFY2_WITH_TIMEOUT(shows(*panel, qRgb(0, 255, 0)), "the panel did not follow the screen",
                                  kWaitMs);
        QCOMPARE(m_desktop.choices(), before + 1);
        // The portal's token is kept beside the devices, which stay as they were.
        const auto saved = [&settings] {
            QFile file(settings);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_VERIFY_WITH_TIMEOUT(saved().contains("screen_cast_restore_token"), kWaitMs);
        QVERIFY(saved().contains(panel->id().toUtf8()));
        app.terminate();
        QVERIFY(app.waitForFinished(10000));

        QVERIFY(m_desktop.paint(TestPictures::solid(kScreen, qRgb(0, 0, 255))));
        m_desktop.home().start(app, QStringLiteral(APP_PATH), {QStringLiteral("--minimized")},
                               m_desktop.home().environment());
        QTRY_VERIFY2_WITH_TIMEOUT(shows(*panel, qRgb(0, 0, 255)),
                                  "the panel did not show the screen after a restart", kWaitMs);
        QCOMPARE(m_desktop.choices(), before + 1);
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
    }
};

QTEST_MAIN(TestWaylandMirror)
#include "tst_waylandmirror.moc"
