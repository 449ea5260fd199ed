#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>

class DeviceListRazerPage;
class DeviceListScreenMirrorPage;
class QAction;
class QDBusMessage;
class QDBusServiceWatcher;
class QMenu;
class QTabWidget;
class SystemSession;
class TrayManagerSelection;

// The only main window: the three pages in tabs, the "Options" menu, the tray icon. Closing sends it to
// the tray, or to the task bar while there is no tray.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    // Follows the session object's theme changes.
    void setSystemSession(SystemSession* session);

    QTabWidget* chapterTab() const { return m_chapterTab; }
    DeviceListRazerPage* razerPage() const { return m_razerPage; }
    DeviceListScreenMirrorPage* screenMirrorPage() const { return m_screenMirrorPage; }
    QSystemTrayIcon* trayIcon() const { return m_trayIcon; }
    QMenu* trayMenu() const { return m_trayMenu; }
    QAction* showHideAction() const { return m_showHideAction; }
    // An icon exists and the tray it went to is still there.
    bool hasTray() const;
    // Shown and not minimised.
    bool isVisibleToUser() const;

public slots:
    // Shows the window, restored if it was minimised, in front and active.
    void showToUser();
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

private slots:
    void queryStatusNotifierHost();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Qt picks the tray protocol once per process, with its first icon; this remembers which it was.
    enum class TrayKind
    {
        None,
        StatusNotifier,
        TrayManager
    };

    void setupForm();
    void setupTray();
    static QDBusMessage statusNotifierHostQuestion();
    bool statusNotifierHostNow();
    void setStatusNotifierHost(bool present);
    void reconcileTray(TrayKind appeared);
    void createTrayIcon(TrayKind kind);
    void offerShowOrHide();
    void startAutomaticUpdateCheck();
    void startAutomaticUpdateCheckUnlessShown();
    void queueAutomaticUpdateCheckUnlessShown();

    QTabWidget* m_chapterTab = nullptr;
    DeviceListRazerPage* m_razerPage = nullptr;
    DeviceListScreenMirrorPage* m_screenMirrorPage = nullptr;
    QAction* m_runOnStartupAction = nullptr;
    QAction* m_checkForUpdateAction = nullptr;
    QAction* m_aboutAction = nullptr;
    QAction* m_showHideAction = nullptr;
    QAction* m_exitAction = nullptr;
    QMenu* m_trayMenu = nullptr;
    QSystemTrayIcon* m_trayIcon = nullptr;
    QDBusServiceWatcher* m_statusNotifierWatcher = nullptr;
    TrayManagerSelection* m_trayManager = nullptr;
    bool m_statusNotifierHost = false;
    int m_statusNotifierQuery = 0; // answers to older queries are stale
    bool m_statusNotifierPending = false;
    TrayKind m_trayKind = TrayKind::None;
    QPointer<SystemSession> m_session;
    bool m_exiting = false;
    bool m_automaticCheckDue = true;
};
