#include "ui/MainWindow.h"

#include "capture/session/SystemSession.h"
#include "core/ResourceManager.h"
#include "discovery/SearchPivotrixDevicesPage.h"
#include "ui/AboutDialog.h"
#include "ui/DeviceListRazerPage.h"
#include "ui/Resources.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdateDialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDebug>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {
const QString kStatusNotifierWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
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

// A tab page holding one page widget; a plain placeholder until the page itself is given.
QWidget* addPage(QTabWidget* tabs, const QString& tabName, const QString& pageName, const QString& title,
                 QWidget* page = nullptr)
{
    auto* tab = new QWidget();
    tab->setObjectName(tabName);
    tab->setStyleSheet(QStringLiteral("background-color:#f4f4f4"));
    auto* layout = new QHBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    if (!page)
        page = new QWidget();
    page->setParent(tab);
    page->setObjectName(pageName);
    layout->addWidget(page);
    tabs->addTab(tab, title);
    return page;
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
    checker->startCheck(false);

    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
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
    m_razerPage = new DeviceListRazerPage();
    addPage(m_chapterTab, QStringLiteral("razerTab"), QStringLiteral("razerWidget"), tr("Razer Chroma"),
            m_razerPage);
    addPage(m_chapterTab, QStringLiteral("screenMirrorTab"), QStringLiteral("screenMirrorWidget"),
            tr("Screen Mirror"));
    addPage(m_chapterTab, QStringLiteral("searchDevicesTab"), QStringLiteral("searchDevicesWidget"),
            tr("Pivotrix Devices"), new SearchPivotrixDevicesPage());
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

    m_trayHostWait = new QTimer(this);
    m_trayHostWait->setSingleShot(true);
    m_trayHostWait->setInterval(kDefaultTrayHostWaitMs);
    connect(m_trayHostWait, &QTimer::timeout, this, [this] {
        qDebug() << "no status notifier host appeared, using the platform's tray lookup";
        createTrayIcon();
    });

    // Qt looks for a StatusNotifier host once, when the first tray icon is made, and never again. An
    // autostarted instance can come up before the panel: hold the icon back until a host is there, and
    // make it anew whenever a host (re)appears, since the icon registers with the host only once.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        m_trayHostWatcher = new QDBusServiceWatcher(kStatusNotifierWatcher, bus,
                                                    QDBusServiceWatcher::WatchForRegistration, this);
        connect(m_trayHostWatcher, &QDBusServiceWatcher::serviceRegistered, this,
                &MainWindow::onTrayHostAppeared);
    }
    if (bus.isConnected() && bus.interface() &&
        bus.interface()->isServiceRegistered(kStatusNotifierWatcher)) {
        createTrayIcon();
    } else {
        qDebug() << "no status notifier host yet, tray icon waits";
        m_trayHostWait->start();
    }
}

void MainWindow::createTrayIcon()
{
    m_trayHostWait->stop();
    if (m_exiting)
        return;
    delete m_trayIcon;
    m_trayIcon = new QSystemTrayIcon(this);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::trayActivated);
    m_trayIcon->setToolTip(tr("Pivotrix Entertainment"));
    m_trayIcon->setContextMenu(m_trayMenu);
    // The icon goes first: showing an icon-less tray entry only draws a warning.
    m_trayIcon->setIcon(QIcon(kIcon));
    m_trayIcon->setVisible(true);
    qDebug() << "tray icon created";
    emit trayIconCreated();
}

void MainWindow::onTrayHostAppeared()
{
    qDebug() << "status notifier host appeared";
    createTrayIcon();
}

void MainWindow::setTrayHostWait(int ms)
{
    m_trayHostWait->setInterval(ms);
    if (m_trayHostWait->isActive())
        m_trayHostWait->start();
}

bool MainWindow::hasTrayHost() const
{
    return m_trayIcon && QSystemTrayIcon::isSystemTrayAvailable();
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
    qDebug() << "handle external msg" << message;
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

void MainWindow::onShowHide()
{
    if (isHidden())
        show();
    else
        hide();
}

void MainWindow::onExit()
{
    m_exiting = true;
    m_trayHostWait->stop();
    hide();
    if (m_trayIcon)
        m_trayIcon->hide();
    close();
}

void MainWindow::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        show();
}

void MainWindow::onSystemThemeChanged()
{
    if (m_trayIcon)
        m_trayIcon->setIcon(QIcon(kIcon));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    qDebug() << "close event";
    if (isHidden()) {
        event->accept();
        return;
    }
    hide();
    event->ignore();
    if (!hasTrayHost())
        qDebug() << "no tray to return from: window hidden, start the application again to show it";
}

void MainWindow::showEvent(QShowEvent* event)
{
    m_showHideAction->setText(tr("Hide"));
    QMainWindow::showEvent(event);
}

void MainWindow::hideEvent(QHideEvent* event)
{
    m_showHideAction->setText(tr("Show"));
    QMainWindow::hideEvent(event);
}
