// wavegen-render: the generator's Start command on the command line, for
// scripts, automated measurements and files.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "AlsaDeviceNames.h"
#include "AlsaWaveOut.h"
#include "ArbitraryFile.h"
#include "CWaveGeneratorDialog.h"
#include "ConsoleDialogWindow.h"
#include "DeferredWaveOut.h"
#include "EventCounter.h"
#include "InterruptHandler.h"
#include "LoopWriter.h"
#include "MonotonicTickSource.h"
#include "OutputFile.h"
#include "RenderOptions.h"
#include "SampleBuffer.h"
#include "SilentWaveOut.h"
#include "StereoWaveOut.h"

namespace {

constexpr int kEndedEarly = 1;
constexpr int kCannotWrite = 3;

// Prints what -h, -V or -L asked for; standard output that cannot take it
// (a full disk, /dev/full) is an output error.
int PrintInformation(const RenderOptions& options)
{
    if (options.printHelp) {
        std::fputs(RenderHelp().c_str(), stdout);
    } else if (options.printVersion) {
        std::puts("wavegen-render " WAVEGEN_VERSION);
    } else {
        // The window plays on "default", which ALSA's hints do not always list.
        std::printf("default\tthe default output, which the window plays on\n");
        for (const PcmDescription& pcm : PlaybackPcms()) {
            if (pcm.name != "default") {
                std::printf("%s\t%s\n", pcm.name.c_str(), pcm.description.c_str());
            }
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::perror("wavegen-render: standard output");
        return kCannotWrite;
    }
    return 0;
}

// Refuses, before anything is written or played, a WAV file that would pass
// the format's 4 GiB; returns -1 when it fits.
int CheckWavSize(const RenderOptions& options, std::uint32_t bufferBytes)
{
    const std::uint64_t most = kMostWavDataBytes / bufferBytes;
    if (options.raw || options.output.empty() || options.repeat <= most) {
        return -1;
    }
    return UsageError("-n/--repeat: a WAV file holds at most " + std::to_string(most) +
                      " passes of this buffer (4 GiB); use --raw or -n " + std::to_string(most));
}

// Writes a loop of `count` samples to the output; returns 0 or the exit status.
int WriteOutput(const RenderOptions& options, const std::int16_t* samples, std::size_t count,
                unsigned sampleRate, unsigned channels)
{
    OutputFile output;
    std::string error = output.Open(options.output);
    if (error.empty()) {
        error = WriteLoop(output.Descriptor(), samples, count, sampleRate, options.repeat,
                          options.raw, channels);
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

enum class PlayEnd { Done, Lost, Failed };

// Plays until `seconds` pass (below 0: until a signal is handed over), or
// the output is lost. The output's changes of state reach the dialog as
// they would the window, a loss too, so that its reason is always told.
PlayEnd PlayFor(double seconds, const IWaveOut& output, CWaveGeneratorDialog& dialog)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(std::max(seconds, 0.0)));
    std::array<pollfd, 2> fds{
        {{InterruptHandler::Descriptor(), POLLIN, 0}, {output.ChangeDescriptor(), POLLIN, 0}}};
    for (;;) {
        if (IWaveOut::Status(dialog.m_waveOut).state == OutputState::Lost) {
            ClearEvent(fds[1].fd);
            dialog.OnOutputChange();
            return PlayEnd::Lost;
        }
        int timeoutMs = -1;
        if (seconds >= 0.0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0) {
                return PlayEnd::Done;
            }
            timeoutMs = static_cast<int>(std::min<long>(left.count(), 1000000));
        }
        if (poll(fds.data(), fds.size(), timeoutMs) < 0) {
            if (errno == EINTR) {
                continue;
            }
            PrintLine(std::string("wavegen-render: cannot wait while playing (poll: ") +
                      std::strerror(errno) + ")");
            return PlayEnd::Failed;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return PlayEnd::Done;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            ClearEvent(fds[1].fd);
            dialog.OnOutputChange();
        }
    }
}

// Tells, as underruns are told, when the sound server took less sound than
// the time played (it hung): a play that was partly silent is no success
// a script should take on trust.
void ReportSilence(const OutputStatus& played, double seconds, std::uint32_t rate)
{
    // More than the device buffer and a margin behind counts.
    constexpr double kToleratedSeconds = 0.25;
    const double missing = seconds - static_cast<double>(played.framesWritten) / rate;
    if (missing > kToleratedSeconds) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "wavegen-render: %.1f s of the %.1f s were silent: the sound server took "
                      "no sound",
                      missing, seconds);
        PrintLine(line);
    }
}

