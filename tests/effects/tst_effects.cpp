// What paints device canvases: colour providers and their blending, the generators (frame timing, the
// fading-pixel bands) and the screen-mirror effects.
#include "support/LogCapture.h"
#include "support/ManualClock.h"
#include "support/TestPictures.h"

#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "effects/AbstractColorProvider.h"
#include "effects/BlurImage.h"
#include "effects/ColorInterpolation.h"
#include "effects/EffectGeneratorFadingPixel.h"
#include "effects/EffectScaledImageWithBlur.h"
#include "effects/FadingPixelSeasoning.h"
#include "effects/RazerIndexedColorProvider.h"
#include "effects/ScreenMapColorProvider.h"
#include "effects/ScreenMirrorModes.h"

#include <QPainter>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

using namespace TestPictures;

namespace {
QList<QColor> palette(int n)
{
    const QList<QColor> all = {QColor(255, 0, 0),   QColor(0, 255, 0),   QColor(0, 0, 255),
                               QColor(255, 255, 0), QColor(0, 255, 255), QColor(255, 0, 255),
                               QColor(10, 20, 30)};
    return all.mid(0, n);
}

// Gives the tests a hand on single cells.
class Seasoning : public FadingPixelSeasoning
{
public:
    void setCell(int x, int y, float value, int direction) { m_grid[y][x] = FadingCell{value, direction}; }
};

// Shares providers the way the pages do.
QSharedPointer<AbstractColorProvider> makeProvider(const QList<QColor>& colors)
{
    QSharedPointer<AbstractColorProvider> p(new AbstractColorProvider, &QObject::deleteLater);
    p->updateColors(colors);
    return p;
}

// A generator over its own provider, sized and ready to paint.
struct Rig
{
    QSharedPointer<AbstractColorProvider> provider;
    EffectGeneratorFadingPixel generator;
    QSignalSpy frames{&generator, &EffectGenerator::canvasUpdated};

    Rig(QSize size, const QList<QColor>& colors, int angle = 0)
        : provider(makeProvider(colors))
    {
        generator.setColorProvider(provider);
        generator.resize(size);
        generator.setAngle(angle);
    }
    QImage frame()
    {
        const int before = frames.count();
        generator.update();
        return frames.count() == before + 1 ? frames.takeLast().first().value<QImage>() : QImage();
    }
};

const QColor kA(200, 30, 10);
const QColor kB(20, 90, 240);
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

class TestEffects : public QObject
{
    Q_OBJECT
private slots:

    // Only a real change is announced; an index picks the colour at its position, if there is one.
    void providersSignalAndPick()
    {
        AbstractColorProvider source;
        QSignalSpy spy(&source, &AbstractColorProvider::colorsChanged);
        source.updateColors({});
        source.updateColors(palette(5));
        // Equal colours in a list of their own.
        source.updateColors(palette(5).mid(0, 3) + palette(5).mid(3));
        QCOMPARE(spy.count(), 1);
        RazerIndexedColorProvider indexed(&source);
        QVERIFY(indexed.colors().isEmpty());
        indexed.updateIndexes({7});
        QVERIFY(indexed.colors().isEmpty());
        indexed.updateIndexes({5, 4, 2147483647, -2147483647 - 1, 1, 1});
        QCOMPARE(indexed.colors(), (QList<QColor>{palette(5).at(4), palette(5).at(1), palette(5).at(1)}));
        source.updateColors(palette(2));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(indexed.colors(), (QList<QColor>{palette(2).at(1), palette(2).at(1)}));
    }

