#include "SilentWaveOut.h"

int SilentWaveOut::Open(WaveOutHandle* handle, const WaveFormatEx&)
{
    *handle = new WaveOutDevice;
    return MMSYSERR_NOERROR;
}

int SilentWaveOut::PrepareHeader(WaveOutHandle, WaveHeader* header)
{
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

int SilentWaveOut::Write(WaveOutHandle, WaveHeader* header)
{
    header->dwFlags |= WHDR_INQUEUE;
    return MMSYSERR_NOERROR;
}

int SilentWaveOut::Reset(WaveOutHandle)
{
    return MMSYSERR_NOERROR;
}

int SilentWaveOut::UnprepareHeader(WaveOutHandle, WaveHeader* header)
{
    header->dwFlags &= ~(WHDR_PREPARED | WHDR_INQUEUE);
    return MMSYSERR_NOERROR;
}

int SilentWaveOut::Close(WaveOutHandle handle)
{
    delete handle;
    return MMSYSERR_NOERROR;
}
