#include "device/PivotrixDeviceController.h"
#include "effects/AbstractColorProvider.h"
#include "effects/ColorInterpolation.h"
#include "effects/EffectDeviceSeasoning.h"
#include "effects/EffectGeneratorFadingPixel.h"
#include "effects/RazerIndexedColorProvider.h"
#include "emulator/EmulatedPanel.h"

#include "support/TestPictures.h"
#include <QPointer>

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>
#include <thread>

Q_DECLARE_METATYPE(QList<QColor>)

using namespace TestPictures;

namespace {
constexpr int kCheckMs = 200;
constexpr int kFrameMs = 30;
constexpr int kWaitMs = 10000;

template <typename T, typename... Args> QSharedPointer<T> shared(Args&&... args)
{
    // Pages share these with deleteLater, so the last owner's release ends them on their own thread.
    return QSharedPointer<T>(new T(std::forward<Args>(args)...), &QObject::deleteLater);
}

// The panel shows red, green and blue only.
bool sameRgb(const QImage& got, const QImage& want)
{
    if (got.size() != want.size())
        return false;
    for (int y = 0; y < want.height(); ++y)
        for (int x = 0; x < want.width(); ++x)
            if (qRgb(qRed(got.pixel(x, y)), qGreen(got.pixel(x, y)), qBlue(got.pixel(x, y))) !=
                qRgb(qRed(want.pixel(x, y)), qGreen(want.pixel(x, y)), qBlue(want.pixel(x, y))))
                return false;
    return true;
}

const QList<QColor> kBroadcast{QColor(250, 20, 20), QColor(20, 250, 20), QColor(20, 20, 250),
                               QColor(240, 200, 10), QColor(255, 255, 255)};
} // namespace

