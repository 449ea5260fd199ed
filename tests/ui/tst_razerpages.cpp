// The Razer Chroma tab against emulated panels, our broadcast library fed by the publisher, a stand-in
// logind on a private bus and the real registry: what the user picks reaches the panel as bands, streams
// follow lock, unlock and the panel's own standby, and the preview follows the broadcast.
#include "PageTestBench.h"
#include "broadcast/ChromaBroadcastChannel.h"
#include "broadcast/ChromaPublisher.h"
#include "effects/RazerSdkColorProvider.h"
#include "ui/DeviceListRazerPage.h"
#include "ui/RazerDevicePage.h"
#include "ui/RazerDeviceTabLabel.h"
#include "ui/RazerPreviewPage.h"
#include "ui/RoundRectWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPointer>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>

namespace {
const QString kEnabled = QStringLiteral("stream_enabled");
const QString kSource = QStringLiteral("stream_source");
const QList<QColor> kColors{QColor(250, 10, 10), QColor(10, 250, 10), QColor(10, 10, 250),
                            QColor(240, 240, 10), QColor(10, 240, 240)};

QVariantMap razerOf(const EmulatedPanel* panel)
{
    return PageTestBench::storedRecord(panel).value(QStringLiteral("razer")).toMap();
}
} // namespace

class TestRazerPages : public QObject
{
    Q_OBJECT
private:
    PageTestBench m_bench{22};
    std::unique_ptr<DeviceListRazerPage> m_tab;
    std::unique_ptr<ChromaPublisher> m_publisher;

    void publish(bool live, const QList<QColor>& colors = {})
    {
        if (!m_publisher) {
            m_publisher = std::make_unique<ChromaPublisher>();
            QString error;
            QVERIFY2(m_publisher->connectTo(ChromaBroadcastChannel::socketPath(&error), &error),
                     qPrintable(error));
        }
        RazerSdkColorProvider* provider = RazerSdkColorProvider::instance();
        const bool change = provider->isAvailable() != live;
        QSignalSpy changed(provider, &RazerSdkColorProvider::availableChanged);
        if (!colors.isEmpty())
            QVERIFY(m_publisher->sendColors(colors));
        QVERIFY(m_publisher->setLive(live));
        QTRY_COMPARE_WITH_TIMEOUT(provider->isAvailable(), live, 5000);
        // The tabs, connected before the spy, have had the change posted to them by now.
        QTRY_COMPARE(changed.count(), change ? 1 : 0);
        QCoreApplication::sendPostedEvents();
    }

    RazerDevicePage* pageOf(EmulatedPanel* panel)
    {
        PivotrixDeviceController* c = PageTestBench::controllerFor(panel);
        RazerDevicePage* page = nullptr;
        QTest::qWaitFor(
            [&]() { return (page = qobject_cast<RazerDevicePage*>(m_tab->pageForController(c))) != nullptr; },
            10000);
        return page;
    }

    // One panel with this record; the tab built once the broadcast is live with the test colours.
    RazerDevicePage* setUp(EmulatedPanel** panel, const QVariantMap& extra = {})
    {
        *panel = m_bench.startPanel();
        if (!*panel)
            return nullptr;
        m_bench.loadRegistry({PageTestBench::record(*panel, 1, extra)});
        m_tab = std::make_unique<DeviceListRazerPage>();
        publish(true, kColors);
        return pageOf(*panel);
    }

private slots:
    void initTestCase() { QVERIFY(m_bench.serveLogind()); }

    void cleanup()
    {
        m_tab.reset();
        m_publisher.reset();
        m_bench.reset();
    }

