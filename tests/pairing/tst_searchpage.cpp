// The search page: its rows from paired records and reports, unpairing, errors, and the whole way a user adds
// a panel (a real scan inside a private network, the row, the colour challenge).
#include "core/ResourceManager.h"
#include "device/PivotrixDeviceController.h"
#include "discovery/SearchDeviceEntry.h"
#include "discovery/SearchPivotrixDevicesPage.h"
#include "emulator/PanelMdnsResponder.h"
#include "support/LogCapture.h"
#include "support/PanelFixture.h"
#include "support/PrivateNetwork.h"
#include "support/TestRegistry.h"
#include "ui/Resources.h"
#include "ui/RoundRectWidget.h"

#include <QtTest>
#include <QtWidgets>

#include <vector>

namespace {
QString S(const char* text)
{
    return QString::fromUtf8(text);
}

PivotrixBSS record(const char* id, const char* name, const char* address, const char* model = "px3")
{
    return PivotrixBSS{S(name), 8080, S(model), S(address), S(id), 1};
}

QVariantMap stored(const PivotrixBSS& d, int index, const QString& key = S("k"))
{
    return QVariantMap{{S("address"), d.address}, {S("port"), d.port},   {S("auth"), key},
                       {S("name"), d.name},       {S("model"), d.model}, {S("id"), d.id},
                       {S("index"), index}};
}

// "id name address button" for every row, in id order.
QStringList rows(const SearchPivotrixDevicesPage& page)
{
    QStringList result;
    for (const QString& id : page.entryIds()) {
        SearchDeviceEntry* entry = page.entry(id);
        result << QStringList{id, entry->findChild<QLabel*>(S("DeviceNameValue"))->text(),
                              entry->findChild<QLabel*>(S("DeviceAddressValue"))->text(),
                              entry->findChild<QPushButton*>(S("VerifyButton"))->text()}
                      .join(QLatin1Char(' '));
    }
    return result;
}

QLabel* errorLabel(const SearchPivotrixDevicesPage& page, const QString& id)
{
    return page.entry(id)->findChild<QLabel*>(S("errorLabel"));
}

void clickButton(SearchDeviceEntry* entry)
{
    QTest::mouseClick(entry->findChild<QPushButton*>(S("VerifyButton")), Qt::LeftButton);
}
} // namespace

class TestSearchPage : public QObject
{
    Q_OBJECT
private:
    PanelFixture m_panels{61};

    TestRegistry m_registry;

    ResourceManager* registry(const QList<QVariantMap>& records = {})
    {
        return m_registry.load(records, 300);
    }

private slots:
    void initTestCase() { ensureResourcesLoaded(); }
    void cleanup() { ResourceManager::destroyInstance(); }

