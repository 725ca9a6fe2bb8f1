// Plays the 500 Hz sine loop into the sound server and prints what the
// output costs: start latency, stop latency, CPU per second of playback and
// the ALSA buffer and period sizes chosen. Run it through scripts/bench-audio.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "AlsaPlaybackDevice.h"
#include "AlsaWaveOut.h"
#include "CWaveGeneratorDialog.h"
#include "MonitorRecorder.h"
#include "MonotonicTickSource.h"
#include "QuietDialogWindow.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    QuietDialogWindow window;
    AlsaWaveOut waveOut;
    MonotonicTickSource ticks;
    CWaveGeneratorDialog dialog(window, waveOut, ticks);
    dialog.OnInitDialog();
    if (dialog.GenerateWaveform() != 0) {
        return 1;
    }
    MonitorRecorder recorder;
    const bool recording = recorder.Start();
    const std::size_t recordedBefore = recorder.SampleCount();

    if (waveOut.Open(&dialog.m_waveOut, dialog.m_waveFormat) != MMSYSERR_NOERROR) {
        std::fprintf(stderr, "cannot open the default output\n");
        return 1;
    }
    waveOut.PrepareHeader(dialog.m_waveOut, &dialog.m_waveHeader);
    const auto written = Clock::now();
    waveOut.Write(dialog.m_waveOut, &dialog.m_waveHeader);
    while (IWaveOut::Status(dialog.m_waveOut).framesWritten == 0) {
        std::this_thread::yield();
    }
    const auto accepted = Clock::now();
    double firstSoundMs = -1.0;
    if (recording) {
        while (Clock::now() - written < std::chrono::seconds(2)) {
            const auto samples = recorder.Samples();
            bool heard = false;
            for (std::size_t i = recordedBefore; i < samples.size() && !heard; ++i) {
                heard = samples[i] != 0;
            }
            if (heard) {
                firstSoundMs = Milliseconds(Clock::now() - written);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        recorder.Stop();
    }

    const double cpuBefore = CpuSeconds();
    const auto playStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - playStart).count();
    const double cpu = CpuSeconds() - cpuBefore;

    const auto resetStart = Clock::now();
    waveOut.Reset(dialog.m_waveOut);
    const double resetMs = Milliseconds(Clock::now() - resetStart);
    waveOut.UnprepareHeader(dialog.m_waveOut, &dialog.m_waveHeader);
    const unsigned underruns = IWaveOut::Status(dialog.m_waveOut).underruns;
    waveOut.Close(dialog.m_waveOut);

    std::printf("ALSA buffer, period    %.1f ms, %.1f ms asked for\n",
                AlsaPlaybackDevice::kQuietQueue.bufferMicroseconds / 1000.0,
                AlsaPlaybackDevice::kQuietQueue.periodMicroseconds / 1000.0);
    std::printf("write -> first frames  %.3f ms accepted by the PCM\n",
                Milliseconds(accepted - written));
    std::printf("write -> first sound   %.1f ms at the sink's monitor (within its 10 ms latency)\n",
                firstSoundMs);
    std::printf("reset returned after   %.3f ms\n", resetMs);
    std::printf("CPU while playing      %.3f s in %.1f s = %.3f %% of one core\n", cpu, wall,
                100.0 * cpu / wall);
    std::printf("underruns recovered    %u\n", underruns);
    return 0;
}
