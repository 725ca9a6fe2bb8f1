#include "ChildProcess.h"

#include <dirent.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (auto& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    CloseStdout();
    if (m_errFd >= 0) {
        close(m_errFd);
    }
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnvironment)
{
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<std::string> environment(extraEnvironment);
    for (char** variable = environ; *variable != nullptr; ++variable) {
        environment.emplace_back(*variable);
    }
    std::vector<std::string> arguments(argv);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    const int spawned = posix_spawn(&m_pid, arguments[0].c_str(), &actions, nullptr,
                                    Pointers(arguments).data(), Pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    m_out = out[0];
    m_errFd = err[0];
    if (spawned != 0) {
        m_pid = -1;
    }
    return spawned == 0;
}

void ChildProcess::CloseStdout()
{
    if (m_out >= 0) {
        close(m_out);
        m_out = -1;
    }
}

std::string ChildProcess::ReadAllStdout()
{
    std::string all;
    char chunk[65536];
    ssize_t got;
    while ((got = read(m_out, chunk, sizeof chunk)) > 0) {
        all.append(chunk, static_cast<std::size_t>(got));
    }
    return all;
}

bool ChildProcess::ReadStderr(int timeoutMs)
{
    pollfd fd{m_errFd, POLLIN, 0};
    if (m_errFd < 0 || poll(&fd, 1, timeoutMs) <= 0) {
        return false;
    }
    char chunk[4096];
    const ssize_t got = read(m_errFd, chunk, sizeof chunk);
    if (got <= 0) {
        close(m_errFd);
        m_errFd = -1;
        return false;
    }
    m_err.append(chunk, static_cast<std::size_t>(got));
    return true;
}

bool ChildProcess::WaitForStderr(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_err.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || (!ReadStderr(static_cast<int>(left.count())) && m_errFd < 0)) {
            return m_err.find(text) != std::string::npos;
        }
    }
    return true;
}

int CountEntries(const std::string& directory)
{
    int count = 0;
    if (DIR* dir = opendir(directory.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(dir);
    }
    return count;
}

int ChildProcess::ThreadCount() const
{
    return CountEntries("/proc/" + std::to_string(m_pid) + "/task");
}

void ChildProcess::Signal(int signal)
{
    if (m_pid > 0) {
        kill(m_pid, signal);
    }
}

int ChildProcess::Wait(std::chrono::milliseconds timeout)
{
    // Standard error closes when the program ends (or hands it on).
    WaitForStderr(std::string(1, '\0'), timeout);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return -1;
        }
        usleep(1000);
    }
    m_pid = -1;
    m_signalled = WIFSIGNALED(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
