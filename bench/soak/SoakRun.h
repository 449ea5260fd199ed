#pragma once

#include "AccessibleUi.h"
#include "PanelProcess.h"
#include "SoakDesktop.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <random>
#include <vector>

struct SoakOptions
{
    QString app;
    QString emulator;
    QString publisher;
    QString outDir;
    double minutes = 10;
    int panels = 16;
    int block = 150;
    quint32 seed = 0;
    int checkpointSeconds = 150;
    bool verbose = false;
    // One unpairing and pairing in the window instead of the chaos: a quick look at the window's handling.
    bool uiOnly = false;
    // A sanitizer's quarantine holds freed memory back: its growth says nothing there.
    bool checkMemory = true;
};

// One chaos soak: the real application streams to emulated panels while a random sequence of what users,
// networks and desktops do runs against it; it keeps a model of what the user asked for and checks, at
// checkpoints and at the end, that the application does that and nothing else, and that it gave back the
// threads, descriptors and memory it took.
class SoakRun
{
public:
    explicit SoakRun(const SoakOptions& options);
    ~SoakRun();

    // 0 when every check held.
    int exec();

private:
    // What the user asked of one panel, and what the chaos did to it.
    struct Panel
    {
        std::unique_ptr<PanelProcess> process;
        QString id;
        bool paired = true;
        bool enabled = false;
        QString source;
        int mode = 0;
        int colorMode = 0;
        // Chroma positions ticked: the first records have all five, a new pairing none (the panel stays
        // dark).
        bool hasColours = true;
        // A reboot or a panel leaving the stream by itself may switch the panel off in the application.
        bool mayDrop = false;
        // A fault or an outage is on, with its end scheduled.
        bool troubled = false;
        bool down = false;
        QJsonObject initial;
    };
    struct Task
    {
        qint64 at;
        QString what;
        std::function<void()> run;
    };
    struct Sample
    {
        int threads = 0;
        int fds = 0;
        double rssMb = 0;
    };

    bool setUp();
    bool writeSettings();
    bool startApplication();
    void chaos(qint64 untilMs);
    bool checkpoint(const QString& label, int timeoutMs);
    bool restoreInitialChoices();
    void finalChecks();
    void stopApplication();

    // The actions of the chaos, each picked at random by weight; the trouble they make ends by a task.
    void actToggleStream();
    void actSource();
    void actMirrorMode();
    void actColorMode();
    void actFault(const QString& fault);
    void actStandby();
    void actReboot();
    void actLock();
    void actMonitors();
    void actChromaLeaves();
    void actUnpair();
    void actPair();

    // Runs the event loop, the due tasks and the periodic checks for `ms`.
    void pump(int ms);
    bool pumpUntil(const std::function<bool()>& done, int timeoutMs);
    void schedule(int inMs, const QString& what, std::function<void()> run);
    void runDueTasks(bool all);
    void periodic();

    QList<QVariantMap> listDevices(bool* ok, int* tookMs = nullptr);
    bool control(const QString& method, const QVariantList& args, QString* error = nullptr);
    bool commandLine(const QStringList& args);
    bool chroma(const QStringList& args);
    void startChromaEffect();
    bool restartPanel(Panel& panel);
    void setMonitors(bool extra, bool right);

    // Pointer and keyboard as a user would use them, on the widgets the accessibility bus shows.
    bool click(const QPoint& at);
    AccessibleUi::Node mainWindow();
    bool openDevicesTab(AccessibleUi::Node* page);
    bool pressRowButton(int row, int expectedRows);
    QList<AccessibleUi::Node> rowButtons(const AccessibleUi::Node& from, int depth = 0);
    bool pickChallengeColour(Panel& panel);

    Sample sample() const;
    bool parseSettings(QJsonObject* devices, QString* why) const;
    bool streamsNow(const QList<Panel*>& panels, QSet<Panel*>* receiving);
    QList<Panel*> pairedPanels();
    Panel* pick(const std::function<bool(const Panel&)>& eligible);
    bool locked() const { return m_locked || m_asleep; }
    qint64 now() const { return m_clock.elapsed(); }

    void log(const QString& line);
    // Into the log file only: what the chaos did, for reading a failure back.
    void trace(const QString& line);
    void fail(const QString& what);

    SoakOptions m_options;
    std::mt19937 m_random;
    QElapsedTimer m_clock;
    QFile m_logFile;
    SoakDesktop m_desktop;
    AccessibleUi m_ui;
    std::vector<Panel> m_panels;
    QProcess m_app;
    QProcess m_effect;
    bool m_appEnded = false;
    bool m_appReady = false;
    bool m_chromaLive = false;
    bool m_locked = false;
    bool m_asleep = false;
    bool m_extraMonitor = false;
    bool m_rightMonitor = false;
    bool m_inTasks = false;
    std::vector<Task> m_tasks;
    QStringList m_failures;
    QMap<QString, int> m_actions;

    Sample m_baseline;
    QMap<QString, int> m_baselineDescriptors;
    Sample m_peak;
    qint64 m_lastSampleAt = -1;
    qint64 m_lastPrintAt = -1;
    qint64 m_lastPaintAt = 0;
    qint64 m_lastSettingsAt = 0;
    qint64 m_lastControlAt = 0;
    int m_slowestControlMs = 0;
    int m_settingsReads = 0;
    quint32 m_rootColour = 0x204060;
    QByteArray m_appOutput;
};
