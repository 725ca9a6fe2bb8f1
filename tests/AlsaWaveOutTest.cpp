// Plays through ALSA's "default" into the private sound server started for
// these tests and checks what reaches its null sink.
#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>

#include "AlsaWaveOut.h"
#include "MonitorRecorder.h"
#include "OutputStateMachine.h"
#include "SoundServer.h"
#include "WaitFor.h"

namespace {

using namespace std::chrono_literals;
using Clock = MonitorRecorder::Clock;

constexpr WaveFormatEx kMono48k{WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 0};

// A pseudo-random pattern with no zero sample, so that any dropped,
// repeated or inserted sample shows, and silence is told apart from it.
std::vector<std::int16_t> Pattern(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::int16_t> samples(count);
    for (auto& s : samples) {
        const int magnitude = static_cast<int>(random() % 30000) + 100;
        s = static_cast<std::int16_t>(random() & 1 ? magnitude : -magnitude);
    }
    return samples;
}

WaveHeader LoopHeader(std::vector<std::int16_t>& samples, std::uint32_t loops)
{
    WaveHeader header;
    header.lpData = reinterpret_cast<char*>(samples.data());
    header.dwBufferLength = static_cast<std::uint32_t>(samples.size() * 2);
    header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    header.dwLoops = loops;
    return header;
}

std::size_t FirstNonZero(const std::vector<std::int16_t>& s, std::size_t from)
{
    return static_cast<std::size_t>(
        std::find_if(s.begin() + static_cast<long>(from), s.end(), [](auto v) { return v != 0; }) -
        s.begin());
}

std::size_t EndOfSignal(const std::vector<std::int16_t>& s)
{
    std::size_t end = s.size();
    while (end > 0 && s[end - 1] == 0) {
        --end;
    }
    return end;
}

class AlsaWaveOutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::getenv("PULSE_SERVER") == nullptr) {
            GTEST_SKIP() << "needs the private sound server (run through ctest)";
        }
        ASSERT_TRUE(recorder.Start()) << "cannot record the null sink's monitor";
    }

    WaveOutHandle OpenDefault()
    {
        WaveOutHandle handle = nullptr;
        EXPECT_EQ(waveOut.Open(&handle, kMono48k), MMSYSERR_NOERROR);
        return handle;
    }

    void Play(WaveOutHandle handle, WaveHeader& header)
    {
        EXPECT_EQ(waveOut.PrepareHeader(handle, &header), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOut.Write(handle, &header), MMSYSERR_NOERROR);
    }

    void StopAndClose(WaveOutHandle handle, WaveHeader& header)
    {
        EXPECT_EQ(waveOut.Reset(handle), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOut.UnprepareHeader(handle, &header), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOut.Close(handle), MMSYSERR_NOERROR);
    }

    AlsaWaveOut waveOut;
    MonitorRecorder recorder;
};

// Where `recorded` (from `start`) first leaves `passes` passes of the
// looped `pattern`, and why: the recording jumped ahead in the pattern (the
// recorder fell behind and the monitor dropped what it did not read: the
// output never skips), or the output played a wrong sample there.
struct LoopCheck {
    enum { Exact, RecorderMissed, Wrong } verdict = Exact;
    std::size_t at = 0;       // samples into the loop
    std::size_t skipped = 0;  // RecorderMissed: how many
};

LoopCheck CheckLoop(const std::vector<std::int16_t>& recorded, std::size_t start,
                    const std::vector<std::int16_t>& pattern, std::size_t passes)
{
    const std::size_t n = pattern.size();
    constexpr std::size_t kRun = 48;  // (no 48 samples of the pattern repeat within a pass)
    // Whether the recording from loop sample i on is the pattern from `from` on.
    const auto resumes = [&](std::size_t i, std::size_t from) {
        for (std::size_t k = 0; k < kRun; ++k) {
            if (start + i + k >= recorded.size() ||
                recorded[start + i + k] != pattern[(from + k) % n]) {
                return false;
            }
        }
        return true;
    };
    for (std::size_t i = 0; i < passes * n && start + i < recorded.size(); ++i) {
        if (recorded[start + i] == pattern[i % n]) {
            continue;
        }
        for (std::size_t skipped = 1; skipped < n; ++skipped) {
            if (resumes(i, i + skipped)) {
                return {LoopCheck::RecorderMissed, i, skipped};
            }
        }
        return {LoopCheck::Wrong, i, 0};
    }
    return {};
}

