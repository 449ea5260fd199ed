#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "capture/GrabManager.h"
#include "device/PivotrixDeviceController.h"
#include "effects/EffectScaledImageWithBlur.h"
#include "effects/ScreenMapColorProvider.h"
#include "effects/ScreenMirrorModes.h"
#include "effects/ScreenMirrorPipeline.h"
#include "emulator/EmulatedPanel.h"

#include "capture/XvfbServer.h"

#include <QPointer>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>

namespace {
constexpr int kWaitMs = 15000;
const QSize kScreen(1920, 1080);

QImage block(QSize size, QColor color)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(color);
    return img;
}

// Which of red, green and blue clearly leads in a pixel of the panel's frame; 0 when none does.
char leading(QRgb p)
{
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    if (r > g + 60 && r > b + 60)
        return 'r';
    if (g > r + 60 && g > b + 60)
        return 'g';
    if (b > r + 60 && b > g + 60)
        return 'b';
    return '0';
}

// The leading channel of each column of the middle row, left to right.
QString columns(const QImage& img)
{
    QString out;
    for (int x = 0; x < img.width(); ++x)
        out += QLatin1Char(leading(img.pixel(x, img.height() / 2)));
    return out;
}

QSet<char> leadingChannels(const QImage& img)
{
    QSet<char> found;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            found.insert(leading(img.pixel(x, y)));
    return found;
}
} // namespace

class TestScreenMirrorStream : public QObject
{
    Q_OBJECT
private:
    XvfbServer m_server;
    std::unique_ptr<GrabManager> m_grab;
    std::unique_ptr<EmulatedPanel> m_panel;
    std::unique_ptr<PivotrixDeviceController> m_device;
    int m_lastHost = 0;

