// End to end: the application's main window over a registry loaded from a settings file that pairs one
// emulated panel, and the chroma-publisher tool broadcasting as a Chroma application would. The user's
// clicks on the Razer Chroma tab decide what the panel receives.
#include "PageTestBench.h"
#include "support/TestHttpServer.h"
#include "ui/MainWindow.h"
#include "ui/RazerDevicePage.h"
#include "ui/UpdateChecker.h"

#include <QCheckBox>
#include <QProcess>
#include <QTabWidget>

class TestRazerEndToEnd : public QObject
{
    Q_OBJECT
private:
    PageTestBench m_bench{23};

    static bool publish(const QString& arguments)
    {
        QProcess publisher;
        publisher.start(QStringLiteral(CHROMA_PUBLISHER), arguments.split(QLatin1Char(' ')));
        return publisher.waitForFinished(10000) && publisher.exitStatus() == QProcess::NormalExit &&
               publisher.exitCode() == 0;
    }

private slots:
    void visualizeOnAndOff()
    {
        EmulatedPanel* panel = m_bench.startPanel(QStringLiteral("Living room"));
        QVERIFY(panel);
        m_bench.loadRegistry({PageTestBench::record(panel, 1)}, 15000);
        TestHttpServer updates;
        updates.body = "{\"version\":\"1.0.1\"}";
        UpdateChecker::instance()->setServiceUrl(updates.baseUrl());
        auto window = std::make_unique<MainWindow>();
        window->show();
        window->chapterTab()->setCurrentIndex(0);

        QVERIFY(publish(QStringLiteral("live on")));
        QVERIFY(publish(QStringLiteral("colors #ff0000 #00ff00 #0000ff #ffff00 #00ffff")));
        RazerDevicePage* page = nullptr;
        QVERIFY(QTest::qWaitFor(
            [&]() { return (page = window->findChild<RazerDevicePage*>()) && page->isVisible(); }, 10000));

        // On the tick box's indicator, at its left.
        for (int row : {2, 4})
            QTest::mouseClick(page->colorCheck(row), Qt::LeftButton, {},
                              QPoint(15, page->colorCheck(row)->height() / 2));
        QCOMPARE(page->selectedColorIndexes(), (QList<int>{2, 4}));
        QTest::mouseClick(page->streamToggle(), Qt::LeftButton);
        QVERIFY(page->streamToggle()->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(panel->lastFrame().pixelColor(0, 0) == QColor(0, 0, 255) &&
                                     panel->lastFrame().pixelColor(3, 7) == QColor(0, 255, 255),
                                 10000);

        const auto stops = [panel] {
            return panel->requestCounts().value(QStringLiteral("stop"));
        };
        const quint64 stopsBefore = stops();
        QTest::mouseClick(page->streamToggle(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(stops(), stopsBefore + 1, 10000);
        QVERIFY(PageTestBench::framesStopped(panel));
        QVERIFY(!PageTestBench::storedRecord(panel).value(QStringLiteral("stream_enabled")).toBool());

        window.reset();
        m_bench.reset();
    }
};

PAGE_TEST_MAIN(TestRazerEndToEnd)
#include "tst_razerendtoend.moc"
