#include "effects/AbstractColorProvider.h"
#include "effects/ColorInterpolation.h"
#include "effects/RazerIndexedColorProvider.h"
#include "support/ManualClock.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

Q_DECLARE_METATYPE(QList<QColor>)

namespace {
QList<QColor> palette(int n)
{
    const QList<QColor> all = {QColor(255, 0, 0),   QColor(0, 255, 0),   QColor(0, 0, 255),
                               QColor(255, 255, 0), QColor(0, 255, 255), QColor(255, 0, 255),
                               QColor(10, 20, 30)};
    return all.mid(0, n);
}

// An interpolation that has blended once, so that from and to both hold the given list.
std::unique_ptr<ColorInterpolation> settledOn(const QSharedPointer<AbstractColorProvider>& source,
                                              const QList<QColor>& list, const ManualClock& clock)
{
    source->updateColors({QColor(1, 2, 3)});
    auto ci = std::make_unique<ColorInterpolation>(source, nullptr, clock.source());
    ci->colors();
    ci->colors();
    source->updateColors(list);
    ci->colors();
    return ci;
}

// A whole list stamped with one sequence number: every colour carries it, each at its own position.
QList<QColor> stamped(int seq)
{
    QList<QColor> list;
    for (int i = 0; i < 5; ++i)
        list.append(QColor(seq & 0xff, (seq >> 8) & 0xff, (seq >> 16) & 0xff, 10 + i));
    return list;
}

// The sequence number of a list, or -1 when its colours were not published together.
int stampOf(const QList<QColor>& list, const QList<int>& positions)
{
    if (list.size() != positions.size())
        return -1;
    int seq = -1;
    for (int i = 0; i < list.size(); ++i) {
        const QColor& c = list.at(i);
        if (c.alpha() != 10 + positions.at(i))
            return -1;
        const int s = c.red() | (c.green() << 8) | (c.blue() << 16);
        if (seq != -1 && s != seq)
            return -1;
        seq = s;
    }
    return seq;
}
} // namespace

class TestColorProviders : public QObject
{
    Q_OBJECT
private slots:

