#pragma once

#include <string>

// A private sound server of a test's own (scripts/sound-server), which the
// test may stall, kill and start again. While the object lives, PULSE_SERVER
// points at it; afterwards it points where it did before.
class SoundServer {
public:
    SoundServer();
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // Starts the server and returns once it answers.
    bool Start();
    void Stop();
    // Sends a signal to the server process (SIGKILL, SIGSTOP, SIGCONT).
    void Signal(int signal);
    const std::string& Directory() const { return m_directory; }

private:
    std::string m_directory;
    std::string m_previous;
};
