#include "PrivateBus.h"

#include <cstdio>
#include <signal.h>

PrivateBus::PrivateBus()
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

PrivateBus::~PrivateBus()
{
    // The services it started (xfconfd, the accessibility bus, portals) share its process group: none of
    // them outlives the test.
    if (m_pid > 0)
        ::kill(-m_pid, SIGTERM);
}
