// The stream rules and tabs every source tab shares, on a plain tab whose device pages are bare toggles,
// against emulated panels, a stand-in logind on a private bus and the real registry.
#include "PageTestBench.h"
#include "core/SettingsManager.h"
#include "ui/DeviceListPage.h"
#include "ui/RazerDeviceTabLabel.h"

#include <QApplication>
#include <QCheckBox>
#include <QPointer>
#include <QTabBar>
#include <QTabWidget>

namespace {
const QString kEnabled = QStringLiteral("stream_enabled");
const QString kSource = QStringLiteral("stream_source");
} // namespace

// A source tab whose device page is nothing but the stream switch.
class ToggleListPage : public DeviceListPage
{
    Q_OBJECT
public:
    explicit ToggleListPage(const QString& source)
    {
        auto* tabs = new QTabWidget(this);
        tabs->setTabPosition(QTabWidget::West);
        setTabWidget(tabs);
        setPreviewWidget(new QWidget(this));
        setSourceName(source);
        connect(tabs, &QTabWidget::currentChanged, this, &ToggleListPage::activeTabChanged);
        reloadList();
    }
    QCheckBox* toggleFor(PivotrixDeviceController* controller) const
    {
        return qobject_cast<QCheckBox*>(pageForController(controller));
    }

protected:
    QWidget* createDevicePage(PivotrixDeviceController* controller) override
    {
        auto* toggle = new QCheckBox(controller->name());
        connect(toggle, SIGNAL(toggled(bool)), this, SLOT(togleStream(bool)));
        return toggle;
    }
    void removeDevicePage(QWidget*, PivotrixDeviceController*) override {}
    void updatePageWithSettingsMap(QWidget* page, QVariantMap entry) override
    {
        const QSignalBlocker blocker(page);
        static_cast<QCheckBox*>(page)->setChecked(entry.value(kEnabled).toBool() &&
                                                  entry.value(kSource).toString() == sourceName());
    }
    void reviewPreviewPage() override
    {
        previewWidget()->setVisible(pageControllers().isEmpty());
        tabWidget()->setVisible(!pageControllers().isEmpty());
    }
    void reviewStreamParams(PivotrixDeviceController* dev, QVariantMap) override
    {
        dev->setPostProcessType(QStringLiteral("none"));
        dev->setRenderMode(QStringLiteral("pixel"));
    }
};

class TestDeviceListPage : public QObject
{
    Q_OBJECT
private:
    PageTestBench m_bench{21};
    std::unique_ptr<ToggleListPage> m_razer;
    std::unique_ptr<ToggleListPage> m_mirror;

    PivotrixDeviceController* bringOnline(EmulatedPanel* panel)
    {
        PivotrixDeviceController* c = PageTestBench::controllerFor(panel);
        const bool shown = c && QTest::qWaitFor([&]() { return m_razer->toggleFor(c) != nullptr; }, 10000);
        return shown ? c : nullptr;
    }

private slots:
    void initTestCase() { QVERIFY(m_bench.serveLogind()); }

    void cleanup()
    {
        m_razer.reset();
        m_mirror.reset();
        m_bench.reset();
    }