TEST_F(AlsaWaveOutTest, loop_isSampleExactAcrossTheSeams)
{
    std::vector<std::int16_t> pattern = Pattern(24000, 1);
    // A recorder starved on a busy machine drops samples at the monitor:
    // that is said, and tried again; a wrong sample fails with its place.
    for (int attempt = 1; attempt <= 3; ++attempt) {
        WaveHeader header = LoopHeader(pattern, 3);
        const std::size_t before = recorder.SampleCount();
        WaveOutHandle handle = OpenDefault();
        ASSERT_NE(handle, nullptr);
        Play(handle, header);
        recorder.WaitForSamples(before + 3 * 24000 + 24000, 10s);
        StopAndClose(handle, header);
        const std::vector<std::int16_t> recorded = recorder.Samples();
        const std::size_t start = FirstNonZero(recorded, before);
        ASSERT_LE(start + 3 * 24000, recorded.size());
        const LoopCheck check = CheckLoop(recorded, start, pattern, 3);
        if (check.verdict == LoopCheck::RecorderMissed) {
            std::printf("attempt %d: the recorder missed %zu samples at pass %zu sample %zu\n",
                        attempt, check.skipped, check.at / 24000, check.at % 24000);
            continue;
        }
        ASSERT_EQ(check.verdict, LoopCheck::Exact)
            << "pass " << check.at / 24000 << " sample " << check.at % 24000 << ": played "
            << recorded[start + check.at] << ", the loop has " << pattern[check.at % 24000];
        recorder.Stop();
        EXPECT_EQ(EndOfSignal(recorder.Samples()), start + 3 * 24000)
            << "the loop count was not kept";
        return;
    }
    GTEST_SKIP() << "the recorder missed samples in each of 3 attempts: the machine is too busy "
                    "to record the monitor";
}

TEST_F(AlsaWaveOutTest, reset_silencesTheSinkAtOnce)
{
    std::vector<std::int16_t> pattern = Pattern(48000, 2);
    WaveHeader header = LoopHeader(pattern, kLoopForever);
    WaveOutHandle handle = OpenDefault();
    ASSERT_NE(handle, nullptr);
    const std::size_t before = recorder.SampleCount();
    Play(handle, header);
    ASSERT_TRUE(recorder.WaitForValue(pattern[4800], before, 10s)) << "nothing played";
    ASSERT_EQ(waveOut.Reset(handle), MMSYSERR_NOERROR);
    const auto resetReturned = Clock::now();
    EXPECT_EQ(header.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    // Whatever was still to come has reached the sink once 400 ms more are recorded.
    recorder.WaitForSamples(recorder.SampleCount() + 19200, 10s);
    EXPECT_EQ(waveOut.UnprepareHeader(handle, &header), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOut.Close(handle), MMSYSERR_NOERROR);
    recorder.Stop();

    // The last chunk recorded before the reset returned fixes where the
    // recording stood then; whatever signal lies beyond came afterwards.
    const std::vector<std::int16_t> recorded = recorder.Samples();
    std::size_t samplesThen = 0;
    Clock::time_point arrivedThen;
    for (const auto& arrival : recorder.Arrivals()) {
        if (arrival.time <= resetReturned) {
            samplesThen = arrival.samplesSoFar;
            arrivedThen = arrival.time;
        }
    }
    ASSERT_GT(samplesThen, 0u);
    const double sinceChunkMs =
        std::chrono::duration<double, std::milli>(resetReturned - arrivedThen).count();
    const double afterResetMs =
        (static_cast<double>(EndOfSignal(recorded)) - static_cast<double>(samplesThen)) / 48.0 -
        sinceChunkMs;
    EXPECT_LE(afterResetMs, 30.0);
    EXPECT_GT(EndOfSignal(recorded), samplesThen - 4800) << "nothing played before the reset";
}

// A trigger plays its loop's head once, from the first frame, then loops
// the rest; the loop counts as written only once the head is.
TEST_F(AlsaWaveOutTest, trigger_playsTheHeadOnceThenLoopsTheRest)
{
    std::vector<std::int16_t> silence(4800, 0);
    WaveHeader header = LoopHeader(silence, kLoopForever);
    WaveOutHandle handle = OpenDefault();
    ASSERT_NE(handle, nullptr);
    Play(handle, header);
    std::vector<std::int16_t> burst(2400, 0);
    for (std::size_t i = 0; i < 1200; ++i) {
        burst[i] = static_cast<std::int16_t>(i + 1);  // the head, then 1200 of silence
    }
    ASSERT_TRUE(WaitFor([&] { return IWaveOut::Status(handle).loopWritten > 0; }));
    const std::size_t before = recorder.SampleCount();
    ASSERT_EQ(waveOut.Trigger(handle, reinterpret_cast<const char*>(burst.data()), 4800, 2400),
              MMSYSERR_NOERROR);
    const OutputStatus asked = IWaveOut::Status(handle);
    ASSERT_TRUE(recorder.WaitForValue(1200, before, 10s)) << "the head was never heard";
    recorder.WaitForSamples(recorder.SampleCount() + 9600, 10s);
    EXPECT_EQ(IWaveOut::Status(handle).loopWritten, asked.loopsAsked);
    StopAndClose(handle, header);
    recorder.Stop();
    const std::vector<std::int16_t> recorded = recorder.Samples();
    const auto first = std::find(recorded.begin() + static_cast<long>(before), recorded.end(), 1);
    ASSERT_NE(first, recorded.end());
    EXPECT_TRUE(std::equal(burst.begin(), burst.begin() + 1200, first));
    EXPECT_TRUE(std::all_of(first + 1200, recorded.end(), [](std::int16_t v) { return v == 0; }))
        << "the head played again";
}

TEST_F(AlsaWaveOutTest, manyCyclesInARow_allPlay)
{
    constexpr int kCycles = 200;
    std::vector<std::vector<std::int16_t>> buffers;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        buffers.emplace_back(4800, static_cast<std::int16_t>(cycle + 1));
    }
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        WaveHeader header = LoopHeader(buffers[static_cast<std::size_t>(cycle)], kLoopForever);
        const std::size_t before = recorder.SampleCount();
        WaveOutHandle handle = OpenDefault();
        ASSERT_NE(handle, nullptr) << "cycle " << cycle;
        Play(handle, header);
        EXPECT_TRUE(recorder.WaitForValue(static_cast<std::int16_t>(cycle + 1), before, 10s))
            << "cycle " << cycle << " was never heard";
        StopAndClose(handle, header);
    }
}

