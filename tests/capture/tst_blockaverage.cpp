#include "capture/linux/BlockAverage.h"

#include <QRandomGenerator>
#include <QVector>
#include <QtTest>

class TestBlockAverage : public QObject
{
    Q_OBJECT
private slots:
    void matchesReference_data();
    void matchesReference();
    void exactMeans_data();
    void exactMeans();
};

void TestBlockAverage::matchesReference_data()
{
    QTest::addColumn<int>("blocksW");
    QTest::addColumn<int>("blocksH");
    QTest::addColumn<int>("padding");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("1x1") << 1 << 1 << 0 << 1u;
    QTest::newRow("full hd") << 120 << 67 << 0 << 2u;
    QTest::newRow("padded rows") << 7 << 3 << 12 << 3u;
    QTest::newRow("odd width") << 13 << 5 << 4 << 4u;
    QTest::newRow("wider than one chunk") << 300 << 2 << 0 << 5u;
}

void TestBlockAverage::matchesReference()
{
    QFETCH(int, blocksW);
    QFETCH(int, blocksH);
    QFETCH(int, padding);
    QFETCH(quint32, seed);
    const qsizetype srcStride = qsizetype(blocksW) * 64 + padding;
    QVector<uchar> src(int(srcStride * blocksH * 16));
    QRandomGenerator gen(seed);
    for (uchar& b : src)
        b = uchar(gen.bounded(256));
    // Saturated stretches reach the largest sums the 16-bit lanes must hold.
    for (int i = 0; i < src.size() / 4; ++i)
        src[i] = 255;

    const qsizetype dstStride = qsizetype(blocksW) * 4 + 8;
    QVector<uchar> fast(int(dstStride * blocksH), 0xAB);
    QVector<uchar> plain(int(dstStride * blocksH), 0xAB);
    blockAverage16(src.constData(), srcStride, blocksW, blocksH, fast.data(), dstStride);
    blockAverage16Reference(src.constData(), srcStride, blocksW, blocksH, plain.data(), dstStride);
    QVERIFY(fast == plain);
    // Row padding of the destination is left alone.
    QCOMPARE(fast.at(int(dstStride) - 1), uchar(0xAB));
}

void TestBlockAverage::exactMeans_data()
{
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("highCount");
    QTest::addColumn<int>("expected");
    QTest::newRow("all white") << 0 << 255 << 256 << 255;
    QTest::newRow("all black") << 0 << 255 << 0 << 0;
    QTest::newRow("half rounds up") << 0 << 1 << 128 << 1;
    QTest::newRow("just below half") << 0 << 1 << 127 << 0;
    QTest::newRow("mixed") << 10 << 200 << 100 << (10 * 156 + 200 * 100 + 128) / 256;
}

void TestBlockAverage::exactMeans()
{
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, highCount);
    QFETCH(int, expected);
    QVector<uchar> src(16 * 64);
    for (int i = 0; i < 256; ++i) {
        const uchar v = uchar(i < highCount ? high : low);
        src[i * 4] = v;
        src[i * 4 + 1] = v;
        src[i * 4 + 2] = uchar(255 - v);
        src[i * 4 + 3] = 0;
    }
    uchar out[4] = {};
    blockAverage16(src.constData(), 64, 1, 1, out, 4);
    QCOMPARE(int(out[0]), expected);
    QCOMPARE(int(out[1]), expected);
    QCOMPARE(int(out[2]), (255 * 256 - (high * highCount + low * (256 - highCount)) + 128) / 256);
    QCOMPARE(int(out[3]), 255);
}

QTEST_GUILESS_MAIN(TestBlockAverage)
#include "tst_blockaverage.moc"
