#pragma once

#include <alsa/asoundlib.h>
#include <poll.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "IWaveOut.h"

// One ALSA PCM and the thread that owns it. Every call into the sound
// library that can wait on a sound server (open, drop, prepare, close, the
// writes) runs on that thread, never on the caller's: a hung server stalls
// only the thread, and Stop, Close and the process's end never wait for it.
// The thread copies each period from the caller's buffer into one of its
// own before the library sees it, so "the buffer is no longer read" after
// Stop needs the thread only to leave a memcpy. It waits in poll() on the
// PCM and on a wake-up eventfd, so a stop reaches it at once.
class AlsaPlaybackDevice : public WaveOutDevice {
public:
    // How much sound the thread keeps queued ahead of the device, and how
    // much it writes at a time. A new loop asked for by a switch is heard
    // after what is queued; a longer queue wakes the thread and the sound
    // server less often. The stop never waits for a period: it wakes the
    // thread and drops the queue.
    struct Queue {
        unsigned bufferMicroseconds;
        unsigned periodMicroseconds;
    };
    // The least CPU (about 0.6 % of a core into a sound server), and no
    // underrun on a machine whose cores are all busy. A loop switched while
    // it plays is heard after the queue: some 95 ms after the switch at a
    // sound server's monitor, 35 ms with a 30 ms queue. (A plugin in front
    // of a sound server cannot rewind what it has handed over.) A queue
    // shorter than the block the server renders ahead underruns even on an
    // idle machine (24 ms: once a minute here); one of 30 or 60 ms, when the
    // machine is busy (about once in 100 s).
    static constexpr Queue kQuietQueue{90000, 30000};
    // How often a lost device is tried again when it is to be reopened.
    static constexpr int kReopenIntervalMs = 250;
    // How often a suspended PCM is asked again whether it can resume.
    static constexpr int kResumeRetryMs = 100;
    // How long an open may take before it counts as failed (a server that
    // accepts the connection and never answers); the attempt then finishes
    // and closes on its own thread.
    static constexpr int kOpenTimeoutMs = 2000;

    // What the thread does when the device fails for good (the sound server
    // went away, the interface was unplugged): stay Lost, or close the PCM
    // and open the same name again until it opens, then play from the start.
    enum class OnLoss { End, Reopen };
    // Waits until fd turns readable or timeoutMs pass; false when the wait
    // was given up first (the user's Stop or Exit, a stop signal). A window
    // passes one that keeps repainting meanwhile. Empty: a plain poll().
    using OpenWaiter = std::function<bool(int fd, int timeoutMs)>;

    // Opens pcmName for the format on the device's thread, waiting at most
    // kOpenTimeoutMs. Returns 0 and the device, or non-zero and the failure.
    // An open given up (a time-out, a cancelled wait) is closed by the
    // thread as soon as it returns, and never plays.
    static int Open(const char* pcmName, const WaveFormatEx& format, OnLoss onLoss, Queue queue,
                    int notifyFd, const OpenWaiter& wait, AlsaPlaybackDevice** device,
                    OutputError* failure);

    AlsaPlaybackDevice(const AlsaPlaybackDevice&) = delete;
    AlsaPlaybackDevice& operator=(const AlsaPlaybackDevice&) = delete;

    // Starts looping the `bytes` bytes at `frames`, `passes` times over.
    // Any loop already running is stopped first.
    void Start(const char* frames, std::uint32_t bytes, std::uint32_t passes);
    // Loops the `bytes` bytes at `frames` instead of the current loop, from
    // the next period on, with no gap (see IWaveOut::Switch). Asked while the
    // play is lost or reopening, it is taken once the device plays again.
    // Returns at once; from then on the thread never reads an older loop,
    // so the caller may rewrite or free it. False, and nothing changed,
    // when nothing plays.
    // With `repeatFrom` (in bytes), the loop plays from its first frame
    // instead and loops from there after its first pass (IWaveOut::Trigger).
    static constexpr std::uint32_t kWholeLoop = 0xFFFFFFFF;
    bool Switch(const char* frames, std::uint32_t bytes, double fromCyclesPerSample,
                double toCyclesPerSample, std::uint32_t repeatFrom = kWholeLoop);
    // Stops the loop; returns once the thread no longer reads the buffer.
    // The thread drops what the PCM still holds right afterwards.
    void Stop();
    // The caller's last word: the thread closes the PCM and frees the device.
    void Release();

private:
    enum class Opening : std::uint8_t { Waiting, Opened, Failed, Abandoned };
    // A loop asked for the play of `epoch`: made and published by the caller
    // in one exchange and never written again; the thread copies what it
    // needs when it takes it.
    struct LoopSwitch {
        const char* frames;
        snd_pcm_uframes_t frameCount;
        double fromCyclesPerSample;
        double toCyclesPerSample;
        snd_pcm_uframes_t repeatFrame;  // kWholeLoop: a switch, not a trigger
        std::uint32_t epoch;
        std::uint32_t loop;  // the state machine's number for it
    };

