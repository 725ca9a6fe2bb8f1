#include "AlsaPlaybackDevice.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

int AlsaPlaybackDevice::Open(const char* pcmName, const WaveFormatEx& format, OnLoss onLoss,
                             AlsaPlaybackDevice** device)
{
    *device = nullptr;
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.wBitsPerSample != 16 ||
        format.nChannels == 0 || format.nBlockAlign != format.nChannels * 2) {
        return WAVERR_BADFORMAT;
    }
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        return MMSYSERR_NODRIVER;
    }
    auto* opened = new AlsaPlaybackDevice(pcmName, format, onLoss, wakeFd);
    const int result = opened->OpenPcm();
    if (result != MMSYSERR_NOERROR) {
        delete opened;
        return result;
    }
    *device = opened;
    return MMSYSERR_NOERROR;
}

AlsaPlaybackDevice::AlsaPlaybackDevice(const char* pcmName, const WaveFormatEx& format,
                                       OnLoss onLoss, int wakeFd)
    : m_pcmName(pcmName), m_format(format), m_onLoss(onLoss), m_wakeFd(wakeFd)
{
}

AlsaPlaybackDevice::~AlsaPlaybackDevice()
{
    Stop();
    ClosePcm();
    close(m_wakeFd);
}

int AlsaPlaybackDevice::OpenPcm()
{
    if (snd_pcm_open(&m_pcm, m_pcmName.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        m_pcm = nullptr;
        return MMSYSERR_NODRIVER;
    }
    const int result = Configure();
    if (result != MMSYSERR_NOERROR) {
        ClosePcm();
    }
    return result;
}

void AlsaPlaybackDevice::ClosePcm()
{
    if (m_pcm != nullptr) {
        snd_pcm_close(m_pcm);
        m_pcm = nullptr;
    }
}

int AlsaPlaybackDevice::Configure()
{
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned bufferTime = kBufferMicroseconds;
    unsigned periodTime = kPeriodMicroseconds;
    if (snd_pcm_hw_params_any(m_pcm, hw) < 0 ||
        snd_pcm_hw_params_set_access(m_pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(m_pcm, hw, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(m_pcm, hw, m_format.nChannels) < 0 ||
        snd_pcm_hw_params_set_rate_resample(m_pcm, hw, 1) < 0 ||
        snd_pcm_hw_params_set_rate(m_pcm, hw, m_format.nSamplesPerSec, 0) < 0 ||
        snd_pcm_hw_params_set_buffer_time_near(m_pcm, hw, &bufferTime, nullptr) < 0 ||
        snd_pcm_hw_params_set_period_time_near(m_pcm, hw, &periodTime, nullptr) < 0 ||
        snd_pcm_hw_params(m_pcm, hw) < 0) {
        return WAVERR_BADFORMAT;
    }
    snd_pcm_hw_params_get_buffer_size(hw, &m_bufferFrames);
    snd_pcm_hw_params_get_period_size(hw, &m_periodFrames, nullptr);

    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if (snd_pcm_sw_params_current(m_pcm, sw) < 0 ||
        snd_pcm_sw_params_set_start_threshold(m_pcm, sw, m_bufferFrames) < 0 ||
        snd_pcm_sw_params_set_avail_min(m_pcm, sw, m_periodFrames) < 0 ||
        snd_pcm_sw_params(m_pcm, sw) < 0) {
        return WAVERR_BADFORMAT;
    }
    const int pcmFds = snd_pcm_poll_descriptors_count(m_pcm);
    if (pcmFds <= 0 || static_cast<std::size_t>(pcmFds) >= m_pollFds.size()) {
        return MMSYSERR_NODRIVER;
    }
    m_pcmPollCount = static_cast<unsigned>(pcmFds);
    m_pollFds[0] = {m_wakeFd, POLLIN, 0};
    return MMSYSERR_NOERROR;
}

void AlsaPlaybackDevice::Start(const char* frames, std::uint32_t bytes, std::uint32_t passes)
{
    Stop();
    const snd_pcm_uframes_t frameCount = bytes / m_format.nBlockAlign;
    if (frameCount == 0 || passes == 0) {
        return;
    }
    m_frames = frames;
    m_frameCount = frameCount;
    m_position = 0;
    m_passesLeft = passes;
    m_stop.store(false, std::memory_order_release);
    m_framesWritten.store(0, std::memory_order_relaxed);
    // A PCM that failed before this start (or is gone) is lost from the outset.
    m_lost.store(m_pcm == nullptr || snd_pcm_prepare(m_pcm) < 0, std::memory_order_release);
    m_thread = std::thread(&AlsaPlaybackDevice::Run, this);
}

void AlsaPlaybackDevice::Stop()
{
    if (m_thread.joinable()) {
        m_stop.store(true, std::memory_order_release);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t woken = write(m_wakeFd, &one, sizeof one);
        m_thread.join();
        std::uint64_t drained = 0;
        [[maybe_unused]] const ssize_t cleared = read(m_wakeFd, &drained, sizeof drained);
    }
    if (m_pcm != nullptr) {
        snd_pcm_drop(m_pcm);
    }
}

// The playback thread: no allocation, no lock, no text of our own (opening
// the PCM again after a loss is left to the ALSA library).
void AlsaPlaybackDevice::Run()
{
    while (m_lost.load(std::memory_order_acquire) || PlayUntilLost()) {
        if (m_onLoss == OnLoss::End || !Reopen()) {
            return;
        }
    }
}

// Writes the loop until a stop (false) or until the device is lost (true).
bool AlsaPlaybackDevice::PlayUntilLost()
{
    while (!m_stop.load(std::memory_order_acquire)) {
        if (m_passesLeft == 0) {
            FinishPasses();
            return false;
        }
        if (!WriteChunk()) {
            return m_lost.load(std::memory_order_acquire);
        }
    }
    return false;
}

// Closes the lost PCM and opens the same name every kReopenIntervalMs until
// it opens (true: play from the first sample) or a stop arrives (false).
bool AlsaPlaybackDevice::Reopen()
{
    ClosePcm();
    while (!WaitForWakeUp(kReopenIntervalMs)) {
        if (OpenPcm() == MMSYSERR_NOERROR && snd_pcm_prepare(m_pcm) >= 0) {
            m_position = 0;
            m_reopens.fetch_add(1, std::memory_order_relaxed);
            m_lost.store(false, std::memory_order_release);
            return true;
        }
        ClosePcm();
    }
    return false;
}

// Writes up to one period from the current position, never across the
// loop seam; false when the thread is to end or the device is lost.
bool AlsaPlaybackDevice::WriteChunk()
{
    const snd_pcm_uframes_t chunk = std::min(m_periodFrames, m_frameCount - m_position);
    const snd_pcm_sframes_t written =
        snd_pcm_writei(m_pcm, m_frames + m_position * m_format.nBlockAlign, chunk);
    if (written == -EAGAIN) {
        return WaitForRoom();
    }
    if (written < 0) {
        return Recover();
    }
    m_framesWritten.fetch_add(static_cast<std::uint64_t>(written), std::memory_order_relaxed);
    m_position += static_cast<snd_pcm_uframes_t>(written);
    if (m_position == m_frameCount) {
        m_position = 0;
        --m_passesLeft;
    }
    if (static_cast<snd_pcm_uframes_t>(written) < chunk) {
        return WaitForRoom();
    }
    return true;
}

// Sleeps until the PCM can take a period or the wake-up descriptor fires;
// false when the thread is to end or the device is lost.
bool AlsaPlaybackDevice::WaitForRoom()
{
    pollfd* pcmFds = &m_pollFds[1];
    if (snd_pcm_poll_descriptors(m_pcm, pcmFds, m_pcmPollCount) !=
        static_cast<int>(m_pcmPollCount)) {
        return Lose();
    }
    for (;;) {
        const int ready = poll(m_pollFds.data(), m_pcmPollCount + 1, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || (m_pollFds[0].revents & POLLIN) != 0) {
            return false;
        }
        unsigned short events = 0;
        if (snd_pcm_poll_descriptors_revents(m_pcm, pcmFds, m_pcmPollCount, &events) < 0) {
            return Lose();
        }
        if ((events & (POLLERR | POLLNVAL | POLLHUP)) != 0) {
            return Recover();
        }
        if ((events & POLLOUT) != 0) {
            return true;
        }
    }
}

bool AlsaPlaybackDevice::WaitForWakeUp(int timeoutMs)
{
    const int ready = poll(m_pollFds.data(), 1, timeoutMs);
    return ready > 0 && (m_pollFds[0].revents & POLLIN) != 0;
}

// After a failed write or an error on the descriptors, the PCM's state says
// what happened: an underrun is prepared away and the loop goes on from
// where it was; a suspend is resumed; a PCM left stopped or draining (which
// this thread never asks for) is set up again; a disconnected PCM, or one
// that fails in any other state, is lost.
bool AlsaPlaybackDevice::Recover()
{
    switch (snd_pcm_state(m_pcm)) {
    case SND_PCM_STATE_XRUN:
        m_underruns.fetch_add(1, std::memory_order_relaxed);
        return snd_pcm_prepare(m_pcm) >= 0 || Lose();
    case SND_PCM_STATE_SUSPENDED:
        return Resume();
    case SND_PCM_STATE_SETUP:
    case SND_PCM_STATE_DRAINING:
        return (snd_pcm_drop(m_pcm) >= 0 && snd_pcm_prepare(m_pcm) >= 0) || Lose();
    default:
        return Lose();
    }
}

// Resumes a suspended PCM, waiting while it says "not yet"; a PCM that
// cannot resume is prepared instead. False on a stop or a loss.
bool AlsaPlaybackDevice::Resume()
{
    int resumed;
    while ((resumed = snd_pcm_resume(m_pcm)) == -EAGAIN) {
        if (WaitForWakeUp(100)) {
            return false;
        }
    }
    return resumed >= 0 || snd_pcm_prepare(m_pcm) >= 0 || Lose();
}

bool AlsaPlaybackDevice::Lose()
{
    m_lost.store(true, std::memory_order_release);
    return false;
}

// All passes are queued: let them play out, then wait for the stop.
void AlsaPlaybackDevice::FinishPasses()
{
    if (snd_pcm_state(m_pcm) == SND_PCM_STATE_PREPARED) {
        snd_pcm_start(m_pcm);
    }
    while (!WaitForWakeUp(-1) && !m_stop.load(std::memory_order_acquire)) {
    }
}
