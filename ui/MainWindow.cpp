#include "ui/MainWindow.h"

#include "capture/session/SystemSession.h"
#include "core/DiagnosticLog.h"
#include "core/ResourceManager.h"
#include "device/PivotrixDeviceController.h"
#include "discovery/SearchPivotrixDevicesPage.h"
#include "ui/AboutDialog.h"
#include "ui/DeviceListRazerPage.h"
#include "ui/DeviceListScreenMirrorPage.h"
#include "ui/Resources.h"
#include "ui/TrayManagerSelection.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdateDialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDebug>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
const QString kStatusNotifierWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kStatusNotifierWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kIcon = QStringLiteral(":/images/icon.ico");

const QString kTabStyle =
    QStringLiteral("QTabWidget::tab-bar { alignment: left; }\n"
                   "QTabBar::tab {\n"
                   "\tborder: none;\n"
                   "\tcolor: #5f5f5f;\n"
                   "\tbackground: #f4f4f4;\n"
                   "\tborder-top-left-radius: 7px;\n"
                   "\tborder-top-right-radius: 7px;\n"
                   "\tmin-width: 15ex;\n"
                   "\tmin-height: 1.3em;\n"
                   "\tpadding-left: 19px;\n"
                   "\tpadding-right: 19px;\n"
                   "\tpadding-top: 4px;\n"
                   "\tpadding-bottom: 4px;\n"
                   "}\n"
                   "QTabBar::tab:selected { color: black; background: #f4f4f4; }\n"
                   "QTabBar::tab:!selected { background: transparent; border-top-left-radius: 0px; "
                   "border-top-right-radius: 0px; }\n"
                   "QTabWidget::pane { border: none; }\n"
                   "QTabBar::tab:first { margin-left: 12px; }\n");

// A tab page, already in its tab widget, to build one page widget in. A page built first and moved
// in afterwards would be styled twice, the second time under the tab's style sheets and font.
QWidget* addTabPage(QTabWidget* tabs, const QString& tabName, const QString& title)
{
    auto* tab = new QWidget();
    tab->setObjectName(tabName);
    tab->setStyleSheet(QStringLiteral("background-color:#f4f4f4"));
    auto* layout = new QHBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    tabs->addTab(tab, title);
    return tab;
}

void placePage(QWidget* tab, QWidget* page, const QString& pageName)
{
    page->setObjectName(pageName);
    tab->layout()->addWidget(page);
}
} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    ensureResourcesLoaded();
    setupForm();
    setWindowIcon(QIcon(kIcon));

    m_runOnStartupAction->setChecked(ResourceManager::instance()->runOnStart());

    connect(m_checkForUpdateAction, &QAction::triggered, this, &MainWindow::onUpdateCheck_triggered);
    connect(m_aboutAction, &QAction::triggered, this, &MainWindow::onAboutAction_triggered);
    connect(m_runOnStartupAction, &QAction::toggled, this, &MainWindow::onRun_on_startupAction_triggered);

    setupTray();

    UpdateChecker* checker = UpdateChecker::instance();
    connect(checker, &UpdateChecker::updateCheckFinished, this, &MainWindow::updateCheckFinished);

    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
}

// The first request loads the TLS libraries (a few ms), which need not hold up what the user is shown
// first: the check waits for the window's first paint or, while the window is hidden, for the tray
// icon (or the finding that there is no tray yet).
void MainWindow::startAutomaticUpdateCheck()
{
    if (!m_automaticCheckDue)
        return;
    m_automaticCheckDue = false;
    UpdateChecker::instance()->startCheck(false);
}

void MainWindow::startAutomaticUpdateCheckUnlessShown()
{
    if (!isVisible())
        startAutomaticUpdateCheck();
}

void MainWindow::queueAutomaticUpdateCheckUnlessShown()
{
    if (m_automaticCheckDue)
        QMetaObject::invokeMethod(this, &MainWindow::startAutomaticUpdateCheckUnlessShown,
                                  Qt::QueuedConnection);
}

bool MainWindow::event(QEvent* event)
{
    // Queued, so that the painted window reaches the screen first.
    if (event->type() == QEvent::Paint && m_automaticCheckDue)
        QMetaObject::invokeMethod(this, &MainWindow::startAutomaticUpdateCheck, Qt::QueuedConnection);
    return QMainWindow::event(event);
}

