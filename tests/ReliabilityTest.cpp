// The dialog on the real output layer under load and faults: many cycles,
// a sound server that dies, comes back, is absent, or stalls.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "AlsaWaveOut.h"
#include "ChildProcess.h"
#include "DialogFixture.h"
#include "EventCounter.h"
#include "SoundServer.h"
#include "WaitFor.h"

namespace {

using namespace std::chrono_literals;

long ResidentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

// The process's threads, counted once a thread that just ran has left the
// task list (a joined thread lingers there a moment; and a sanitizer starts
// a helper with the first thread).
int SettledThreadCount()
{
    pid_t finished = 0;
    std::thread([&] { finished = gettid(); }).join();
    const std::string task = "/proc/self/task/" + std::to_string(finished);
    WaitFor([&] { return !std::filesystem::exists(task); });
    return CountEntries("/proc/self/task");
}

class Reliability : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::getenv("PULSE_SERVER") == nullptr) {
            GTEST_SKIP() << "needs the private sound server (run through ctest)";
        }
        window.m_dialog = &dialog;
        dialog.OnInitDialog();
    }

    OutputStatus Status() const { return IWaveOut::Status(dialog.m_waveOut); }
    // The closing of a device ends on its own thread, a moment after the stop.
    static void ExpectNothingLeft(int fds, int threads)
    {
        EXPECT_TRUE(WaitFor([&] {
            return CountEntries("/proc/self/fd") == fds &&
                   CountEntries("/proc/self/task") == threads;
        })) << CountEntries("/proc/self/fd")
            << " descriptors, threads " << ThreadNames();
    }

    // The process's threads by name, for a failure to say which one stayed.
    static std::string ThreadNames()
    {
        std::string names;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream comm(task.path() / "comm");
            std::string name;
            std::getline(comm, name);
            names += (names.empty() ? "" : ", ") + name;
        }
        return names;
    }

    // Hands the output's changes of state to the dialog, as the window's
    // event loop does; true once the status line reads `status`.
    bool StatusBecomes(const std::string& status)
    {
        return WaitFor(
            [&] {
                if (ClearEvent(waveOut.ChangeDescriptor())) {
                    dialog.OnOutputChange();
                }
                return window.Text(IDC_STATUS) == status;
            },
            1s);
    }

    bool Lost() const
    {
        const OutputState state = Status().state;
        return state == OutputState::Lost || state == OutputState::Reopening;
    }

    void Start(const std::string& frequency, int waveform = 0)
    {
        window.m_texts[IDC_FREQUENCY] = frequency;
        window.m_selection = waveform;
        dialog.OnOK();
    }

    // Waits until the playing device has handed the PCM more frames.
    bool Flows()
    {
        const std::uint64_t before = Status().framesWritten;
        return WaitFor([&] { return Status().framesWritten > before; });
    }

    std::vector<std::string> log;
    RecordingWindow window{log};
    // As the window makes it: a lost device is opened again.
    AlsaWaveOut waveOut{"default", AlsaWaveOut::OnLoss::Reopen};
    FakeTickSource ticks;
    CWaveGeneratorDialog dialog{window, waveOut, ticks};
};

TEST_F(Reliability, manyStartStopCyclesAndSliderRestarts_releaseEverything)
{
    const int threads = SettledThreadCount();
    Start("500");  // the sound client library's first use sets up for good
    dialog.OnStop();
    // (once the device's own thread has closed it)
    ASSERT_TRUE(WaitFor([&] { return CountEntries("/proc/self/task") == threads; }))
        << threads << " threads before, now " << ThreadNames();
    const int fds = CountEntries("/proc/self/fd");
    [[maybe_unused]] long residentAfter100 = 0;
    for (int cycle = 1; cycle <= 2000; ++cycle) {
        Start(cycle % 2 == 0 ? "500" : "1234.5", cycle % 7 == 3 ? 1 : 0);
        ASSERT_NE(dialog.m_waveOut, nullptr) << "cycle " << cycle;
        dialog.OnStop();
        ASSERT_EQ(dialog.m_waveOut, nullptr);
        if (cycle == 100) {
            residentAfter100 = ResidentKilobytes();
        }
    }
    for (int step = 0; step < 500; ++step) {
        ticks.m_now += 1000;
        dialog.OnHScroll(step % 2 == 0 ? SB_LINERIGHT : SB_PAGERIGHT, 0);
        ASSERT_NE(dialog.m_waveOut, nullptr) << "restart " << step;
    }
    dialog.OnStop();
    ExpectNothingLeft(fds, threads);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (AddressSanitizer holds freed memory in quarantine, and LeakSanitizer
    // checks for leaks there instead; ThreadSanitizer keeps state for every
    // thread that ever ran.)
    EXPECT_LT(ResidentKilobytes() - residentAfter100, 4096) << "resident size grew";
#endif
    EXPECT_TRUE(window.m_boxes.empty());
}

TEST_F(Reliability, serverKilledAndRestartedFiveTimes_playsAgainEachTimeAndLeavesNothing)
{
    SoundServer server;
    ASSERT_TRUE(server.Start());
    const int threads = SettledThreadCount();
    Start("500");  // the sound client library's first use sets up for good
    dialog.OnStop();
    // (once the device's own thread has closed it)
    ASSERT_TRUE(WaitFor([&] { return CountEntries("/proc/self/task") == threads; }))
        << threads << " threads before, now " << ThreadNames();
    const int fds = CountEntries("/proc/self/fd");
    Start("500");
    ASSERT_NE(dialog.m_waveOut, nullptr);
    ASSERT_TRUE(Flows());
    for (unsigned round = 1; round <= 5; ++round) {
        server.Signal(SIGKILL);
        ASSERT_TRUE(StatusBecomes(
            "This is a sine wave, 500.000 Hz\nNo sound: output device lost; reconnecting"))
            << "round " << round << ": " << window.Text(IDC_STATUS);
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(WaitFor([&] { return Status().reopens == round && !Lost(); }))
            << "round " << round;
        ASSERT_TRUE(StatusBecomes("This is a sine wave, 500.000 Hz\n")) << "round " << round;
        ASSERT_TRUE(Flows()) << "round " << round;
    }
    EXPECT_EQ(window.Text(IDC_STATUS), "This is a sine wave, 500.000 Hz\n");
    dialog.OnStop();
    ExpectNothingLeft(fds, threads);
    EXPECT_TRUE(window.m_boxes.empty());
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) {
                                return line.rfind("failure lost PCM 'default'", 0) == 0;
                            }),
              5)
        << "each loss is named once";
}

