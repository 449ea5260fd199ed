// Shows one of the application's windows as a person would see it, for scripts/screenshot.sh:
//   pivotrix_showcase main|about|update|update-latest|update-error|razer-preview|razer-device|mirror-device|
//                     search|pairing
// Prints "window <X window id>" once the window is on screen, then runs until killed.
// Its waits are best effort: a picture of whatever state was reached is still worth looking at.
#include "core/ApplicationShell.h"
#include "core/ResourceManager.h"
#include "device/PivotrixDeviceController.h"
#include "discovery/ColorChallengeDialog.h"
#include "discovery/SearchPivotrixDevicesPage.h"
#include "effects/RazerSdkColorProvider.h"
#include "support/PanelFixture.h"
#include "support/TestHttpServer.h"
#include "support/TestRegistry.h"
#include "ui/AboutDialog.h"
#include "ui/MainWindow.h"
#include "ui/RazerDevicePage.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdateDialog.h"

#include <QtTest>
#include <QtWidgets>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QApplication app(argc, argv);
    const QString view = app.arguments().value(1, QStringLiteral("main"));
    const auto is = [&view](const char* name) {
        return view.startsWith(QLatin1String(name));
    };
    ApplicationShell::installApplicationFont();
    const auto fixed = [](QWidget* dialog) {
        dialog->show();
        dialog->adjustSize();
        dialog->setFixedSize(dialog->size());
        return dialog;
    };

    // Emulated panels on loopback: one paired and online, one found by a scan to pair with.
    PanelFixture panels(24);
    PanelConfig config;
    config.name = QStringLiteral("Living room");
    config.id = QStringLiteral("showcase-panel");
    const std::unique_ptr<EmulatedPanel> paired = panels.start(config);
    config.name = QStringLiteral("Desk");
    config.id = QStringLiteral("emu-desk");
    config.pairingColorIndex = 4;
    const std::unique_ptr<EmulatedPanel> found = panels.start(config);
    if (!paired || !found)
        return 1;
    QList<QVariantMap> records;
    if (is("razer-device") || is("mirror-device") || is("search"))
        records << TestRegistry::record(
            paired.get(), 1,
            {{QStringLiteral("screen_mirror"), QVariantMap{{QStringLiteral("effect_mode"), 2},
                                                           {QStringLiteral("device_location"), 2},
                                                           {QStringLiteral("color_mode"), 1}}}});
    TestRegistry settings;
    ResourceManager* registry = settings.load(records);
    (void)QTest::qWaitFor(
        [&] { return registry->devices().isEmpty() || registry->devices().first()->isOnline(); });

    TestHttpServer service;
    service.body =
        is("update-latest") || !is("update")
            ? "{\"version\":\"1.0.1\"}"
            : "{\"version\":\"1.2.0\",\"download_url\":\"https://updates.pivotrix.invalid/download\"}";
    service.status = is("update-error") ? 503 : 200;
    UpdateChecker::instance()->setServiceUrl(service.baseUrl());

    QWidget* shown = nullptr;
    MainWindow window;
    window.setFixedSize(window.size());
    if (is("main") || is("mirror-device") || is("search") || is("razer-")) {
        shown = &window;
        window.chapterTab()->setCurrentIndex(is("search")   ? 2
                                             : is("razer-") ? 0
                                                            : window.chapterTab()->currentIndex());
        window.show();
    }
    if (is("search")) {
        auto* page = window.findChild<SearchPivotrixDevicesPage*>();
        // A paired panel found again by the scan keeps its one row.
        for (const EmulatedPanel* p : {found.get(), paired.get()})
            page->on_DeviceFound(
                PivotrixBSS{p->name(), 8080, QStringLiteral("px3"), p->address(), p->id(), 1});
    } else if (is("pairing")) {
        auto* dialog = new ColorChallengeDialog();
        dialog->setBaseUrl(QStringLiteral("http://%1:8080").arg(found->address()));
        fixed(dialog);
        (void)QTest::qWaitFor([dialog] { return dialog->stage() == PairingStage::ChoosingColor; });
        QTest::qWait(400);
        shown = dialog;
    } else if (is("razer-device")) {
        // What the broadcast library hands over while a Chroma effect runs (0x00BBGGRR).
        chromaEventCallback(2, reinterpret_cast<void*>(quintptr(1)));
        quint32 colors[5] = {0x003C14E6, 0x0000A5FF, 0x0032C850, 0x00E6781E, 0x00B43CA0};
        chromaEventCallback(1, colors);
        RazerDevicePage* page = nullptr;
        if (!QTest::qWaitFor([&] { return (page = window.findChild<RazerDevicePage*>()) != nullptr; }))
            return 1;
        page->colorCheck(0)->click();
        page->colorCheck(2)->click();
        page->streamToggle()->click();
    } else if (is("about")) {
        shown = fixed(new AboutDialog());
    } else if (is("update")) {
        (void)QTest::qWaitFor([] { return !UpdateChecker::instance()->isChecking(); });
        auto* update = new UpdateDialog();
        update->startManualCheck();
        update->show();
        update->setFixedSize(update->size());
        (void)QTest::qWaitFor([] { return !UpdateChecker::instance()->isChecking(); });
        // The window's own check at start may have put up its dialog for the same news on the same spot.
        update->raise();
        shown = update;
    }
    if (!shown || !QTest::qWaitForWindowExposed(shown, 5000))
        return 1;
    QTest::qWait(300);
    std::printf("window %llu\n", static_cast<unsigned long long>(shown->winId()));
    std::fflush(stdout);
    return app.exec();
}
