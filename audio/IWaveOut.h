#pragma once

#include <string>

#include "OutputStateMachine.h"
#include "WaveFormatEx.h"
#include "WaveHeader.h"
#include "WaveHeaderQueue.h"

// The words this layer keeps from the wave output it stands in for, and what
// they mean here:
//   handle (WaveOutHandle)  an open output: an ALSA PCM and its playback thread
//   MMSYSERR_* / WAVERR_*    results; 0 is success, anything else a failure
//   WHDR_*                   state bits in a caller's header (WaveHeaderQueue)
//   dwLoops                  passes to play; kLoopForever never ends in practice
//   SB_* (ui/)               the window scroll bar's action codes

// Results of the wave output operations: 0 is success.
inline constexpr int MMSYSERR_NOERROR = 0;
inline constexpr int MMSYSERR_INVALHANDLE = 5;
inline constexpr int MMSYSERR_NODRIVER = 6;
inline constexpr int MMSYSERR_NOTSUPPORTED = 8;
inline constexpr int WAVERR_BADFORMAT = 32;
inline constexpr int WAVERR_STILLPLAYING = 33;
inline constexpr int WAVERR_UNPREPARED = 34;
// Ours: the caller gave the open up before it finished (a Stop, an Exit, a
// stop signal). Not a failure: nothing is shown, and no device is left.
inline constexpr int WAVERR_OPENCANCELLED = 64;

// An open output device; each implementation derives its own. The header
// bookkeeping and the state machine are the same for all of them.
class WaveOutDevice {
public:
    explicit WaveOutDevice(int notifyFd = -1) : m_state(notifyFd) {}
    virtual ~WaveOutDevice() = default;

    WaveHeaderQueue m_headers;
    OutputStateMachine m_state;
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
    // Gives the device up; whatever closing the device still takes happens
    // without the caller.
    virtual int Close(WaveOutHandle handle) = 0;
    // While a loop is written (playing, or lost and to be played again),
    // loops `bytes` bytes at `frames` instead, with no gap: from the frame
    // the old loop was about to play, or, given both loops' cycles per
    // sample, from the frame of the new loop whose phase is the old one's
    // there (phase-continuous). Returns at once; from then on the device
    // never reads an older buffer. Non-zero, and nothing changed, when it
    // cannot (an output that does not switch, one stopped).
    virtual int Switch(WaveOutHandle, const char* /*frames*/, std::uint32_t /*bytes*/,
                       double /*fromCyclesPerSample*/, double /*toCyclesPerSample*/)
    {
        return MMSYSERR_NOTSUPPORTED;
    }

    // While a loop is written, plays the `bytes` bytes at `frames` from their
    // first frame after what is queued, then loops them from byte
    // `repeatFrom` on (a triggered burst: once, then its silence). The loop
    // counts as written once its first pass is. Returns at once, as Switch.
    virtual int Trigger(WaveOutHandle, const char* /*frames*/, std::uint32_t /*bytes*/,
                        std::uint32_t /*repeatFrom*/)
    {
        return MMSYSERR_NOTSUPPORTED;
    }

    // What the output of handle is doing; Stopped for no handle.
    static OutputStatus Status(WaveOutHandle handle)
    {
        return handle == nullptr ? OutputStatus{} : handle->m_state.Status();
    }
    // A descriptor that turns readable whenever an open output changes its
    // state on its own (the device was lost, or came back); -1 for an output
    // that never does.
    virtual int ChangeDescriptor() const { return -1; }
    // One line that says what failed and why: for no handle, the last Open;
    // otherwise the device's last failure. Empty when nothing failed.
    virtual std::string FailureText(WaveOutHandle) const { return {}; }
};
