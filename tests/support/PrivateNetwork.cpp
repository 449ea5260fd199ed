#include "support/PrivateNetwork.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace PrivateNetwork {

namespace {
constexpr char kVariable[] = "PIVOTRIX_PRIVATE_NETWORK";

std::string setupScript(int extraAddresses)
{
    std::string script = "PATH=\"$PATH:/usr/sbin:/sbin\"; ip link set lo up && ip link set lo multicast on";
    for (int i = 0; i < extraAddresses; ++i)
        script += " && ip addr add 127.0.0." + std::to_string(2 + i) + "/8 dev lo";
    return script;
}
} // namespace

bool inside(QString* why)
{
    const QByteArray state = qgetenv(kVariable);
    if (why)
        *why = state == "inside"
                   ? QString()
                   : QStringLiteral("private network namespaces are not permitted here (unshare -rn)");
    return state == "inside";
}

int enter(int argc, char** argv, int extraAddresses)
{
    if (!qEnvironmentVariableIsEmpty(kVariable))
        return -1;
    const std::string probe = "unshare -rn sh -c '" + setupScript(1) + "' >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) {
        std::fprintf(stderr, "private network: unavailable, scans are skipped\n");
        qputenv(kVariable, "unavailable");
        return -1;
    }
    std::string command = "unshare -rn sh -c '" + setupScript(extraAddresses) + " && exec \"$@\"' sh";
    // Each argument in single quotes, a quote of its own closed, escaped and reopened.
    for (int i = 0; i < argc; ++i) {
        command += " '";
        for (const char* c = argv[i]; *c; ++c)
            command += *c == '\'' ? std::string("'\\''") : std::string(1, *c);
        command += '\'';
    }
    qputenv(kVariable, "inside");
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace PrivateNetwork