    // Empty at first, then the colours and the first change as they come; after that each change blends over
    // 800 ms from the colours shown when it was seen, and a new count jumps at once.
    void interpolation()
    {
        ManualClock clock;
        const QList<QColor> a{QColor(0, 0, 0), QColor(0, 200, 10)},
            b{QColor(200, 0, 0), QColor(255, 100, 11)};
        auto source = QSharedPointer<AbstractColorProvider>::create();
        source->updateColors(palette(3));
        auto ci = std::make_unique<ColorInterpolation>(source, nullptr, clock.source());
        QVERIFY(ci->colors().isEmpty());
        QCOMPARE(ci->colors(), palette(3));
        source->updateColors(a);
        QCOMPARE(ci->colors(), a);
        const qint64 t0 = *clock.now + 5000;
        const auto at = [&](qint64 dt) {
            clock.set(t0 + dt);
            return ci->colors();
        };
        source->updateColors(b);
        // The call that sees the change still answers the old colours and starts the blend from them.
        QCOMPARE(at(0), a);
        QCOMPARE(at(400), (QList<QColor>{QColor(100, 0, 0), QColor(127, 150, 10)}));
        source->updateColors(a);
        QCOMPARE(at(400).value(0), QColor(100, 0, 0));
        QCOMPARE(at(800).value(0), QColor(50, 0, 0));
        QCOMPARE(at(1200), a);
        source->updateColors(b);
        QCOMPARE(at(1200), a);
        QCOMPARE(at(1150), b); // the clock went back
        source->updateColors(palette(3));
        QCOMPARE(at(1150), b);
        QCOMPARE(at(1150), palette(3));

        ColorInterpolation none(QSharedPointer<AbstractColorProvider>(), nullptr, clock.source());
        QVERIFY(none.colors().isEmpty());
        // The interpolation keeps its source alive.
        QPointer<AbstractColorProvider> watch = source.data();
        source.reset();
        QVERIFY(watch);
        ci.reset();
        QVERIFY(!watch);
    }

    // Lists published on one thread are read whole on another (never a mix of two), through the indexed
    // provider whose selection changes as well.
    void readersOnlySeeWholeLists()
    {
        AbstractColorProvider source;
        RazerIndexedColorProvider indexed(&source);
        std::atomic<bool> done{false};
        std::atomic<int> torn{0}, reads{0};
        std::thread reader([&] {
            while (!done.load()) {
                for (const QList<QColor>& seen : {source.colors(), indexed.colors()})
                    torn += seen.count(seen.value(0)) != seen.size() ? 1 : 0;
                ++reads;
            }
        });
        for (int seq = 1; seq <= 50000; ++seq) {
            source.updateColors(QVector<QColor>(5, QColor::fromRgb(QRgb(seq))).toList());
            indexed.updateIndexes(seq % 2 ? QList<int>{1, 3} : QList<int>{4, 0, 2});
        }
        QTRY_VERIFY_WITH_TIMEOUT(reads.load() > 1000, 5000);
        done = true;
        reader.join();
        QCOMPARE(torn.load(), 0);
    }

