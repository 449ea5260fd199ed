#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <signal.h>
#include <sys/types.h>

// A private D-Bus daemon for one test program, stopped when the object goes. Usable before any
// QCoreApplication exists, so a test can point the session bus at it before Qt first reads it.
class PrivateBus
{
public:
    PrivateBus()
    {
        FILE* out = ::popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1", "r");
        if (!out)
            return;
        char line[1024];
        if (std::fgets(line, sizeof line, out))
            m_address = QByteArray(line).trimmed();
        if (std::fgets(line, sizeof line, out))
            m_pid = pid_t(QByteArray(line).trimmed().toLongLong());
        ::pclose(out);
    }
    ~PrivateBus()
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGTERM);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool isRunning() const { return m_pid > 0 && !m_address.isEmpty(); }
    QByteArray address() const { return m_address; }

private:
    QByteArray m_address;
    pid_t m_pid = 0;
};