// A live setting while the server is killed or hung: it is kept on the
// same device (nothing is closed or opened for it), and once the server is
// back the new loop is what the device writes.
TEST_F(Reliability, settingWhileTheServerIsGoneOrHung_isKeptAndPlaysWhenItIsBack)
{
    SoundServer server;
    ASSERT_TRUE(server.Start());
    Start("500");
    ASSERT_TRUE(Flows());
    const WaveOutHandle device = dialog.m_waveOut;
    const struct {
        int signal;
        double hertz;
        const char* status;
    } rounds[] = {{SIGKILL, 2000.0, "This is a sine wave, 2000.000 Hz\n"},
                  {SIGSTOP, 3000.0, "This is a sine wave, 3000.000 Hz\n"}};
    for (const auto& round : rounds) {
        server.Signal(round.signal);
        if (round.signal == SIGKILL) {
            ASSERT_TRUE(WaitFor([&] { return Lost(); }));
        }
        GeneratorSettings next = dialog.Settings();
        next.frequency = round.hertz;
        const SettingsOutcome outcome = dialog.ApplySettings(next, SettingsRoute::Live);
        EXPECT_TRUE(outcome == SettingsOutcome::Kept || outcome == SettingsOutcome::Switched);
        EXPECT_EQ(dialog.m_waveOut, device);
        if (round.signal == SIGKILL) {
            ASSERT_TRUE(server.Start());
        } else {
            server.Signal(SIGCONT);
        }
        EXPECT_TRUE(WaitFor([&] {
            const OutputStatus status = Status();
            return !Lost() && status.loopWritten == status.loopsAsked;
        })) << round.hertz;
        EXPECT_TRUE(StatusBecomes(round.status)) << window.Text(IDC_STATUS);
        ASSERT_TRUE(Flows());
    }
    dialog.OnStop();
    EXPECT_TRUE(window.m_boxes.empty());
}

TEST_F(Reliability, noServerAtStart_bothMessagesAndStopOnlyRewritesTheStatus)
{
    SoundServer server;  // never started
    Start("500");
    EXPECT_EQ(dialog.m_waveOut, nullptr);
    ASSERT_EQ(window.m_boxes.size(), 2u);
    EXPECT_EQ(window.m_boxes[1], "cannot open wave out device");
    log.clear();
    dialog.OnStop();
    EXPECT_EQ(log, (std::vector<std::string>{"text 1006 Stopped"}));
}

TEST_F(Reliability, stalledServer_theLoopCarriesOnAfterwards)
{
    SoundServer server;
    ASSERT_TRUE(server.Start());
    Start("500");
    ASSERT_NE(dialog.m_waveOut, nullptr);
    ASSERT_TRUE(Flows());
    // Stalled for longer than the whole ALSA buffer: the writes stop.
    server.Signal(SIGSTOP);
    std::uint64_t stalledAt = 0;
    ASSERT_TRUE(WaitFor([&] {
        const std::uint64_t now = Status().framesWritten;
        const bool stalled = now == stalledAt;
        stalledAt = now;
        if (!stalled) {
            std::this_thread::sleep_for(AlsaPlaybackDevice::kQuietQueue.bufferMicroseconds * 1us);
        }
        return stalled;
    }));
    server.Signal(SIGCONT);
    EXPECT_TRUE(Flows()) << "the loop did not resume";
    EXPECT_FALSE(Lost());
    dialog.OnStop();
    EXPECT_EQ(dialog.m_waveOut, nullptr);
}

}  // namespace
