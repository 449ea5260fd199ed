// The whole way a user adds a panel: a real scan inside a private network, the row, the colour challenge.
#include "core/AutostartRegistration.h"
#include "core/ResourceManager.h"
#include "device/PivotrixDeviceController.h"
#include "discovery/SearchDeviceEntry.h"
#include "discovery/SearchPivotrixDevicesPage.h"
#include "emulator/EmulatedPanel.h"
#include "emulator/PanelMdnsResponder.h"
#include "support/PrivateNetwork.h"
#include "ui/Resources.h"
#include "ui/RoundRectWidget.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

class TestSearchScan : public QObject
{
    Q_OBJECT
private slots:
    void scanFindsAndPairs()
    {
        QString why;
        if (!PrivateNetwork::inside(&why))
            QSKIP(qPrintable(why));
        ensureResourcesLoaded();
        QTemporaryDir dir;
        ResourceManager* registry = ResourceManager::instance();
        registry->setAutostartRegistration(nullptr);
        registry->setDeviceTimerIntervals(300, 30);
        registry->loadSettings(dir.filePath(QStringLiteral("settings.json")));

        std::vector<std::unique_ptr<EmulatedPanel>> panels;
        for (const char* model : {"px3", "px3", "px2"}) {
            PanelConfig config;
            config.address = QStringLiteral("127.0.0.%1").arg(2 + int(panels.size()));
            config.id = QStringLiteral("scan-%1").arg(panels.size());
            config.model = QLatin1String(model);
            auto panel = std::make_unique<EmulatedPanel>(config);
            panel->addProtocol(std::make_unique<PanelMdnsResponder>(panel.get()));
            QVERIFY(panel->start());
            panels.push_back(std::move(panel));
        }

        auto page = std::make_unique<SearchPivotrixDevicesPage>();
        page->setScanPeriod(300);
        page->show();
        page->onScanButton_clicked();
        const QStringList found{QStringLiteral("scan-0"), QStringLiteral("scan-1")};
        QTRY_COMPARE_WITH_TIMEOUT(page->entryIds(), found, 10000);

        EmulatedPanel& panel = *panels.front();
        SearchDeviceEntry* entry = page->entry(panel.id());
        QTest::mouseClick(entry->findChild<QPushButton*>(QStringLiteral("VerifyButton")), Qt::LeftButton);
        QPointer<ColorChallengeDialog> dialog = entry->dialog();
        QTRY_COMPARE_WITH_TIMEOUT(dialog->stage(), PairingStage::ChoosingColor, 10000);
        const QString lit = panel.statusJson()
                                .value(QStringLiteral("pairing"))
                                .toObject()
                                .value(QStringLiteral("lit_color"))
                                .toString();
        const int index = [&] {
            const QList<QColor> colors = dialog->challenge().colors;
            for (int i = 0; i < colors.size(); ++i) {
                if (colors.at(i).name() == lit)
                    return i;
            }
            return -1;
        }();
        QVERIFY(index >= 0);
        QTest::mouseClick(dialog->swatches().at(index), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(registry->devices().size(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(registry->devices().constFirst()->isOnline(), 10000);
        QVERIFY(entry->isPaired());

        page.reset();
        ResourceManager::destroyInstance();
    }
};

int main(int argc, char** argv)
{
    if (const int status = PrivateNetwork::enter(argc, argv, 3); status >= 0)
        return status;
    QApplication app(argc, argv);
    TestSearchScan test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_searchscan.moc"
