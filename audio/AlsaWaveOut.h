#pragma once

#include <string>

#include "AlsaPlaybackDevice.h"
#include "IWaveOut.h"

// The wave output on an ALSA PCM ("default" reaches PipeWire or PulseAudio
// on a desktop, the hardware on a bare system). Each open device loops its
// buffer on a thread of its own; whoever makes the output chooses whether a
// lost device is reopened or ends the loop.
class AlsaWaveOut : public IWaveOut {
public:
    using OnLoss = AlsaPlaybackDevice::OnLoss;

    explicit AlsaWaveOut(std::string pcmName = "default", OnLoss onLoss = OnLoss::End);

    int Open(WaveOutHandle* handle, const WaveFormatEx& format) override;
    int PrepareHeader(WaveOutHandle handle, WaveHeader* header) override;
    int Write(WaveOutHandle handle, WaveHeader* header) override;
    int Reset(WaveOutHandle handle) override;
    int UnprepareHeader(WaveOutHandle handle, WaveHeader* header) override;
    int Close(WaveOutHandle handle) override;

private:
    std::string m_pcmName;
    OnLoss m_onLoss;
};
