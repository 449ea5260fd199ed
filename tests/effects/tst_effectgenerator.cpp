#include "support/LogCapture.h"

#include "effects/AbstractColorProvider.h"
#include "effects/EffectDeviceSeasoning.h"
#include "effects/EffectGenerator.h"
#include "effects/EffectGeneratorFadingPixel.h"
#include "effects/EffectGeneratorWithColorProvider.h"
#include "support/ManualClock.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>

namespace {
// Shares providers the way the pages do.
QSharedPointer<AbstractColorProvider> makeProvider(const QList<QColor>& colors)
{
    QSharedPointer<AbstractColorProvider> p(new AbstractColorProvider, &QObject::deleteLater);
    p->updateColors(colors);
    return p;
}
} // namespace

class TestEffectGenerator : public QObject
{
    Q_OBJECT
private slots:

    void slowFramesAreReported_data()
    {
        QTest::addColumn<QList<int>>("gaps");
        QTest::addColumn<int>("warnings");
        QTest::newRow("first frame never warns") << QList<int>() << 0;
        QTest::newRow("on time") << QList<int>{30, 30, 30} << 0;
        QTest::newRow("35 ms") << QList<int>{35} << 0;
        QTest::newRow("36 ms") << QList<int>{36} << 1;
        QTest::newRow("each late frame") << QList<int>{36, 30, 500, 0} << 2;
        QTest::newRow("clock went back") << QList<int>{-100} << 0;
    }
    void slowFramesAreReported()
    {
        QFETCH(QList<int>, gaps);
        QFETCH(int, warnings);
        ManualClock clock;
        EffectGenerator g;
        g.setFrameClock(clock.source());
        LogCapture log;
        // A long pause before the very first frame is not a slow frame.
        clock.advance(10'000);
        g.update();
        for (int gap : qAsConst(gaps)) {
            clock.advance(gap);
            g.update();
        }
        QCOMPARE(log.count(QStringLiteral("generating too slow")), warnings);
    }

    void destroyedProviderMeansNoColours()
    {
        EffectGeneratorFadingPixel g;
        g.resize(QSize(4, 8));
        QSignalSpy frames(&g, &EffectGenerator::canvasUpdated);
        QVERIFY(g.providerColors().isEmpty());
        g.update();
        QCOMPARE(frames.count(), 0);

        QPointer<AbstractColorProvider> watch;
        {
            auto provider = makeProvider({Qt::red, Qt::green});
            watch = provider.data();
            g.setColorProvider(provider);
            QCOMPARE(g.providerColors(), (QList<QColor>{Qt::red, Qt::green}));
            g.update();
            QCOMPARE(frames.count(), 1);
        }
        // The last owner let go; deleteLater finishes it on its own thread.
        QTRY_VERIFY(!watch);
        QVERIFY(g.providerColors().isEmpty());
        g.update();
        QCOMPARE(frames.count(), 1);
    }

    void providerCanBeReplaced()
    {
        EffectGeneratorWithColorProvider g;
        auto a = makeProvider({Qt::red});
        g.setColorProvider(a);
        g.setColorProvider(a);
        QCOMPARE(g.providerColors(), QList<QColor>{Qt::red});
        auto b = makeProvider({Qt::green});
        g.setColorProvider(b);
        QCOMPARE(g.providerColors(), QList<QColor>{Qt::green});
        // The generator does not keep a provider alive.
        a.reset();
        b.reset();
        QTRY_VERIFY(g.providerColors().isEmpty());
        // A new provider after the old one died is taken, wherever it was allocated.
        for (int i = 0; i < 5; ++i) {
            auto c = makeProvider({QColor(i, i, i)});
            g.setColorProvider(c);
            QCOMPARE(g.providerColors(), QList<QColor>{QColor(i, i, i)});
        }
        g.setColorProvider({});
        QVERIFY(g.providerColors().isEmpty());
    }
};

QTEST_MAIN(TestEffectGenerator)
#include "tst_effectgenerator.moc"
