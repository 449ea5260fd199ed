#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "device/PivotrixController.h"
#include "effects/BlurImage.h"
#include "effects/EffectScaledImageWithBlur.h"
#include "effects/ScreenMapColorProvider.h"
#include "effects/ScreenMirrorModes.h"

#include "common/LogCapture.h"

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

// One frame of a generator fed `frame` for a canvas of `canvas`; null when it emitted nothing.
QImage paintOnce(EffectScaledImageWithBlur& effect, QSize canvas, const QImage& frame)
{
    effect.resize(canvas);
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
    void toneMapping_data();
    void toneMapping();
    void boostedCurveValues_data();
    void boostedCurveValues();
    void tinyCanvasIsBlurredWithoutHalving();
    void missingFrameOrCanvasIsSkipped();
    void canvasOutsideAnOldFrameIsBlack();
    void colorMap_data();
    void colorMap();
    void canvasBytesReachThePanelUnaltered_data();
    void canvasBytesReachThePanelUnaltered();
};

void TestScreenMirror::toneMapping_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QColor>("screen");

    QTest::newRow("natural grey") << int(ColorNatural) << QColor(128, 128, 128);
    QTest::newRow("natural colour") << int(ColorNatural) << QColor(200, 100, 50);
    QTest::newRow("natural black") << int(ColorNatural) << QColor(0, 0, 0);
    QTest::newRow("natural white") << int(ColorNatural) << QColor(255, 255, 255);
    QTest::newRow("boosted grey") << int(ColorBoosted) << QColor(128, 128, 128);
    QTest::newRow("boosted colour") << int(ColorBoosted) << QColor(64, 32, 16);
    QTest::newRow("boosted black") << int(ColorBoosted) << QColor(0, 0, 0);
    QTest::newRow("boosted white") << int(ColorBoosted) << QColor(255, 255, 255);
    QTest::newRow("unknown mode keeps boosted") << 7 << QColor(128, 128, 128);
}

void TestScreenMirror::toneMapping()
{
    QFETCH(int, mode);
    QFETCH(QColor, screen);

    // The value each pixel has after the blur alone, which loses a few steps in its fixed-point passes.
    QImage blurred(4, 8, QImage::Format_ARGB32);
    blurred.fill(Qt::black);
    {
        QImage frame = filled(QSize(5, 9), screen);
        QPainter painter(&blurred);
        qt_blurImage(&painter, frame, 2.0, true, false);
    }

    EffectScaledImageWithBlur effect;
    effect.setSeasoningEnabled(false);
    effect.setValueCurve(colorModeCurve(mode, QEasingCurve(QEasingCurve::OutCirc)));
    const QImage canvas = paintOnce(effect, QSize(4, 8), filled(QSize(120, 67), screen));
    QCOMPARE(canvas.size(), QSize(4, 8));
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const int b = blurred.pixelColor(x, y).value();
            const int want =
                mode == ColorNatural ? b : int(std::sqrt(1.0 - std::pow(b / 255.0 - 1.0, 2)) * 255.0);
            const QColor got = canvas.pixelColor(x, y);
            QCOMPARE(got.alpha(), 255);
            QVERIFY2(qAbs(got.value() - want) <= 1,
                     qPrintable(QStringLiteral("%1 %2").arg(got.value()).arg(want)));
            if (screen.saturation() > 0) {
                QVERIFY(qAbs(got.hue() - blurred.pixelColor(x, y).hue()) <= 2);
                QVERIFY(qAbs(got.saturation() - blurred.pixelColor(x, y).saturation()) <= 2);
            }
        }
    }
}

void TestScreenMirror::boostedCurveValues_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("boosted");
    QTest::newRow("128") << 128 << 221;
    QTest::newRow("64") << 64 << 168;
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("255") << 255 << 255;
}

void TestScreenMirror::boostedCurveValues()
{
    QFETCH(int, value);
    QFETCH(int, boosted);
    const QEasingCurve curve = colorModeCurve(ColorBoosted, QEasingCurve());
    QCOMPARE(int(curve.valueForProgress(value / 255.0) * 255.0), boosted);
    QCOMPARE(int(colorModeCurve(ColorNatural, curve).valueForProgress(value / 255.0) * 255.0), value);
}

void TestScreenMirror::tinyCanvasIsBlurredWithoutHalving()
{
    // Halving would average the four pixels into a dark blue; the unhalved blur keeps the corner's red.
    QImage frame = filled(QSize(2, 2), QColor(0, 0, 255));
    frame.setPixelColor(0, 0, QColor(255, 0, 0));
    EffectScaledImageWithBlur effect;
    effect.setValueCurve(QEasingCurve(QEasingCurve::Linear));
    const QImage canvas = paintOnce(effect, QSize(1, 1), frame);
    QCOMPARE(canvas.size(), QSize(1, 1));
    const QColor got = canvas.pixelColor(0, 0);
    QVERIFY2(got.red() > 200 && got.blue() < 60, qPrintable(got.name()));
}

void TestScreenMirror::missingFrameOrCanvasIsSkipped()
{
    LogCapture log;
    EffectScaledImageWithBlur effect;
    QSignalSpy spy(&effect, &EffectGenerator::canvasUpdated);
    effect.update();
    QCOMPARE(log.count(QStringLiteral("skip frame")), 1);

    // A processor that saw frames but no canvas size yet has nothing for a 0 x 0 canvas either.
    effect.processor()->setTargetSize(QSize(3, 3));
    effect.processor()->processFrame(filled(QSize(8, 8), Qt::white));
    effect.update();
    effect.resize(QSize(0, 5));
    effect.processor()->processFrame(filled(QSize(8, 8), Qt::white));
    effect.update();
    QCOMPARE(log.count(QStringLiteral("skip frame")), 3);
    QCOMPARE(spy.count(), 0);
}

