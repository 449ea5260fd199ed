#include "core/AutostartRegistration.h"
#include "core/ResourceManager.h"
#include "device/PivotrixDeviceController.h"
#include "discovery/SearchDeviceEntry.h"
#include "discovery/SearchPivotrixDevicesPage.h"
#include "support/LogCapture.h"
#include "support/PanelFixture.h"
#include "ui/Resources.h"
#include "ui/RoundRectWidget.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QString S(const char* text)
{
    return QString::fromUtf8(text);
}

PivotrixBSS record(const char* id, const char* name, const char* address, const char* model = "px3")
{
    return PivotrixBSS{S(name), 8080, S(model), S(address), S(id), 1};
}

QVariantMap stored(const PivotrixBSS& d, const QString& key, int index)
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
        result << QStringList{id, entry->findChild<QLabel*>(QStringLiteral("DeviceNameValue"))->text(),
                              entry->findChild<QLabel*>(QStringLiteral("DeviceAddressValue"))->text(),
                              entry->findChild<QPushButton*>(QStringLiteral("VerifyButton"))->text()}
                      .join(QLatin1Char(' '));
    }
    return result;
}

QLabel* errorLabel(const SearchPivotrixDevicesPage& page, const char* id)
{
    return page.entry(S(id))->findChild<QLabel*>(QStringLiteral("errorLabel"));
}

void clickButton(SearchDeviceEntry* entry)
{
    QTest::mouseClick(entry->findChild<QPushButton*>(QStringLiteral("VerifyButton")), Qt::LeftButton);
}
} // namespace

class TestSearchPage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { ensureResourcesLoaded(); }
    void init();
    void cleanup();
    void baseUrl_data();
    void baseUrl();
    void rowsFromReports_data();
    void rowsFromReports();
    void unpairRebuilds();
    void errorFollowsOnlineState();
    void pairingFromTheRow();

private:
    ResourceManager* registry(const QVariantMap& devices = {});

    QTemporaryDir m_dir;
    QString m_path;
    PanelFixture m_panels{61};
};

void TestSearchPage::init()
{
    m_path =
        m_dir.filePath(QStringLiteral("settings-%1.json").arg(QLatin1String(QTest::currentTestFunction())));
    QFile::remove(m_path);
}

void TestSearchPage::cleanup()
{
    ResourceManager::destroyInstance();
}

ResourceManager* TestSearchPage::registry(const QVariantMap& devices)
{
    QFile file(m_path);
    if (!devices.isEmpty() && file.open(QIODevice::WriteOnly))
        file.write(
            QJsonDocument(QJsonObject{{QStringLiteral("devices"), QJsonObject::fromVariantMap(devices)},
                                      {QStringLiteral("run_on_start"), false}})
                .toJson());
    file.close();
    ResourceManager* r = ResourceManager::instance();
    r->setAutostartRegistration(nullptr);
    r->setDeviceTimerIntervals(300, 30);
    r->loadSettings(m_path);
    return r;
}

void TestSearchPage::baseUrl_data()
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

void TestSearchPage::baseUrl()
{
    QFETCH(QString, address);
    QFETCH(QString, url);
    registry();
    const SearchDeviceEntry entry(PivotrixBSS{S("n"), 8080, S("px3"), address, S("i"), 1}, QString());
    QCOMPARE(entry.baseUrl(), url);
}

void TestSearchPage::rowsFromReports_data()
{
    QTest::addColumn<QList<PivotrixBSS>>("paired");
    QTest::addColumn<QList<PivotrixBSS>>("reports");
    QTest::addColumn<QStringList>("expected");
    const PivotrixBSS a = record("a", "A", "127.0.61.1");
    const PivotrixBSS b = record("b", "B", "127.0.61.2");
    PivotrixBSS aMoved = a;
    aMoved.address = S("127.0.61.9");
    aMoved.ssFlag = 7;
    QTest::newRow("nothing") << QList<PivotrixBSS>() << QList<PivotrixBSS>() << QStringList();
    QTest::newRow("one report") << QList<PivotrixBSS>() << QList<PivotrixBSS>{a}
                                << QStringList{S("a A 127.0.61.1 Pair")};
    QTest::newRow("repeated reports") << QList<PivotrixBSS>() << QList<PivotrixBSS>{a, aMoved, a, aMoved}
                                      << QStringList{S("a A 127.0.61.1 Pair")};
    QTest::newRow("address follows at the next reload")
        << QList<PivotrixBSS>() << QList<PivotrixBSS>{a, aMoved, b}
        << QStringList{S("a A 127.0.61.9 Pair"), S("b B 127.0.61.2 Pair")};
    QTest::newRow("other models") << QList<PivotrixBSS>()
                                  << QList<PivotrixBSS>{record("a", "A", "127.0.61.1", "px2"),
                                                        record("b", "B", "127.0.61.2", ""),
                                                        record("c", "C", "127.0.61.3", "PX3")}
                                  << QStringList();
    QTest::newRow("paired and discovered")
        << QList<PivotrixBSS>{record("p", "Stored", "127.0.61.5")}
        << QList<PivotrixBSS>{record("p", "Found", "127.0.61.6"), a}
        << QStringList{S("a A 127.0.61.1 Pair"), S("p Found 127.0.61.6 Unpair")};
    QTest::newRow("incomplete paired record")
        << QList<PivotrixBSS>{record("p", "", "127.0.61.5")} << QList<PivotrixBSS>() << QStringList();
}