TEST_F(AlsaWaveOutTest, writeReturnsAtOnceAndFramesFlowSoon)
{
    std::vector<std::int16_t> pattern = Pattern(48000, 3);
    WaveHeader header = LoopHeader(pattern, kLoopForever);
    WaveOutHandle handle = OpenDefault();
    ASSERT_NE(handle, nullptr);
    const std::size_t before = recorder.SampleCount();
    Play(handle, header);
    EXPECT_EQ(header.dwFlags & (WHDR_PREPARED | WHDR_INQUEUE), WHDR_PREPARED | WHDR_INQUEUE);
    EXPECT_EQ(waveOut.UnprepareHeader(handle, &header), WAVERR_STILLPLAYING);
    recorder.WaitForSamples(before + 48000, 5s);
    StopAndClose(handle, header);
    EXPECT_EQ(header.dwFlags & WHDR_PREPARED, 0u);
    recorder.Stop();
    const std::vector<std::int16_t> recorded = recorder.Samples();
    EXPECT_LT(FirstNonZero(recorded, before), recorded.size());
}

// The window's output on a server of the test's own, which is killed while
// the loop plays and then started again.
class ReopeningOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::getenv("PULSE_SERVER") == nullptr) {
            GTEST_SKIP() << "needs the private sound server (run through ctest)";
        }
        ASSERT_TRUE(server.Start());
        ASSERT_EQ(waveOut.Open(&handle, kMono48k), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOut.PrepareHeader(handle, &header), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOut.Write(handle, &header), MMSYSERR_NOERROR);
        // (killed at once, so the loss often finds the start's wake-up still
        // pending, which must not end the reopening)
        server.Signal(SIGKILL);
        ASSERT_TRUE(WaitFor([this] { return Lost(); })) << "the loss went unnoticed";
    }

    void TearDown() override
    {
        if (handle != nullptr) {
            waveOut.Reset(handle);
            waveOut.UnprepareHeader(handle, &header);
            waveOut.Close(handle);
        }
    }

    SoundServer server;
    AlsaWaveOut waveOut{"default", AlsaWaveOut::OnLoss::Reopen};
    std::vector<std::int16_t> pattern = Pattern(24000, 4);
    WaveHeader header = LoopHeader(pattern, kLoopForever);
    WaveOutHandle handle = nullptr;

    bool Lost() const
    {
        const OutputState state = IWaveOut::Status(handle).state;
        return state == OutputState::Lost || state == OutputState::Reopening;
    }
};

