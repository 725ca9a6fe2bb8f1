#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Records the private sound server's null-sink monitor with parec, keeping
// every sample and, for each chunk, when it arrived.
class MonitorRecorder {
public:
    using Clock = std::chrono::steady_clock;

    struct Arrival {
        Clock::time_point time;
        std::size_t samplesSoFar;
    };

    explicit MonitorRecorder(std::string source = "nullsink.monitor") : m_source(std::move(source))
    {
    }
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    // Starts recording and returns once data flows (an idle sink renders late).
    bool Start();
    void Stop();

    std::vector<std::int16_t> Samples();
    std::vector<Arrival> Arrivals();
    std::size_t SampleCount();
    // Waits until `count` samples have been recorded or `timeout` passed.
    bool WaitForSamples(std::size_t count, std::chrono::milliseconds timeout);
    // Waits until a sample equal to `value` has been recorded at or after
    // index `from`, or `timeout` passed.
    bool WaitForValue(std::int16_t value, std::size_t from, std::chrono::milliseconds timeout);

    // Waits until done(samples) holds, looking again at every chunk that
    // arrives, or until `timeout` passed. done runs under the recorder's lock.
    template <class Done>
    bool WaitUntil(Done done, std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_arrived.wait_for(lock, timeout, [&] { return done(m_samples); });
    }

private:
    void Read();

    std::string m_source;
    pid_t m_pid = -1;
    int m_fd = -1;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<std::int16_t> m_samples;
    std::vector<Arrival> m_arrivals;
    std::vector<char> m_partial;
};
