// wavegen-render: the generator's Start command on the command line, for
// scripts, automated measurements and files.
#include <signal.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "AlsaWaveOut.h"
#include "CWaveGeneratorDialog.h"
#include "ConsoleDialogWindow.h"
#include "LoopFileWriter.h"
#include "MonotonicTickSource.h"
#include "RenderOptions.h"
#include "SilentWaveOut.h"

namespace {

// Waits `seconds`, or less if SIGINT or SIGTERM arrives (both are blocked,
// so that the playback threads never take them).
void WaitOrInterrupt(double seconds, const sigset_t& stopSignals)
{
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(seconds);
    timeout.tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
    while (sigtimedwait(&stopSignals, nullptr, &timeout) < 0 && errno == EINTR) {
    }
}

}  // namespace

int main(int argc, char** argv)
{
    RenderOptions options;
    if (const int status = ParseRenderOptions(argc, argv, options); status >= 0) {
        return status;
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const bool play = options.playSeconds >= 0.0;
    ConsoleDialogWindow window;
    SilentWaveOut silent;
    AlsaWaveOut alsa;
    MonotonicTickSource ticks;
    CWaveGeneratorDialog dialog(window, play ? static_cast<IWaveOut&>(alsa) : silent, ticks);
    dialog.OnInitDialog();
    window.m_frequencyText = options.frequency;
    window.m_selection = options.waveform;
    dialog.OnOK();
    if (dialog.m_waveOut == nullptr) {
        return 1;
    }
    PrintLine(window.m_statusText);
    if (!options.output.empty()) {
        const std::string error = WriteLoopFile(
            options.output, reinterpret_cast<const std::int16_t*>(dialog.m_waveHeader.lpData),
            dialog.m_waveHeader.dwBufferLength / 2, dialog.m_waveFormat.nSamplesPerSec,
            options.repeat, options.raw);
        if (!error.empty()) {
            dialog.OnStop();
            std::fprintf(stderr, "wavegen-render: cannot write %s: %s\n", options.output.c_str(),
                         error.c_str());
            return 3;
        }
    }
    if (play) {
        WaitOrInterrupt(options.playSeconds, stopSignals);
    }
    dialog.OnStop();
    return 0;
}
