#pragma once

#include <QObject>

class QSocketNotifier;

// Requests from outside to end the process (a logout, a shutdown, kill, Ctrl+C in a terminal), turned into
// a quit of the event loop: the shutdown after the loop then runs as after "Exit", so every streaming panel
// is told to stop. A second request of the same kind ends the process the platform's way.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    // Hands the requests back to the platform.
    ~TerminationSignals() override;

    // Starts catching them; false, logged, where they cannot be caught. One object at a time.
    bool install();

signals:
    // Through the event loop of the object's thread.
    void quitRequested();

private:
    void readPending();

    QSocketNotifier* m_notifier = nullptr;
    int m_pipe[2] = {-1, -1};
};
