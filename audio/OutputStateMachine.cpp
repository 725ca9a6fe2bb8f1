#include "OutputStateMachine.h"

#include "EventCounter.h"

namespace {

constexpr std::uint64_t kStateBits = 0xFF;

OutputState StateOf(std::uint64_t word)
{
    return static_cast<OutputState>(word & kStateBits);
}

std::uint32_t EpochOf(std::uint64_t word)
{
    return static_cast<std::uint32_t>(word >> 8);
}

bool Allowed(OutputState from, OutputState to)
{
    return (from == OutputState::Playing && to == OutputState::Lost) ||
           (from == OutputState::Lost && to == OutputState::Reopening) ||
           (from == OutputState::Reopening && to == OutputState::Playing);
}

}  // namespace

std::uint64_t OutputStateMachine::Word(std::uint32_t epoch, OutputState state)
{
    return std::uint64_t{epoch} << 8 | static_cast<std::uint64_t>(state);
}

std::uint32_t OutputStateMachine::Begin()
{
    std::uint64_t word = m_word.load();
    do {
        if (StateOf(word) != OutputState::Stopped) {
            return 0;
        }
    } while (!m_word.compare_exchange_weak(word, Word(EpochOf(word) + 1, OutputState::Playing)));
    m_framesWritten.store(0, std::memory_order_relaxed);
    Notify();
    return EpochOf(word) + 1;
}

void OutputStateMachine::End()
{
    std::uint64_t word = m_word.load();
    do {
        if (StateOf(word) == OutputState::Stopped) {
            return;
        }
    } while (!m_word.compare_exchange_weak(word, Word(EpochOf(word), OutputState::Stopped)));
    Notify();
}

bool OutputStateMachine::Change(std::uint32_t epoch, OutputState from, OutputState to)
{
    std::uint64_t expected = Word(epoch, from);
    if (!Allowed(from, to) || !m_word.compare_exchange_strong(expected, Word(epoch, to))) {
        return false;
    }
    Notify();
    return true;
}

bool OutputStateMachine::Holds(std::uint32_t epoch) const
{
    const std::uint64_t word = m_word.load();
    return EpochOf(word) == epoch && StateOf(word) != OutputState::Stopped;
}

std::uint32_t OutputStateMachine::PlayingEpoch() const
{
    const std::uint64_t word = m_word.load();
    return StateOf(word) == OutputState::Stopped ? 0 : EpochOf(word);
}

OutputState OutputStateMachine::State() const
{
    return StateOf(m_word.load());
}

void OutputStateMachine::Fail(OutputStep step, int code)
{
    const auto magnitude = static_cast<std::uint32_t>(code < 0 ? -code : code);
    m_error.store(std::uint64_t{static_cast<std::uint8_t>(step)} << 32 | magnitude,
                  std::memory_order_release);
}

OutputStatus OutputStateMachine::Status() const
{
    // The state first: a failure is stored before the state that tells of
    // it, so whoever sees Lost also sees why (read the other way round, a
    // loss between the two reads came without its reason).
    OutputStatus status;
    status.state = State();
    const std::uint64_t error = m_error.load(std::memory_order_acquire);
    status.error.step = static_cast<OutputStep>(error >> 32);
    status.error.code = -static_cast<int>(error & 0xFFFFFFFFu);
    status.underruns = m_underruns.load(std::memory_order_relaxed);
    status.reopens = m_reopens.load(std::memory_order_relaxed);
    status.framesWritten = m_framesWritten.load(std::memory_order_relaxed);
    status.loopsAsked = m_loopsAsked.load(std::memory_order_relaxed);
    status.loopWritten = m_loopWritten.load(std::memory_order_relaxed);
    return status;
}

void OutputStateMachine::Notify() const
{
    if (m_notifyFd >= 0) {
        RaiseEvent(m_notifyFd);
    }
}