void TestSearchPage::rowsFromReports()
{
    QFETCH(QList<PivotrixBSS>, paired);
    QFETCH(QList<PivotrixBSS>, reports);
    QFETCH(QStringList, expected);
    QVariantMap devices;
    for (const PivotrixBSS& d : paired)
        devices.insert(d.id, stored(d, S("k"), 0));
    registry(devices);
    SearchPivotrixDevicesPage page;
    page.show();
    for (const PivotrixBSS& report : reports)
        page.on_DeviceFound(report);
    QCOMPARE(rows(page), expected);
    auto* list = page.findChild<QListWidget*>(QStringLiteral("devicesEntryList"));
    QCOMPARE(list->count(), expected.size());
    QCOMPARE(list->isVisible(), !expected.isEmpty());
    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("hintLabel"))->isVisible(), expected.isEmpty());
}

void TestSearchPage::unpairRebuilds()
{
    ResourceManager* r = registry(QVariantMap{{S("p"), stored(record("p", "P", "127.0.61.5"), S("k"), 1)}});
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
    QVERIFY(errorLabel(page, "p")->isHidden());
    QTRY_VERIFY(oldP.isNull() && oldQ.isNull());
}

void TestSearchPage::errorFollowsOnlineState()
{
    const QString address = m_panels.nextAddress();
    ResourceManager* r = registry(QVariantMap{
        {S("e"), stored(PivotrixBSS{S("E"), 8080, S("px3"), address, S("e"), 1}, PanelConfig().apiKey, 1)}});
    SearchPivotrixDevicesPage page;
    page.show();
    PivotrixDeviceController* dev = r->devices().value(0);
    QVERIFY(dev);
    QTRY_VERIFY_WITH_TIMEOUT(errorLabel(page, "e")->isVisible(), 10000);
    QVERIFY(!dev->lastError().isEmpty());
    QCOMPARE(errorLabel(page, "e")->text(), dev->lastError());

    PanelConfig config;
    config.address = address;
    config.id = QStringLiteral("e");
    EmulatedPanel panel(config);
    QVERIFY(panel.start());
    QTRY_VERIFY_WITH_TIMEOUT(errorLabel(page, "e")->isHidden(), 10000);
    panel.setFault(PanelFault::Offline);
    QTRY_VERIFY_WITH_TIMEOUT(errorLabel(page, "e")->isVisible(), 10000);
}

void TestSearchPage::pairingFromTheRow()
{
    ResourceManager* r =
        registry(QVariantMap{{S("old"), stored(record("old", "Old", "127.0.61.250"), S("k"), 4)}});
    auto panel = m_panels.start();
    QVERIFY(panel);
    SearchPivotrixDevicesPage page;
    page.show();
    page.on_DeviceFound(PivotrixBSS{panel->name(), 8080, S("px3"), panel->address(), panel->id(), 1});
    SearchDeviceEntry* entry = page.entry(panel->id());
    QVERIFY(entry && !entry->isPaired());
    QSignalSpy added(entry, &SearchDeviceEntry::deviceAdded);
    LogCapture log;

    clickButton(entry);
    QPointer<ColorChallengeDialog> dialog = entry->dialog();
    QVERIFY(dialog);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->stage(), PairingStage::ChoosingColor, 10000);
    const QString lit = panel->statusJson().value(S("pairing")).toObject().value(S("lit_color")).toString();
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
    const QString key = panel->apiKey();
    PivotrixDeviceController* dev = r->devices().constLast();
    QCOMPARE(dev->deviceId(), panel->id());
    QCOMPARE(dev->index(), 5);
    QCOMPARE(dev->apiKey(), key);
    QCOMPARE(r->deviceSettings(panel->id()).value(S("auth")).toString(), key);
    QCOMPARE(added.count(), 1);
    QCOMPARE(panel->requestCounts().value(S("pair_resolve")), quint64(1));
    QCOMPARE(panel->requestCounts().value(S("pair_exchange")), quint64(1));
    QCOMPARE(rows(page).constLast(),
             QStringLiteral("%1 %2 %3 Unpair").arg(panel->id(), panel->name(), panel->address()));
    QVERIFY(entry->styleSheet().contains(S("#DADADA")));
    // The key works: the new controller comes online with it.
    QTRY_VERIFY_WITH_TIMEOUT(dev->isOnline(), 10000);
    QVERIFY(page.entry(panel->id())->findChild<QLabel*>(S("errorLabel"))->isHidden());

    QCOMPARE(log.count(S("received device key")), 1);
    QCOMPARE(log.count(S("user data")), 1);
    QCOMPARE(log.count(key), 0);
}

QTEST_MAIN(TestSearchPage)
#include "tst_searchpage.moc"
