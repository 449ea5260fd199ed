// Shows one of the application's windows as a person would see it, for scripts/screenshot.sh:
//   pivotrix_showcase main|about|update|update-latest|update-error
// Prints "window <X window id>" once the window is on screen, then runs until killed.
#include "core/ApplicationShell.h"
#include "core/AutostartRegistration.h"
#include "core/ResourceManager.h"
#include "support/TestHttpServer.h"
#include "ui/AboutDialog.h"
#include "ui/MainWindow.h"
#include "ui/Resources.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdateDialog.h"

#include <QApplication>
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
    ResourceManager::instance()->setAutostartRegistration(nullptr);
    ResourceManager::instance()->loadSettings(dir.filePath(QStringLiteral("settings.json")));

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
    if (view == QLatin1String("main")) {
        shown = &window;
        window.show();
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
