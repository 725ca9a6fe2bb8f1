#include "StopSignals.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <csignal>
#include <utility>

namespace {

int g_signalSockets[2] = {-1, -1};  // [0] written by the handler, [1] read here
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

}  // namespace

StopSignals::StopSignals(std::function<void()> onStop) : m_onStop(std::move(onStop))
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalSockets) != 0) {
        return;
    }
    m_notifier = new QSocketNotifier(g_signalSockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char drained[16];
        while (read(g_signalSockets[1], drained, sizeof drained) > 0) {
        }
        if (m_onStop) {
            m_onStop();
        }
    });
    struct sigaction action {};
    action.sa_handler = &StopSignals::Handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) {
        sigaction(signal, &action, nullptr);
    }
}

StopSignals::~StopSignals()
{
    for (int signal : kSignals) {
        std::signal(signal, SIG_DFL);
    }
    for (int& fd : g_signalSockets) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
}

void StopSignals::Handle(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(g_signalSockets[0], &byte, 1);
}
