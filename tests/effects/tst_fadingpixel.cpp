#include "support/LogCapture.h"
#include "support/TestPictures.h"

#include "effects/AbstractColorProvider.h"
#include "effects/EffectGeneratorFadingPixel.h"
#include "effects/FadingPixelSeasoning.h"

#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <thread>

Q_DECLARE_METATYPE(QList<QColor>)

using namespace TestPictures;

namespace {
// Gives the tests a hand on single cells.
class Seasoning : public FadingPixelSeasoning
{
public:
    void setCell(int x, int y, float value, int direction) { m_grid[y][x] = FadingCell{value, direction}; }
};

// A generator over its own provider, sized and ready to paint.
struct Rig
{
    QSharedPointer<AbstractColorProvider> provider{new AbstractColorProvider, &QObject::deleteLater};
    EffectGeneratorFadingPixel generator;
    QSignalSpy frames{&generator, &EffectGenerator::canvasUpdated};

    Rig(QSize size, const QList<QColor>& colors, int angle = 0)
    {
        provider->updateColors(colors);
        generator.setColorProvider(provider);
        generator.resize(size);
        generator.setAngle(angle);
    }
    QImage frame()
    {
        const int before = frames.count();
        generator.update();
        if (frames.count() != before + 1)
            return QImage();
        return frames.takeLast().first().value<QImage>();
    }
};

QString describe(const QImage& got, const QImage& want)
{
    for (int y = 0; y < want.height(); ++y)
        for (int x = 0; x < want.width(); ++x)
            if (got.pixel(x, y) != want.pixel(x, y))
                return QStringLiteral("first difference at (%1, %2): %3 instead of %4")
                    .arg(x)
                    .arg(y)
                    .arg(got.pixel(x, y), 8, 16, QLatin1Char('0'))
                    .arg(want.pixel(x, y), 8, 16, QLatin1Char('0'));
    return QString();
}

const QColor kA(200, 30, 10);
const QColor kB(20, 90, 240);
} // namespace

