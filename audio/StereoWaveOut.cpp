#include "StereoWaveOut.h"

#include <numeric>

namespace {

WaveFormatEx WithChannels(WaveFormatEx format, int channels)
{
    format.nChannels = static_cast<std::uint16_t>(channels);
    format.nBlockAlign = static_cast<std::uint16_t>(2 * channels);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    return format;
}

}  // namespace

StereoWaveOut::StereoWaveOut(IWaveOut& device) : m_device(device), m_outputs{{*this, 0}, {*this, 1}}
{
}

std::int64_t StereoWaveOut::JointLength(std::int64_t left, std::int64_t right)
{
    const std::int64_t frames = left == 0 ? right : right == 0 ? left : std::lcm(left, right);
    return frames <= kMostFrames ? frames : 0;
}

int StereoWaveOut::Open(int index, WaveOutHandle* handle, const WaveFormatEx& format)
{
    *handle = nullptr;
    if (m_handle == nullptr) {
        m_deviceChannels = kChannels;
        int opened = m_device.Open(&m_handle, WithChannels(format, kChannels));
        if (opened == WAVERR_BADFORMAT) {
            m_deviceChannels = 1;  // a device of one channel plays channel 1 alone
            opened = m_device.Open(&m_handle, format);
        }
        if (opened != MMSYSERR_NOERROR) {
            m_handle = nullptr;
            return opened;
        }
    }
    if (index >= m_deviceChannels) {
        m_failure = "the output device has one channel: channel 2 cannot play";
        if (!m_open[0]) {
            m_device.Close(m_handle);
            m_handle = nullptr;
        }
        return MMSYSERR_NOTSUPPORTED;
    }
    m_open[index] = true;
    *handle = m_handle;
    return MMSYSERR_NOERROR;
}

int StereoWaveOut::Close(int index)
{
    if (!m_open[index]) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!m_loops[index].empty()) {
        Play(index, nullptr, 0, 0.0, 0.0);
    }
    m_open[index] = false;
    if (!m_open[0] && !m_open[1]) {
        StopDevice();
        m_device.Close(m_handle);
        m_handle = nullptr;
    }
    return MMSYSERR_NOERROR;
}