    void baseUrl_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("url");
        QTest::newRow("IPv4") << "192.168.1.20"
                              << "http://192.168.1.20:8080";
        QTest::newRow("IPv6") << "fd00::5"
                              << "http://[fd00::5]:8080";
        QTest::newRow("IPv6 with zone") << "fe80::1%eth0"
                                        << "http://[fe80::1%25eth0]:8080";
        QTest::newRow("not a host") << "a/b?c"
                                    << "";
    }
    void baseUrl()
    {
        QFETCH(QString, address);
        QFETCH(QString, url);
        registry();
        QCOMPARE(
            SearchDeviceEntry(PivotrixBSS{S("n"), 8080, S("px3"), address, S("i"), 1}, QString()).baseUrl(),
            url);
    }

    // One row per px3 panel, the name and address of the latest report as of the next reload; paired records
    // are rows of their own (when complete) with "Unpair"; the hint shows while there are none.
    void rowsFromReports_data()
    {
        QTest::addColumn<QList<PivotrixBSS>>("paired");
        QTest::addColumn<QList<PivotrixBSS>>("reports");
        QTest::addColumn<QStringList>("expected");
        const PivotrixBSS a = record("a", "A", "127.0.61.1");
        const PivotrixBSS b = record("b", "B", "127.0.61.2");
        PivotrixBSS aMoved = a;
        aMoved.address = S("127.0.61.9");
        aMoved.ssFlag = 7;
        using L = QList<PivotrixBSS>;
        QTest::newRow("repeated reports")
            << L() << L{a, aMoved, a, aMoved} << QStringList{S("a A 127.0.61.1 Pair")};
        QTest::newRow("address follows at the next reload")
            << L() << L{a, aMoved, b} << QStringList{S("a A 127.0.61.9 Pair"), S("b B 127.0.61.2 Pair")};
        QTest::newRow("other models")
            << L()
            << L{record("a", "A", "127.0.61.1", "px2"), record("b", "B", "127.0.61.2", ""),
                 record("c", "C", "127.0.61.3", "PX3")}
            << QStringList();
        QTest::newRow("paired and discovered")
            << L{record("p", "Stored", "127.0.61.5")} << L{record("p", "Found", "127.0.61.6"), a}
            << QStringList{S("a A 127.0.61.1 Pair"), S("p Found 127.0.61.6 Unpair")};
        QTest::newRow("incomplete paired record") << L{record("p", "", "127.0.61.5")} << L() << QStringList();
    }
    void rowsFromReports()
    {
        QFETCH(QList<PivotrixBSS>, paired);
        QFETCH(QList<PivotrixBSS>, reports);
        QFETCH(QStringList, expected);
        QList<QVariantMap> records;
        for (const PivotrixBSS& d : paired)
            records << stored(d, 0);
        registry(records);
        SearchPivotrixDevicesPage page;
        page.show();
        for (const PivotrixBSS& report : reports)
            page.on_DeviceFound(report);
        QCOMPARE(rows(page), expected);
        auto* list = page.findChild<QListWidget*>(S("devicesEntryList"));
        QCOMPARE(list->count(), expected.size());
        QCOMPARE(list->isVisible(), !expected.isEmpty());
        QCOMPARE(page.findChild<QLabel*>(S("hintLabel"))->isVisible(), expected.isEmpty());
    }

    void unpairRebuilds()
    {
        ResourceManager* r = registry({stored(record("p", "P", "127.0.61.5"), 1)});
        SearchPivotrixDevicesPage page;
        page.show();
        page.on_DeviceFound(record("p", "P", "127.0.61.5"));
        page.on_DeviceFound(record("q", "Q", "127.0.61.7"));
        QPointer<SearchDeviceEntry> oldP = page.entry(S("p"));
        QPointer<SearchDeviceEntry> oldQ = page.entry(S("q"));
        QPointer<PivotrixDeviceController> controller = r->devices().value(0);
        QVERIFY(oldP->isPaired());

        // The row is deleted by its own button's signal.
        clickButton(oldP);
        QVERIFY(r->devices().isEmpty());
        QVERIFY(r->deviceSettings(S("p")).isEmpty());
        QCOMPARE(rows(page), (QStringList{S("p P 127.0.61.5 Pair"), S("q Q 127.0.61.7 Pair")}));
        QVERIFY(page.entry(S("p")) != oldP);
        // Still alive: a late report from the unpaired controller finds an unpaired row and leaves it alone.
        QVERIFY(controller);
        emit controller->onlineChanged(PivotrixController::Offline);
        QVERIFY(errorLabel(page, S("p"))->isHidden());
        QTRY_VERIFY(oldP.isNull() && oldQ.isNull());
    }

    void errorFollowsOnlineState()
    {
        PanelConfig config;
        config.address = m_panels.nextAddress();
        config.id = S("e");
        ResourceManager* r = registry(
            {stored(PivotrixBSS{S("E"), 8080, S("px3"), config.address, S("e"), 1}, 1, config.apiKey)});
        SearchPivotrixDevicesPage page;
        page.show();
        PivotrixDeviceController* dev = r->devices().value(0);
        QVERIFY(dev);
        QTRY_VERIFY_WITH_TIMEOUT(errorLabel(page, S("e"))->isVisible(), 10000);
        QVERIFY(!dev->lastError().isEmpty());
        QCOMPARE(errorLabel(page, S("e"))->text(), dev->lastError());
        EmulatedPanel panel(config);
        QVERIFY(panel.start());
        QTRY_VERIFY_WITH_TIMEOUT(errorLabel(page, S("e"))->isHidden(), 10000);
        panel.setFault(PanelFault::Offline);
        QTRY_VERIFY_WITH_TIMEOUT(errorLabel(page, S("e"))->isVisible(), 10000);
    }

    // A scan (inside a private network; where that is not permitted the page is told of the panels directly)
    // lists the px3 panels; pairing from a row stores the device with the next index and a key that works and
    // is never logged, once for a double click.
    void scanAndPair()
    {
        const bool scan = PrivateNetwork::inside();
        ResourceManager* r = registry({stored(record("old", "Old", "127.0.61.250"), 4)});
        std::vector<std::unique_ptr<EmulatedPanel>> panels;
        for (const char* model : {"px3", "px3", "px2"}) {
            PanelConfig config;
            config.address = scan ? S("127.0.0.%1").arg(2 + int(panels.size())) : m_panels.nextAddress();
            config.id = S("scan-%1").arg(panels.size());
            config.model = QLatin1String(model);
            panels.push_back(std::make_unique<EmulatedPanel>(config));
            if (scan)
                panels.back()->addProtocol(std::make_unique<PanelMdnsResponder>(panels.back().get()));
            QVERIFY(panels.back()->start());
        }
        SearchPivotrixDevicesPage page;
        page.setScanPeriod(300);
        page.show();
        if (scan)
            page.onScanButton_clicked();
        for (const auto& p : panels) {
            if (!scan)
                page.on_DeviceFound(PivotrixBSS{p->name(), 8080, p->model(), p->address(), p->id(), 1});
        }
        QTRY_COMPARE_WITH_TIMEOUT(page.entryIds(), (QStringList{S("old"), S("scan-0"), S("scan-1")}), 10000);

        EmulatedPanel& panel = *panels.front();
        SearchDeviceEntry* entry = page.entry(panel.id());
        QSignalSpy added(entry, &SearchDeviceEntry::deviceAdded);
        LogCapture log;
        clickButton(entry);
        QPointer<ColorChallengeDialog> dialog = entry->dialog();
        QVERIFY(dialog);
        QTRY_COMPARE_WITH_TIMEOUT(dialog->stage(), PairingStage::ChoosingColor, 10000);
        const QString lit =
            panel.statusJson().value(S("pairing")).toObject().value(S("lit_color")).toString();
        int index = 0;
        while (dialog->challenge().colors.at(index).name() != lit)
            ++index;
        // A double click as the window system delivers it: two releases.
        RoundRectWidget* swatch = dialog->swatches().at(index);
        QTest::mouseClick(swatch, Qt::LeftButton);
        QTest::mouseDClick(swatch, Qt::LeftButton);
        QTest::mouseRelease(swatch, Qt::LeftButton);

        QTRY_COMPARE_WITH_TIMEOUT(r->devices().size(), 2, 10000);
        QTRY_VERIFY(dialog.isNull());
        const QString key = panel.apiKey();
        PivotrixDeviceController* dev = r->devices().constLast();
        QCOMPARE(dev->deviceId(), panel.id());
        QCOMPARE(dev->index(), 5);
        QCOMPARE(r->deviceSettings(panel.id()).value(S("auth")).toString(), key);
        QCOMPARE(added.count(), 1);
        QCOMPARE(panel.requestCounts().value(S("pair_exchange")), quint64(1));
        QCOMPARE(rows(page).at(1), S("%1 %2 %3 Unpair").arg(panel.id(), panel.name(), panel.address()));
        QTRY_VERIFY_WITH_TIMEOUT(dev->isOnline(), 10000);
        QVERIFY(errorLabel(page, panel.id())->isHidden());
        QCOMPARE(log.count(S("received device key")), 1);
        QCOMPARE(log.count(key), 0);
    }
};

int main(int argc, char** argv)
{
    if (const int status = PrivateNetwork::enter(argc, argv, 3); status >= 0)
        return status;
    QApplication app(argc, argv);
    TestSearchPage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_searchpage.moc"
