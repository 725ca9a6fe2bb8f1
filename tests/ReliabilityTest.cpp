// The dialog on the real output layer under load and faults: many cycles,
// a sound server that dies, comes back, is absent, or stalls.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "AlsaPlaybackDevice.h"
#include "AlsaWaveOut.h"
#include "DialogFixture.h"
#include "ProcessRunner.h"

namespace {

using namespace std::chrono_literals;

int CountEntries(const char* directory)
{
    int count = 0;
    if (DIR* dir = opendir(directory)) {
        while (const dirent* entry = readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(dir);
    }
    return count;
}

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

// A sound server of this test's own, which it may kill and restart.
class OwnSoundServer {
public:
    OwnSoundServer()
    {
        char directory[] = "/tmp/wavegen-faults-XXXXXX";
        m_directory = mkdtemp(directory);
        m_previous = std::getenv("PULSE_SERVER") != nullptr ? std::getenv("PULSE_SERVER") : "";
        setenv("PULSE_SERVER", ("unix:" + m_directory + "/native").c_str(), 1);
    }
    ~OwnSoundServer()
    {
        Stop();
        setenv("PULSE_SERVER", m_previous.c_str(), 1);
        std::system(("rm -rf " + m_directory).c_str());
    }
    bool Start() { return RunProcess({WAVEGEN_SOUND_SERVER, "start", m_directory}).status == 0; }
    void Stop() { RunProcess({WAVEGEN_SOUND_SERVER, "stop", m_directory}); }
    void Signal(int signal)
    {
        std::ifstream pidFile(m_directory + "/pulse.pid");
        pid_t pid = 0;
        pidFile >> pid;
        if (pid > 0) {
            kill(pid, signal);
        }
    }

private:
    std::string m_directory;
    std::string m_previous;
};

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

    AlsaPlaybackDevice* Device() { return static_cast<AlsaPlaybackDevice*>(dialog.m_waveOut); }

    void Start(const std::string& frequency, int waveform = 0)
    {
        window.m_texts[IDC_FREQUENCY] = frequency;
        window.m_selection = waveform;
        dialog.OnOK();
    }

    // Waits until the playing device has handed the PCM more frames.
    bool Flows(std::chrono::milliseconds timeout)
    {
        const std::uint64_t before = Device()->FramesWritten();
        for (auto waited = 0ms; waited < timeout; waited += 10ms) {
            if (Device()->FramesWritten() > before) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    std::vector<std::string> log;
    RecordingWindow window{log};
    AlsaWaveOut waveOut;
    FakeTickSource ticks;
    CWaveGeneratorDialog dialog{window, waveOut, ticks};
};

TEST_F(Reliability, manyStartStopCyclesAndSliderRestarts_releaseEverything)
{
    Start("500");  // the sound client library's first use sets up for good
    dialog.OnStop();
    const int fds = CountEntries("/proc/self/fd");
    const int threads = CountEntries("/proc/self/task");
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
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    EXPECT_EQ(CountEntries("/proc/self/task"), threads);
#if !defined(__SANITIZE_ADDRESS__)
    // (AddressSanitizer holds freed memory in quarantine, and LeakSanitizer
    // checks for leaks there instead.)
    EXPECT_LT(ResidentKilobytes() - residentAfter100, 4096) << "resident size grew";
#endif
    EXPECT_TRUE(window.m_boxes.empty());
}

TEST_F(Reliability, serverKilledWhilePlaying_stopStillReleasesAndARestartedServerPlays)
{
    OwnSoundServer server;
    ASSERT_TRUE(server.Start());
    Start("500");
    ASSERT_NE(dialog.m_waveOut, nullptr);
    ASSERT_TRUE(Flows(2000ms));

    server.Signal(SIGKILL);
    for (int waited = 0; waited < 200 && !Device()->Lost(); ++waited) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(Device()->Lost()) << "the playback thread did not notice";
    dialog.OnStop();
    EXPECT_EQ(dialog.m_waveOut, nullptr);
    EXPECT_EQ(window.Text(IDC_STATUS), "Stopped");

    // No server at Start: both messages, nothing plays, Stop only rewrites.
    server.Stop();
    Start("500");
    EXPECT_EQ(dialog.m_waveOut, nullptr);
    ASSERT_EQ(window.m_boxes.size(), 2u);
    EXPECT_EQ(window.m_boxes[1], "cannot open wave out device");
    log.clear();
    dialog.OnStop();
    EXPECT_EQ(log, (std::vector<std::string>{"text 1006 Stopped"}));

    ASSERT_TRUE(server.Start());
    Start("500");
    ASSERT_NE(dialog.m_waveOut, nullptr);
    EXPECT_TRUE(Flows(2000ms));
    dialog.OnStop();
}

TEST_F(Reliability, stalledServer_theLoopCarriesOnAfterwards)
{
    OwnSoundServer server;
    ASSERT_TRUE(server.Start());
    Start("500");
    ASSERT_NE(dialog.m_waveOut, nullptr);
    ASSERT_TRUE(Flows(2000ms));
    server.Signal(SIGSTOP);  // longer than the whole ALSA buffer
    std::this_thread::sleep_for(1500ms);
    server.Signal(SIGCONT);
    EXPECT_TRUE(Flows(3000ms)) << "the loop did not resume";
    EXPECT_FALSE(Device()->Lost());
    dialog.OnStop();
    EXPECT_EQ(dialog.m_waveOut, nullptr);
}

}  // namespace