// The status for a stop signal handed over to an endless play: SIGINT and
// SIGTERM are how it is meant to end.
int HandedOverStatus()
{
    const int signal = InterruptHandler::Caught();
    return signal == 0 || signal == SIGINT || signal == SIGTERM ? 0 : 128 + signal;
}

// Plays the generated buffer on the device, then prints the status line
// (the Start command's success); returns the exit status.
int Play(const RenderOptions& options, const std::string status, CWaveGeneratorDialog& dialog,
         DeferredWaveOut& output, AlsaWaveOut& device)
{
    dialog.OnStop();  // the silent output that computed the buffer
    output.SetTarget(device);
    if (options.playSeconds < 0.0) {
        InterruptHandler::HandOver();
    }
    if (InterruptHandler::Caught() != 0) {
        return HandedOverStatus();
    }
    const int started = dialog.StartPlaying();
    if (started == 1) {
        return kEndedEarly;
    }
    if (started == CWaveGeneratorDialog::kStartCancelled) {
        return HandedOverStatus();
    }
    if (options.output.empty()) {
        PrintLine(status);
    }
    const auto began = std::chrono::steady_clock::now();
    const PlayEnd end = PlayFor(options.playSeconds, device, dialog);
    const OutputStatus played = IWaveOut::Status(dialog.m_waveOut);
    if (played.underruns > 0) {
        PrintLine("wavegen-render: " + std::to_string(played.underruns) +
                  " underrun(s): the sound had gaps");
    }
    if (end == PlayEnd::Done) {
        ReportSilence(
            played, std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(),
            dialog.m_waveFormat.nSamplesPerSec);
    }
    dialog.OnStop();
    if (end == PlayEnd::Lost) {
        PrintLine("wavegen-render: the output device was lost");
    }
    return end == PlayEnd::Done ? HandedOverStatus() : kEndedEarly;
}

// After a successful Start: writes and plays what was asked; returns the
// exit status.
int WriteAndPlay(const RenderOptions& options, const ConsoleDialogWindow& window,
                 CWaveGeneratorDialog& dialog, DeferredWaveOut& output, AlsaWaveOut& device)
{
    if (const int status = CheckWavSize(options, dialog.m_waveHeader.dwBufferLength); status >= 0) {
        return status;
    }
    // What is written is told first; a play alone tells it once it plays.
    if (!options.output.empty() || !options.play) {
        PrintLine(window.m_statusText);
    }
    if (!options.output.empty()) {
        const auto* samples = reinterpret_cast<const std::int16_t*>(dialog.m_waveHeader.lpData);
        if (const int status = WriteOutput(options, samples, dialog.m_waveHeader.dwBufferLength / 2,
                                           dialog.m_waveFormat.nSamplesPerSec, 1);
            status != 0) {
            return status;
        }
    }
    return options.play ? Play(options, window.m_statusText, dialog, output, device) : 0;
}

// The Start command for one channel's options, in the sample buffer; false
// when it ended early (its messages said why).
bool StartChannel(const RenderOptions& options, CWaveGeneratorDialog& dialog)
{
    dialog.OnInitDialog();
    GeneratorSettings settings;
    settings.waveform = options.waveform;
    settings.frequency = CWaveGeneratorDialog::FrequencyFromText(options.frequency.c_str());
    settings.level = options.level;
    settings.centredNoise = options.centredNoise;
    settings.shape = options.shape;
    if (!options.arbitraryFile.empty()) {
        std::vector<double> points;
        if (const std::string reason = ReadArbitraryFile(options.arbitraryFile, points);
            !reason.empty()) {
            PrintLine("wavegen-render: --arb: " + reason);
            return false;
        }
        settings.shape.points = std::make_shared<const std::vector<double>>(std::move(points));
    }
    if (dialog.ApplySettings(settings, SettingsRoute::Start) != SettingsOutcome::Restarted) {
        return false;
    }
    if (settings.shape.triggered) {
        dialog.GenerateFiredWaveform();  // the burst or sweep once, then its silence
    }
    return true;
}

