#include "AlsaWaveOut.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace {

// ALSA would print its own complaints on stderr, several lines for one
// failure; the failure reaches the user as one line of ours instead.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

AlsaPlaybackDevice* DeviceOf(WaveOutHandle handle)
{
    return static_cast<AlsaPlaybackDevice*>(handle);
}

}  // namespace

std::string DescribeOutputFailure(const std::string& pcmName, const WaveFormatEx& format,
                                  const OutputError& error)
{
    const std::string pcm = "PCM '" + pcmName + "'";
    const std::string reason = error.code == -ETIMEDOUT && error.step == OutputStep::Open
                                   ? "no answer from the sound server within 2 s"
                                   : snd_strerror(error.code);
    switch (error.step) {
    case OutputStep::None:
        return {};
    case OutputStep::Open:
        return "cannot open " + pcm + ": " + reason;
    case OutputStep::Configure:
        return "cannot set up " + pcm + " for 16-bit PCM, " + std::to_string(format.nChannels) +
               " channel(s) at " + std::to_string(format.nSamplesPerSec) + " Hz: " + reason;
    case OutputStep::Reopen:
        return "lost " + pcm + ", and cannot open it again: " + reason;
    default:
        return "lost " + pcm + ": " + reason;
    }
}

AlsaWaveOut::AlsaWaveOut(std::string pcmName, OnLoss onLoss)
    : m_pcmName(std::move(pcmName)),
      m_onLoss(onLoss),
      m_changeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    m_changeError = m_changeFd < 0 ? errno : 0;
    snd_lib_error_set_handler(&IgnoreAlsaError);
}

std::string AlsaWaveOut::SetupFailure() const
{
    return m_changeFd >= 0 ? std::string()
                           : std::string("cannot watch the output for a loss (eventfd: ") +
                                 std::strerror(m_changeError) + ")";
}

AlsaWaveOut::~AlsaWaveOut()
{
    if (m_changeFd >= 0) {
        close(m_changeFd);
    }
}

int AlsaWaveOut::Open(WaveOutHandle* handle, const WaveFormatEx& format)
{
    AlsaPlaybackDevice* device = nullptr;
    m_lastFormat = format;
    m_openFailure = {};
    const int result = AlsaPlaybackDevice::Open(m_pcmName.c_str(), format, m_onLoss, m_queue,
                                                m_changeFd, m_waitForOpen, &device, &m_openFailure);
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

int AlsaWaveOut::Switch(WaveOutHandle handle, const char* frames, std::uint32_t bytes, double from,
                        double to)
{
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    return DeviceOf(handle)->Switch(frames, bytes, from, to) ? MMSYSERR_NOERROR
                                                             : MMSYSERR_NOTSUPPORTED;
}

int AlsaWaveOut::Trigger(WaveOutHandle handle, const char* frames, std::uint32_t bytes,
                         std::uint32_t repeatFrom)
{
    if (handle == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    return DeviceOf(handle)->Switch(frames, bytes, 0.0, 0.0, repeatFrom) ? MMSYSERR_NOERROR
                                                                         : MMSYSERR_NOTSUPPORTED;
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
    DeviceOf(handle)->Release();
    return MMSYSERR_NOERROR;
}

AlsaWaveOut::OpenWaiter AlsaWaveOut::CancelledBy(int cancelFd)
{
    return [cancelFd](int fd, int timeoutMs) {
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        pollfd fds[2] = {{fd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            const int ready = poll(fds, 2, static_cast<int>(std::max<long>(left.count(), 0)));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            return ready <= 0 || (fds[1].revents & POLLIN) == 0;
        }
    };
}

std::string AlsaWaveOut::FailureText(WaveOutHandle handle) const
{
    const OutputError error = handle == nullptr ? m_openFailure : Status(handle).error;
    return DescribeOutputFailure(m_pcmName, m_lastFormat, error);
}
