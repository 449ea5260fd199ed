// Frames without an X server: the block average, the frame processors and the capture worker over a fake
// back end whose frame records the tests spoil at will.
#include "support/LogCapture.h"
#include "support/ProbeProcessor.h"
#include "support/TestPictures.h"

#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "capture/ScreenGrabber.h"
#include "capture/ScreenGrabberImp.h"
#include "capture/linux/BlockAverage.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <functional>

using namespace TestPictures;

namespace {

// Two screens, 64x32 and 32x16, with well-formed records until a test spoils one. A rebuild wipes the
// pixels, as a real back end frees them.
class FakeBackend : public ScreenGrabberImp
{
public:
    QList<QByteArray> pixels;
    int grabs = 0;
    bool delivers = true;

    bool grabFrames() override
    {
        ++grabs;
        return delivers;
    }
    void setState(GrabberState state) { m_state = state; }
    bool needsReinit() override { return false; }
    QList<ScreenInfo> identifyScreens() override
    {
        return {{QStringLiteral("A"), QRect(0, 0, 64, 32), 1},
                {QStringLiteral("B"), QRect(64, 0, 32, 16), 2}};
    }
    void initScreens(const QList<ScreenInfo>& screens) override
    {
        deinitScreens();
        pixels.clear();
        for (const ScreenInfo& s : screens) {
            pixels << QByteArray(s.geometry.width() * s.geometry.height() * 4, '\x7f');
            auto* f = new ScreenFrame;
            f->buffer = reinterpret_cast<uchar*>(pixels.last().data());
            f->size = pixels.last().size();
            f->valid = 1;
            f->width = s.geometry.width();
            f->height = s.geometry.height();
            f->stride = f->width * 4;
            m_frames << f;
        }
    }
    void deinitScreens() override
    {
        for (QByteArray& p : pixels)
            p.fill('\0');
        qDeleteAll(m_frames);
        m_frames.clear();
    }
};

using Spoil = std::function<void(ScreenFrame&)>;
} // namespace

Q_DECLARE_METATYPE(Spoil)

class TestScreenGrabber : public QObject
{
    Q_OBJECT
private:
    FakeBackend* m_backend = nullptr;
    std::unique_ptr<ScreenGrabber> m_grabber;

private slots:
    void init()
    {
        m_backend = new FakeBackend;
        m_grabber = std::make_unique<ScreenGrabber>(m_backend);
        m_grabber->init();
    }
    void cleanup() { m_grabber.reset(); }

    // An unusable record gives its screen no image and its processors no call (and no log line every
    // tick), while the other screen's processors still get their own screen.
    void frameRecordGuards_data()
    {
        QTest::addColumn<Spoil>("spoil");
        QTest::addColumn<bool>("usable");
        QTest::newRow("usable") << Spoil([](ScreenFrame&) {}) << true;
        QTest::newRow("valid flag 0") << Spoil([](ScreenFrame& f) { f.valid = 0; }) << false;
        QTest::newRow("null buffer") << Spoil([](ScreenFrame& f) { f.buffer = nullptr; }) << false;
        QTest::newRow("stride below a row")
            << Spoil([](ScreenFrame& f) { f.stride = f.width * 4 - 4; }) << false;
        QTest::newRow("size below the rows") << Spoil([](ScreenFrame& f) { f.size -= 1; }) << false;
        QTest::newRow("padded rows") << Spoil([](ScreenFrame& f) {
            f.stride = 288;
            f.height = 28;
        }) << true;
    }

    void frameRecordGuards()
    {
        QFETCH(Spoil, spoil);
        QFETCH(bool, usable);
        spoil(*m_backend->frames().at(0));
        auto first = QSharedPointer<ProbeProcessor>::create(0);
        auto second = QSharedPointer<ProbeProcessor>::create(1);
        auto rects = QSharedPointer<FrameProcessorAvgRects>::create();
        rects->setRects({QRectF(0, 0, 1, 1)});
        m_grabber->addFrameProcessor(first);
        m_grabber->addFrameProcessor(second);
        m_grabber->addFrameProcessor(rects);
        LogCapture log;
        m_grabber->grab();
        QCOMPARE(first->calls.load(), usable ? 1 : 0);
        QCOMPARE(second->calls.load(), 1);
        QCOMPARE(second->size, QSize(32, 16));
        QCOMPARE(log.count(QStringLiteral("invalid screen size")), 0);
    }

