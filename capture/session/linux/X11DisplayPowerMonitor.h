#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;
class QTimer;
struct xcb_connection_t;

// Follows whether the X server's display is blanked, from MIT-SCREEN-SAVER notify events and, where the
// server has DPMS, from its power level: told by the server's DPMS events where it has them (DPMS 1.2, X.Org
// 21.1 onwards), else polled. Uses its own X connection.
class X11DisplayPowerMonitor : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultDpmsPollMs = 2000;

    // An empty display name means the one in DISPLAY.
    explicit X11DisplayPowerMonitor(const QByteArray& displayName, QObject* parent = nullptr);
    ~X11DisplayPowerMonitor() override;

    bool isConnected() const { return m_connection != nullptr; }
    bool isDisplayOff() const { return m_saverActive || m_dpmsOff; }
    bool hasDpms() const { return m_hasDpms; }
    void setDpmsPollInterval(int ms);

signals:
    void displayPowerChanged(bool on);

private:
    bool subscribeDpms();
    void readEvents();
    void handleSaverState(int state);
    void pollDpms();
    void update(bool saverActive, bool dpmsOff);

    xcb_connection_t* m_connection = nullptr;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_dpmsTimer = nullptr;
    quint8 m_saverEventBase = 0;
    quint8 m_dpmsOpcode = 0;
    bool m_hasSaver = false;
    bool m_hasDpms = false;
    bool m_saverActive = false;
    bool m_dpmsOff = false;
};
