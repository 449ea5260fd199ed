#include "core/ApplicationShell.h"

#include "capture/session/SystemSession.h"
#include "core/CommandLine.h"
#include "core/DiagnosticLog.h"
#include "core/ResourceManager.h"
#include "core/SingleInstance.h"
#include "core/SocketLibrary.h"
#include "core/TerminationSignals.h"
#include "core/Translations.h"
#include "ui/ControlService.h"
#include "ui/DeviceListRazerPage.h"
#include "ui/DeviceListScreenMirrorPage.h"
#include "ui/LazyIconStyle.h"
#include "ui/MainWindow.h"
#include "ui/Resources.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDebug>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QOpenGLContext>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>
#include <QThread>

#include <cmath>
#include <limits>
#include <memory>

namespace {
const char* const kGlIntegration = "QT_XCB_GL_INTEGRATION";

QtMessageHandler g_nextHandler = nullptr;

// Qt ends the process with exit() right after this warning when the display connection breaks (the X
// server or the compositor went away), without returning from exec(): the panels' threads would go on
// painting while the libraries they paint with are torn down under them. Their streams are stopped and
// their threads ended first, as at "Exit".
void watchForDisplayLoss(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (g_nextHandler)
        g_nextHandler(type, context, message);
    const bool displayLost = message.startsWith(QLatin1String("The X11 connection broke")) ||
                             message.startsWith(QLatin1String("The Wayland connection broke"));
    if (type == QtWarningMsg && displayLost && QThread::currentThread() == qApp->thread())
        ResourceManager::destroyInstance();
}
} // namespace

bool ApplicationShell::hasMinimizedFlag(const QStringList& arguments)
{
    return arguments.contains(QStringLiteral("--minimized"), Qt::CaseSensitive);
}

QString ApplicationShell::settingsPath(const QString& dataLocation)
{
    if (dataLocation.isEmpty())
        return QStringLiteral("./settings.json");
    return dataLocation + QStringLiteral("/settings.json");
}

float ApplicationShell::scaleFactor(const QList<qreal>& devicePixelRatios)
{
    float factor = 1.0f;
    for (qreal ratio : devicePixelRatios)
        factor = std::max(factor, float(ratio));
    return factor;
}

QSize ApplicationShell::scaledFixedSize(const QSize& designed, float factor)
{
    return QSize(int(std::lround(designed.width() * factor)), int(std::lround(designed.height() * factor)));
}

void ApplicationShell::installApplicationFont()
{
    ensureResourcesLoaded();
    // Read the system's fonts first: a font added to a database not yet read is registered, the database
    // dropped, and the font registered again when the database is read at the first text.
    const QFontDatabase systemFonts;
    Q_UNUSED(systemFonts)
    QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/Inter-Regular.otf"));
    QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/Inter-Bold.otf"));
    QFont font(QStringLiteral("Inter"), 13);
    font.setItalic(false);
    QApplication::setFont(font);
}

bool ApplicationShell::avoidOpenGl()
{
    // The GLX integration alone maps a software rasteriser with LLVM (about 50 MB) where there is no GPU.
    if (qEnvironmentVariableIsSet(kGlIntegration))
        return false;
    qputenv(kGlIntegration, "none");
    return true;
}

void ApplicationShell::settleOpenGlChoice(bool chosenHere)
{
    if (!chosenHere)
        return;
    // The platform reads the variable once, the first time anything asks about GL; ask now. A browser
    // opened on the download link must not inherit it.
    QOpenGLContext::supportsThreadedOpenGL();
    qunsetenv(kGlIntegration);
}

void ApplicationShell::stopBearerPolling()
{
    // Every network manager starts Qt's bearer, which rescans all network interfaces every 10 s for an online
    // state nothing here reads: Qt 5.15 sends requests whatever it says, so a panel is reached once the
    // network comes up all the same. The rescan woke an idle program and, with many interfaces (containers,
    // VPNs), cost tens of milliseconds each time. A value the user set stands.
    if (!qEnvironmentVariableIsSet("QT_BEARER_POLL_TIMEOUT"))
        qputenv("QT_BEARER_POLL_TIMEOUT", QByteArray::number(std::numeric_limits<int>::max()));
}

int ApplicationShell::run(int argc, char** argv)
{
    int exitStatus = 0;
    if (!CommandLine::proceed(argc, argv, &exitStatus))
        return exitStatus;
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    qputenv("QT_AUTO_SCREEN_SCALE_FACTOR", "TRUE");
    const bool glChosenHere = avoidOpenGl();
    stopBearerPolling();

    QApplication app(argc, argv);
    settleOpenGlChoice(glChosenHere);
    // Lets a Wayland desktop match the window to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.pivotrix_entertainment.PivotrixEntertainment"));

    SingleInstance single;
    switch (single.start(QStringLiteral("show"), 5000)) {
    case SingleInstance::Role::MessageDelivered:
        return 0;
    case SingleInstance::Role::Unreachable:
        // Running beside a live but stuck instance would have two writers on settings.json.
        return 1;
    case SingleInstance::Role::Primary:
        break;
    }
    // Before the device threads start: a request to end the process from now on ends the event loop
    // (once it runs), and the shutdown below stops the streams as "Exit" does.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::quitRequested, &app, &QCoreApplication::quit);
    termination.install();

    const bool minimized = hasMinimizedFlag(app.arguments());

    const QString dataLocation = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!dataLocation.isEmpty()) {
        QDir::root().mkpath(dataLocation);
        const bool verbose = app.arguments().contains(QStringLiteral("--verbose"));
        DiagnosticLog::install(dataLocation + QStringLiteral("/PivotrixEntertainment.log"),
                               DiagnosticLog::standardErrorWanted(verbose));
    }
    // Qt's own handler again before the file's static goes away with the process.
    struct LogUninstaller
    {
        ~LogUninstaller() { DiagnosticLog::uninstall(); }
    } logUninstaller;

    g_nextHandler = qInstallMessageHandler(watchForDisplayLoss);

    ResourceManager* registry = ResourceManager::instance();
    registry->loadSettings(settingsPath(dataLocation));

    installApplicationFont();
    Translations::install(app);

    if (!SocketLibrary::init()) {
        SocketLibrary::cleanup();
        ResourceManager::destroyInstance();
        return 2;
    }

    QApplication::setStyle(new LazyIconStyle(QStyleFactory::create(QApplication::style()->objectName())));

    QList<qreal> ratios;
    const auto screens = QGuiApplication::screens();
    for (const QScreen* screen : screens)
        ratios << screen->devicePixelRatio();
    const float factor = scaleFactor(ratios);
    qCDebug(lcPivotrix) << "scale factor" << factor;

    int result = 0;
    {
        MainWindow window;
        window.setFixedSize(scaledFixedSize(window.size(), factor));
        if (!minimized)
            window.show();

        QObject::connect(&single, &SingleInstance::messageReceived, &window, &MainWindow::handleMessage);
        QObject::connect(&window, &MainWindow::needToShow, &window, &MainWindow::showToUser);

        // Made after the window: the Windows filter registers a top-level window for notifications.
        SystemSession* session = registry->systemSession();
        window.setSystemSession(session);
        if (session)
            app.installNativeEventFilter(session);

        // Scripts and hotkeys reach the same tabs a click does.
        auto control = std::make_unique<ControlService>(window.razerPage(), window.screenMirrorPage());
        control->registerOn(QDBusConnection::sessionBus());

        result = app.exec();
        control.reset();
        ResourceManager::destroyInstance();
    }
    SocketLibrary::cleanup();
    return result;
}