    // A frame 36 ms or more after the one before is reported; not the first one, nor one when the clock went
    // back.
    void slowFramesAreReported()
    {
        ManualClock clock;
        EffectGenerator g;
        g.setFrameClock(clock.source());
        LogCapture log;
        for (int gap : {10'000, 30, 35, 36, 30, 500, 0, -100}) {
            clock.advance(gap);
            g.update();
        }
        QCOMPARE(log.count(QStringLiteral("generating too slow")), 2);
    }

    // The generator follows its provider without keeping it alive.
    void providersComeAndGo()
    {
        EffectGeneratorFadingPixel g;
        g.resize(QSize(4, 8));
        QSignalSpy frames(&g, &EffectGenerator::canvasUpdated);
        QPointer<AbstractColorProvider> watch;
        {
            auto a = makeProvider({Qt::red, Qt::green});
            watch = a.data();
            g.setColorProvider(a);
            g.setColorProvider(a);
            g.update();
            QCOMPARE(frames.count(), 1);
            auto b = makeProvider({Qt::green});
            g.setColorProvider(b);
            QCOMPARE(g.providerColors(), QList<QColor>{Qt::green});
            g.setColorProvider(a);
        }
        // The last owner let go; deleteLater finishes it on its own thread.
        QTRY_VERIFY(!watch);
        QVERIFY(g.providerColors().isEmpty());
        g.update();
        QCOMPARE(frames.count(), 1);
        // A new provider after the old one died is taken, wherever it was allocated.
        for (int i = 0; i < 5; ++i) {
            auto c = makeProvider({QColor(i, i, i)});
            g.setColorProvider(c);
            QCOMPARE(g.providerColors(), QList<QColor>{QColor(i, i, i)});
        }
    }

    // One step of cells at and near the ends of their range (a new cell's direction 0 falls).
    void cellsTurnAtTheEnds()
    {
        // Value and direction before, then after the step.
        const QList<QPair<FadingCell, FadingCell>> cells{{{253.f, 1}, {255.f, -1}}, {{251.f, 1}, {255.f, 1}},
                                                         {{25.f, -1}, {25.f, 1}},   {{27.f, 0}, {25.f, 1}},
                                                         {{100.f, 0}, {96.f, 0}},   {{128.f, 1}, {132.f, 1}}};
        Seasoning s;
        s.resizeGrid(QSize(cells.size(), 1));
        for (int x = 0; x < cells.size(); ++x)
            s.setCell(x, 0, cells.at(x).first.value, cells.at(x).first.direction);
        s.advance();
        for (int x = 0; x < cells.size(); ++x) {
            QCOMPARE(s.grid()[0][x].value, cells.at(x).second.value);
            QCOMPARE(s.grid()[0][x].direction, cells.at(x).second.direction);
        }
    }

    // Nothing is painted without a canvas (each tick says so) or without colours (silently); colours set
    // directly are ignored, the provider is the source.
    void nothingToPaint()
    {
        Rig rig(QSize(), {kA});
        rig.generator.setShowFadingPixels(true);
        LogCapture log;
        rig.generator.update();
        rig.generator.resize(QSize(-5, 3));
        rig.generator.update();
        rig.generator.resize(QSize(4, 8));
        rig.provider->updateColors({});
        rig.generator.setColors({kA});
        rig.generator.update();
        QCOMPARE(rig.frames.count(), 0);
        QCOMPARE(log.count(QStringLiteral("invalid canvas size")), 2);
    }

    void bandsFollowTheAngle_data()
    {
        QTest::addColumn<QList<QColor>>("colors");
        QTest::addColumn<int>("angle");
        QTest::addColumn<QStringList>("rows");
        const QList<QColor> two{kA, kB};
        const QStringList bottomTop = repeat(4, "bbbb") + repeat(4, "aaaa");
        QTest::newRow("0: left and right") << two << 0 << repeat(8, "aabb");
        QTest::newRow("180: sides swap") << two << 180 << repeat(8, "bbaa");
        QTest::newRow("270: first at the bottom") << two << 270 << bottomTop;
        QTest::newRow("-90 is 270") << two << -90 << bottomTop;
        const QList<QColor> four{kA, kB, QColor(1, 2, 3), QColor(250, 250, 250)};
        QTest::newRow("three thirds") << four.mid(0, 3) << 0 << repeat(2, "aabbcc");
        QTest::newRow("four quarters at 90")
            << four << 90 << QString::fromLatin1("aabbccdd").split(QString(), Qt::SkipEmptyParts);
    }
    void bandsFollowTheAngle()
    {
        QFETCH(QList<QColor>, colors);
        QFETCH(int, angle);
        QFETCH(QStringList, rows);
        Rig rig(QSize(rows.first().size(), rows.size()), colors, angle);
        QCOMPARE(rig.frame(), picture(rows, colors));
        // Fading turned off again leaves the bands untouched.
        rig.generator.setShowFadingPixels(true);
        rig.frame();
        rig.generator.setShowFadingPixels(false);
        QCOMPARE(rig.frame(), picture(rows, colors));
    }

    void bandsCoverEveryPixel()
    {
        for (const QSize& size : {QSize(4, 8), QSize(7, 5), QSize(16, 16), QSize(3, 31)}) {
            for (int n = 1; n <= 7; ++n) {
                for (int angle = -10; angle < 360; angle += 23) {
                    const QImage img = Rig(size, palette(n), angle).frame();
                    int stray = 0;
                    for (int i = 0; i < size.width() * size.height(); ++i)
                        stray +=
                            palette(n).contains(img.pixelColor(i % size.width(), i / size.width())) ? 0 : 1;
                    QVERIFY2(stray == 0, qPrintable(QString::asprintf("%d colours at %d on %d wide", n, angle,
                                                                      size.width())));
                }
            }
        }
    }

    // Fading darkens each pixel within its band's colour, never below the dimmest step; white stays grey.
    void fadingDarkensWithinTheBand()
    {
        const QColor white(255, 255, 255);
        const QColor half(128, 0, 255, 90);
        Rig rig(QSize(4, 8), {white, half});
        rig.generator.setShowFadingPixels(true);
        const float least = float(25 / 255.0);
        QImage previous;
        for (int frame = 0; frame < 80; ++frame) {
            const QImage img = rig.frame();
            // The cells step every frame.
            QVERIFY(!img.isNull() && img != previous);
            previous = img;
            for (int i = 0; i < 32; ++i) {
                const QRgb p = img.pixel(i % 4, i / 4);
                const QColor band = i % 4 < 2 ? white : half;
                QCOMPARE(qAlpha(p), 255);
                QVERIFY(i % 4 >= 2 || (qRed(p) == qGreen(p) && qRed(p) == qBlue(p)));
                const int channels[3][2] = {
                    {qRed(p), band.red()}, {qGreen(p), band.green()}, {qBlue(p), band.blue()}};
                for (const auto& c : channels)
                    QVERIFY2(c[0] <= c[1] && c[0] >= int(float(c[1]) * least),
                             qPrintable(QStringLiteral("%1 of %2").arg(c[0]).arg(c[1])));
            }
        }
    }

    void fadingSkippedWhenTheGridIsTooNarrow()
    {
        // The grid keeps its rows when the canvas later widens, so it no longer covers the canvas.
        Rig rig(QSize(4, 8), {kA, kB});
        rig.generator.setShowFadingPixels(true);
        rig.generator.resize(QSize(8, 8));
        QCOMPARE(rig.frame(), picture(repeat(8, "aaaabbbb"), {kA, kB}));
        // A taller canvas grows the grid again and fading resumes.
        rig.generator.resize(QSize(8, 9));
        const QImage img = rig.frame();
        QCOMPARE(img.size(), QSize(8, 9));
        QVERIFY(img != picture(repeat(9, "aaaabbbb"), {kA, kB}));
    }

    // The GUI thread turns the bands while frames are painted: every frame shows one whole angle.
    void angleHandOverIsNeverTorn()
    {
        Rig rig(QSize(4, 8), {kA, kB});
        const QImage at0 = picture(repeat(8, "aabb"), {kA, kB});
        const QImage at180 = picture(repeat(8, "bbaa"), {kA, kB});
        std::atomic<bool> done{false};
        std::thread gui([&] {
            for (int i = 0; !done.load(); ++i)
                rig.generator.setAngle(i % 2 ? 180 : 0);
        });
        int torn = -1;
        for (int frame = 0; frame < 2000 && torn < 0; ++frame) {
            const QImage img = rig.frame();
            if (img != at0 && img != at180)
                torn = frame;
        }
        done = true;
        gui.join();
        QCOMPARE(torn, -1);
    }

    // Natural keeps the blurred value, Boosted lifts it along the out-circle curve (128 becomes 221, 64
    // becomes 168); hue and saturation stay. Probed where the blur of a plain screen lost two steps.
    void toneMapping_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QColor>("screen");
        QTest::addColumn<int>("blurred");
        QTest::addColumn<int>("value");
        QTest::newRow("natural colour") << int(ColorNatural) << QColor(200, 100, 50) << 198 << 198;
        QTest::newRow("boosted 128") << int(ColorBoosted) << QColor(130, 130, 130) << 128 << 221;
        QTest::newRow("boosted 64") << int(ColorBoosted) << QColor(66, 66, 66) << 64 << 168;
        QTest::newRow("boosted colour") << int(ColorBoosted) << QColor(200, 100, 50) << 198 << 248;
        QTest::newRow("boosted white") << int(ColorBoosted) << QColor(255, 255, 255) << 253 << 254;
        QTest::newRow("unknown mode keeps boosted") << 7 << QColor(66, 33, 16) << 64 << 168;
    }
    void toneMapping()
    {
        QFETCH(int, mode);
        QFETCH(QColor, screen);
        QFETCH(int, blurred);
        QFETCH(int, value);
        QImage reference(4, 8, QImage::Format_ARGB32);
        reference.fill(Qt::black);
        QImage frame = solid(QSize(5, 9), screen.rgb());
        QPainter painter(&reference);
        qt_blurImage(&painter, frame, 2.0, true, false);
        painter.end();

        EffectScaledImageWithBlur effect;
        const QImage canvas = paintOnce(effect, QSize(4, 8), solid(QSize(120, 67), screen.rgb()), mode);
        QCOMPARE(canvas.size(), QSize(4, 8));
        QCOMPARE(reference.pixelColor(1, 0).value(), blurred);
        QCOMPARE(canvas.pixelColor(1, 0).value(), value);
        for (int i = 0; i < 32; ++i) {
            const QColor got = canvas.pixelColor(i % 4, i / 4), ref = reference.pixelColor(i % 4, i / 4);
            QVERIFY(mode != ColorNatural || got.value() == ref.value());
            QVERIFY(got.alpha() == 255 && qAbs(got.hsvHue() - ref.hsvHue()) <= 2 &&
                    qAbs(got.hsvSaturation() - ref.hsvSaturation()) <= 2);
        }
    }

