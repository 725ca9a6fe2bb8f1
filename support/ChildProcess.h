#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// How many entries a folder such as /proc/PID/task or /proc/self/fd holds
// (0 when it cannot be read).
int CountEntries(const std::string& directory);

// A program run alongside a test: its standard output and error are pipes
// the test reads (or closes) while it runs, and the test may signal it.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::vector<std::string>& argv,
               const std::vector<std::string>& extraEnvironment = {});
    int Stdout() const { return m_out; }
    void CloseStdout();
    // Reads standard output to its end.
    std::string ReadAllStdout();
    // Waits until standard error contains `text` or `timeout` passed.
    bool WaitForStderr(const std::string& text, std::chrono::milliseconds timeout);
    const std::string& Stderr() const { return m_err; }
    void Signal(int signal);
    // How many threads the program runs now (0 once it is gone).
    int ThreadCount() const;
    // Waits for the end up to `timeout`; the exit status, 128 + the signal
    // that ended it, or -1 on a time-out.
    int Wait(std::chrono::milliseconds timeout);
    // After Wait: whether a signal ended it (a plain exit(128 + n) did not).
    bool Signalled() const { return m_signalled; }

private:
    bool ReadStderr(int timeoutMs);

    pid_t m_pid = -1;
    int m_out = -1;
    int m_errFd = -1;
    std::string m_err;
    bool m_signalled = false;
};