class TestEffectStream : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_canvas = qstrcmp(QTest::currentTestFunction(), "largerCanvasIsPaintedWhole") == 0 ? QSize(16, 16)
                                                                                            : QSize(4, 8);
        PanelConfig config;
        config.address = QStringLiteral("127.0.40.%1").arg(++m_lastHost);
        config.id = QStringLiteral("effects-%1").arg(m_lastHost);
        config.canvas = m_canvas;
        m_panel = std::make_unique<EmulatedPanel>(config);
        QString error;
        QVERIFY2(m_panel->start(&error), qPrintable(error));
        m_device = std::make_unique<PivotrixDeviceController>(m_panel->address(), 8080, m_panel->apiKey(),
                                                              m_panel->name(), m_panel->model(),
                                                              m_panel->id(), kCheckMs, kFrameMs);
        QTRY_VERIFY_WITH_TIMEOUT(m_device->isOnline(), kWaitMs);
        QCOMPARE(m_device->canvasSize(), m_canvas);
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

    // The Razer pipeline: broadcast colours, the ticked ones picked by index, bands painted on the device
    // thread and sent to the panel every tick.
    void razerBandsReachThePanel()
    {
        auto broadcast = shared<AbstractColorProvider>();
        broadcast->updateColors(kBroadcast);
        auto indexed = shared<RazerIndexedColorProvider>(broadcast.data());
        QVERIFY(QMetaObject::invokeMethod(indexed.data(), "updateIndexes", Qt::QueuedConnection,
                                          Q_ARG(QList<int>, QList<int>({0, 3}))));
        auto generator = shared<EffectGeneratorFadingPixel>();
        generator->setColorProvider(indexed);
        generator->setAngle(directionAngle(0));
        generator->setShowFadingPixels(false);
        m_device->setEffectGenerator(generator);
        QCOMPARE(generator->thread(), m_device->controllerThread());
        m_device->startStream();
        QTRY_VERIFY_WITH_TIMEOUT(m_device->isStreaming(), kWaitMs);

        const QList<QColor> picked{kBroadcast.at(0), kBroadcast.at(3)};
        QTRY_VERIFY_WITH_TIMEOUT(sameRgb(m_panel->lastFrame(), picture(repeat(8, "aabb"), picked)), kWaitMs);

        // The direction combo turns the bands from the GUI thread while frames keep flowing.
        generator->setAngle(directionAngle(2));
        QTRY_VERIFY_WITH_TIMEOUT(
            sameRgb(m_panel->lastFrame(), picture(repeat(4, "aaaa") + repeat(4, "bbbb"), picked)), kWaitMs);
        generator->setAngle(directionAngle(4));
        QTRY_VERIFY_WITH_TIMEOUT(sameRgb(m_panel->lastFrame(), picture(repeat(8, "bbaa"), picked)), kWaitMs);

        // New broadcast colours arrive from another thread.
        const QList<QColor> next{QColor(1, 2, 3), QColor(4, 5, 6), QColor(7, 8, 9), QColor(100, 0, 200),
                                 QColor(9, 9, 9)};
        std::thread sdk([&broadcast, &next] { broadcast->updateColors(next); });
        sdk.join();
        QTRY_VERIFY_WITH_TIMEOUT(
            sameRgb(m_panel->lastFrame(), picture(repeat(8, "bbaa"), {next.at(0), next.at(3)})), kWaitMs);

        // Ticking one box leaves one colour across the whole canvas.
        QVERIFY(QMetaObject::invokeMethod(indexed.data(), "updateIndexes", Qt::QueuedConnection,
                                          Q_ARG(QList<int>, QList<int>({4}))));
        QTRY_VERIFY_WITH_TIMEOUT(sameRgb(m_panel->lastFrame(), picture(repeat(8, "aaaa"), {next.at(4)})),
                                 kWaitMs);

        // No box ticked: no frames at all, so the panel keeps the last one.
        QVERIFY(QMetaObject::invokeMethod(indexed.data(), "updateIndexes", Qt::QueuedConnection,
                                          Q_ARG(QList<int>, QList<int>())));
        QTest::qWait(5 * kFrameMs);
        const quint64 good = m_panel->statistics().snapshot().good;
        QTest::qWait(10 * kFrameMs);
        QCOMPARE(m_panel->statistics().snapshot().good, good);
        QVERIFY(sameRgb(m_panel->lastFrame(), picture(repeat(8, "aaaa"), {next.at(4)})));
        QCOMPARE(m_panel->statistics().snapshot().rejected, quint64(0));
    }

    // The screen-mirror "Dominant Season" pipeline: a provider blended over 800 ms by ColorInterpolation.
    void blendedColoursSettleOnThePanel()
    {
        auto dominant = shared<AbstractColorProvider>();
        dominant->updateColors({QColor(0, 0, 0)});
        auto blended = shared<ColorInterpolation>(dominant);
        auto generator = shared<EffectGeneratorFadingPixel>();
        generator->setColorProvider(blended);
        m_device->setEffectGenerator(generator);
        m_device->startStream();
        QTRY_VERIFY_WITH_TIMEOUT(sameRgb(m_panel->lastFrame(), picture(repeat(8, "aaaa"), {Qt::black})),
                                 kWaitMs);
        dominant->updateColors({QColor(200, 100, 40)});
        QTRY_VERIFY_WITH_TIMEOUT(
            sameRgb(m_panel->lastFrame(), picture(repeat(8, "aaaa"), {QColor(200, 100, 40)})), kWaitMs);
        dominant->updateColors({QColor(0, 60, 240)});
        QTRY_VERIFY_WITH_TIMEOUT(
            sameRgb(m_panel->lastFrame(), picture(repeat(8, "aaaa"), {QColor(0, 60, 240)})), kWaitMs);
    }

private:
    std::unique_ptr<EmulatedPanel> m_panel;
    std::unique_ptr<PivotrixDeviceController> m_device;
    QSize m_canvas{4, 8};
    int m_lastHost = 0;
};

QTEST_MAIN(TestEffectStream)
#include "tst_effectstream.moc"