// (How soon it is back is no bound here: a loaded machine may take longer
// than the 250 ms between tries; the deadline only catches "never".)
TEST_F(ReopeningOutput, serverBack_soundBackAndExactAcrossTheSeam)
{
    ASSERT_TRUE(server.Start());
    MonitorRecorder recorder;
    ASSERT_TRUE(recorder.Start());
    const auto firstSignal = [](const std::vector<std::int16_t>& s) { return FirstNonZero(s, 0); };
    ASSERT_TRUE(recorder.WaitUntil(
        [&](const std::vector<std::int16_t>& s) { return firstSignal(s) + 30000 <= s.size(); },
        10s))
        << "no sound after the server came back";
    recorder.Stop();

    const std::vector<std::int16_t> recorded = recorder.Samples();
    const std::size_t start = firstSignal(recorded);
    // The recording may have begun after the loop did: find where in the
    // buffer it came in, then follow it across the next seam.
    std::size_t offset = 0;
    while (offset < pattern.size() &&
           !std::equal(pattern.begin() + static_cast<long>(offset),
                       pattern.begin() + static_cast<long>(std::min(offset + 16, pattern.size())),
                       recorded.begin() + static_cast<long>(start))) {
        ++offset;
    }
    ASSERT_LT(offset, pattern.size()) << "what came back is not the loop";
    for (std::size_t i = 0; i < 30000; ++i) {
        ASSERT_EQ(recorded[start + i], pattern[(offset + i) % pattern.size()]) << "sample " << i;
    }
}

TEST_F(ReopeningOutput, stopWhileRetrying_returnsAtOnce)
{
    // Lost: the thread is between tries to open the gone server again.
    const auto before = Clock::now();
    EXPECT_EQ(waveOut.Reset(handle), MMSYSERR_NOERROR);
    EXPECT_LE(Clock::now() - before, 50ms);
    EXPECT_EQ(IWaveOut::Status(handle).reopens, 0u);
}