void TestScreenMirror::canvasOutsideAnOldFrameIsBlack()
{
    EffectScaledImageWithBlur effect;
    effect.setValueCurve(QEasingCurve(QEasingCurve::Linear));
    QVERIFY(!paintOnce(effect, QSize(2, 2), filled(QSize(64, 64), Qt::white)).isNull());
    // The panel grew, the capture has not scaled a frame for the new size yet.
    effect.resize(QSize(16, 16));
    QSignalSpy spy(&effect, &EffectGenerator::canvasUpdated);
    effect.update();
    QCOMPARE(spy.count(), 1);
    const QImage canvas = spy.first().first().value<QImage>();
    QCOMPARE(canvas.size(), QSize(16, 16));
    QVERIFY(canvas.pixelColor(0, 0).value() > 100);
    for (int y = 4; y < 16; ++y)
        for (int x = 4; x < 16; ++x)
            QCOMPARE(canvas.pixel(x, y), qRgb(0, 0, 0));
}

void TestScreenMirror::colorMap_data()
{
    QTest::addColumn<int>("curve");
    QTest::addColumn<QColor>("screen");

    QTest::newRow("linear colour") << int(QEasingCurve::Linear) << QColor(200, 100, 50);
    QTest::newRow("linear odd value") << int(QEasingCurve::Linear) << QColor(71, 3, 250);
    QTest::newRow("boosted colour") << int(QEasingCurve::OutCirc) << QColor(100, 50, 25);
    QTest::newRow("boosted grey") << int(QEasingCurve::OutCirc) << QColor(90, 90, 90);
}

void TestScreenMirror::colorMap()
{
    QFETCH(int, curve);
    QFETCH(QColor, screen);

    ScreenMapColorProvider provider;
    QVERIFY(provider.init());
    QVERIFY(provider.colors().isEmpty());
    provider.processor()->setRects({QRectF(0, 0, 1, 1)});
    provider.processor()->processFrame(filled(QSize(30, 30), screen));
    const QList<QColor> found = provider.processor()->colors();
    QCOMPARE(found.size(), 1);
    provider.setValueCurve(QEasingCurve(QEasingCurve::Type(curve)));
    const QList<QColor> mapped = provider.colors();
    QCOMPARE(mapped.size(), 1);
    if (curve == QEasingCurve::Linear) {
        QCOMPARE(mapped, found);
        return;
    }
    const QColor got = mapped.first();
    const qreal want = QEasingCurve(QEasingCurve::OutCirc).valueForProgress(found.first().valueF());
    QVERIFY(got.valueF() > found.first().valueF());
    QVERIFY(qAbs(got.valueF() - want) < 0.002);
    QCOMPARE(got.hsvHue(), found.first().hsvHue());
    QVERIFY(qAbs(got.hsvSaturationF() - found.first().hsvSaturationF()) < 0.002);
    QCOMPARE(got.alphaF(), 1.0);
}

void TestScreenMirror::canvasBytesReachThePanelUnaltered_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QColor>("painted");
    QTest::addColumn<QColor>("sent");

    QTest::newRow("opaque") << int(QImage::Format_ARGB32) << QColor(200, 100, 50) << QColor(200, 100, 50);
    QTest::newRow("translucent keeps its colour")
        << int(QImage::Format_ARGB32) << QColor(200, 100, 50, 128) << QColor(200, 100, 50);
    QTest::newRow("premultiplied opaque")
        << int(QImage::Format_ARGB32_Premultiplied) << QColor(200, 100, 50) << QColor(200, 100, 50);
    QTest::newRow("premultiplied translucent is unpremultiplied")
        << int(QImage::Format_ARGB32_Premultiplied) << QColor(200, 100, 50, 128) << QColor(200, 100, 50);
    QTest::newRow("rgb32") << int(QImage::Format_RGB32) << QColor(1, 254, 128) << QColor(1, 254, 128);
}

void TestScreenMirror::canvasBytesReachThePanelUnaltered()
{
    QFETCH(int, format);
    QFETCH(QColor, painted);
    QFETCH(QColor, sent);

    QImage canvas(2, 1, QImage::Format(format));
    canvas.setPixelColor(0, 0, painted);
    canvas.setPixelColor(1, 0, QColor(0, 0, 0));
    const QByteArray frame =
        PivotrixController::buildFrame(canvas, QByteArray(16, 's'), PivotrixController::Raw);
    QVERIFY(frame.size() > PivotrixController::kHeaderSize + 6);
    const QByteArray rgb = frame.mid(PivotrixController::kHeaderSize, 6);
    // Premultiplying and back loses at most one step per channel.
    QVERIFY2(qAbs(quint8(rgb[0]) - sent.red()) <= 1 && qAbs(quint8(rgb[1]) - sent.green()) <= 1 &&
                 qAbs(quint8(rgb[2]) - sent.blue()) <= 1,
             rgb.toHex().constData());
    QCOMPARE(rgb.mid(3), QByteArray(3, '\0'));
}

QTEST_GUILESS_MAIN(TestScreenMirror)
#include "tst_screenmirror.moc"
