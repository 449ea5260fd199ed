// Shows one of the application's windows as a person would see it, for scripts/screenshot.sh:
//   pivotrix_showcase main|about|update|update-latest|update-error|razer-preview|razer-device|mirror-device|
//                     search|pairing
// Prints "window <X window id>" once the window is on screen, then runs until killed.
#include "core/ApplicationShell.h"
#include "core/AutostartRegistration.h"
#include "core/ResourceManager.h"
#include "device/PivotrixDeviceController.h"
#include "discovery/ColorChallengeDialog.h"
#include "discovery/SearchPivotrixDevicesPage.h"
#include "effects/RazerSdkColorProvider.h"
#include "emulator/EmulatedPanel.h"
#include "support/TestHttpServer.h"
#include "ui/AboutDialog.h"
#include "ui/MainWindow.h"
#include "ui/RazerDevicePage.h"
#include "ui/Resources.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdateDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {
void waitForTheCheck()
{
    for (int i = 0; i < 100 && UpdateChecker::instance()->isChecking(); ++i)
        QTest::qWait(50);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QApplication app(argc, argv);
    const QString view = app.arguments().value(1, QStringLiteral("main"));

    ensureResourcesLoaded();
    ApplicationShell::installApplicationFont();
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("settings.json"));
    // The device page needs a paired panel that is online: an emulated one on a loopback address.
    PanelConfig config;
    config.address = QStringLiteral("127.0.24.1");
    config.name = QStringLiteral("Living room");
    config.id = QStringLiteral("showcase-panel");
    EmulatedPanel panel(config);
    if (view == QLatin1String("razer-device") || view == QLatin1String("mirror-device")) {
        if (!panel.start())
            return 1;
        const QJsonObject record{
            {QStringLiteral("address"), config.address},
            {QStringLiteral("port"), 16021},
            {QStringLiteral("auth"), config.apiKey},
            {QStringLiteral("name"), config.name},
            {QStringLiteral("model"), config.model},
            {QStringLiteral("id"), config.id},
            {QStringLiteral("index"), 1},
            {QStringLiteral("screen_mirror"), QJsonObject{{QStringLiteral("effect_mode"), 2},
                                                          {QStringLiteral("device_location"), 2},
                                                          {QStringLiteral("color_mode"), 1}}}};
        QFile file(settings);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write(QJsonDocument(QJsonObject{{QStringLiteral("devices"), QJsonObject{{config.id, record}}}})
                       .toJson());
    }
    // Emulated panels on loopback: one paired and online, one found by a scan, one to pair with.
    PanelConfig pairedConfig;
    pairedConfig.address = QStringLiteral("127.0.70.1");
    pairedConfig.id = QStringLiteral("emu-living-room");
    pairedConfig.name = QStringLiteral("Living Room");
    PanelConfig foundConfig = pairedConfig;
    foundConfig.address = QStringLiteral("127.0.70.2");
    foundConfig.id = QStringLiteral("emu-desk");
    foundConfig.name = QStringLiteral("Desk");
    foundConfig.pairingColorIndex = 4;
    EmulatedPanel paired(pairedConfig);
    EmulatedPanel found(foundConfig);
    const bool panels = view == QLatin1String("search") || view == QLatin1String("pairing");
    if (panels && (!paired.start() || !found.start()))
        return 1;
    if (view == QLatin1String("search")) {
        QFile settingsFile(settings);
        if (settingsFile.open(QIODevice::WriteOnly))
            settingsFile.write(
                QJsonDocument(
                    QJsonObject{{QStringLiteral("devices"),
                                 QJsonObject{{pairedConfig.id,
                                              QJsonObject{{QStringLiteral("address"), pairedConfig.address},
                                                          {QStringLiteral("port"), 8080},
                                                          {QStringLiteral("auth"), pairedConfig.apiKey},
                                                          {QStringLiteral("name"), pairedConfig.name},
                                                          {QStringLiteral("model"), QStringLiteral("px3")},
                                                          {QStringLiteral("id"), pairedConfig.id},
                                                          {QStringLiteral("index"), 1}}}}},
                                {QStringLiteral("run_on_start"), false}})
                    .toJson());
    }
    ResourceManager::instance()->setAutostartRegistration(nullptr);
    ResourceManager::instance()->loadSettings(settings);
    for (int i = 0; i < 100 && view == QLatin1String("mirror-device") &&
                    !ResourceManager::instance()->devices().value(0)->isOnline();
         ++i)
        QTest::qWait(50);

    TestHttpServer service;
    service.body = "{\"version\":\"1.0.1\"}";
    if (view == QLatin1String("update"))
        service.body =
            "{\"version\":\"1.2.0\",\"download_url\":\"https://updates.pivotrix.invalid/download\"}";
    else if (view == QLatin1String("update-error"))
        service.status = 503;
    UpdateChecker::instance()->setServiceUrl(service.baseUrl());

    QWidget* shown = nullptr;
    MainWindow window;
    window.setFixedSize(window.size());
    if (view == QLatin1String("main") || view == QLatin1String("mirror-device")) {
        shown = &window;
        window.show();
    } else if (view == QLatin1String("search")) {
        window.chapterTab()->setCurrentIndex(2);
        auto* page = window.findChild<SearchPivotrixDevicesPage*>();
        page->on_DeviceFound(PivotrixBSS{foundConfig.name, 8080, QStringLiteral("px3"), foundConfig.address,
                                         foundConfig.id, 1});
        // A paired panel found again by the scan keeps its one row.
        page->on_DeviceFound(PivotrixBSS{pairedConfig.name, 8080, QStringLiteral("px3"), pairedConfig.address,
                                         pairedConfig.id, 1});
        shown = &window;
        window.show();
    } else if (view == QLatin1String("pairing")) {
        auto* dialog = new ColorChallengeDialog();
        dialog->setBaseUrl(QStringLiteral("http://%1:8080").arg(foundConfig.address));
        dialog->show();
        dialog->adjustSize();
        dialog->setFixedSize(dialog->size());
        for (int i = 0; i < 100 && dialog->stage() != PairingStage::ChoosingColor; ++i)
            QTest::qWait(50);
        QTest::qWait(400);
        shown = dialog;
    } else if (view.startsWith(QLatin1String("razer-"))) {
        shown = &window;
        window.chapterTab()->setCurrentIndex(0);
        window.show();
        if (view == QLatin1String("razer-device")) {
            // What the broadcast library hands over while a Chroma effect runs (0x00BBGGRR).
            int live = 1;
            chromaEventCallback(2, reinterpret_cast<void*>(static_cast<quintptr>(live)));
            quint32 colors[5] = {0x003C14E6, 0x0000A5FF, 0x0032C850, 0x00E6781E, 0x00B43CA0};
            chromaEventCallback(1, colors);
            RazerDevicePage* page = nullptr;
            for (int i = 0; i < 100 && !(page = window.findChild<RazerDevicePage*>()); ++i)
                QTest::qWait(50);
            if (!page)
                return 1;
            page->colorCheck(0)->click();
            page->colorCheck(2)->click();
            page->streamToggle()->click();
        }
    } else if (view == QLatin1String("about")) {
        auto* about = new AboutDialog();
        about->show();
        about->adjustSize();
        about->setFixedSize(about->size());
        shown = about;
    } else {
        waitForTheCheck();
        auto* update = new UpdateDialog();
        update->startManualCheck();
        update->show();
        update->setFixedSize(update->size());
        waitForTheCheck();
        shown = update;
    }
    if (!QTest::qWaitForWindowExposed(shown, 5000))
        return 1;
    QTest::qWait(300);
    std::printf("window %llu\n", static_cast<unsigned long long>(shown->winId()));
    std::fflush(stdout);
    return app.exec();
}
