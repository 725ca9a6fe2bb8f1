// wavegen-render: the generator's Start command on the command line, for
// scripts, automated measurements and files.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>

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

// Plays until `seconds` pass (below 0: forever), a stop signal arrives on
// signalFd, or the output is lost; returns true for a loss. The output's
// changes of state reach the dialog as they would the window.
bool PlayFor(double seconds, int signalFd, const IWaveOut& output, CWaveGeneratorDialog& dialog)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(std::max(seconds, 0.0)));
    std::array<pollfd, 2> fds{{{signalFd, POLLIN, 0}, {output.ChangeDescriptor(), POLLIN, 0}}};
    for (;;) {
        if (IWaveOut::Status(dialog.m_waveOut).state == OutputState::Lost) {
            return true;
        }
        int timeoutMs = -1;
        if (seconds >= 0.0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0) {
                return false;
            }
            timeoutMs = static_cast<int>(std::min<long>(left.count(), 1000000));
        }
        if (poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) {
            return false;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return false;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint64_t changes = 0;
            [[maybe_unused]] const ssize_t drained = read(fds[1].fd, &changes, sizeof changes);
            dialog.OnOutputChange();
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
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);

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
        lost = PlayFor(options.playSeconds, signalFd, alsa, dialog);
        if (const unsigned gaps = IWaveOut::Status(dialog.m_waveOut).underruns; gaps > 0) {
            PrintLine("wavegen-render: " + std::to_string(gaps) +
                      " underrun(s): the sound had gaps");
        }
    }
    dialog.OnStop();
    if (lost) {
        PrintLine("wavegen-render: the output device was lost");
        return kEndedEarly;
    }
    return 0;
}
