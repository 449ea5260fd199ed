#include "support/LogCapture.h"

#include "effects/AbstractColorProvider.h"
#include "effects/EffectDeviceSeasoning.h"
#include "effects/EffectGenerator.h"
#include "effects/EffectGeneratorFadingPixel.h"
#include "effects/EffectGeneratorWithColorProvider.h"
#include "support/ManualClock.h"

#include <QMetaMethod>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>

namespace {
QByteArrayList ownMethods(const QMetaObject* mo)
{
    QByteArrayList names;
    for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
        names << mo->method(i).methodSignature();
    return names;
}

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
    void metaObjectsListTheMethodsConnectionsRelyOn()
    {
        QCOMPARE(ownMethods(&EffectGenerator::staticMetaObject),
                 (QByteArrayList{"canvasUpdated(QImage)", "resize(QSize)", "setColors(QList<QColor>)",
                                 "update()"}));
        QCOMPARE(ownMethods(&EffectGeneratorWithColorProvider::staticMetaObject), QByteArrayList());
        QCOMPARE(ownMethods(&EffectGeneratorFadingPixel::staticMetaObject), QByteArrayList{"update()"});
        const QMetaObject& mo = EffectGenerator::staticMetaObject;
        QCOMPARE(mo.method(mo.methodOffset()).methodType(), QMetaMethod::Signal);
    }

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

    void slowFrameLineCarriesTimeAndGap()
    {
        ManualClock clock;
        EffectGenerator g;
        g.setFrameClock(clock.source());
        LogCapture log;
        g.update();
        clock.advance(47);
        g.update();
        const QStringList lines = log.lines().filter(QStringLiteral("generating too slow"));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(
            QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d generating too slow 47$"))
                .match(lines.first())
                .hasMatch(),
            qPrintable(lines.first()));
    }

    void realClockIsTheDefault()
    {
        EffectGenerator g;
        LogCapture log;
        g.update();
        QTest::qWait(60);
        g.update();
        QVERIFY(log.count(QStringLiteral("generating too slow")) >= 1);
    }

    void setColorsKeepsTheSameList()
    {
        EffectGenerator g;
        const QList<QColor> first{Qt::red, Qt::green};
        g.setColors(first);
        QVERIFY(g.colors().isSharedWith(first));
        g.setColors(g.colors());
        QVERIFY(g.colors().isSharedWith(first));
        const QList<QColor> equal{Qt::red, Qt::green};
        g.setColors(equal);
        QVERIFY(g.colors().isSharedWith(equal));
        g.setColors({});
        QVERIFY(g.colors().isEmpty());
    }

    void slotsWorkByNameAcrossThreads()
    {
        QThread thread;
        thread.start();
        auto* g = new EffectGeneratorFadingPixel;
        auto provider = makeProvider({Qt::blue});
        g->setColorProvider(provider);
        g->moveToThread(&thread);
        // Frames come back to this thread queued, as they would to any receiver elsewhere.
        QList<QImage> frames;
        connect(
            g, &EffectGenerator::canvasUpdated, this, [&frames](const QImage& img) { frames.append(img); },
            Qt::QueuedConnection);
        QVERIFY(QMetaObject::invokeMethod(g, "resize", Qt::QueuedConnection, Q_ARG(QSize, QSize(4, 8))));
        QVERIFY(QMetaObject::invokeMethod(g, "setColors", Qt::QueuedConnection,
                                          Q_ARG(QList<QColor>, QList<QColor>{Qt::red})));
        QVERIFY(QMetaObject::invokeMethod(g, "update", Qt::QueuedConnection));
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), 1, 5000);
        const QImage img = frames.first();
        QCOMPARE(img.size(), QSize(4, 8));
        // The provider's colours are painted, never the stored list.
        QCOMPARE(img.pixel(0, 0), QColor(Qt::blue).rgba());
        QList<QColor> stored;
        QVERIFY(QMetaObject::invokeMethod(
            g, [g, &stored] { stored = g->colors(); }, Qt::BlockingQueuedConnection));
        QCOMPARE(stored, QList<QColor>{Qt::red});
        QObject::connect(&thread, &QThread::finished, g, &QObject::deleteLater);
        thread.quit();
        QVERIFY(thread.wait(5000));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void destructorLogsItself()
    {
        LogCapture log;
        {
            EffectGenerator g;
        }
        QCOMPARE(log.count(QStringLiteral("deleted generator")), 1);
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

    void directionAngles_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("degrees");
        for (int i = 0; i < 8; ++i)
            QTest::addRow("index %d", i) << i << i * 45;
        QTest::newRow("8") << 8 << 0;
        QTest::newRow("-1") << -1 << 0;
        QTest::newRow("int max") << 2147483647 << 0;
        QTest::newRow("int min") << -2147483647 - 1 << 0;
    }
    void directionAngles()
    {
        QFETCH(int, index);
        QFETCH(int, degrees);
        QCOMPARE(directionAngle(index), degrees);
        QCOMPARE(directionLabel(index), QStringLiteral(" - ") + QString::number(degrees) + QChar(0x00B0));
    }

    void directionLabelForIndexOne()
    {
        const QString label = directionLabel(1);
        QCOMPARE(label.size(), 6);
        QCOMPARE(label, QString::fromUtf8(" - 45\xC2\xB0"));
    }

    void effectNames_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("name");
        QTest::newRow("0") << int(NoEffect) << QStringLiteral("No Effect");
        QTest::newRow("1") << int(FadingPixels) << QStringLiteral("Fading Pixels");
        QTest::newRow("2") << int(FadingTriangles) << QStringLiteral("Fading Triangles");
        QTest::newRow("3") << 3 << QString();
        QTest::newRow("-1") << -1 << QString();
    }
    void effectNames()
    {
        QFETCH(int, value);
        QFETCH(QString, name);
        QCOMPARE(effectName(value), name);
        QCOMPARE(effectName(value).isNull(), name.isNull());
    }

    void seasoningTravelsAsAMetaType()
    {
        const int id = qRegisterMetaType<EffectDeviceSeasoning>("EffectDeviceSeasoning");
        QCOMPARE(QMetaType::type("EffectDeviceSeasoning"), id);
        QCOMPARE(QVariant::fromValue(FadingTriangles).value<EffectDeviceSeasoning>(), FadingTriangles);
    }
};

QTEST_MAIN(TestEffectGenerator)
#include "tst_effectgenerator.moc"