    // Screens are grabbed in the order processors first name them, out-of-range ones too (whose processors
    // get nothing); a processor added twice is called once, and not at all once removed. A rebuild frees the
    // buffers behind the images; no processor may see them again.
    void processorIndexes()
    {
        // Without processors there is nothing to grab for.
        m_grabber->grab();
        QCOMPARE(m_backend->grabs, 0);
        QList<QSharedPointer<ProbeProcessor>> processors;
        for (int index : {1, 0, 1, -1, 2, 1000}) {
            processors << QSharedPointer<ProbeProcessor>::create(index);
            m_grabber->addFrameProcessor(processors.last());
            m_grabber->addFrameProcessor(processors.last());
        }
        QCOMPARE(m_backend->usedScreens(), (QList<int>{1, 0, -1, 2, 1000}));
        m_grabber->grab();
        m_grabber->removeFrameProcessor(processors.first());
        m_grabber->grab();
        m_grabber->init();
        m_grabber->processImg();
        QList<int> calls;
        for (const auto& p : qAsConst(processors))
            calls << p->calls;
        QCOMPARE(calls, (QList<int>{1, 2, 2, 0, 0, 0}));
        m_grabber->grab();
        QCOMPARE(processors.at(1)->calls.load(), 3);
    }

    // Every refusal is reported once, however many ticks it lasts; a pause in ticking is no slow tick.
    void refusalsAndPauses()
    {
        auto probe = QSharedPointer<ProbeProcessor>::create(0);
        m_grabber->addFrameProcessor(probe);
        QSignalSpy disabled(m_grabber.get(), &ScreenGrabber::userDisabledGrab);
        m_backend->delivers = false;
        for (GrabberState state : {DisabledByUser, DisabledByUser, NotReady, DisabledByUser}) {
            m_backend->setState(state);
            m_grabber->grab();
        }
        QCOMPARE(disabled.count(), 2);

        m_backend->delivers = true;
        m_grabber->grab();
        m_grabber->removeFrameProcessor(probe);
        QTest::qWait(60);
        m_grabber->grab();
        m_grabber->addFrameProcessor(probe);
        LogCapture log;
        m_grabber->grab();
        QCOMPARE(log.count(QStringLiteral("grab slow")), 0);
    }

    // The crop picks the part of the frame that is scaled; one too thin to keep a pixel, or no frame at all,
    // keeps the previous result.
    void scaledCrop()
    {
        FrameProccessorScaledFrame proc;
        proc.setTargetSize(QSize(3, 3));
        const auto scaledTo = [&proc](const QRectF& crop, const QImage& frame, QRgb expected) {
            proc.setCropRect(crop);
            proc.processFrame(frame);
            const QImage out = proc.scaledFrame();
            return out.size() == QSize(3, 3) &&
                   out.convertToFormat(QImage::Format_RGB32) == solid(QSize(3, 3), expected);
        };
        QImage frame = solid(QSize(120, 67), qRgb(255, 0, 0));
        QPainter(&frame).fillRect(60, 0, 60, 67, QColor(0, 0, 255));
        QVERIFY(scaledTo(QRectF(0, 0, 0.5, 1), frame, qRgb(255, 0, 0)));
        QVERIFY(scaledTo(QRectF(0.9, 0.1, 0.1, 0.8), frame, qRgb(0, 0, 255)));
        QVERIFY(scaledTo(QRectF(0, 0, 0.005, 1), frame, qRgb(0, 0, 255)));
        QVERIFY(scaledTo(QRectF(), QImage(), qRgb(0, 0, 255)));
    }