bool StereoWaveOut::Interleave(const std::vector<std::int16_t>* const (&loops)[kChannels],
                               int channels, std::vector<std::int16_t>& out)
{
    const std::int64_t frames = JointLength(static_cast<std::int64_t>(loops[0]->size()),
                                            static_cast<std::int64_t>(loops[1]->size()));
    if (frames == 0) {
        return false;
    }
    out.resize(static_cast<std::size_t>(frames * channels));
    for (int c = 0; c < channels; ++c) {
        const std::vector<std::int16_t>& loop = *loops[c];
        for (std::size_t i = 0, k = 0; i < static_cast<std::size_t>(frames); ++i) {
            out[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                loop.empty() ? 0 : loop[k];
            k = loop.empty() || k + 1 == loop.size() ? 0 : k + 1;
        }
    }
    return true;
}

int StereoWaveOut::Play(int index, const char* frames, std::uint32_t bytes, double from, double to,
                        const std::uint32_t* repeatFrom)
{
    const auto* samples = reinterpret_cast<const std::int16_t*>(frames);
    m_loops[index].assign(samples, samples + (frames == nullptr ? 0 : bytes / 2));
    if (m_loops[0].empty() && m_loops[1].empty()) {
        StopDevice();
        return MMSYSERR_NOERROR;
    }
    std::vector<std::int16_t>& next = m_buffers[1 - m_playing];
    if (!Interleave({&m_loops[0], &m_loops[1]}, m_deviceChannels, next)) {
        m_loops[index].clear();
        return MMSYSERR_NOTSUPPORTED;  // the two loops do not fit one buffer
    }
    const auto nextBytes = static_cast<std::uint32_t>(2 * next.size());
    const auto* data = reinterpret_cast<const char*>(next.data());
    int result = MMSYSERR_NOERROR;
    if (!m_started) {
        m_header = {};
        m_header.lpData = const_cast<char*>(data);
        m_header.dwBufferLength = nextBytes;
        m_header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
        m_header.dwLoops = kLoopForever;
        m_device.PrepareHeader(m_handle, &m_header);
        result = m_device.Write(m_handle, &m_header);
        m_started = result == MMSYSERR_NOERROR;
    } else if (repeatFrom != nullptr) {
        result = m_device.Trigger(m_handle, data, nextBytes,
                                  *repeatFrom * 2 * static_cast<std::uint32_t>(m_deviceChannels));
    } else {
        // The other channel's samples go on frame for frame; alone, the
        // channel keeps its phase as on a device of its own.
        const bool alone = m_loops[1 - index].empty();
        result = m_device.Switch(m_handle, data, nextBytes, alone ? from : 0.0, alone ? to : 0.0);
    }
    if (result == MMSYSERR_NOERROR) {
        m_playing = 1 - m_playing;  // (the device no longer reads the other)
    }
    return result;
}

void StereoWaveOut::StopDevice()
{
    if (m_started) {
        m_device.Reset(m_handle);
        m_device.UnprepareHeader(m_handle, &m_header);
        m_started = false;
    }
}

bool StereoWaveOut::Synchronize()
{
    if (!m_started) {
        return false;
    }
    const std::vector<std::int16_t>& playing = m_buffers[m_playing];
    return m_device.Trigger(m_handle, reinterpret_cast<const char*>(playing.data()),
                            static_cast<std::uint32_t>(2 * playing.size()), 0) == MMSYSERR_NOERROR;
}

int StereoWaveOut::ChannelOut::Open(WaveOutHandle* handle, const WaveFormatEx& format)
{
    return m_pair.Open(m_index, handle, format);
}

int StereoWaveOut::ChannelOut::PrepareHeader(WaveOutHandle, WaveHeader* header)
{
    return m_headers.Prepare(header);
}

int StereoWaveOut::ChannelOut::Write(WaveOutHandle, WaveHeader* header)
{
    if (const int queued = m_headers.Queue(header); queued != MMSYSERR_NOERROR) {
        return queued;
    }
    return m_pair.Play(m_index, header->lpData, header->dwBufferLength, 0.0, 0.0);
}

int StereoWaveOut::ChannelOut::Reset(WaveOutHandle)
{
    m_headers.Reset();
    return m_pair.Play(m_index, nullptr, 0, 0.0, 0.0);
}

int StereoWaveOut::ChannelOut::UnprepareHeader(WaveOutHandle, WaveHeader* header)
{
    return m_headers.Unprepare(header);
}

int StereoWaveOut::ChannelOut::Close(WaveOutHandle)
{
    return m_pair.Close(m_index);
}

int StereoWaveOut::ChannelOut::Switch(WaveOutHandle, const char* frames, std::uint32_t bytes,
                                      double from, double to)
{
    return m_pair.Play(m_index, frames, bytes, from, to);
}

// A trigger restarts the whole buffer: only while the other channel is
// silent, which it would cut short.
int StereoWaveOut::ChannelOut::Trigger(WaveOutHandle, const char* frames, std::uint32_t bytes,
                                       std::uint32_t repeatFrom)
{
    if (m_pair.OtherPlays(m_index)) {
        return MMSYSERR_NOTSUPPORTED;
    }
    const std::uint32_t repeatFrame = repeatFrom / 2;
    return m_pair.Play(m_index, frames, bytes, 0.0, 0.0, &repeatFrame);
}

std::string StereoWaveOut::ChannelOut::FailureText(WaveOutHandle handle) const
{
    if (handle == nullptr && !m_pair.m_failure.empty() && m_index >= m_pair.m_deviceChannels) {
        return m_pair.m_failure;
    }
    return m_pair.m_device.FailureText(handle);
}