void MainWindow::setupForm()
{
    setObjectName(QStringLiteral("MainWindow"));
    resize(1221, 616);
    setWindowTitle(tr("Pivotrix Entertainment"));

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralwidget"));
    auto* centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    auto* background = new QWidget(central);
    background->setObjectName(QStringLiteral("widget"));
    background->setStyleSheet(QStringLiteral("background-color:#dadada;"));
    background->setMinimumHeight(100);
    auto* backgroundLayout = new QHBoxLayout(background);
    backgroundLayout->setContentsMargins(0, 0, 0, 0);

    m_chapterTab = new QTabWidget(background);
    m_chapterTab->setObjectName(QStringLiteral("chapterTab"));
    QFont tabFont = m_chapterTab->font();
    tabFont.setPointSize(12);
    m_chapterTab->setFont(tabFont);
    m_chapterTab->setMinimumHeight(31);
    m_chapterTab->setAutoFillBackground(false);
    m_chapterTab->setStyleSheet(kTabStyle);
    QWidget* tab = addTabPage(m_chapterTab, QStringLiteral("razerTab"), tr("Razer Chroma"));
    m_razerPage = new DeviceListRazerPage(tab);
    placePage(tab, m_razerPage, QStringLiteral("razerWidget"));
    tab = addTabPage(m_chapterTab, QStringLiteral("screenMirrorTab"), tr("Screen Mirror"));
    m_screenMirrorPage = new DeviceListScreenMirrorPage(tab);
    placePage(tab, m_screenMirrorPage, QStringLiteral("screenMirrorWidget"));
    connect(m_razerPage, &DeviceListPage::deviceSelected, m_screenMirrorPage, &DeviceListPage::selectDevice);
    connect(m_screenMirrorPage, &DeviceListPage::deviceSelected, m_razerPage, &DeviceListPage::selectDevice);
    tab = addTabPage(m_chapterTab, QStringLiteral("searchDevicesTab"), tr("Pivotrix Devices"));
    placePage(tab, new SearchPivotrixDevicesPage(tab), QStringLiteral("searchDevicesWidget"));
    m_chapterTab->setCurrentIndex(1);
    backgroundLayout->addWidget(m_chapterTab);
    centralLayout->addWidget(background);
    setCentralWidget(central);

    auto* menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("menubar"));
    menuBar->setGeometry(0, 0, 1221, 28);
    QFont menuFont = menuBar->font();
    menuFont.setPointSize(10);
    menuBar->setFont(menuFont);
    auto* menu = new QMenu(menuBar);
    menu->setObjectName(QStringLiteral("menuAbout"));
    menu->setTitle(tr("Options"));
    m_runOnStartupAction = new QAction(tr("Launch On Startup"), this);
    m_runOnStartupAction->setObjectName(QStringLiteral("actionRun_on_startup"));
    m_runOnStartupAction->setCheckable(true);
    m_checkForUpdateAction = new QAction(tr("Check For Update"), this);
    m_checkForUpdateAction->setObjectName(QStringLiteral("actionCheck_For_Update"));
    m_aboutAction = new QAction(tr("About"), this);
    m_aboutAction->setObjectName(QStringLiteral("actionAbout"));
    menu->addAction(m_runOnStartupAction);
    menu->addSeparator();
    menu->addAction(m_checkForUpdateAction);
    menu->addAction(m_aboutAction);
    menuBar->addMenu(menu);
    setMenuBar(menuBar);
}

