// wavegen-render: the generator's Start command on the command line, for
// scripts, automated measurements and files.
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <limits>

#include "AlsaDeviceNames.h"
#include "AlsaWaveOut.h"
#include "CWaveGeneratorDialog.h"
#include "ConsoleDialogWindow.h"
#include "LoopWriter.h"
#include "MonotonicTickSource.h"
#include "OutputFile.h"
#include "RenderOptions.h"
#include "SilentWaveOut.h"

namespace {

constexpr int kEndedEarly = 1;
constexpr int kCannotWrite = 3;
// How often an endless or long play looks whether the device was lost.
constexpr long kLossCheckNanoseconds = 100'000'000;

int ListDevices()
{
    for (const PcmDescription& pcm : PlaybackPcms()) {
        std::printf("%s\t%s\n", pcm.name.c_str(), pcm.description.c_str());
    }
    return 0;
}

// Writes the loop buffer to the output; returns 0 or the exit status.
int WriteOutput(const RenderOptions& options, const CWaveGeneratorDialog& dialog)
{
    const auto* samples = reinterpret_cast<const std::int16_t*>(dialog.m_waveHeader.lpData);
    const std::size_t count = dialog.m_waveHeader.dwBufferLength / 2;
    if (!options.raw && 2 * count * std::uint64_t{options.repeat} > kMostWavDataBytes) {
        return UsageError(
            "--repeat: the WAV data would pass the format's 4 GiB limit; use "
            "--raw or a smaller N");
    }
    OutputFile output;
    std::string error = output.Open(options.output);
    if (error.empty()) {
        error = WriteLoop(output.Descriptor(), samples, count, dialog.m_waveFormat.nSamplesPerSec,
                          options.repeat, options.raw);
    }
    if (error.empty()) {
        error = output.Commit();
    }
    if (!error.empty()) {
        std::fprintf(stderr, "wavegen-render: cannot write %s: %s\n", options.output.c_str(),
                     error.c_str());
        return kCannotWrite;
    }
    return 0;
}

// Plays until `seconds` pass (below 0: forever), SIGINT or SIGTERM arrives
// (both are blocked, so that the playback thread never takes them), or the
// device is lost; returns true for a loss.
bool PlayFor(double seconds, const sigset_t& stopSignals, const AlsaPlaybackDevice& device)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double end = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9 +
                       (seconds < 0.0 ? std::numeric_limits<double>::infinity() : seconds);
    for (;;) {
        if (device.Lost()) {
            return true;
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double left =
            end - static_cast<double>(now.tv_sec) - static_cast<double>(now.tv_nsec) / 1e9;
        if (left <= 0.0) {
            return false;
        }
        timespec slice{0, kLossCheckNanoseconds};
        if (left < 0.1) {
            slice.tv_nsec = static_cast<long>(left * 1e9);
        }
        if (sigtimedwait(&stopSignals, nullptr, &slice) >= 0) {
            return false;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    RenderOptions options;
    if (const int status = ParseRenderOptions(argc, argv, options); status >= 0) {
        return status;
    }
    if (options.listDevices) {
        return ListDevices();
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ConsoleDialogWindow window;
    SilentWaveOut silent;
    // A script wants to know that the sound stopped: a lost device ends the run.
    AlsaWaveOut alsa(options.device, AlsaWaveOut::OnLoss::End);
    MonotonicTickSource ticks;
    CWaveGeneratorDialog dialog(window, options.play ? static_cast<IWaveOut&>(alsa) : silent,
                                ticks);
    dialog.OnInitDialog();
    window.m_frequencyText = options.frequency;
    window.m_selection = options.waveform;
    dialog.OnOK();
    if (dialog.m_waveOut == nullptr) {
        return kEndedEarly;
    }
    PrintLine(window.m_statusText);
    if (!options.output.empty()) {
        if (const int status = WriteOutput(options, dialog); status != 0) {
            dialog.OnStop();
            return status;
        }
    }
    bool lost = false;
    if (options.play) {
        lost = PlayFor(options.playSeconds, stopSignals,
                       *static_cast<const AlsaPlaybackDevice*>(dialog.m_waveOut));
    }
    dialog.OnStop();
    if (lost) {
        PrintLine("wavegen-render: the output device was lost");
        return kEndedEarly;
    }
    return 0;
}
