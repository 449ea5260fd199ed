#include "support/PrivateNetwork.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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
    const std::string script = setupScript(extraAddresses) + " && exec \"$@\"";
    std::vector<char*> args{const_cast<char*>("unshare"),      const_cast<char*>("-rn"),
                            const_cast<char*>("sh"),           const_cast<char*>("-c"),
                            const_cast<char*>(script.c_str()), const_cast<char*>("sh")};
    for (int i = 0; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    qputenv(kVariable, "inside");
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        execvp("unshare", args.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace PrivateNetwork