// A server that accepts the connection and never answers (stopped) holds
// the device's thread, never the caller.
TEST(HungServer, stopAndCloseReturnAtOnce_andAnOpenGivesUpAfterTwoSeconds)
{
    if (std::getenv("PULSE_SERVER") == nullptr) {
        GTEST_SKIP() << "needs the private sound server (run through ctest)";
    }
    SoundServer server;
    ASSERT_TRUE(server.Start());
    AlsaWaveOut waveOut{"default", AlsaWaveOut::OnLoss::Reopen};
    std::vector<std::int16_t> pattern = Pattern(24000, 5);
    WaveHeader header = LoopHeader(pattern, kLoopForever);
    WaveOutHandle handle = nullptr;
    ASSERT_EQ(waveOut.Open(&handle, kMono48k), MMSYSERR_NOERROR);
    waveOut.PrepareHeader(handle, &header);
    waveOut.Write(handle, &header);
    ASSERT_TRUE(WaitFor([&] { return IWaveOut::Status(handle).framesWritten > 0; }));
    server.Signal(SIGSTOP);

    auto started = Clock::now();
    EXPECT_EQ(waveOut.Reset(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOut.UnprepareHeader(handle, &header), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOut.Close(handle), MMSYSERR_NOERROR);
    EXPECT_LE(Clock::now() - started, 100ms) << "the stop waited on the server";

    started = Clock::now();
    EXPECT_EQ(waveOut.Open(&handle, kMono48k), MMSYSERR_NODRIVER);
    const auto gaveUpAfter = Clock::now() - started;
    EXPECT_EQ(handle, nullptr);
    EXPECT_GE(gaveUpAfter, 1900ms);
    EXPECT_LE(gaveUpAfter, 3s);
    EXPECT_EQ(waveOut.FailureText(nullptr),
              "cannot open PCM 'default': no answer from the sound server within 2 s");
    server.Signal(SIGCONT);
}

// Thousands of switches on ALSA's null PCM, which takes every period at
// once, so the device thread copies without pause. Each new loop is a fresh
// allocation of another length, and the one before it is freed as soon as
// Switch returns: a thread that read a loop after that, or applied one
// loop's position to another, reads freed or foreign memory, which the
// sanitizer stages report. A third thread keeps both cores busy, so the
// device thread is preempted at any point of a hand-over.
TEST(AlsaSwitch, thousandsOfSwitchesWhileTheThreadCopies_neverReadAnOldLoop)
{
    AlsaWaveOut output("null");
    WaveOutHandle handle = nullptr;
    ASSERT_EQ(output.Open(&handle, kMono48k), MMSYSERR_NOERROR);
    std::vector<std::int16_t> first(4800, 1);
    WaveHeader header = LoopHeader(first, kLoopForever);
    output.PrepareHeader(handle, &header);
    output.Write(handle, &header);
    std::atomic<bool> done{false};
    std::thread busy([&done] {
        while (!done.load(std::memory_order_relaxed)) {
        }
    });
    auto current = std::make_unique<std::vector<std::int16_t>>(first);
    for (int i = 0; i < 5000; ++i) {
        const std::size_t length = 7 + static_cast<std::size_t>(i) * 7919 % 9600;
        auto next =
            std::make_unique<std::vector<std::int16_t>>(length, static_cast<std::int16_t>(i));
        const double from = i % 2 == 0 ? 0.0 : 0.01;
        const double to = i % 3 == 0 ? 0.0 : 1.0 / static_cast<double>(length);
        ASSERT_EQ(output.Switch(handle, reinterpret_cast<const char*>(next->data()),
                                static_cast<std::uint32_t>(length * 2), from, to),
                  MMSYSERR_NOERROR);
        current = std::move(next);  // the loop before is freed here
    }
    done = true;
    busy.join();
    // The last loop asked for is the one the thread writes.
    EXPECT_TRUE(WaitFor([&] {
        const OutputStatus status = IWaveOut::Status(handle);
        return status.loopWritten == status.loopsAsked;
    }));
    output.Reset(handle);
    output.UnprepareHeader(handle, &header);
    output.Close(handle);
}

TEST(AlsaWaveOutOpen, aDefaultThatCannotOpen_failsWithANullHandle)
{
    char path[] = "/tmp/wavegen-alsa-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const char config[] = "pcm.!default { type hw card \"NoSuchCard\" device 0 }\n";
    ASSERT_EQ(write(fd, config, sizeof config - 1), static_cast<ssize_t>(sizeof config - 1));
    close(fd);
    const char* previous = std::getenv("ALSA_CONFIG_PATH");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("ALSA_CONFIG_PATH", path, 1);

    AlsaWaveOut waveOut;
    WaveOutHandle handle = reinterpret_cast<WaveOutHandle>(0x1);
    EXPECT_NE(waveOut.Open(&handle, kMono48k), MMSYSERR_NOERROR);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(waveOut.FailureText(nullptr).rfind("cannot open PCM 'default': ", 0), 0u)
        << waveOut.FailureText(nullptr);

    if (previous != nullptr) {
        setenv("ALSA_CONFIG_PATH", saved.c_str(), 1);
    } else {
        unsetenv("ALSA_CONFIG_PATH");
    }
    snd_config_update_free_global();
    unlink(path);
}

TEST(AlsaWaveOutOpen, aFormatTheLayerCannotPlay_failsWithANullHandle)
{
    AlsaWaveOut waveOut;
    WaveFormatEx eightBit = kMono48k;
    eightBit.wBitsPerSample = 8;
    eightBit.nBlockAlign = 1;
    WaveOutHandle handle = nullptr;
    EXPECT_EQ(waveOut.Open(&handle, eightBit), WAVERR_BADFORMAT);
    EXPECT_EQ(handle, nullptr);
}

}  // namespace

// The window and the tool log a loss with its reason read from the same
// look at the output: a loss seen without its reason went unexplained.
TEST(OutputStatus, aLossSeenFromAnotherThread_alwaysCarriesItsReason)
{
    OutputStateMachine state;
    std::atomic<bool> done{false};
    std::atomic<int> play{0};  // each play fails with its own number as the code
    std::thread device([&] {
        while (!done) {
            const int number = play.load() + 1;
            play = number;
            const std::uint32_t epoch = state.Begin();
            state.Fail(OutputStep::Write, -number);
            state.Change(epoch, OutputState::Playing, OutputState::Lost);
            state.End();
        }
    });
    // Enough looks at a loss that an unordered read shows up in nearly
    // every run (in 9 of 10 before the reads were ordered).
    int losses = 0;
    int unexplained = 0;
    for (long look = 0; losses < 1000000 && look < 1000000000; ++look) {
        const int playBefore = play.load();
        const OutputStatus status = state.Status();
        if (status.state == OutputState::Lost) {
            ++losses;
            unexplained += -status.error.code < playBefore;  // an earlier play's reason
        }
    }
    done = true;
    device.join();
    EXPECT_GT(losses, 0);
    EXPECT_EQ(unexplained, 0);
}