    // With no frame captured yet or no canvas nothing is painted; a canvas that grew past the last frame is
    // black outside it; a tiny one is blurred without halving, which would average a red corner into blue.
    void mirrorEdges()
    {
        LogCapture log;
        EffectScaledImageWithBlur effect;
        QVERIFY(paintOnce(effect, QSize(4, 4), QImage()).isNull());
        QVERIFY(paintOnce(effect, QSize(0, 5), solid(QSize(8, 8), qRgb(255, 255, 255))).isNull());
        QCOMPARE(log.count(QStringLiteral("skip frame")), 2);
        QVERIFY(!paintOnce(effect, QSize(2, 2), solid(QSize(64, 64), qRgb(255, 255, 255))).isNull());
        const QImage canvas = paintOnce(effect, QSize(16, 16), QImage());
        QVERIFY(canvas.pixelColor(0, 0).value() > 100);
        for (int i = 0; i < 144; ++i)
            QCOMPARE(canvas.pixel(4 + i % 12, 4 + i / 12), qRgb(0, 0, 0));
        QImage frame = solid(QSize(2, 2), qRgb(0, 0, 255));
        frame.setPixelColor(0, 0, QColor(255, 0, 0));
        const QColor got = paintOnce(effect, QSize(1, 1), frame).pixelColor(0, 0);
        QVERIFY2(got.red() > got.blue(), qPrintable(got.name()));
    }

    // The screen map hands on the found colour as it is (Linear) or with its value boosted, hue and
    // saturation kept.
    void colorMap()
    {
        ScreenMapColorProvider provider;
        provider.processor()->setRects({QRectF(0, 0, 1, 1)});
        provider.processor()->processFrame(solid(QSize(30, 30), qRgb(100, 50, 25)));
        const QColor found = provider.processor()->colors().value(0);
        provider.setValueCurve(QEasingCurve(QEasingCurve::Linear));
        QCOMPARE(provider.colors(), QList<QColor>{found});
        provider.setValueCurve(QEasingCurve(QEasingCurve::OutCirc));
        QCOMPARE(provider.colors().size(), 1);
        const QColor got = provider.colors().first();
        QVERIFY(qAbs(got.valueF() - QEasingCurve(QEasingCurve::OutCirc).valueForProgress(found.valueF())) <
                0.002);
        QCOMPARE(got.hsvHue(), found.hsvHue());
        QVERIFY(qAbs(got.hsvSaturationF() - found.hsvSaturationF()) < 0.002);
    }
};

QTEST_MAIN(TestEffects)
#include "tst_effects.moc"
