#include "AlsaWaveOut.h"

#include <alsa/asoundlib.h>

#include "AlsaPlaybackDevice.h"

namespace {

// ALSA would print its own complaints on stderr; failures reach the user
// through the results instead.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

AlsaPlaybackDevice* DeviceOf(WaveOutHandle handle)
{
    return static_cast<AlsaPlaybackDevice*>(handle);
}

}  // namespace

AlsaWaveOut::AlsaWaveOut(const char* pcmName) : m_pcmName(pcmName)
{
    snd_lib_error_set_handler(&IgnoreAlsaError);
}

int AlsaWaveOut::Open(WaveOutHandle* handle, const WaveFormatEx& format)
{
    AlsaPlaybackDevice* device = nullptr;
    const int result = AlsaPlaybackDevice::Open(m_pcmName, format, &device);
    *handle = device;
    return result;
}

int AlsaWaveOut::PrepareHeader(WaveOutHandle handle, WaveHeader* header)
{
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

int AlsaWaveOut::Write(WaveOutHandle handle, WaveHeader* header)
{
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if ((header->dwFlags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    const bool looping = (header->dwFlags & (WHDR_BEGINLOOP | WHDR_ENDLOOP)) ==
                         (WHDR_BEGINLOOP | WHDR_ENDLOOP);
    AlsaPlaybackDevice* device = DeviceOf(handle);
    device->m_queuedHeader = header;
    device->Start(header->lpData, header->dwBufferLength, looping ? header->dwLoops : 1);
    return MMSYSERR_NOERROR;
}

int AlsaWaveOut::Reset(WaveOutHandle handle)
{
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    AlsaPlaybackDevice* device = DeviceOf(handle);
    device->Stop();
    if (WaveHeader* header = device->m_queuedHeader) {
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        device->m_queuedHeader = nullptr;
    }
    return MMSYSERR_NOERROR;
}

int AlsaWaveOut::UnprepareHeader(WaveOutHandle handle, WaveHeader* header)
{
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

int AlsaWaveOut::Close(WaveOutHandle handle)
{
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    delete DeviceOf(handle);
    return MMSYSERR_NOERROR;
}
