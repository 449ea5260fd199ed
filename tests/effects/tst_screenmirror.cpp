#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "device/PivotrixController.h"
#include "effects/BlurImage.h"
#include "effects/EffectScaledImageWithBlur.h"
#include "effects/ScreenMapColorProvider.h"
#include "effects/ScreenMirrorModes.h"

#include "support/LogCapture.h"

#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

namespace {
QImage filled(QSize size, QColor color)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(color);
    return img;
}

// The canvas of one frame for `canvas` after the capture delivered `frame`; null when none was emitted.
QImage paintOnce(EffectScaledImageWithBlur& effect, QSize canvas, const QImage& frame,
                 int colorMode = ColorNatural)
{
    effect.setValueCurve(colorModeCurve(colorMode, QEasingCurve(QEasingCurve::OutCirc)));
    effect.resize(canvas);
    if (!frame.isNull())
        effect.processor()->processFrame(frame);
    QSignalSpy spy(&effect, &EffectGenerator::canvasUpdated);
    effect.update();
    return spy.isEmpty() ? QImage() : spy.first().first().value<QImage>();
}
} // namespace

class TestScreenMirror : public QObject
{
    Q_OBJECT
private slots:
    // Natural keeps the blurred value, Boosted maps it through the out-circle curve; hue and saturation stay.
    void toneMapping_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QColor>("screen");
        QTest::newRow("natural colour") << int(ColorNatural) << QColor(200, 100, 50);
        QTest::newRow("boosted colour") << int(ColorBoosted) << QColor(200, 100, 50);
        QTest::newRow("boosted black") << int(ColorBoosted) << QColor(0, 0, 0);
        QTest::newRow("boosted white") << int(ColorBoosted) << QColor(255, 255, 255);
        QTest::newRow("unknown mode keeps boosted") << 7 << QColor(64, 32, 16);
    }
    void toneMapping()
    {
        QFETCH(int, mode);
        QFETCH(QColor, screen);
        // The blur alone, which loses a few steps in its fixed-point passes.
        QImage blurred(4, 8, QImage::Format_ARGB32);
        blurred.fill(Qt::black);
        QImage frame = filled(QSize(5, 9), screen);
        QPainter painter(&blurred);
        qt_blurImage(&painter, frame, 2.0, true, false);
        painter.end();

        EffectScaledImageWithBlur effect;
        const QImage canvas = paintOnce(effect, QSize(4, 8), filled(QSize(120, 67), screen), mode);
        QCOMPARE(canvas.size(), QSize(4, 8));
        for (int i = 0; i < 32; ++i) {
            const QColor got = canvas.pixelColor(i % 4, i / 4), ref = blurred.pixelColor(i % 4, i / 4);
            const double b = ref.value() / 255.0;
            const int want =
                mode == ColorNatural ? ref.value() : int(std::sqrt(1.0 - (b - 1) * (b - 1)) * 255.0);
            QCOMPARE(got.alpha(), 255);
            QVERIFY2(qAbs(got.value() - want) <= 1,
                     qPrintable(QStringLiteral("%1 %2").arg(got.value()).arg(want)));
            QVERIFY(qAbs(got.hsvHue() - ref.hsvHue()) <= 2 &&
                    qAbs(got.hsvSaturation() - ref.hsvSaturation()) <= 2);
        }
    }

    void tinyCanvasIsBlurredWithoutHalving()
    {
        // Halving would average the four pixels into a dark blue; the unhalved blur keeps the corner's red.
        QImage frame = filled(QSize(2, 2), QColor(0, 0, 255));
        frame.setPixelColor(0, 0, QColor(255, 0, 0));
        EffectScaledImageWithBlur effect;
        const QColor got = paintOnce(effect, QSize(1, 1), frame).pixelColor(0, 0);
        QVERIFY2(got.red() > got.blue(), qPrintable(got.name()));
    }

    void missingFrameOrCanvasIsSkipped()
    {
        LogCapture log;
        EffectScaledImageWithBlur effect;
        QVERIFY(paintOnce(effect, QSize(4, 4), QImage()).isNull()); // No frame captured yet.
        QVERIFY(paintOnce(effect, QSize(0, 5), filled(QSize(8, 8), Qt::white)).isNull());
        QCOMPARE(log.count(QStringLiteral("skip frame")), 2);
    }

    void canvasOutsideAnOldFrameIsBlack()
    {
        EffectScaledImageWithBlur effect;
        QVERIFY(!paintOnce(effect, QSize(2, 2), filled(QSize(64, 64), Qt::white)).isNull());
        // The panel grew before the capture scaled a frame for it.
        const QImage canvas = paintOnce(effect, QSize(16, 16), QImage());
        QVERIFY(canvas.pixelColor(0, 0).value() > 100);
        for (int i = 0; i < 144; ++i)
            QCOMPARE(canvas.pixel(4 + i % 12, 4 + i / 12), qRgb(0, 0, 0));
    }

    void colorMap_data()
    {
        QTest::addColumn<int>("curve");
        QTest::addColumn<QColor>("screen");
        QTest::newRow("linear") << int(QEasingCurve::Linear) << QColor(71, 3, 250);
        QTest::newRow("boosted colour") << int(QEasingCurve::OutCirc) << QColor(100, 50, 25);
        QTest::newRow("boosted grey") << int(QEasingCurve::OutCirc) << QColor(90, 90, 90);
    }
    void colorMap()
    {
        QFETCH(int, curve);
        QFETCH(QColor, screen);
        ScreenMapColorProvider provider;
        QVERIFY(provider.colors().isEmpty());
        provider.processor()->setRects({QRectF(0, 0, 1, 1)});
        provider.processor()->processFrame(filled(QSize(30, 30), screen));
        const QColor found = provider.processor()->colors().value(0);
        provider.setValueCurve(QEasingCurve(QEasingCurve::Type(curve)));
        const QList<QColor> mapped = provider.colors();
        QCOMPARE(mapped.size(), 1);
        if (curve == QEasingCurve::Linear) {
            QCOMPARE(mapped.first(), found);
            return;
        }
        const QColor got = mapped.first();
        QVERIFY(qAbs(got.valueF() - QEasingCurve(QEasingCurve::OutCirc).valueForProgress(found.valueF())) <
                0.002);
        QVERIFY(got.valueF() > found.valueF());
        QCOMPARE(got.hsvHue(), found.hsvHue());
        QVERIFY(qAbs(got.hsvSaturationF() - found.hsvSaturationF()) < 0.002);
        QCOMPARE(got.alphaF(), 1.0);
    }

    // The device link sends the colour a canvas means, whatever its pixel format.
    void canvasBytesReachThePanelUnaltered_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("translucent") << int(QImage::Format_ARGB32);
        QTest::newRow("premultiplied translucent") << int(QImage::Format_ARGB32_Premultiplied);
    }
    void canvasBytesReachThePanelUnaltered()
    {
        QFETCH(int, format);
        QImage canvas(1, 1, QImage::Format(format));
        canvas.setPixelColor(0, 0, QColor(200, 100, 50, 128));
        const QByteArray rgb =
            PivotrixController::buildFrame(canvas, QByteArray(16, 's'), PivotrixController::Raw)
                .mid(PivotrixController::kHeaderSize, 3);
        // Premultiplying and back loses at most one step per channel.
        QVERIFY2(qAbs(quint8(rgb[0]) - 200) <= 1 && qAbs(quint8(rgb[1]) - 100) <= 1 &&
                     qAbs(quint8(rgb[2]) - 50) <= 1,
                 rgb.toHex().constData());
    }
};

QTEST_GUILESS_MAIN(TestScreenMirror)
#include "tst_screenmirror.moc"
