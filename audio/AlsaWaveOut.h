#pragma once

#include <string>

#include "AlsaPlaybackDevice.h"
#include "IWaveOut.h"

// The wave output on an ALSA PCM ("default" reaches PipeWire or PulseAudio
// on a desktop, the hardware on a bare system). Each open device loops its
// buffer on a thread of its own; whoever makes the output chooses whether a
// lost device is reopened or stays lost.
class AlsaWaveOut : public IWaveOut {
public:
    using OnLoss = AlsaPlaybackDevice::OnLoss;
    using OpenWaiter = AlsaPlaybackDevice::OpenWaiter;

    explicit AlsaWaveOut(std::string pcmName = "default", OnLoss onLoss = OnLoss::End);
    ~AlsaWaveOut() override;
    AlsaWaveOut(const AlsaWaveOut&) = delete;
    AlsaWaveOut& operator=(const AlsaWaveOut&) = delete;

    int Open(WaveOutHandle* handle, const WaveFormatEx& format) override;
    int PrepareHeader(WaveOutHandle handle, WaveHeader* header) override;
    int Write(WaveOutHandle handle, WaveHeader* header) override;
    int Reset(WaveOutHandle handle) override;
    int UnprepareHeader(WaveOutHandle handle, WaveHeader* header) override;
    int Close(WaveOutHandle handle) override;
    int Trigger(WaveOutHandle handle, const char* frames, std::uint32_t bytes,
                std::uint32_t repeatFrom) override;
    int Switch(WaveOutHandle handle, const char* frames, std::uint32_t bytes, double from,
               double to) override;

    int ChangeDescriptor() const override { return m_changeFd; }
    // Why the output cannot tell its changes (no descriptor could be made,
    // so a loss would go unseen); empty when it can. Nothing should play then.
    std::string SetupFailure() const;
    std::string FailureText(WaveOutHandle handle) const override;

    // How Open waits for the device's thread (see OpenWaiter).
    OpenWaiter m_waitForOpen;
    // How much sound each device keeps queued (see AlsaPlaybackDevice::Queue).
    AlsaPlaybackDevice::Queue m_queue = AlsaPlaybackDevice::kQuietQueue;
    // A waiter for a program without a window: a plain poll that gives the
    // open up as soon as `cancelFd` turns readable (a stop signal's
    // descriptor, which it leaves for its owner to read).
    static OpenWaiter CancelledBy(int cancelFd);

private:
    std::string m_pcmName;
    OnLoss m_onLoss;
    int m_changeFd;
    int m_changeError = 0;
    WaveFormatEx m_lastFormat;
    OutputError m_openFailure;
};

// The aplay-style line for a failure of the PCM pcmName playing format.
std::string DescribeOutputFailure(const std::string& pcmName, const WaveFormatEx& format,
                                  const OutputError& error);
