#include "InterruptHandler.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

// What the handler reads: a handler can reach nothing but statics. Set
// before the signals are unblocked or through lock-free atomics.
std::atomic<bool> g_handedOver{false};
std::atomic<int> g_caught{0};
std::atomic<bool> g_removeNamed{false};
char g_removePath[PATH_MAX];
int g_pipe[2] = {-1, -1};

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal)
{
    if (g_handedOver.load()) {
        g_caught.store(signal);
        const char byte = 1;
        [[maybe_unused]] const ssize_t told = write(g_pipe[1], &byte, 1);
        return;
    }
    if (g_removeNamed.load()) {
        unlink(g_removePath);
    }
    InterruptHandler::EndBy(signal);
}

}  // namespace

bool InterruptHandler::Install()
{
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigfillset(&action.sa_mask);
    // No SA_RESTART: a wait in the endless play returns with EINTR.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigaction(signal, &action, nullptr) != 0) {
            return false;
        }
    }
    return true;
}

void InterruptHandler::RemoveOnSignal(const char* path)
{
    g_removeNamed.store(false);
    if (path != nullptr && std::strlen(path) < sizeof g_removePath) {
        std::strcpy(g_removePath, path);
        g_removeNamed.store(true);
    }
}

void InterruptHandler::HandOver()
{
    g_handedOver.store(true);
}

int InterruptHandler::Descriptor()
{
    return g_pipe[0];
}

int InterruptHandler::Caught()
{
    return g_caught.load();
}

// Only async-signal-safe calls: it also runs inside the handler.
void InterruptHandler::EndBy(int signal)
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);  // (not reached: the default action ends the process)
}
