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

QSize gridSize(const FadingPixelSeasoning& s)
{
    const auto& g = s.grid();
    return QSize(g.isEmpty() ? 0 : g.first().size(), g.size());
}

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
        QTest::newRow("new cell 100 with 1 rises") << 100.f << 1 << 104.f << 1;
        QTest::newRow("reaching 255 exactly keeps rising") << 251.f << 1 << 255.f << 1;
        QTest::newRow("at 255 rising turns") << 255.f << 1 << 255.f << -1;
        QTest::newRow("at 255 falling") << 255.f << -1 << 251.f << -1;
        QTest::newRow("reaching 25 exactly keeps falling") << 29.f << -1 << 25.f << -1;
        QTest::newRow("at 25 falling turns") << 25.f << -1 << 25.f << 1;
        QTest::newRow("at 25 rising") << 25.f << 1 << 29.f << 1;
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

    void cellsSwingBetweenTheBounds()
    {
        Seasoning s;
        s.resizeGrid(QSize(8, 8));
        for (int frame = 0; frame < 200; ++frame) {
            s.advance();
            for (const auto& row : s.grid())
                for (const FadingCell& c : row)
                    QVERIFY(c.value >= 25.f && c.value <= 255.f);
        }
    }

    void newCellsAreRandomWithinRange()
    {
        Seasoning a;
        Seasoning b;
        a.resizeGrid(QSize(64, 64));
        b.resizeGrid(QSize(64, 64));
        int rising = 0;
        float lo = 255.f;
        float hi = 0.f;
        bool same = true;
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                const FadingCell& c = a.grid()[y][x];
                QVERIFY(c.value >= 25.f && c.value <= 255.f);
                QCOMPARE(c.value, float(int(c.value)));
                QVERIFY(c.direction == 0 || c.direction == 1);
                rising += c.direction;
                lo = qMin(lo, c.value);
                hi = qMax(hi, c.value);
                same = same && c.value == b.grid()[y][x].value;
            }
        }
        QVERIFY(rising > 1000 && rising < 3000);
        QVERIFY(lo < 40.f && hi > 240.f);
        // Each grid is seeded on its own.
        QVERIFY(!same);
    }

    void gridOnlyGrowsInRows_data()
    {
        QTest::addColumn<QList<QSize>>("sizes");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("first size") << QList<QSize>{{4, 8}} << QSize(4, 8);
        QTest::newRow("fewer rows: unchanged") << QList<QSize>{{4, 8}, {4, 4}} << QSize(4, 8);
        QTest::newRow("wider, same rows: unchanged") << QList<QSize>{{4, 8}, {6, 8}} << QSize(4, 8);
        QTest::newRow("narrower, same rows: unchanged") << QList<QSize>{{4, 8}, {2, 8}} << QSize(4, 8);
        QTest::newRow("more rows and wider") << QList<QSize>{{4, 8}, {6, 10}} << QSize(6, 10);
        QTest::newRow("more rows and narrower") << QList<QSize>{{4, 8}, {3, 12}} << QSize(3, 12);
        QTest::newRow("invalid leaves nothing") << QList<QSize>{QSize()} << QSize(0, 0);
        QTest::newRow("zero width leaves nothing") << QList<QSize>{{0, 8}} << QSize(0, 0);
        QTest::newRow("invalid does not block later") << QList<QSize>{{-1, 5}, {4, 5}} << QSize(4, 5);
        QTest::newRow("invalid after valid") << QList<QSize>{{4, 8}, QSize()} << QSize(4, 8);
    }
    void gridOnlyGrowsInRows()
    {
        QFETCH(QList<QSize>, sizes);
        QFETCH(QSize, expected);
        Seasoning s;
        for (const QSize& size : qAsConst(sizes))
            s.resizeGrid(size);
        QCOMPARE(gridSize(s), expected);
        for (const auto& row : s.grid())
            QCOMPARE(row.size(), expected.width());
    }

    void growingKeepsExistingCells()
    {
        Seasoning s;
        s.resizeGrid(QSize(2, 2));
        s.setCell(1, 1, 77.f, -1);
        s.resizeGrid(QSize(5, 3));
        QCOMPARE(s.grid()[1][1].value, 77.f);
        QCOMPARE(s.grid()[1][1].direction, -1);
        s.resizeGrid(QSize(1, 4));
        QCOMPARE(gridSize(s), QSize(1, 4));
    }

    void invalidCanvasPaintsNothing_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("never sized") << QSize();
        QTest::newRow("zero width") << QSize(0, 8);
        QTest::newRow("zero height") << QSize(4, 0);
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

    void oneColourFillsAtAnyAngle_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("angle");
        const QList<QSize> sizes{{4, 8}, {1, 1}, {5, 3}, {16, 16}, {30, 2}};
        const QList<int> angles{0, 15, 30, 45, 60, 90, 135, 180, 200, 225, 270, 315, 359, -45, 720, 1000};
        for (const QSize& size : sizes)
            for (int angle : angles)
                QTest::addRow("%dx%d at %d", size.width(), size.height(), angle) << size << angle;
    }
    void oneColourFillsAtAnyAngle()
    {
        QFETCH(QSize, size);
        QFETCH(int, angle);
        Rig rig(size, {kA}, angle);
        const QImage img = rig.frame();
        QCOMPARE(img.size(), size);
        QCOMPARE(img.format(), QImage::Format_ARGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                QCOMPARE(img.pixel(x, y), kA.rgba());
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
        const QStringList topBottom = repeat(4, "aaaa") + repeat(4, "bbbb");
        const QStringList bottomTop = repeat(4, "bbbb") + repeat(4, "aaaa");
        QTest::newRow("0: left and right") << QSize(4, 8) << two << 0 << leftRight;
        QTest::newRow("180: sides swap") << QSize(4, 8) << two << 180 << rightLeft;
        QTest::newRow("90: first on top") << QSize(4, 8) << two << 90 << topBottom;
        QTest::newRow("270: first at the bottom") << QSize(4, 8) << two << 270 << bottomTop;
        QTest::newRow("-90 is 270") << QSize(4, 8) << two << -90 << bottomTop;
        QTest::newRow("360 is 0") << QSize(4, 8) << two << 360 << leftRight;
        const QList<QColor> three{kA, kB, QColor(1, 2, 3)};
        QTest::newRow("three thirds") << QSize(6, 2) << three << 0 << repeat(2, "aabbcc");
        QTest::newRow("three thirds turned") << QSize(6, 2) << three << 180 << repeat(2, "ccbbaa");
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

    void diagonalBandsTurnClockwise()
    {
        // At 45 degrees the first of two bands lies above the anti-diagonal through the centre.
        Rig rig(QSize(16, 16), {kA, kB}, 45);
        const QImage img = rig.frame();
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                if (x + y == 15)
                    continue;
                QCOMPARE(img.pixel(x, y), (x + y < 15 ? kA : kB).rgba());
            }
        }
        rig.generator.setAngle(-45);
        const QImage other = rig.frame();
        QCOMPARE(other.pixel(0, 15), kA.rgba());
        QCOMPARE(other.pixel(15, 0), kB.rgba());
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
        QVERIFY(rig.frame().pixel(0, 0) != kA.rgba() || rig.frame().pixel(0, 0) != kA.rgba());
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
        int flips = 0;
        QImage last;
        for (int frame = 0; frame < 3000; ++frame) {
            const QImage img = rig.frame();
            const bool ok = img == at0 || img == at180;
            if (!ok)
                break;
            flips += !last.isNull() && img != last;
            last = img;
            QVERIFY(ok);
        }
        done = true;
        gui.join();
        QVERIFY(last == at0 || last == at180);
        qDebug() << "angle changes seen" << flips;
    }
};

QTEST_MAIN(TestFadingPixel)
#include "tst_fadingpixel.moc"
