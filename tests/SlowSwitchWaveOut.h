#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "RecordingWaveOut.h"

// An output that plays whatever it is told to, a switched loop reaching the
// device only when the test says so (Deliver, from any thread).
class SlowSwitchWaveOut : public RecordingWaveOut {
public:
    SlowSwitchWaveOut() : RecordingWaveOut(m_calls) {}

    int Switch(WaveOutHandle handle, const char* frames, std::uint32_t bytes, double from,
               double to) override
    {
        const int result = RecordingWaveOut::Switch(handle, frames, bytes, from, to);
        if (result == MMSYSERR_NOERROR) {
            m_handle = handle;
            handle->m_state.AskLoop();
        }
        return result;
    }
    void Deliver()
    {
        WaveOutHandle handle = m_handle;
        handle->m_state.LoopWritten(handle->m_state.Status().loopsAsked);
    }

    std::vector<std::string> m_calls;
    std::atomic<WaveOutHandle> m_handle{nullptr};
};
