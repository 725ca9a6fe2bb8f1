#pragma once

#include "IWaveOut.h"

// A wave output that always opens and plays nothing: for producing the
// buffer without a sound device. It keeps the header flags as a device would.
class SilentWaveOut : public IWaveOut {
public:
    int Open(WaveOutHandle* handle, const WaveFormatEx& format) override;
    int PrepareHeader(WaveOutHandle handle, WaveHeader* header) override;
    int Write(WaveOutHandle handle, WaveHeader* header) override;
    int Reset(WaveOutHandle handle) override;
    int UnprepareHeader(WaveOutHandle handle, WaveHeader* header) override;
    int Close(WaveOutHandle handle) override;
};
