#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"

#include <QHash>
#include <QPainter>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

QImage twoHalves(const QSize& size, QRgb left, QRgb right)
{
    QImage img(size, QImage::Format_ARGB32);
    img.fill(left);
    QPainter(&img).fillRect(QRect(size.width() / 2, 0, size.width() - size.width() / 2, size.height()),
                            QColor::fromRgba(right));
    return img;
}

} // namespace

class TestFrameProcessors : public QObject
{
    Q_OBJECT
private slots:
    void scaledCrop_data();
    void scaledCrop();
    void scaledCropTruncatingToZeroKeepsResult();
    void scaledFrameIsDeepCopy();
    void brightnessThreshold_data();
    void brightnessThreshold();
    void thinRegionsAreBlack_data();
    void thinRegionsAreBlack();
    void mostFrequentColourWins();
    void invalidScreenSizeKeepsColours();
    void oneColourPerRectangleInOrder();
    void regionsBeyondTheImageAreClipped();
    void resultsCrossThreadsSafely();
};

void TestFrameProcessors::scaledCrop_data()
{
    QTest::addColumn<QRectF>("crop");
    QTest::addColumn<QRgb>("expected");
    QTest::newRow("left half") << QRectF(0, 0, 0.5, 1) << qRgb(255, 0, 0);
    QTest::newRow("right half") << QRectF(0.5, 0, 0.5, 1) << qRgb(0, 0, 255);
    QTest::newRow("right strip") << QRectF(0.9, 0.1, 0.1, 0.8) << qRgb(0, 0, 255);
}

void TestFrameProcessors::scaledCrop()
{
    QFETCH(QRectF, crop);
    QFETCH(QRgb, expected);
    FrameProccessorScaledFrame proc;
    proc.setCropRect(crop);
    proc.setTargetSize(QSize(3, 3));
    proc.processFrame(twoHalves(QSize(120, 67), qRgb(255, 0, 0), qRgb(0, 0, 255)));
    const QImage out = proc.scaledFrame();
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 3; ++x)
            QCOMPARE(out.pixel(x, y), expected);
    }
}

void TestFrameProcessors::scaledCropTruncatingToZeroKeepsResult()
{
    FrameProccessorScaledFrame proc;
    proc.setTargetSize(QSize(2, 2));
    proc.processFrame(twoHalves(QSize(8, 8), qRgb(10, 200, 10), qRgb(10, 200, 10)));
    proc.setCropRect(QRectF(0.9, 0, 0.05, 1));
    proc.processFrame(twoHalves(QSize(8, 8), qRgb(255, 255, 255), qRgb(255, 255, 255)));
    QCOMPARE(proc.scaledFrame().pixel(0, 0), qRgb(10, 200, 10));
    // A null frame changes nothing either.
    proc.setCropRect(QRectF());
    proc.processFrame(QImage());
    QCOMPARE(proc.scaledFrame().pixel(0, 0), qRgb(10, 200, 10));
}

void TestFrameProcessors::scaledFrameIsDeepCopy()
{
    FrameProccessorScaledFrame proc;
    proc.setTargetSize(QSize(2, 2));
    QImage source = twoHalves(QSize(16, 16), qRgb(1, 2, 3), qRgb(1, 2, 3));
    proc.processFrame(source);
    QImage copy = proc.scaledFrame();
    copy.fill(Qt::white);
    QCOMPARE(proc.scaledFrame().pixel(0, 0), qRgb(1, 2, 3));
}

void TestFrameProcessors::brightnessThreshold_data()
{
    QTest::addColumn<QRgb>("pixel");
    QTest::addColumn<QRgb>("expected");
    QTest::newRow("red 70 counts") << qRgb(70, 0, 0) << qRgb(70, 0, 0);
    QTest::newRow("red 69 is dark") << qRgb(69, 0, 0) << qRgb(0, 0, 0);
    QTest::newRow("grey 40 is dark (69.28)") << qRgb(40, 40, 40) << qRgb(0, 0, 0);
    QTest::newRow("grey 41 counts (71.01)") << qRgb(41, 41, 41) << qRgb(41, 41, 41);
}

void TestFrameProcessors::brightnessThreshold()
{
    QFETCH(QRgb, pixel);
    QFETCH(QRgb, expected);
    QImage img(64, 64, QImage::Format_ARGB32);
    img.fill(pixel);
    QCOMPARE(FrameProcessorAvgRects::dominantColor(img.rect(), img, 7).rgba(), expected);
}

