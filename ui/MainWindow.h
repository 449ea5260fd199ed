#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>

class DeviceListRazerPage;
class QAction;
class QDBusServiceWatcher;
class QMenu;
class QTabWidget;
class QTimer;
class SystemSession;

// The only main window: the three pages in tabs, the "Options" menu, the tray icon; closing hides it.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // How long to wait for a StatusNotifier host before falling back to Qt's own tray lookup.
    static constexpr int kDefaultTrayHostWaitMs = 20000;

    explicit MainWindow(QWidget* parent = nullptr);

    // Follows the session object's theme changes.
    void setSystemSession(SystemSession* session);
    void setTrayHostWait(int ms);

    QTabWidget* chapterTab() const { return m_chapterTab; }
    DeviceListRazerPage* razerPage() const { return m_razerPage; }
    QSystemTrayIcon* trayIcon() const { return m_trayIcon; }
    QMenu* trayMenu() const { return m_trayMenu; }
    QAction* showHideAction() const { return m_showHideAction; }
    bool hasTrayHost() const;

public slots:
    void handleMessage(const QString& message);
    void updateCheckFinished(bool manual, bool hasNewVersion, const QString& version);
    void onRun_on_startupAction_triggered(bool checked);
    void onAboutAction_triggered();
    void onUpdateCheck_triggered();
    void onShowHide();
    void onExit();
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void onSystemThemeChanged();

signals:
    void needToShow();
    void trayIconCreated();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void setupForm();
    void setupTray();
    void createTrayIcon();
    void onTrayHostAppeared();

    QTabWidget* m_chapterTab = nullptr;
    DeviceListRazerPage* m_razerPage = nullptr;
    QAction* m_runOnStartupAction = nullptr;
    QAction* m_checkForUpdateAction = nullptr;
    QAction* m_aboutAction = nullptr;
    QAction* m_showHideAction = nullptr;
    QAction* m_exitAction = nullptr;
    QMenu* m_trayMenu = nullptr;
    QSystemTrayIcon* m_trayIcon = nullptr;
    QDBusServiceWatcher* m_trayHostWatcher = nullptr;
    QTimer* m_trayHostWait = nullptr;
    QPointer<SystemSession> m_session;
    bool m_exiting = false;
};