    void updateColorsSignalsOnlyRealChanges_data()
    {
        QTest::addColumn<QList<QColor>>("first");
        QTest::addColumn<QList<QColor>>("second");
        QTest::addColumn<int>("emitted");
        QTest::newRow("equal colours, separate list") << palette(3) << palette(3) << 1;
        QTest::newRow("one colour differs")
            << palette(3) << QList<QColor>{QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 254)} << 2;
        QTest::newRow("longer list") << palette(3) << palette(4) << 2;
        QTest::newRow("emptied") << palette(3) << QList<QColor>() << 2;
        QTest::newRow("empty stays empty") << QList<QColor>() << QList<QColor>() << 0;
        QTest::newRow("same order matters")
            << palette(2) << QList<QColor>{QColor(0, 255, 0), QColor(255, 0, 0)} << 2;
    }
    void updateColorsSignalsOnlyRealChanges()
    {
        QFETCH(QList<QColor>, first);
        QFETCH(QList<QColor>, second);
        QFETCH(int, emitted);
        AbstractColorProvider p;
        QSignalSpy spy(&p, &AbstractColorProvider::colorsChanged);
        p.updateColors(first);
        QList<QColor> copy;
        for (const QColor& c : qAsConst(second))
            copy.append(QColor(c.red(), c.green(), c.blue()));
        p.updateColors(copy);
        QCOMPARE(spy.count(), emitted);
        QCOMPARE(p.colors(), second);
    }

    void indexedPicksByPosition_data()
    {
        QTest::addColumn<QList<int>>("indexes");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("out of range only") << QList<int>{7} << QList<int>();
        QTest::newRow("none") << QList<int>() << QList<int>();
        QTest::newRow("repeat repeats") << QList<int>{1, 1, 1} << QList<int>{1, 1, 1};
        QTest::newRow("edge of range") << QList<int>{5, 4, 2147483647, -2147483647 - 1} << QList<int>{4};
    }
    void indexedPicksByPosition()
    {
        QFETCH(QList<int>, indexes);
        QFETCH(QList<int>, expected);
        AbstractColorProvider source;
        source.updateColors(palette(5));
        RazerIndexedColorProvider p(&source);
        QVERIFY(p.colors().isEmpty());
        p.updateIndexes(indexes);
        QList<QColor> want;
        for (int i : qAsConst(expected))
            want.append(palette(5).at(i));
        QCOMPARE(p.colors(), want);
    }

    void interpolationStartsEmptyThenFollows()
    {
        ManualClock clock;
        auto source = QSharedPointer<AbstractColorProvider>::create();
        source->updateColors(palette(3));
        ColorInterpolation ci(source, nullptr, clock.source());
        QVERIFY(ci.colors().isEmpty());
        QCOMPARE(ci.colors(), palette(3));
        clock.set(*clock.now + 1);
        QCOMPARE(ci.colors(), palette(3));
        // Nothing has been blended yet, so the first change is taken as it is.
        source->updateColors(palette(4).mid(1));
        QCOMPARE(ci.colors(), palette(4).mid(1));

        ColorInterpolation none(QSharedPointer<AbstractColorProvider>(), nullptr, clock.source());
        QVERIFY(none.colors().isEmpty());
    }

    void interpolationBlendsOver800Ms_data()
    {
        QTest::addColumn<int>("dt");
        QTest::addColumn<QColor>("expected");
        const QColor from(0, 200, 10);
        const QColor to(255, 100, 11);
        QTest::newRow("start") << 0 << from;
        QTest::newRow("midpoint") << 400 << QColor(127, 150, 10);
        QTest::newRow("end") << 800 << to;
        QTest::newRow("long after") << 5000 << to;
        QTest::newRow("clock went back") << -50 << to;
    }
    void interpolationBlendsOver800Ms()
    {
        QFETCH(int, dt);
        QFETCH(QColor, expected);
        ManualClock clock;
        const QList<QColor> from{QColor(0, 200, 10), QColor(9, 9, 9)};
        const QList<QColor> to{QColor(255, 100, 11), QColor(9, 9, 9)};
        auto source = QSharedPointer<AbstractColorProvider>::create();
        const auto ci = settledOn(source, from, clock);

        const qint64 t0 = *clock.now + 5000;
        clock.set(t0);
        source->updateColors(to);
        // The call that sees the change still answers the old colours and starts the blend from them.
        QCOMPARE(ci->colors(), from);
        clock.set(t0 + dt);
        const QList<QColor> got = ci->colors();
        QCOMPARE(got.size(), 2);
        QCOMPARE(got.at(0), expected);
        QCOMPARE(got.at(0).alpha(), 255);
        QCOMPARE(got.at(1), QColor(9, 9, 9));
    }

    void interpolationRestartsFromTheBlendedColours()
    {
        ManualClock clock;
        auto source = QSharedPointer<AbstractColorProvider>::create();
        const auto ci = settledOn(source, {QColor(0, 0, 0)}, clock);
        const qint64 t0 = *clock.now;
        source->updateColors({QColor(200, 0, 0)});
        QCOMPARE(ci->colors(), QList<QColor>{QColor(0, 0, 0)});
        clock.set(t0 + 400);
        QCOMPARE(ci->colors(), QList<QColor>{QColor(100, 0, 0)});
        source->updateColors({QColor(0, 0, 0)});
        // The new blend runs from the midpoint back to black.
        QCOMPARE(ci->colors(), QList<QColor>{QColor(100, 0, 0)});
        clock.set(t0 + 800);
        QCOMPARE(ci->colors(), QList<QColor>{QColor(50, 0, 0)});
        clock.set(t0 + 1200);
        QCOMPARE(ci->colors(), QList<QColor>{QColor(0, 0, 0)});
    }

    void interpolationJumpsWhenTheCountChanges()
    {
        ManualClock clock;
        auto source = QSharedPointer<AbstractColorProvider>::create();
        const auto ci = settledOn(source, palette(3), clock);
        clock.set(*clock.now + 2000);
        source->updateColors(palette(5));
        QCOMPARE(ci->colors(), palette(3));
        // No blend: the five colours arrive whole, within the same millisecond.
        QCOMPARE(ci->colors(), palette(5));
        QCOMPARE(ci->colors(), palette(5));
        source->updateColors(palette(1));
        QCOMPARE(ci->colors(), palette(1));
        QCOMPARE(ci->colors(), palette(1));
    }

    void interpolationKeepsItsSourceAlive()
    {
        QPointer<AbstractColorProvider> watch;
        {
            auto source = QSharedPointer<AbstractColorProvider>::create();
            watch = source.data();
            auto ci = std::make_unique<ColorInterpolation>(source);
            source.reset();
            QVERIFY(watch);
            ci.reset();
        }
        QVERIFY(!watch);
    }

    // A producer publishes 100000 lists while readers on other threads check that every list they see
    // is one that was published whole, and that they never go back in time.
    void readersOnlySeeWholeLists()
    {
        AbstractColorProvider source;
        source.updateColors(stamped(0));
        RazerIndexedColorProvider indexed(&source);
        indexed.updateIndexes({4, 0, 2});
        constexpr int kUpdates = 100000;
        std::atomic<bool> done{false};
        std::atomic<int> torn{0};
        std::atomic<int> backwards{0};
        std::atomic<long> reads{0};

        const auto reader = [&](const AbstractColorProvider* p, QList<int> positions,
                                bool selectionMayChange) {
            int last = 0;
            while (!done.load()) {
                const QList<QColor> seen = p->colors();
                int seq = stampOf(seen, positions);
                // The indexed provider's selection flips between two valid ones.
                if (seq < 0 && selectionMayChange)
                    seq = stampOf(seen, {1, 3});
                if (seq < 0) {
                    ++torn;
                    continue;
                }
                if (seq < last)
                    ++backwards;
                last = seq;
                ++reads;
            }
        };
        std::vector<std::thread> threads;
        threads.emplace_back(reader, &source, QList<int>{0, 1, 2, 3, 4}, false);
        threads.emplace_back(reader, &indexed, QList<int>{4, 0, 2}, true);
        threads.emplace_back([&] {
            for (int i = 0; !done.load(); ++i)
                indexed.updateIndexes(i % 2 ? QList<int>{1, 3} : QList<int>{4, 0, 2});
        });
        // Let the readers get going so that they overlap the whole run of updates.
        QTRY_VERIFY_WITH_TIMEOUT(reads.load() > 0, 5000);
        const long readsBefore = reads.load();
        for (int seq = 1; seq <= kUpdates; ++seq)
            source.updateColors(stamped(seq));
        QTRY_VERIFY_WITH_TIMEOUT(reads.load() > readsBefore + 1000, 5000);
        done = true;
        for (auto& t : threads)
            t.join();
        QCOMPARE(torn.load(), 0);
        QCOMPARE(backwards.load(), 0);
        qDebug() << "lists read" << reads.load();
        QCOMPARE(stampOf(source.colors(), {0, 1, 2, 3, 4}), kUpdates);
    }
};

QTEST_MAIN(TestColorProviders)
#include "tst_colorproviders.moc"