class TestFadingPixel : public QObject
{
    Q_OBJECT
private slots:
    void cellsTurnAtTheEnds_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("direction");
        QTest::addColumn<float>("nextValue");
        QTest::addColumn<int>("nextDirection");
        QTest::newRow("253 rising turns at 255") << 253.f << 1 << 255.f << -1;
        QTest::newRow("27 falling turns at 25") << 27.f << -1 << 25.f << 1;
        QTest::newRow("new cell 27 with 0 falls") << 27.f << 0 << 25.f << 1;
        QTest::newRow("new cell 100 with 0 falls") << 100.f << 0 << 96.f << 0;
        QTest::newRow("reaching 255 exactly keeps rising") << 251.f << 1 << 255.f << 1;
        QTest::newRow("at 255 rising turns") << 255.f << 1 << 255.f << -1;
        QTest::newRow("reaching 25 exactly keeps falling") << 29.f << -1 << 25.f << -1;
        QTest::newRow("at 25 falling turns") << 25.f << -1 << 25.f << 1;
    }
    void cellsTurnAtTheEnds()
    {
        QFETCH(float, value);
        QFETCH(int, direction);
        QFETCH(float, nextValue);
        QFETCH(int, nextDirection);
        Seasoning s;
        s.resizeGrid(QSize(2, 1));
        s.setCell(0, 0, value, direction);
        s.setCell(1, 0, 128.f, 1);
        s.advance();
        QCOMPARE(s.grid()[0][0].value, nextValue);
        QCOMPARE(s.grid()[0][0].direction, nextDirection);
        QCOMPARE(s.grid()[0][1].value, 132.f);
    }

    void invalidCanvasPaintsNothing_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("never sized") << QSize();
        QTest::newRow("zero width") << QSize(0, 8);
        QTest::newRow("negative") << QSize(-5, 3);
    }
    void invalidCanvasPaintsNothing()
    {
        QFETCH(QSize, size);
        Rig rig(QSize(), {kA, kB});
        if (size.isValid() || size.width() < 0)
            rig.generator.resize(size);
        rig.generator.setShowFadingPixels(true);
        LogCapture log;
        rig.generator.update();
        rig.generator.update();
        QCOMPARE(rig.frames.count(), 0);
        QCOMPARE(log.count(QStringLiteral("invalid canvas size")), 2);
    }

    void noColoursNoFrame()
    {
        Rig rig(QSize(4, 8), {});
        LogCapture log;
        rig.generator.update();
        QCOMPARE(rig.frames.count(), 0);
        QCOMPARE(log.count(QStringLiteral("invalid canvas size")), 0);

        EffectGeneratorFadingPixel bare;
        QSignalSpy frames(&bare, &EffectGenerator::canvasUpdated);
        bare.resize(QSize(4, 8));
        bare.setColors({kA});
        bare.update();
        QCOMPARE(frames.count(), 0);
    }

    void bandsFollowTheAngle_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<QColor>>("colors");
        QTest::addColumn<int>("angle");
        QTest::addColumn<QStringList>("rows");
        const QList<QColor> two{kA, kB};
        const QStringList leftRight = repeat(8, "aabb");
        const QStringList rightLeft = repeat(8, "bbaa");
        const QStringList bottomTop = repeat(4, "bbbb") + repeat(4, "aaaa");
        QTest::newRow("0: left and right") << QSize(4, 8) << two << 0 << leftRight;
        QTest::newRow("180: sides swap") << QSize(4, 8) << two << 180 << rightLeft;
        QTest::newRow("270: first at the bottom") << QSize(4, 8) << two << 270 << bottomTop;
        QTest::newRow("-90 is 270") << QSize(4, 8) << two << -90 << bottomTop;
        const QList<QColor> three{kA, kB, QColor(1, 2, 3)};
        QTest::newRow("three thirds") << QSize(6, 2) << three << 0 << repeat(2, "aabbcc");
        const QList<QColor> four{kA, kB, QColor(1, 2, 3), QColor(250, 250, 250)};
        QTest::newRow("four quarters") << QSize(16, 2) << four << 0 << repeat(2, "aaaabbbbccccdddd");
        QTest::newRow("four quarters at 90")
            << QSize(1, 8) << four << 90
            << QString::fromLatin1("aabbccdd").split(QString(), Qt::SkipEmptyParts);
    }
    void bandsFollowTheAngle()
    {
        QFETCH(QSize, size);
        QFETCH(QList<QColor>, colors);
        QFETCH(int, angle);
        QFETCH(QStringList, rows);
        Rig rig(size, colors, angle);
        const QImage img = rig.frame();
        const QImage want = picture(rows, colors);
        QVERIFY2(img.size() == want.size() && describe(img, want).isEmpty(), qPrintable(describe(img, want)));
    }

    void bandsCoverEveryPixel()
    {
        const QList<QColor> all{kA,
                                kB,
                                QColor(1, 2, 3),
                                QColor(4, 5, 6),
                                QColor(7, 8, 9),
                                QColor(10, 11, 12),
                                QColor(13, 14, 15)};
        for (const QSize& size : {QSize(4, 8), QSize(7, 5), QSize(16, 16), QSize(3, 31)}) {
            for (int n = 1; n <= all.size(); ++n) {
                for (int angle = -10; angle < 360; angle += 23) {
                    Rig rig(size, all.mid(0, n), angle);
                    const QImage img = rig.frame();
                    QSet<QRgb> seen;
                    for (int y = 0; y < size.height(); ++y) {
                        for (int x = 0; x < size.width(); ++x) {
                            const QRgb p = img.pixel(x, y);
                            const bool known = std::any_of(all.begin(), all.begin() + n,
                                                           [p](const QColor& c) { return c.rgba() == p; });
                            QVERIFY2(known,
                                     qPrintable(QStringLiteral("%1 colours at %2 on %3x%4: pixel (%5, %6)")
                                                    .arg(n)
                                                    .arg(angle)
                                                    .arg(size.width())
                                                    .arg(size.height())
                                                    .arg(x)
                                                    .arg(y)));
                        }
                    }
                }
            }
        }
    }

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
            bool moved = false;
            QVERIFY(!img.isNull());
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 4; ++x) {
                    const QRgb p = img.pixel(x, y);
                    QCOMPARE(qAlpha(p), 255);
                    const QColor band = x < 2 ? white : half;
                    const int channels[3][2] = {
                        {qRed(p), band.red()}, {qGreen(p), band.green()}, {qBlue(p), band.blue()}};
                    for (const auto& c : channels) {
                        QVERIFY(c[0] <= c[1]);
                        QVERIFY2(c[0] >= int(float(c[1]) * least),
                                 qPrintable(QStringLiteral("%1 of %2").arg(c[0]).arg(c[1])));
                    }
                    if (x < 2) {
                        QCOMPARE(qRed(p), qGreen(p));
                        QCOMPARE(qRed(p), qBlue(p));
                        // White shows the cell's brightness: it moves by 6 at most a frame, and rests for one
                        // frame only at either end.
                        if (!previous.isNull()) {
                            const int step = qAbs(qRed(p) - qRed(previous.pixel(x, y)));
                            QVERIFY2(step <= 6, qPrintable(QString::number(step)));
                            moved = moved || step > 0;
                        }
                    }
                }
            }
            QVERIFY(moved || previous.isNull());
            previous = img;
        }
    }

    void fadingOffLeavesBandsUntouched()
    {
        Rig rig(QSize(4, 8), {kA, kB});
        rig.generator.setShowFadingPixels(true);
        rig.frame();
        rig.generator.setShowFadingPixels(false);
        QCOMPARE(describe(rig.frame(), picture(repeat(8, "aabb"), {kA, kB})), QString());
    }

    void fadingSkippedWhenTheGridIsTooNarrow()
    {
        // The grid keeps its rows when the canvas later widens, so it no longer covers the canvas.
        Rig rig(QSize(4, 8), {kA, kB});
        rig.generator.setShowFadingPixels(true);
        rig.generator.resize(QSize(8, 8));
        QCOMPARE(describe(rig.frame(), picture(repeat(8, "aaaabbbb"), {kA, kB})), QString());
        // A taller canvas grows the grid again and fading resumes.
        rig.generator.resize(QSize(8, 9));
        const QImage img = rig.frame();
        QCOMPARE(img.size(), QSize(8, 9));
        bool darker = false;
        for (int x = 0; x < 8; ++x)
            darker = darker || img.pixel(x, 0) != (x < 4 ? kA : kB).rgba();
        QVERIFY(darker);
    }

    // The GUI thread turns the bands while frames are painted: every frame shows one whole angle.
    void angleHandOverIsNeverTorn()
    {
        Rig rig(QSize(4, 8), {kA, kB});
        const QImage at0 = picture(repeat(8, "aabb"), {kA, kB});
        const QImage at180 = picture(repeat(8, "bbaa"), {kA, kB});
        std::atomic<bool> done{false};
        std::thread gui([&] {
            for (int i = 0; !done.load(); ++i) {
                rig.generator.setAngle(i % 2 ? 180 : 0);
                rig.generator.setShowFadingPixels(false);
            }
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
};

QTEST_MAIN(TestFadingPixel)
#include "tst_fadingpixel.moc"