void TestFrameProcessors::thinRegionsAreBlack_data()
{
    QTest::addColumn<QRect>("rect");
    QTest::newRow("one row") << QRect(0, 10, 64, 1);
    QTest::newRow("one column") << QRect(10, 0, 1, 64);
    QTest::newRow("empty") << QRect(0, 0, 0, 0);
}

void TestFrameProcessors::thinRegionsAreBlack()
{
    QFETCH(QRect, rect);
    QImage img(64, 64, QImage::Format_ARGB32);
    img.fill(qRgb(255, 255, 255));
    QCOMPARE(FrameProcessorAvgRects::dominantColor(rect, img, 7).rgba(), qRgb(0, 0, 0));
}

void TestFrameProcessors::mostFrequentColourWins()
{
    // Columns repeat every 3 (two red, one green) while the sampling steps 7: whatever the random phase,
    // every row samples about two reds for each green.
    QImage img(141, 40, QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, (x % 3) < 2 ? qRgb(200, 0, 0) : qRgb(0, 200, 0));
    }
    for (int i = 0; i < 20; ++i)
        QCOMPARE(FrameProcessorAvgRects::dominantColor(img.rect(), img, 7).rgba(), qRgb(200, 0, 0));
}

void TestFrameProcessors::invalidScreenSizeKeepsColours()
{
    FrameProcessorAvgRects proc;
    QVERIFY(proc.colors().isEmpty());
    proc.setRects({QRectF(0, 0, 1, 1)});
    QImage img(40, 40, QImage::Format_ARGB32);
    img.fill(qRgb(0, 150, 0));
    proc.processFrame(img);
    QCOMPARE(proc.colors(), QList<QColor>{QColor(0, 150, 0)});
    QTest::ignoreMessage(QtDebugMsg, "invalid screen size 0 0");
    proc.processFrame(QImage());
    QCOMPARE(proc.colors(), QList<QColor>{QColor(0, 150, 0)});
}

void TestFrameProcessors::oneColourPerRectangleInOrder()
{
    FrameProcessorAvgRects proc;
    proc.setRects({QRectF(0.5, 0, 0.5, 1), QRectF(0, 0, 0.5, 1), QRectF(0, 0, 0, 0), QRectF(0, 0, 1, 1)});
    QImage img = twoHalves(QSize(120, 67), qRgb(255, 0, 0), qRgb(0, 0, 255));
    // The whole-screen region: make red clearly dominant.
    QPainter(&img).fillRect(QRect(60, 0, 20, 67), QColor(255, 0, 0));
    proc.processFrame(img);
    const QList<QColor> colors = proc.colors();
    QCOMPARE(colors.size(), 4);
    QCOMPARE(colors.at(0), QColor(0, 0, 255));
    QCOMPARE(colors.at(1), QColor(255, 0, 0));
    QCOMPARE(colors.at(2), QColor(0, 0, 0));
    QCOMPARE(colors.at(3), QColor(255, 0, 0));
}

void TestFrameProcessors::regionsBeyondTheImageAreClipped()
{
    FrameProcessorAvgRects proc;
    proc.setRects({QRectF(-1, -1, 3, 3), QRectF(0.5, 0.5, 5, 5), QRectF(2, 2, 1, 1)});
    QImage img(30, 30, QImage::Format_ARGB32);
    img.fill(qRgb(90, 90, 90));
    proc.processFrame(img);
    QCOMPARE(proc.colors(), (QList<QColor>{QColor(90, 90, 90), QColor(90, 90, 90), QColor(0, 0, 0)}));
}

void TestFrameProcessors::resultsCrossThreadsSafely()
{
    FrameProccessorScaledFrame scaled;
    FrameProcessorAvgRects avg;
    avg.setRects({QRectF(0, 0, 1, 1)});
    std::atomic<bool> stop{false};
    QThread* worker = QThread::create([&] {
        QImage a = twoHalves(QSize(120, 67), qRgb(255, 0, 0), qRgb(0, 0, 255));
        while (!stop) {
            scaled.processFrame(a);
            avg.processFrame(a);
        }
    });
    worker->start();
    for (int i = 0; i < 2000; ++i) {
        scaled.setTargetSize(QSize(1 + i % 17, 1 + i % 5));
        const QImage img = scaled.scaledFrame();
        QVERIFY(img.isNull() || img.width() <= 17);
        const QList<QColor> colors = avg.colors();
        QVERIFY(colors.size() <= 1);
    }
    stop = true;
    worker->wait();
    delete worker;
}

QTEST_GUILESS_MAIN(TestFrameProcessors)
#include "tst_frameprocessors.moc"
