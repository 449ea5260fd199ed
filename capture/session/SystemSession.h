#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

// Application-wide "nobody can see the desktop" flag: session locked, machine asleep, display off or
// session ending. Every change is announced as a SystemState value.
class SystemSession : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    enum SystemState
    {
        SessionEnding = 0,
        SessionLocked = 1,
        SystemSuspending = 2,
        SystemResumed = 3,
        SessionUnlocked = 4,
        DisplayOff = 5,
        DisplayOn = 6
    };
    Q_ENUM(SystemState)

    // The platform's implementation, connected to the real buses and display.
    static SystemSession* create(QObject* parent = nullptr);

    explicit SystemSession(QObject* parent = nullptr);

    bool isLocked() const { return m_locked; }

signals:
    void systemStateChanged(int state);
    void systemThemeChanged();

protected:
    // Writes the state's log line, updates the flag and only then emits, so receivers read the new flag.
    void changeState(SystemState state);

private:
    bool m_locked = false;
};
