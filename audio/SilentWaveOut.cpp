#include "SilentWaveOut.h"

int SilentWaveOut::Open(WaveOutHandle* handle, const WaveFormatEx&)
{
    *handle = new WaveOutDevice;
    return MMSYSERR_NOERROR;
}

int SilentWaveOut::PrepareHeader(WaveOutHandle handle, WaveHeader* header)
{
    return handle->m_headers.Prepare(header);
}

int SilentWaveOut::Write(WaveOutHandle handle, WaveHeader* header)
{
    const int queued = handle->m_headers.Queue(header);
    handle->m_state.Begin();
    // Taken whole at once: whoever waits for the first samples to reach
    // the device need not wait for this one.
    handle->m_state.CountFrames(header->dwBufferLength / 2);
    return queued;
}

int SilentWaveOut::Reset(WaveOutHandle handle)
{
    handle->m_state.End();
    handle->m_headers.Reset();
    return MMSYSERR_NOERROR;
}

int SilentWaveOut::UnprepareHeader(WaveOutHandle handle, WaveHeader* header)
{
    return handle->m_headers.Unprepare(header);
}

int SilentWaveOut::Close(WaveOutHandle handle)
{
    delete handle;
    return MMSYSERR_NOERROR;
}
