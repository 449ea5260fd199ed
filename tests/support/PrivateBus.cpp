#include "PrivateBus.h"

#include <cstdio>
#include <signal.h>
#include <unistd.h>

bool PrivateBus::restart()
{
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 200 && ::kill(m_pid, 0) == 0; ++i)
        ::usleep(10000);
    ::unlink(m_address.mid(m_address.indexOf('=') + 1).constData());
    launch(" --address=" + m_address);
    return isRunning();
}

void PrivateBus::launch(const QByteArray& options)
{
    FILE* out = ::popen(
        ("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1" + options).constData(),
        "r");
    if (!out)
        return;
    char line[1024];
    // Without the daemon's id, as a desktop's session bus address: a daemon started anew there is the same
    // bus to its clients.
    if (std::fgets(line, sizeof line, out))
        m_address = QByteArray(line).trimmed().split(',').first();
    if (std::fgets(line, sizeof line, out))
        m_pid = pid_t(QByteArray(line).trimmed().toLongLong());
    ::pclose(out);
}

PrivateBus::~PrivateBus()
{
    // The services it started (xfconfd, the accessibility bus, portals) share its process group: none of
    // them outlives the test.
    if (m_pid > 0)
        ::kill(-m_pid, SIGTERM);
}