void MainWindow::setupTray()
{
    m_showHideAction = new QAction(tr("Show"), this);
    m_showHideAction->setObjectName(QStringLiteral("actionShowHide"));
    connect(m_showHideAction, &QAction::triggered, this, &MainWindow::onShowHide);
    m_exitAction = new QAction(tr("Exit"), this);
    m_exitAction->setObjectName(QStringLiteral("actionExit"));
    connect(m_exitAction, &QAction::triggered, this, &MainWindow::onExit);
    m_trayMenu = new QMenu(this);
    m_trayMenu->addAction(m_showHideAction);
    m_trayMenu->addAction(m_exitAction);

    // Qt asks whether a StatusNotifier host exists once, with the first icon, and keeps the answer for
    // good; an icon made too early never reaches a host that comes later. So the icon waits for a host of
    // either kind.
    m_trayManager = new TrayManagerSelection(this);
    connect(m_trayManager, &TrayManagerSelection::ownerChanged, this, [this](bool present) {
        qCDebug(lcPivotrix) << (present ? "tray manager appeared" : "tray manager gone");
        reconcileTray(present ? TrayKind::TrayManager : TrayKind::None);
    });
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        m_statusNotifierWatcher = new QDBusServiceWatcher(kStatusNotifierWatcher, bus,
                                                          QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_statusNotifierWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString& oldOwner, const QString& newOwner) {
                    if (!oldOwner.isEmpty())
                        setStatusNotifierHost(false);
                    if (!newOwner.isEmpty())
                        queryStatusNotifierHost();
                });
        // A watcher may run before any host registered with it.
        bus.connect(kStatusNotifierWatcher, kStatusNotifierWatcherPath, kStatusNotifierWatcher,
                    QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(queryStatusNotifierHost()));
        if (bus.interface() && bus.interface()->isServiceRegistered(kStatusNotifierWatcher))
            queryStatusNotifierHost();
    }
    reconcileTray(TrayKind::None);
}

void MainWindow::queryStatusNotifierHost()
{
    const int query = ++m_statusNotifierQuery;
    m_statusNotifierPending = true;
    auto* pending = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(statusNotifierHostQuestion(), 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, query](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (query != m_statusNotifierQuery)
            return;
        m_statusNotifierPending = false;
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isError())
            qCDebug(lcPivotrix) << "status notifier watcher did not answer:" << reply.error().message();
        setStatusNotifierHost(!reply.isError() && reply.value().variant().toBool());
    });
}

QDBusMessage MainWindow::statusNotifierHostQuestion()
{
    QDBusMessage call = QDBusMessage::createMethodCall(kStatusNotifierWatcher, kStatusNotifierWatcherPath,
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("Get"));
    call << kStatusNotifierWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    call.setAutoStartService(false); // a watcher that is not running is no host
    return call;
}

void MainWindow::setStatusNotifierHost(bool present)
{
    if (!present) {
        ++m_statusNotifierQuery; // an answer still on its way is about the watcher that went
        m_statusNotifierPending = false;
    }
    if (present == m_statusNotifierHost) {
        reconcileTray(TrayKind::None);
        return;
    }
    m_statusNotifierHost = present;
    qCDebug(lcPivotrix) << (present ? "status notifier host appeared" : "status notifier host gone");
    reconcileTray(present ? TrayKind::StatusNotifier : TrayKind::None);
}

void MainWindow::reconcileTray(TrayKind appeared)
{
    if (m_exiting)
        return;
    if (m_trayKind == TrayKind::None) {
        // With both kinds there, the StatusNotifier answer decides, as it does inside Qt.
        if (m_statusNotifierPending)
            return;
        if (m_statusNotifierHost)
            createTrayIcon(TrayKind::StatusNotifier);
        else if (m_trayManager->hasOwner())
            createTrayIcon(statusNotifierHostNow() ? TrayKind::StatusNotifier : TrayKind::TrayManager);
        else
            qCDebug(lcPivotrix) << "no tray yet, tray icon waits for a tray host";
        queueAutomaticUpdateCheckUnlessShown();
    } else if (appeared == m_trayKind) {
        // Qt hands its icon to a host of the same kind that comes back (registers it with the new watcher,
        // docks it in the new tray); an icon made anew here would blink out and leave the new watcher a
        // stale entry.
        qCDebug(lcPivotrix) << "tray host back, the icon goes to it";
    } else if (appeared != TrayKind::None && !hasTray()) {
        // A panel that runs both kinds (xfce4-panel) often shows the other kind first on a restart.
        qCDebug(lcPivotrix) << "a tray host of the other kind appeared; the icon waits for a"
                            << (m_trayKind == TrayKind::StatusNotifier ? "status notifier host"
                                                                       : "tray manager");
    }
}