    // A rectangle one pixel thin has no pixel to read.
    void dominantColour_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QRgb>("expected");
        const QSize square(64, 64);
        QTest::newRow("red 70 counts") << solid(square, qRgb(70, 0, 0)) << qRgb(70, 0, 0);
        QTest::newRow("red 69 is dark") << solid(square, qRgb(69, 0, 0)) << qRgb(0, 0, 0);
        QTest::newRow("grey 40 is dark (69.28)") << solid(square, qRgb(40, 40, 40)) << qRgb(0, 0, 0);
        QTest::newRow("grey 41 counts (71.01)") << solid(square, qRgb(41, 41, 41)) << qRgb(41, 41, 41);
        QTest::newRow("one row is black") << solid(QSize(64, 1), qRgb(255, 255, 255)) << qRgb(0, 0, 0);
        QTest::newRow("one column is black") << solid(QSize(1, 64), qRgb(255, 255, 255)) << qRgb(0, 0, 0);
        // Columns repeat every 3 (two red, one green) while the sampling steps 7: whatever the random phase,
        // every row samples about two reds for each green.
        QImage stripes(141, 40, QImage::Format_ARGB32);
        for (int x = 0; x < stripes.width(); ++x)
            QPainter(&stripes).fillRect(x, 0, 1, 40, (x % 3) < 2 ? QColor(200, 0, 0) : QColor(0, 200, 0));
        QTest::newRow("most frequent wins") << stripes << qRgb(200, 0, 0);
    }

    // The sampling starts at a random column: the answer holds for every start.
    void dominantColour()
    {
        QFETCH(QImage, image);
        QFETCH(QRgb, expected);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(FrameProcessorAvgRects::dominantColor(image.rect(), image, 7).rgba(), expected);
    }

    void oneColourPerRectangleInOrder()
    {
        FrameProcessorAvgRects proc;
        proc.setRects({QRectF(0.5, 0, 0.5, 1), QRectF(0, 0, 0.5, 1), QRectF(0, 0, 0, 0), QRectF(-1, -1, 3, 3),
                       QRectF(2, 2, 1, 1)});
        // Blue only on the right third, so red clearly leads the whole-screen region (clipped to the image).
        QImage img = solid(QSize(120, 67), qRgb(255, 0, 0));
        QPainter(&img).fillRect(QRect(80, 0, 40, 67), QColor(0, 0, 255));
        proc.processFrame(img);
        const QList<QColor> expected{QColor(0, 0, 255), QColor(255, 0, 0), QColor(0, 0, 0), QColor(255, 0, 0),
                                     QColor(0, 0, 0)};
        QCOMPARE(proc.colors(), expected);
        // A null frame keeps the last colours.
        QTest::ignoreMessage(QtDebugMsg, "invalid screen size 0 0");
        proc.processFrame(QImage());
        QCOMPARE(proc.colors(), expected);
    }

    void matchesReference_data()
    {
        QTest::addColumn<int>("blocksW");
        QTest::addColumn<int>("blocksH");
        QTest::addColumn<int>("padding");
        QTest::newRow("1x1") << 1 << 1 << 0;
        QTest::newRow("full hd") << 120 << 67 << 0;
        QTest::newRow("padded rows") << 7 << 3 << 12;
        QTest::newRow("odd width") << 13 << 5 << 4;
        QTest::newRow("wider than one chunk") << 300 << 2 << 0;
    }

    void matchesReference()
    {
        QFETCH(int, blocksW);
        QFETCH(int, blocksH);
        QFETCH(int, padding);
        const qsizetype srcStride = qsizetype(blocksW) * 64 + padding;
        QVector<uchar> src(int(srcStride * blocksH * 16));
        // A fixed seed of each row's own.
        QRandomGenerator gen(quint32(srcStride * blocksH));
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

    // Each channel of a block is the rounded mean of its 256 pixels, here blocks of low and high values.
    void exactMeans()
    {
        // Low and high value, how many pixels are high, and the mean.
        const int blocks[4][4] = {{0, 255, 256, 255},
                                  {0, 1, 128, 1},
                                  {0, 1, 127, 0},
                                  {10, 200, 100, (10 * 156 + 200 * 100 + 128) / 256}};
        QVector<uchar> src(4 * 16 * 64);
        for (int b = 0; b < 4; ++b) {
            for (int i = 0; i < 256; ++i) {
                uchar* pixel = src.data() + (i / 16) * 256 + b * 64 + (i % 16) * 4;
                const uchar v = uchar(i < blocks[b][2] ? blocks[b][1] : blocks[b][0]);
                pixel[0] = v;
                pixel[1] = v;
                pixel[2] = uchar(255 - v);
            }
        }
        uchar out[16] = {};
        blockAverage16(src.constData(), 256, 4, 1, out, 16);
        for (int b = 0; b < 4; ++b) {
            const int highSum = blocks[b][1] * blocks[b][2] + blocks[b][0] * (256 - blocks[b][2]);
            QCOMPARE(int(out[b * 4]), blocks[b][3]);
            QCOMPARE(int(out[b * 4 + 1]), blocks[b][3]);
            QCOMPARE(int(out[b * 4 + 2]), (255 * 256 - highSum + 128) / 256);
            QCOMPARE(int(out[b * 4 + 3]), 255);
        }
    }
};

QTEST_GUILESS_MAIN(TestScreenGrabber)
#include "tst_screengrabber.moc"
