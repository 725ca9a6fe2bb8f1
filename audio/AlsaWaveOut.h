#pragma once

#include "IWaveOut.h"

// The wave output on an ALSA PCM ("default" reaches PipeWire or PulseAudio
// on a desktop, the hardware on a bare system). Each open device loops its
// buffer on a thread of its own.
class AlsaWaveOut : public IWaveOut {
public:
    explicit AlsaWaveOut(const char* pcmName = "default");

    int Open(WaveOutHandle* handle, const WaveFormatEx& format) override;
    int PrepareHeader(WaveOutHandle handle, WaveHeader* header) override;
    int Write(WaveOutHandle handle, WaveHeader* header) override;
    int Reset(WaveOutHandle handle) override;
    int UnprepareHeader(WaveOutHandle handle, WaveHeader* header) override;
    int Close(WaveOutHandle handle) override;

private:
    const char* m_pcmName;
};
