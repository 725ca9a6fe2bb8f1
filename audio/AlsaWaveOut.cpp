#include "AlsaWaveOut.h"

#include <alsa/asoundlib.h>

#include <utility>

namespace {

// ALSA would print its own complaints on stderr; failures reach the user
// through the results instead.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

AlsaPlaybackDevice* DeviceOf(WaveOutHandle handle)
{
    return static_cast<AlsaPlaybackDevice*>(handle);
}

}  // namespace

AlsaWaveOut::AlsaWaveOut(std::string pcmName, OnLoss onLoss)
    : m_pcmName(std::move(pcmName)), m_onLoss(onLoss)
{
    snd_lib_error_set_handler(&IgnoreAlsaError);
}

int AlsaWaveOut::Open(WaveOutHandle* handle, const WaveFormatEx& format)
{
    AlsaPlaybackDevice* device = nullptr;
    const int result = AlsaPlaybackDevice::Open(m_pcmName.c_str(), format, m_onLoss, &device);
    *handle = device;
    return result;
}

int AlsaWaveOut::PrepareHeader(WaveOutHandle handle, WaveHeader* header)
{
    return handle == nullptr ? MMSYSERR_INVALHANDLE : handle->m_headers.Prepare(header);
}

int AlsaWaveOut::Write(WaveOutHandle handle, WaveHeader* header)
{
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (const int queued = handle->m_headers.Queue(header); queued != MMSYSERR_NOERROR) {
        return queued;
    }
    const bool looping =
        (header->dwFlags & (WHDR_BEGINLOOP | WHDR_ENDLOOP)) == (WHDR_BEGINLOOP | WHDR_ENDLOOP);
    DeviceOf(handle)->Start(header->lpData, header->dwBufferLength, looping ? header->dwLoops : 1);
    return MMSYSERR_NOERROR;
}

int AlsaWaveOut::Reset(WaveOutHandle handle)
{
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    DeviceOf(handle)->Stop();
    handle->m_headers.Reset();
    return MMSYSERR_NOERROR;
}

int AlsaWaveOut::UnprepareHeader(WaveOutHandle handle, WaveHeader* header)
{
    return handle == nullptr ? MMSYSERR_INVALHANDLE : handle->m_headers.Unprepare(header);
}

int AlsaWaveOut::Close(WaveOutHandle handle)
{
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    delete DeviceOf(handle);
    return MMSYSERR_NOERROR;
}
