#pragma once

#include <atomic>
#include <cstdint>

// What an open output is doing. Stopped until a buffer is written, Playing
// while the loop is handed to the device, Lost when the device failed for
// good, Reopening while a lost device is being opened again.
enum class OutputState : std::uint8_t { Stopped, Playing, Lost, Reopening };

// The step of the output that failed last.
enum class OutputStep : std::uint8_t { None, Open, Configure, Write, Wait, Recover, Reopen };

// A failure: the step and the sound library's negative error code.
struct OutputError {
    OutputStep step = OutputStep::None;
    int code = 0;
};

// A consistent look at an output for whoever shows it.
struct OutputStatus {
    OutputState state = OutputState::Stopped;
    OutputError error;
    unsigned underruns = 0;
    unsigned reopens = 0;
    std::uint64_t framesWritten = 0;
    // The caller's count of loops handed over (a Start, each switch), and
    // the number of the newest one whose samples the device has taken:
    // equal once what was last asked for is at the device.
    std::uint32_t loopsAsked = 0;
    std::uint32_t loopWritten = 0;
};

// The one owner of an output's state. The state and the number of the play
// it belongs to (its epoch) share one atomic word, changed only by
// compare-and-swap from the allowed previous states, so a device thread that
// acts on an old play can never overwrite a newer Start or a Stop. It is
// also how a caller tells the device thread what to do: the thread plays
// while the word still holds its epoch. Every change makes the notifier
// (an eventfd, or -1 for none) readable.
class OutputStateMachine {
public:
    explicit OutputStateMachine(int notifyFd = -1) : m_notifyFd(notifyFd) {}

    // Stopped -> Playing under a new epoch, which it returns (0: not stopped).
    std::uint32_t Begin();
    // Any state -> Stopped; the epoch stays.
    void End();
    // from -> to, for the play of `epoch` only. Allowed: Playing -> Lost,
    // Lost -> Reopening, Reopening -> Playing. False when refused.
    bool Change(std::uint32_t epoch, OutputState from, OutputState to);
    // True while the play of `epoch` has not been stopped or replaced.
    bool Holds(std::uint32_t epoch) const;
    // The epoch of the play under way; 0 while stopped.
    std::uint32_t PlayingEpoch() const;
    OutputState State() const;

    // Called from the device thread: no lock, no allocation.
    void Fail(OutputStep step, int code);
    void CountUnderrun() { m_underruns.fetch_add(1, std::memory_order_relaxed); }
    void CountReopen() { m_reopens.fetch_add(1, std::memory_order_relaxed); }
    void CountFrames(std::uint64_t frames)
    {
        m_framesWritten.fetch_add(frames, std::memory_order_relaxed);
    }
    // The caller numbers each loop it hands over; the device thread says
    // which one it has written samples of. The first write of the newest
    // loop asked is told on the descriptor too: whoever waits for a
    // setting's sound to reach the device goes on then.
    std::uint32_t AskLoop() { return m_loopsAsked.fetch_add(1, std::memory_order_relaxed) + 1; }
    void LoopWritten(std::uint32_t loop)
    {
        if (m_loopWritten.exchange(loop, std::memory_order_relaxed) != loop &&
            loop == m_loopsAsked.load(std::memory_order_relaxed)) {
            Notify();
        }
    }

    OutputStatus Status() const;

private:
    static std::uint64_t Word(std::uint32_t epoch, OutputState state);
    void Notify() const;

    const int m_notifyFd;
    std::atomic<std::uint64_t> m_word{0};   // epoch << 8 | state
    std::atomic<std::uint64_t> m_error{0};  // step << 32 | -code
    std::atomic<unsigned> m_underruns{0};
    std::atomic<unsigned> m_reopens{0};
    std::atomic<std::uint64_t> m_framesWritten{0};
    std::atomic<std::uint32_t> m_loopsAsked{0};
    std::atomic<std::uint32_t> m_loopWritten{0};
};