// --ch2: the right channel's loop beside the left one's, frame by frame as
// the instrument's two channels play them, written as one two-channel file.
int WriteTwoChannels(const RenderOptions& options, const RenderOptions& second,
                     const ConsoleDialogWindow& window, CWaveGeneratorDialog& left)
{
    const std::vector<std::int16_t> leftLoop(g_sampleBuffer, g_sampleBuffer + left.m_sampleCount);
    PrintLine(window.m_statusText);
    ConsoleDialogWindow rightWindow;
    SilentWaveOut silent;
    MonotonicTickSource ticks;
    CWaveGeneratorDialog right(rightWindow, silent, ticks);
    if (!StartChannel(second, right)) {
        return kEndedEarly;
    }
    PrintLine(rightWindow.m_statusText);
    const std::vector<std::int16_t> rightLoop(g_sampleBuffer, g_sampleBuffer + right.m_sampleCount);
    std::vector<std::int16_t> frames;
    if (!StereoWaveOut::Interleave({&leftLoop, &rightLoop}, 2, frames)) {
        PrintLine("wavegen-render: --ch2: the two loops do not fit one buffer of " +
                  std::to_string(StereoWaveOut::kMostFrames) + " frames");
        return kEndedEarly;
    }
    right.OnStop();
    if (const int status = CheckWavSize(options, static_cast<std::uint32_t>(2 * frames.size()));
        status >= 0) {
        return status;
    }
    return WriteOutput(options, frames.data(), frames.size(), left.m_waveFormat.nSamplesPerSec, 2);
}

}  // namespace

int main(int argc, char** argv)
{
    RenderOptions options;
    if (const int status = ParseRenderOptions(argc, argv, options); status >= 0) {
        return status;
    }
    if (options.printHelp || options.printVersion || options.listDevices) {
        return PrintInformation(options);
    }
    RenderOptions second;
    if (!options.secondChannel.empty()) {
        if (const int status = ParseChannelOptions(options.secondChannel, second); status >= 0) {
            return status;
        }
    }
    if (!InterruptHandler::Install()) {
        std::perror("wavegen-render: cannot take the stop signals");
        return kEndedEarly;
    }
    ConsoleDialogWindow window;
    SilentWaveOut silent;
    // A script wants to know that the sound stopped: a lost device ends the run.
    AlsaWaveOut device(options.device, AlsaWaveOut::OnLoss::End);
    if (const std::string failure = device.SetupFailure(); options.play && !failure.empty()) {
        PrintLine("wavegen-render: " + failure);
        return kEndedEarly;
    }
    // A stop signal handed over while the open waits gives the open up.
    device.m_waitForOpen = AlsaWaveOut::CancelledBy(InterruptHandler::Descriptor());
    // The buffer is computed silently; the device plays it once it is written.
    DeferredWaveOut output(silent);
    MonotonicTickSource ticks;
    if (options.play && options.playSeconds < 0.0 && options.output.empty()) {
        InterruptHandler::HandOver();  // nothing to leave half-done: a stop is the end
    }
    CWaveGeneratorDialog dialog(window, output, ticks);
    if (!StartChannel(options, dialog)) {
        return kEndedEarly;
    }
    const int status = options.secondChannel.empty()
                           ? WriteAndPlay(options, window, dialog, output, device)
                           : WriteTwoChannels(options, second, window, dialog);
    dialog.OnStop();  // whatever output is still open
    // A handed-over signal that is not the endless play's normal end ends
    // the tool as that signal, once everything is closed.
    if (const int signal = InterruptHandler::Caught(); signal != 0 && status == 128 + signal) {
        InterruptHandler::EndBy(signal);
    }
    return status;
}
