// The capture worker over a fake back end whose frame records the tests spoil at will.
#include "support/LogCapture.h"

#include "capture/FrameProcessorAvgRects.h"
#include "capture/ScreenGrabber.h"
#include "capture/ScreenGrabberImp.h"

#include <QtTest>

#include <functional>

namespace {

class CountingProcessor : public FrameProcessorBase
{
public:
    explicit CountingProcessor(int index = 0) { setScreenIndex(index); }
    void processFrame(const QImage& frame) override
    {
        ++calls;
        lastSize = frame.size();
    }
    int calls = 0;
    QSize lastSize;
};

// Two screens, 64x32 and 32x16, with well-formed records until a test spoils one. A rebuild wipes the
// pixels, as a real back end frees them.
class FakeBackend : public ScreenGrabberImp
{
public:
    QList<QByteArray> pixels;
    int grabs = 0;

    bool grabFrames() override
    {
        ++grabs;
        return true;
    }
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
        QTest::newRow("no height") << Spoil([](ScreenFrame& f) { f.height = 0; }) << false;
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
        auto first = QSharedPointer<CountingProcessor>::create(0);
        auto second = QSharedPointer<CountingProcessor>::create(1);
        auto rects = QSharedPointer<FrameProcessorAvgRects>::create();
        rects->setRects({QRectF(0, 0, 1, 1)});
        for (const QSharedPointer<FrameProcessorBase>& p :
             {first.staticCast<FrameProcessorBase>(), second.staticCast<FrameProcessorBase>(),
              rects.staticCast<FrameProcessorBase>()})
            m_grabber->addFrameProcessor(p);
        LogCapture log;
        m_grabber->grab();
        QCOMPARE(first->calls, usable ? 1 : 0);
        QCOMPARE(second->calls, 1);
        QCOMPARE(second->lastSize, QSize(32, 16));
        QCOMPARE(log.count(QStringLiteral("invalid screen size")), 0);
    }

    void processorIndexes_data()
    {
        QTest::addColumn<QList<int>>("indexes");
        QTest::addColumn<QList<int>>("used");
        QTest::addColumn<QList<int>>("calls");
        QTest::newRow("same index twice") << QList<int>{0, 0} << QList<int>{0} << QList<int>{1, 1};
        QTest::newRow("first occurrence order")
            << QList<int>{1, 0, 1} << QList<int>{1, 0} << QList<int>{1, 1, 1};
        QTest::newRow("out of range")
            << QList<int>{-1, 2, 1000} << QList<int>{-1, 2, 1000} << QList<int>{0, 0, 0};
    }

    void processorIndexes()
    {
        QFETCH(QList<int>, indexes);
        QFETCH(QList<int>, used);
        QFETCH(QList<int>, calls);
        QList<QSharedPointer<CountingProcessor>> processors;
        for (int index : indexes) {
            processors << QSharedPointer<CountingProcessor>::create(index);
            m_grabber->addFrameProcessor(processors.last());
            m_grabber->addFrameProcessor(processors.last()); // twice is once
        }
        QCOMPARE(m_backend->usedScreens(), used);
        m_grabber->grab();
        for (int i = 0; i < processors.size(); ++i)
            QCOMPARE(processors.at(i)->calls, calls.at(i));
        m_grabber->removeFrameProcessor(processors.first());
        m_grabber->grab();
        QCOMPARE(processors.first()->calls, calls.first());
    }

    void noProcessorNoGrab()
    {
        m_grabber->grab();
        QCOMPARE(m_backend->grabs, 0);
    }

    // A rebuild frees the buffers behind the images; no processor may see them again.
    void rebuildDropsOldImages()
    {
        auto proc = QSharedPointer<CountingProcessor>::create(0);
        m_grabber->addFrameProcessor(proc);
        m_grabber->grab();
        QCOMPARE(proc->calls, 1);
        m_grabber->init();
        m_grabber->processImg();
        QCOMPARE(proc->calls, 1);
        m_grabber->grab();
        QCOMPARE(proc->calls, 2);
    }
};

QTEST_GUILESS_MAIN(TestScreenGrabber)
#include "tst_screengrabber.moc"
