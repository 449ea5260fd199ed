#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QUrl>

#include <memory>

class PivotrixController;
class QNetworkAccessManager;
class QThread;
class QTimer;

// The periodic online check of every panel that joined, from one thread with one network manager. The
// round beats once a period, the first beat a period after the first panel joined, and asks every panel at
// each beat in the same wake-up: a panel that joined later is first asked at the first beat half a period
// on, one still waiting for its last answer at the first beat after it, so panels paired one by one, or
// slow to answer for a while, keep going out together. The answers are offered to the controllers from
// here: a panel whose answer changes nothing wakes neither its controller's thread nor the GUI thread.
class OnlineCheckRound : public QObject
{
    Q_OBJECT
public:
    // How long the answers of the checks started together are let pile up: panels on the local network
    // answer well within it.
    static constexpr int kGatherMs = 100;

    // The round on its own thread; the last owner's release ends the thread (a check still waiting for its
    // answer is given up on).
    static std::shared_ptr<OnlineCheckRound> start(int periodMs);
    ~OnlineCheckRound() override;

    int period() const { return m_periodMs; }
    // Any thread. After leave() returns the round no longer touches the controller.
    void join(PivotrixController* controller);
    void leave(PivotrixController* controller);

private:
    struct Member
    {
        PivotrixController* controller = nullptr;
        QUrl url;
        QString apiKey;
        qint64 joined = 0;
        bool asking = false;
    };

    explicit OnlineCheckRound(int periodMs);
    void ask();
    void gather();
    void arm();
    void stop();

    const int m_periodMs;
    QElapsedTimer m_clock;
    std::unique_ptr<QThread> m_thread;
    // Round thread only.
    QTimer* m_timer = nullptr;
    // On m_clock; none while no panel has joined.
    qint64 m_nextBeat = -1;
    QNetworkAccessManager* m_manager = nullptr;
    // Guards the members; held while a controller is called, so leave() waits for such a call to end.
    QMutex m_lock;
    QHash<quint64, Member> m_members;
    quint64 m_lastId = 0;
};