    // Locking stops what streams; unlocking restarts only what the record gives to this tab. The stop of
    // ours that the lock sends comes back as "standby" and must not wipe the user's choice.
    void lockAndUnlock_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("restarted");
        QTest::newRow("enabled here") << true << "razer" << true;
        QTest::newRow("switched off") << false << "razer" << false;
        QTest::newRow("enabled on the other source") << true << "mirror" << false;
        QTest::newRow("no source stored") << true << "" << false;
    }
    void lockAndUnlock()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, source);
        QFETCH(bool, restarted);
        EmulatedPanel* panel = m_bench.startPanel();
        QVERIFY(panel);
        m_bench.loadRegistry({PageTestBench::record(panel, 1, {{kEnabled, enabled}, {kSource, source}})});
        m_razer = std::make_unique<ToggleListPage>(QStringLiteral("razer"));
        PivotrixDeviceController* c = bringOnline(panel);
        QVERIFY(c);
        c->startStream();
        QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::receiving(panel), 10000);
        QTRY_VERIFY(c->isStreaming());

        m_bench.setLocked(true);
        QTRY_VERIFY_WITH_TIMEOUT(!PageTestBench::receiving(panel), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!c->isStreaming(), 10000);
        const quint64 starts = PageTestBench::requests(panel, QStringLiteral("start"));

        m_bench.setLocked(false);
        if (restarted) {
            QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::receiving(panel), 10000);
        } else {
            QTest::qWait(500);
            QCOMPARE(PageTestBench::requests(panel, QStringLiteral("start")), starts);
        }
        QCOMPARE(PageTestBench::storedRecord(panel).value(kEnabled).toBool(), enabled);
    }

    // Only a panel that leaves a running stream by itself loses "stream_enabled"; an idle panel's
    // "standby" at start-up does not.
    void standby_data()
    {
        QTest::addColumn<bool>("leaveStreaming");
        QTest::newRow("idle panel at start-up") << false;
        QTest::newRow("panel leaves streaming") << true;
    }
    void standby()
    {
        QFETCH(bool, leaveStreaming);
        EmulatedPanel* panel = m_bench.startPanel();
        QVERIFY(panel);
        m_bench.loadRegistry(
            {PageTestBench::record(panel, 1, {{kEnabled, true}, {kSource, QStringLiteral("razer")}})});
        m_razer = std::make_unique<ToggleListPage>(QStringLiteral("razer"));
        PivotrixDeviceController* c = bringOnline(panel);
        QVERIFY(c);
        QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::receiving(panel), 10000);
        QTRY_VERIFY(c->isStreaming());
        QVERIFY(m_razer->toggleFor(c)->isChecked());
        if (leaveStreaming)
            panel->dropToStandby();
        // Several online checks (400 ms apart) pass either way.
        QTest::qWait(1500);
        QCOMPARE(PageTestBench::storedRecord(panel).value(kEnabled).toBool(), !leaveStreaming);
        QCOMPARE(PageTestBench::receiving(panel), !leaveStreaming);
        QCOMPARE(m_razer->toggleFor(c)->isChecked(), !leaveStreaming);
    }

    // A device taken over by the other source shows switched off here, and the tabs follow each other's
    // device choice.
    void twoSources()
    {
        EmulatedPanel* first = m_bench.startPanel(QStringLiteral("A"));
        EmulatedPanel* second = m_bench.startPanel(QStringLiteral("Panel with a much longer name"));
        QVERIFY(first && second);
        m_bench.loadRegistry({PageTestBench::record(first, 1), PageTestBench::record(second, 2)});
        m_razer = std::make_unique<ToggleListPage>(QStringLiteral("razer"));
        m_mirror = std::make_unique<ToggleListPage>(QStringLiteral("mirror"));
        connect(m_razer.get(), &DeviceListPage::deviceSelected, m_mirror.get(),
                &DeviceListPage::selectDevice);
        connect(m_mirror.get(), &DeviceListPage::deviceSelected, m_razer.get(),
                &DeviceListPage::selectDevice);
        PivotrixDeviceController* a = bringOnline(first);
        PivotrixDeviceController* b = bringOnline(second);
        QTRY_VERIFY_WITH_TIMEOUT(m_mirror->toggleFor(a) && m_mirror->toggleFor(b), 10000);

        m_razer->toggleFor(a)->click();
        QTRY_VERIFY_WITH_TIMEOUT(PageTestBench::receiving(first), 10000);
        QCOMPARE(PageTestBench::storedRecord(first).value(kSource).toString(), QStringLiteral("razer"));
        m_mirror->toggleFor(a)->click();
        QCOMPARE(PageTestBench::storedRecord(first).value(kSource).toString(), QStringLiteral("mirror"));
        QVERIFY(PageTestBench::storedRecord(first).value(kEnabled).toBool());
        QVERIFY(!m_razer->toggleFor(a)->isChecked());
        QVERIFY(m_mirror->toggleFor(a)->isChecked());

        // Labels share the widest width; only the current tab's label is active.
        QTabBar* bar = m_razer->tabWidget()->tabBar();
        QCOMPARE(bar->count(), 2);
        auto* label0 = qobject_cast<RazerDeviceTabLabel*>(bar->tabButton(0, QTabBar::LeftSide));
        auto* label1 = qobject_cast<RazerDeviceTabLabel*>(bar->tabButton(1, QTabBar::LeftSide));
        QVERIFY(label0 && label1);
        QCOMPARE(label0->width(), label1->width());
        QVERIFY(label0->width() >= label0->sizeHint().width() &&
                label0->width() >= label1->sizeHint().width());

        m_razer->tabWidget()->setCurrentWidget(m_razer->toggleFor(b));
        QCOMPARE(m_mirror->tabWidget()->currentWidget(), m_mirror->toggleFor(b));
        const int current = m_razer->tabWidget()->currentIndex();
        QVERIFY(qobject_cast<RazerDeviceTabLabel*>(bar->tabButton(current, QTabBar::LeftSide))->isActive());
        QVERIFY(
            !qobject_cast<RazerDeviceTabLabel*>(bar->tabButton(1 - current, QTabBar::LeftSide))->isActive());
        m_mirror->tabWidget()->setCurrentWidget(m_mirror->toggleFor(a));
        QCOMPARE(m_razer->tabWidget()->currentWidget(), m_razer->toggleFor(a));
    }

    // A device that goes offline loses its tab and its page; the placeholder shows when none is left.
    void offlineDeviceLeaves()
    {
        EmulatedPanel* panel = m_bench.startPanel();
        QVERIFY(panel);
        m_bench.loadRegistry({PageTestBench::record(panel, 1)});
        m_razer = std::make_unique<ToggleListPage>(QStringLiteral("razer"));
        m_razer->show();
        QPointer<QCheckBox> page =
            bringOnline(panel) ? m_razer->toggleFor(PageTestBench::controllerFor(panel)) : nullptr;
        QVERIFY(page);
        QVERIFY(!m_razer->previewWidget()->isVisible());
        panel->setFault(PanelFault::Offline);
        QTRY_VERIFY_WITH_TIMEOUT(page.isNull(), 10000);
        QCOMPARE(m_razer->tabWidget()->count(), 0);
        QVERIFY(m_razer->previewWidget()->isVisible());
        panel->setFault(PanelFault::None);
        QTRY_COMPARE_WITH_TIMEOUT(m_razer->tabWidget()->count(), 1, 10000);
    }
};

int main(int argc, char** argv)
{
    if (!PageTestBench::startBus()->isRunning()) {
        std::fprintf(stderr, "dbus-daemon did not start\n");
        return 1;
    }
    QApplication app(argc, argv);
    TestDeviceListPage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_devicelistpage.moc"
