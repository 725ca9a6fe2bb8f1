#pragma once

#include "WaveFormatEx.h"
#include "WaveHeader.h"

// Results of the wave output operations: 0 is success.
inline constexpr int MMSYSERR_NOERROR = 0;
inline constexpr int MMSYSERR_INVALHANDLE = 5;
inline constexpr int MMSYSERR_NODRIVER = 6;
inline constexpr int WAVERR_BADFORMAT = 32;
inline constexpr int WAVERR_STILLPLAYING = 33;
inline constexpr int WAVERR_UNPREPARED = 34;

// An open output device; each implementation derives its own.
class WaveOutDevice {
public:
    virtual ~WaveOutDevice() = default;
};

using WaveOutHandle = WaveOutDevice*;

// The default audio output as the dialog sees it: open, prepare a buffer,
// loop it, stop at once, unprepare, close.
class IWaveOut {
public:
    virtual ~IWaveOut() = default;

    // Opens the default output for the format. On failure returns non-zero
    // and leaves *handle null.
    virtual int Open(WaveOutHandle* handle, const WaveFormatEx& format) = 0;
    virtual int PrepareHeader(WaveOutHandle handle, WaveHeader* header) = 0;
    // Starts playing the buffer dwLoops times over, gaplessly, and returns at once.
    virtual int Write(WaveOutHandle handle, WaveHeader* header) = 0;
    // Stops the sound at once, mid-pass; the buffer is no longer read after it returns.
    virtual int Reset(WaveOutHandle handle) = 0;
    virtual int UnprepareHeader(WaveOutHandle handle, WaveHeader* header) = 0;
    virtual int Close(WaveOutHandle handle) = 0;
};
