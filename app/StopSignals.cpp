#include "StopSignals.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

sigset_t StopSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&set, signal);
    }
    return set;
}

}  // namespace

void StopSignals::Block()
{
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignals::StopSignals(std::function<void()> onStop) : m_onStop(std::move(onStop))
{
    const sigset_t set = StopSet();
    m_fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0) {
        // Nothing could read them: let them end the program as they would anyway.
        std::fprintf(stderr, "wavegen: cannot watch for stop signals (signalfd: %s)\n",
                     std::strerror(errno));
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info;
        while (read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        if (m_onStop) {
            m_onStop();
        }
    });
}

StopSignals::~StopSignals()
{
    delete m_notifier;
    if (m_fd >= 0) {
        close(m_fd);
    }
}
