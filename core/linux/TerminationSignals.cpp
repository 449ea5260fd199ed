#include "core/TerminationSignals.h"

#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
struct sigaction g_previous[std::size(kSignals)];
std::atomic<int> g_writeFd{-1};

// Only async-signal-safe work here: the byte wakes the event loop, which does the rest.
void onSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    const int fd = g_writeFd.load();
    if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
        // A full pipe holds enough requests already.
    }
    errno = saved;
}
} // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{}

TerminationSignals::~TerminationSignals()
{
    if (m_pipe[0] < 0)
        return;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_writeFd = -1;
    delete m_notifier;
    for (int fd : m_pipe)
        ::close(fd);
}

bool TerminationSignals::install()
{
    if (m_pipe[0] >= 0 || g_writeFd.load() >= 0)
        return false;
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCDebug(lcPivotrix) << "termination signals not caught:" << std::strerror(errno);
        m_pipe[0] = m_pipe[1] = -1;
        return false;
    }
    g_writeFd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPending);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Reset after the first: a second request must not wait for a shutdown that hangs.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], nullptr, &g_previous[i]);
        // An ignored one (nohup, a background job's SIGINT) stays ignored.
        if (g_previous[i].sa_handler != SIG_IGN)
            ::sigaction(kSignals[i], &action, nullptr);
    }
    return true;
}

void TerminationSignals::readPending()
{
    unsigned char received[16];
    ssize_t n = 0;
    while ((n = ::read(m_pipe[0], received, sizeof received)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            qCDebug(lcPivotrix) << "quit on signal" << int(received[i]);
    }
    emit quitRequested();
}