// Qt asks the watcher itself, there and then, when it makes the first icon, so this asks too: a panel that
// runs both kinds of host (xfce4-panel) takes the tray selection a moment before its StatusNotifier host is
// known here, and an icon meant for the tray manager would go to that host while closing the window asked
// the tray manager whether there is a tray.
bool MainWindow::statusNotifierHostNow()
{
    if (!QDBusConnection::sessionBus().isConnected())
        return false;
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(statusNotifierHostQuestion(), QDBus::Block, 2000);
    m_statusNotifierHost = reply.type() == QDBusMessage::ReplyMessage &&
                           reply.arguments().value(0).value<QDBusVariant>().variant().toBool();
    return m_statusNotifierHost;
}

void MainWindow::createTrayIcon(TrayKind kind)
{
    m_trayIcon = new QSystemTrayIcon(this);
    m_trayKind = kind;
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::trayActivated);
    m_trayIcon->setToolTip(tr("Pivotrix Entertainment"));
    m_trayIcon->setContextMenu(m_trayMenu);
    // The icon goes first: showing an icon-less tray entry only draws a warning.
    m_trayIcon->setIcon(QIcon(kIcon));
    m_trayIcon->setVisible(true);
    qCDebug(lcPivotrix) << "tray icon created for the"
                        << (kind == TrayKind::StatusNotifier ? "status notifier host" : "tray manager");
}

bool MainWindow::hasTray() const
{
    if (!m_trayIcon)
        return false;
    return m_trayKind == TrayKind::StatusNotifier ? m_statusNotifierHost : m_trayManager->hasOwner();
}

void MainWindow::setSystemSession(SystemSession* session)
{
    if (m_session)
        disconnect(m_session, nullptr, this, nullptr);
    m_session = session;
    if (session)
        connect(session, &SystemSession::systemThemeChanged, this, &MainWindow::onSystemThemeChanged);
}

void MainWindow::handleMessage(const QString& message)
{
    qCDebug(lcPivotrix) << "handle external msg" << message;
    if (message == QLatin1String("show"))
        emit needToShow();
}

void MainWindow::updateCheckFinished(bool manual, bool hasNewVersion, const QString& version)
{
    if (!hasNewVersion || manual)
        return;
    auto* dialog = new UpdateDialog();
    dialog->updateFinished(manual, hasNewVersion, version);
    dialog->show();
}

void MainWindow::onRun_on_startupAction_triggered(bool checked)
{
    ResourceManager::instance()->setRunOnStart(checked);
}

void MainWindow::onAboutAction_triggered()
{
    auto* dialog = new AboutDialog();
    dialog->show();
    dialog->adjustSize();
    dialog->setFixedSize(dialog->size());
}

void MainWindow::onUpdateCheck_triggered()
{
    auto* dialog = new UpdateDialog();
    dialog->setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    dialog->startManualCheck();
    dialog->show();
    dialog->setFixedSize(dialog->size());
}

bool MainWindow::isVisibleToUser() const
{
    return isVisible() && !isMinimized();
}

void MainWindow::showToUser()
{
    // show() alone leaves a minimised window where it is.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::onShowHide()
{
    if (isVisibleToUser())
        hide();
    else
        showToUser();
}

void MainWindow::onExit()
{
    m_exiting = true;
    hide();
    if (m_trayIcon)
        m_trayIcon->hide();
    close();
}

void MainWindow::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        showToUser();
}

void MainWindow::onSystemThemeChanged()
{
    if (m_trayIcon)
        m_trayIcon->setIcon(QIcon(kIcon));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    qCDebug(lcPivotrix) << "close event";
    if (isHidden()) {
        event->accept();
        return;
    }
    event->ignore();
    if (hasTray()) {
        hide();
        return;
    }
    // Hidden, the window could be reached again only by starting the application a second time.
    qCDebug(lcPivotrix) << "no tray to return to: window minimised instead of hidden, streams go on";
    showMinimized();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    offerShowOrHide();
}

void MainWindow::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    // Hidden before it was ever painted.
    queueAutomaticUpdateCheckUnlessShown();
    offerShowOrHide();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        offerShowOrHide();
}

void MainWindow::offerShowOrHide()
{
    m_showHideAction->setText(isVisibleToUser() ? tr("Hide") : tr("Show"));
}