    AlsaPlaybackDevice(const char* pcmName, const WaveFormatEx& format, OnLoss onLoss, Queue queue,
                       int notifyFd);
    ~AlsaPlaybackDevice() override;
    bool Launch();
    int AwaitOpen(const OpenWaiter& wait, OutputError* failure);
    void Abandon();
    void Drop();
    void Wake();

    int OpenPcm(OutputStep step);
    void ClosePcm();
    int Configure();

    void Run();
    bool WaitForPlay(std::uint32_t& epoch);
    void Play(std::uint32_t epoch);
    bool PlayUntilLost(std::uint32_t epoch);
    bool Reopen(std::uint32_t epoch);
    bool WriteChunk(std::uint32_t epoch);
    void TakeSwitch(std::uint32_t epoch);
    void WithdrawSwitches();
    void AwaitNoReading() const;
    template <class Reader>
    bool ReadWhilePlaying(std::uint32_t epoch, Reader read);
    bool WaitForRoom(std::uint32_t epoch);
    bool WaitForWakeUp(int timeoutMs);
    bool Recover(std::uint32_t epoch, int code);
    bool Resume(std::uint32_t epoch);
    bool Lose(std::uint32_t epoch, OutputStep step, int code);
    void FinishPasses(std::uint32_t epoch);

    const std::string m_pcmName;
    const WaveFormatEx m_format;
    const OnLoss m_onLoss;
    const Queue m_queue;
    const int m_notifyFd;  // the state machine's, owned here
    int m_wakeFd = -1;     // the caller wakes the thread
    int m_openedFd = -1;   // the thread tells the caller the open is over
    std::atomic<Opening> m_opening{Opening::Waiting};
    std::atomic<bool> m_closing{false};
    // True while the thread copies from the caller's buffer.
    std::atomic<bool> m_reading{false};
    // The caller and the thread each hold one; the last to let go frees it.
    std::atomic<int> m_holders{2};

    // Set by the caller before Begin() publishes a play, taken by the thread
    // while it reads.
    const char* m_frames = nullptr;
    snd_pcm_uframes_t m_frameCount = 0;
    std::uint32_t m_passes = 0;
    std::uint32_t m_startLoop = 0;

    // The newest switch not yet taken; the thread takes it with an exchange.
    std::atomic<LoopSwitch*> m_asked{nullptr};
    // The caller's: the switch last published, kept until a newer one has
    // replaced it (the one before is then neither read nor reachable).
    std::unique_ptr<LoopSwitch> m_published;

    // The thread's own.
    snd_pcm_t* m_pcm = nullptr;
    snd_pcm_uframes_t m_bufferFrames = 0;
    snd_pcm_uframes_t m_periodFrames = 0;
    std::unique_ptr<char[]> m_chunk;  // one period, allocated before the thread starts
    snd_pcm_uframes_t m_chunkFrames = 0;
    const char* m_loopData = nullptr;  // the caller's buffer: read only while m_reading
    snd_pcm_uframes_t m_loopFrames = 0;
    snd_pcm_uframes_t m_position = 0;
    snd_pcm_uframes_t m_repeatFrame = 0;  // where the loop starts again at its end
    bool m_firstPass = false;             // a triggered loop not yet written through
    std::uint32_t m_loop = 0;             // the state machine's number of what m_loopData holds
    std::uint32_t m_passesLeft = 0;
    // [0] the wake-up eventfd, then the PCM's own descriptors.
    std::array<pollfd, 8> m_pollFds{};
    unsigned m_pcmPollCount = 0;
};