    bool panelShows(const std::function<bool(const QImage&)>& check)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kWaitMs) {
            const QImage img = m_panel->lastFrame();
            if (!img.isNull() && check(img))
                return true;
            QTest::qWait(20);
        }
        qWarning() << "panel shows" << columns(m_panel->lastFrame());
        return false;
    }

    void stream(ScreenMirrorPipeline& pipeline, const ScreenMirrorSettings& settings)
    {
        pipeline.rebuild(settings);
        m_device->setEffectGenerator(pipeline.generator());
        m_device->startStream();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start(kScreen));
        qputenv("DISPLAY", m_server.display());
        m_grab = std::make_unique<GrabManager>();
        m_grab->init();
        m_grab->start();
        QTRY_COMPARE_WITH_TIMEOUT(m_grab->screens().size(), 1, kWaitMs);
    }

    void init()
    {
        PanelConfig config;
        config.address = QStringLiteral("127.0.71.%1").arg(++m_lastHost);
        config.id = QStringLiteral("mirror-%1").arg(m_lastHost);
        config.canvas = QSize(4, 8);
        m_panel = std::make_unique<EmulatedPanel>(config);
        QString error;
        QVERIFY2(m_panel->start(&error), qPrintable(error));
        m_device = std::make_unique<PivotrixDeviceController>(m_panel->address(), 8080, m_panel->apiKey(),
                                                              m_panel->name(), m_panel->model(),
                                                              m_panel->id(), 200, 30);
        QTRY_VERIFY_WITH_TIMEOUT(m_device->isOnline(), kWaitMs);
    }

    void cleanup()
    {
        if (m_device) {
            m_device->stopStream();
            QPointer<QThread> thread = m_device->controllerThread();
            m_device.reset();
            QTRY_VERIFY_WITH_TIMEOUT(thread.isNull(), kWaitMs);
        }
        m_panel.reset();
    }

    void cleanupTestCase() { m_grab.reset(); }

    void continueScreenRightShowsTheRightStripUnmirrored()
    {
        // Red everywhere but the right fifth: its inner half green, its outer half blue.
        QVERIFY(m_server.paint(block(QSize(1536, 1080), Qt::red), 0, 0));
        QVERIFY(m_server.paint(block(QSize(192, 1080), Qt::green), 1536, 0));
        QVERIFY(m_server.paint(block(QSize(192, 1080), Qt::blue), 1728, 0));

        ScreenMirrorPipeline pipeline(m_grab.get());
        ScreenMirrorSettings settings;
        settings.mode = ContinueScreen;
        settings.location = LocationRight;
        settings.colorMode = ColorNatural;
        stream(pipeline, settings);
        QVERIFY(panelShows([](const QImage& img) {
            const QString cols = columns(img);
            return cols.startsWith(QLatin1Char('g')) && cols.endsWith(QLatin1Char('b')) &&
                   !leadingChannels(img).contains('r');
        }));
    }

    void screenSeasonFollowsTheScreen_data()
    {
        QTest::addColumn<QColor>("color");
        QTest::addColumn<int>("colorMode");
        QTest::newRow("green natural") << QColor(0, 200, 0) << int(ColorNatural);
        QTest::newRow("blue boosted") << QColor(0, 0, 120) << int(ColorBoosted);
        QTest::newRow("red natural") << QColor(220, 0, 0) << int(ColorNatural);
    }

    void screenSeasonFollowsTheScreen()
    {
        QFETCH(QColor, color);
        QFETCH(int, colorMode);
        QVERIFY(m_server.paint(block(kScreen, Qt::black)));
        ScreenMirrorPipeline pipeline(m_grab.get());
        ScreenMirrorSettings settings;
        settings.mode = ScreenSeason;
        settings.colorMode = colorMode;
        stream(pipeline, settings);
        QVERIFY(panelShows([](const QImage& img) { return leadingChannels(img) == QSet<char>{'0'}; }));

        QVERIFY(m_server.paint(block(kScreen, color)));
        const int want =
            colorMode == ColorBoosted
                ? int(QEasingCurve(QEasingCurve::OutCirc).valueForProgress(color.valueF()) * 255.0)
                : color.value();
        QVERIFY(panelShows([&](const QImage& img) {
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x) {
                    const QColor got = img.pixelColor(x, y);
                    // The blur's fixed-point passes lose a few steps of brightness.
                    if (qAbs(got.value() - want) > 6 || qAbs(got.hue() - color.hue()) > 2)
                        return false;
                }
            return true;
        }));
    }

    void dominantSeasonTakesTheDominantColour()
    {
        // Mostly yellow, a dark stripe that is ignored and a smaller magenta area.
        QVERIFY(m_server.paint(block(kScreen, QColor(230, 220, 0))));
        QVERIFY(m_server.paint(block(QSize(1920, 200), QColor(10, 10, 10)), 0, 0));
        QVERIFY(m_server.paint(block(QSize(600, 400), QColor(200, 0, 200)), 0, 600));

        ScreenMirrorPipeline pipeline(m_grab.get());
        ScreenMirrorSettings settings;
        settings.mode = DominantSeason;
        settings.colorMode = ColorNatural;
        stream(pipeline, settings);
        QVERIFY(panelShows([](const QImage& img) {
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    if (img.pixel(x, y) != qRgb(230, 220, 0))
                        return false;
            return true;
        }));
    }

    void onlyTheCurrentPipelinesProcessorsStayRegistered()
    {
        ScreenMirrorPipeline pipeline(m_grab.get());
        QList<QWeakPointer<FrameProcessorBase>> earlier;
        const auto current = [&pipeline]() {
            QList<QSharedPointer<FrameProcessorBase>> procs;
            if (auto* blur = qobject_cast<EffectScaledImageWithBlur*>(pipeline.generator().data()))
                procs << blur->processor();
            if (pipeline.colorSource())
                procs << pipeline.colorSource()->processor();
            return procs;
        };
        const QList<QPair<int, int>> steps{{DominantSeason, ColorBoosted},
                                           {DominantSeason, ColorNatural},
                                           {ScreenSeason, ColorNatural},
                                           {ContinueScreen, ColorBoosted},
                                           {DominantSeason, ColorBoosted},
                                           {ScreenSeason, ColorBoosted},
                                           {9, ColorBoosted}};
        for (const auto& step : steps) {
            ScreenMirrorSettings settings;
            settings.mode = step.first;
            settings.colorMode = step.second;
            pipeline.rebuild(settings);
            const auto procs = current();
            QCOMPARE(procs.size(), step.first == 9 ? 0 : 1);
            if (auto* blur = qobject_cast<EffectScaledImageWithBlur*>(pipeline.generator().data())) {
                blur->resize(QSize(4, 8));
                QTRY_VERIFY_WITH_TIMEOUT(!blur->processor()->scaledFrame().isNull(), kWaitMs);
            } else if (pipeline.colorSource()) {
                QTRY_COMPARE_WITH_TIMEOUT(pipeline.colorSource()->processor()->colors().size(), 1, kWaitMs);
            }
            // Every processor of an earlier pipeline has left the capture worker, which held the last
            // reference.
            QTRY_VERIFY_WITH_TIMEOUT(
                std::all_of(earlier.cbegin(), earlier.cend(),
                            [](const QWeakPointer<FrameProcessorBase>& w) { return w.isNull(); }),
                kWaitMs);
            for (const auto& p : procs)
                earlier << p.toWeakRef();
        }
        pipeline.tearDown();
        QVERIFY(!pipeline.generator() && !pipeline.colorSource() && !pipeline.interpolation());
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(earlier.cbegin(), earlier.cend(),
                        [](const QWeakPointer<FrameProcessorBase>& w) { return w.isNull(); }),
            kWaitMs);
    }
};

QTEST_GUILESS_MAIN(TestScreenMirrorStream)
#include "tst_screenmirrorstream.moc"
