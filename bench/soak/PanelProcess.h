#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>

// One emulated panel in a prism-emulator process of its own, so that it can be killed and started again as a
// panel is unplugged and rebooted. Its key lives in a file, so a pairing survives the reboot as on a panel.
class PanelProcess
{
public:
    struct Config
    {
        QString program;
        QString address;
        QString id;
        QString name;
        QString apiKey;
        QString keyFile;
    };

    explicit PanelProcess(const Config& config);
    ~PanelProcess();
    PanelProcess(const PanelProcess&) = delete;
    PanelProcess& operator=(const PanelProcess&) = delete;

    // Starts the process and waits for its "ready".
    bool start(QString* error);
    // Pulls the plug: no stop request is answered, no socket closed in order.
    void kill();
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    // Ended by itself (a crash of the emulator, not of the application).
    bool endedUnasked() const { return m_endedUnasked; }
    QByteArray output() const { return m_output; }

    const Config& config() const { return m_config; }
    // The key the panel takes now: the one its last pairing handed out, else the one it started with.
    QString key() const;

    // The emulator's own status and control port; an empty object when it does not answer.
    QJsonObject status() const;
    bool control(const QJsonObject& change) const;

private:
    Config m_config;
    QProcess m_process;
    bool m_endedUnasked = false;
    bool m_killing = false;
    QByteArray m_output;
};
