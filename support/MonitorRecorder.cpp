#include "MonitorRecorder.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

MonitorRecorder::~MonitorRecorder()
{
    Stop();
}

bool MonitorRecorder::Start()
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    const char* argv[] = {"parec",        "-d",           m_source.c_str(), "--format=s16le",
                          "--rate=48000", "--channels=1", "--raw",          "--latency-msec=10",
                          nullptr};
    const int spawned =
        posix_spawnp(&m_pid, "parec", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        m_pid = -1;
        return false;
    }
    m_fd = pipeFds[0];
    m_reader = std::thread(&MonitorRecorder::Read, this);
    return WaitForSamples(4800, std::chrono::milliseconds(5000));
}

void MonitorRecorder::Stop()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    if (m_reader.joinable()) {
        m_reader.join();
    }
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

void MonitorRecorder::Read()
{
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(m_fd, chunk, sizeof chunk);
        if (got <= 0) {
            return;
        }
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_partial.insert(m_partial.end(), chunk, chunk + got);
        const std::size_t whole = m_partial.size() / 2;
        const std::size_t first = m_samples.size();
        m_samples.resize(first + whole);
        std::memcpy(m_samples.data() + first, m_partial.data(), whole * 2);
        m_partial.erase(m_partial.begin(), m_partial.begin() + static_cast<long>(whole * 2));
        m_arrivals.push_back({now, m_samples.size()});
        m_arrived.notify_all();
    }
}

std::vector<std::int16_t> MonitorRecorder::Samples()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_samples;
}

std::vector<MonitorRecorder::Arrival> MonitorRecorder::Arrivals()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_arrivals;
}

std::size_t MonitorRecorder::SampleCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_samples.size();
}

bool MonitorRecorder::WaitForSamples(std::size_t count, std::chrono::milliseconds timeout)
{
    return WaitUntil([count](const std::vector<std::int16_t>& s) { return s.size() >= count; },
                     timeout);
}

bool MonitorRecorder::WaitForValue(std::int16_t value, std::size_t from,
                                   std::chrono::milliseconds timeout)
{
    return WaitUntil(
        [&](const std::vector<std::int16_t>& s) {
            for (; from < s.size(); ++from) {
                if (s[from] == value) {
                    return true;
                }
            }
            return false;
        },
        timeout);
}
