#pragma once

#include <alsa/asoundlib.h>
#include <poll.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "IWaveOut.h"

// One open ALSA PCM and the thread that writes a caller's buffer into it
// round and round. The thread waits in poll() on the PCM and on a wake-up
// eventfd, so a stop reaches it at once however long the periods are.
class AlsaPlaybackDevice : public WaveOutDevice {
public:
    // Long periods keep the thread asleep (about 0.1 % of a core into a sound
    // server); the stop never waits for a period, it wakes the thread.
    static constexpr unsigned kBufferMicroseconds = 1000000;
    static constexpr unsigned kPeriodMicroseconds = 250000;
    // How often a lost device is tried again when it is to be reopened.
    static constexpr int kReopenIntervalMs = 250;

    // What the thread does when the device fails for good (the sound server
    // went away, the interface was unplugged): end, or close the PCM and
    // open the same name again until it opens, then play from the start.
    enum class OnLoss { End, Reopen };

    // Opens pcmName for the format in non-blocking mode. Returns 0 and the
    // device, or non-zero when the PCM cannot be opened or refuses the format.
    static int Open(const char* pcmName, const WaveFormatEx& format, OnLoss onLoss,
                    AlsaPlaybackDevice** device);
    ~AlsaPlaybackDevice() override;

    AlsaPlaybackDevice(const AlsaPlaybackDevice&) = delete;
    AlsaPlaybackDevice& operator=(const AlsaPlaybackDevice&) = delete;

    // Starts looping the `bytes` bytes at `frames`, `passes` times over.
    // Any loop already running is stopped first.
    void Start(const char* frames, std::uint32_t bytes, std::uint32_t passes);
    // Drops what is queued and returns once the thread no longer reads the buffer.
    void Stop();

    snd_pcm_uframes_t BufferFrames() const { return m_bufferFrames; }
    snd_pcm_uframes_t PeriodFrames() const { return m_periodFrames; }
    // True while the device is gone: for good with OnLoss::End (the thread
    // has ended), until it opens again with OnLoss::Reopen.
    bool Lost() const { return m_lost.load(std::memory_order_acquire); }
    // Frames the PCM has accepted since the last Start.
    std::uint64_t FramesWritten() const { return m_framesWritten.load(std::memory_order_relaxed); }
    // How many underruns the thread has recovered from.
    unsigned Underruns() const { return m_underruns.load(std::memory_order_relaxed); }
    // How many times a lost device was opened again.
    unsigned Reopens() const { return m_reopens.load(std::memory_order_relaxed); }

private:
    AlsaPlaybackDevice(const char* pcmName, const WaveFormatEx& format, OnLoss onLoss, int wakeFd);
    int OpenPcm();
    void ClosePcm();
    int Configure();

    void Run();
    bool PlayUntilLost();
    bool Reopen();
    bool WriteChunk();
    bool WaitForRoom();
    bool WaitForWakeUp(int timeoutMs);
    bool Recover();
    bool Resume();
    bool Lose();
    void FinishPasses();

    const std::string m_pcmName;
    const WaveFormatEx m_format;
    const OnLoss m_onLoss;
    const int m_wakeFd;
    snd_pcm_t* m_pcm = nullptr;
    snd_pcm_uframes_t m_bufferFrames = 0;
    snd_pcm_uframes_t m_periodFrames = 0;
    // [0] the wake-up eventfd, then the PCM's own descriptors.
    std::array<pollfd, 8> m_pollFds{};
    unsigned m_pcmPollCount = 0;

    // Read only by the thread while it runs.
    const char* m_frames = nullptr;
    snd_pcm_uframes_t m_frameCount = 0;
    snd_pcm_uframes_t m_position = 0;
    std::uint32_t m_passesLeft = 0;

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_lost{false};
    std::atomic<unsigned> m_underruns{0};
    std::atomic<unsigned> m_reopens{0};
    std::atomic<std::uint64_t> m_framesWritten{0};
};