    // Ticked rows become bands in row order and the direction turns them; no tick means no frames.
    void bands_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QPoint>("firstBandPixel");
        QTest::addColumn<QPoint>("lastBandPixel");
        QTest::newRow("rows 0 and 3") << 0 << QPoint(0, 7) << QPoint(3, 0);
        QTest::newRow("rows 0 and 3 at 90 degrees") << 2 << QPoint(3, 0) << QPoint(0, 7);
    }
    void bands()
    {
        QFETCH(int, direction);
        QFETCH(QPoint, firstBandPixel);
        QFETCH(QPoint, lastBandPixel);
        EmulatedPanel* panel = nullptr;
        RazerDevicePage* page = setUp(&panel);
        QVERIFY(page);
        page->streamToggle()->click();
        QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::receiving(panel), 10000);
        page->colorCheck(3)->click();
        page->colorCheck(0)->click();
        QCOMPARE(razerOf(panel).value(QStringLiteral("color_indexes")).toList(), (QVariantList{0, 3}));
        if (direction != 0) {
            page->directionCombo()->setCurrentIndex(direction);
            QCOMPARE(razerOf(panel).value(QStringLiteral("angle")).toInt(), direction);
        }
        QTRY_VERIFY_WITH_TIMEOUT(panel->lastFrame().pixelColor(firstBandPixel) == kColors.at(0) &&
                                     panel->lastFrame().pixelColor(lastBandPixel) == kColors.at(3),
                                 10000);
        // Unticking everything leaves the record empty and the panel without frames.
        page->colorCheck(0)->click();
        page->colorCheck(3)->click();
        QCOMPARE(razerOf(panel).value(QStringLiteral("color_indexes")).toList(), QVariantList());
        QVERIFY(PageTestBench::framesStopped(panel));
    }

    // The panel's own effect: stored choice, what the page shows and what the stream start asks for.
    void deviceEffect_data()
    {
        QTest::addColumn<QVariant>("stored"); // "show_fading_pixels"; invalid: no razer settings
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("stream");
        const auto row = [](const char* name, const QVariant& stored, const char* shown, const char* stream) {
            QTest::newRow(name) << stored << QString::fromLatin1(shown) << QString::fromLatin1(stream);
        };
        row("no razer settings", QVariant(), "Fading Triangles", "effect triangle");
        row("fading pixels", 1, "Fading Pixels", "effect pixel");
        row("no effect", 0, "No Effect", "none pixel");
        row("unknown value", 7, "No Effect", "none pixel");
    }
    void deviceEffect()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, shown);
        QFETCH(QString, stream);
        QVariantMap extra{{kEnabled, true}, {kSource, QStringLiteral("razer")}};
        if (stored.isValid())
            extra.insert(QStringLiteral("razer"),
                         QVariantMap{{QStringLiteral("show_fading_pixels"), stored}});
        EmulatedPanel* panel = nullptr;
        RazerDevicePage* page = setUp(&panel, extra);
        QVERIFY(page);
        QCOMPARE(page->seasoningSelect()->currentText(), shown);
        QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::receiving(panel), 10000);
        QCOMPARE(PageTestBench::streamKind(panel), stream);
    }

    // Live after the panel came online: the stored choice is re-applied and frames flow. Not live: only
    // the preview comes back, with its message. New colours reach the swatches.
    void broadcastLiveAndNot()
    {
        EmulatedPanel* panel = m_bench.startPanel();
        QVERIFY(panel);
        m_bench.loadRegistry({PageTestBench::record(
            panel, 1,
            {{kEnabled, true},
             {kSource, QStringLiteral("razer")},
             {QStringLiteral("razer"), QVariantMap{{QStringLiteral("color_indexes"), QVariantList{2}}}}})});
        m_tab = std::make_unique<DeviceListRazerPage>();
        m_tab->show();
        publish(false);
        RazerDevicePage* page = pageOf(panel);
        QVERIFY(page);
        QVERIFY(m_tab->previewPage()->isVisible());
        QCOMPARE(m_tab->previewPage()->errorText(), QStringLiteral("Enable Pivotrix app in Razer Synapse"));
        QVERIFY(!page->streamToggle()->isChecked());
        QTest::qWait(300);
        QVERIFY(!PageTestBench::receiving(panel));

        publish(true, kColors);
        QTRY_VERIFY_WITH_TIMEOUT(m_tab->tabWidget()->isVisible(), 5000);
        QVERIFY(!m_tab->previewPage()->isVisible());
        QVERIFY(page->streamToggle()->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(panel->lastFrame().pixelColor(0, 0) == kColors.at(2), 10000);
        QTRY_COMPARE(page->colorSwatch(4)->fillColor(), kColors.at(4));

        publish(false);
        QTRY_VERIFY_WITH_TIMEOUT(m_tab->previewPage()->isVisible(), 5000);
        QVERIFY(!m_tab->tabWidget()->isVisible());
        QVERIFY(PageTestBench::storedRecord(panel).value(kEnabled).toBool());
    }

    // Lock stops what streams and unlock restarts what the record gives to this tab; only a panel that
    // leaves a running stream by itself loses "stream_enabled", not an idle one or our own stop.
    void streamRules_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("event");
        QTest::addColumn<bool>("streamsAfter");
        QTest::addColumn<bool>("enabledAfter");
        const auto row = [](const char* name, const char* source, const char* event, bool streams,
                            bool enabled) {
            QTest::newRow(name) << QString::fromLatin1(source) << QString::fromLatin1(event) << streams
                                << enabled;
        };
        row("idle panel at start-up", "razer", "", true, true);
        row("lock and unlock", "razer", "lock", true, true);
        row("lock and unlock, other source", "mirror", "lock", false, true);
        row("panel leaves streaming", "razer", "drop", false, false);
    }
    void streamRules()
    {
        QFETCH(QString, source);
        QFETCH(QString, event);
        QFETCH(bool, streamsAfter);
        QFETCH(bool, enabledAfter);
        EmulatedPanel* panel = nullptr;
        QVERIFY(setUp(&panel, {{kEnabled, true}, {kSource, source}}));
        PivotrixDeviceController* c = PageTestBench::controllerFor(panel);
        if (source != QLatin1String("razer"))
            c->startStream();
        QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::receiving(panel) && c->isStreaming(), 10000);
        if (event == QLatin1String("lock")) {
            m_bench.setLocked(true);
            QTRY_VERIFY_WITH_TIMEOUT(!PageTestBench::receiving(panel) && !c->isStreaming(), 10000);
            m_bench.setLocked(false);
        } else if (event == QLatin1String("drop")) {
            panel->dropToStandby();
        }
        // Several online checks (400 ms apart) pass.
        QTest::qWait(1500);
        QCOMPARE(PageTestBench::receiving(panel), streamsAfter);
        QCOMPARE(PageTestBench::storedRecord(panel).value(kEnabled).toBool(), enabledAfter);
    }

    // Tabs: the active one marked, selection followed across tabs, a device taken over by the other source
    // shown off, a device gone offline losing its page.
    void tabs()
    {
        EmulatedPanel* first = m_bench.startPanel(QStringLiteral("A"));
        EmulatedPanel* second = m_bench.startPanel(QStringLiteral("Panel with a much longer name"));
        QVERIFY(first && second);
        m_bench.loadRegistry(
            {PageTestBench::record(first, 1, {{kEnabled, true}, {kSource, QStringLiteral("razer")}}),
             PageTestBench::record(second, 2)});
        m_tab = std::make_unique<DeviceListRazerPage>();
        DeviceListRazerPage other;
        connect(m_tab.get(), &DeviceListPage::deviceSelected, &other, &DeviceListPage::selectDevice);
        connect(&other, &DeviceListPage::deviceSelected, m_tab.get(), &DeviceListPage::selectDevice);
        publish(true, kColors);
        QPointer<RazerDevicePage> a = pageOf(first);
        RazerDevicePage* b = pageOf(second);
        QVERIFY(a && b && a->streamToggle()->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(other.tabWidget()->count(), 2, 10000);

        QTabBar* bar = m_tab->tabWidget()->tabBar();
        auto label = [bar](int i) {
            return qobject_cast<RazerDeviceTabLabel*>(bar->tabButton(i, QTabBar::LeftSide));
        };
        for (QWidget* page : {static_cast<QWidget*>(b), static_cast<QWidget*>(a.data())}) {
            m_tab->tabWidget()->setCurrentWidget(page);
            const int current = m_tab->tabWidget()->currentIndex();
            QVERIFY(label(current)->isActive() && !label(1 - current)->isActive());
            QCOMPARE(other.pageControllers().value(other.tabWidget()->currentWidget()),
                     m_tab->pageControllers().value(page));
        }

        // What the other tab's switch writes.
        QVariantMap record = PageTestBench::storedRecord(first);
        record.insert(kSource, QStringLiteral("mirror"));
        ResourceManager::instance()->setDeviceSettings(first->id(), record);
        QVERIFY(!a->streamToggle()->isChecked());

        first->setFault(PanelFault::Offline);
        QTRY_VERIFY_WITH_TIMEOUT(a.isNull(), 10000);
        QCOMPARE(m_tab->tabWidget()->count(), 1);
    }

    // Which message the preview gives, by rank: library unusable, broadcast not live, no device.
    void previewMessages_data()
    {
        QTest::addColumn<bool>("libraryUsable");
        QTest::addColumn<bool>("live");
        QTest::addColumn<QString>("text");
        QTest::newRow("library unusable")
            << false << false << "Install Razer Synapse to ligth up Pivotrix device";
        QTest::newRow("live without devices") << true << true << "Pair your Pivotrix Device to enjoy";
    }
    void previewMessages()
    {
        QFETCH(bool, libraryUsable);
        QFETCH(bool, live);
        QFETCH(QString, text);
        // A private runtime directory whose path is too long for a socket leaves the library without a
        // channel, so its "Init" fails.
        QTemporaryDir longRuntime;
        const QString longPath = longRuntime.filePath(QString(120, QLatin1Char('r')));
        QVERIFY(QDir().mkpath(longPath));
        QVERIFY(QFile::setPermissions(longPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (!libraryUsable)
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(longPath));
        m_bench.loadRegistry({});
        qputenv("XDG_RUNTIME_DIR", runtime);
        QCOMPARE(RazerSdkColorProvider::instance()->isInitialized(), libraryUsable);
        m_tab = std::make_unique<DeviceListRazerPage>();
        m_tab->show();
        if (libraryUsable)
            publish(live);
        QTRY_COMPARE(m_tab->previewPage()->errorText(), text);
        QVERIFY(m_tab->previewPage()->isVisible());
        QVERIFY(!m_tab->tabWidget()->isVisible());
    }
};

PAGE_TEST_MAIN(TestRazerPages)
#include "tst_razerpages.moc"
