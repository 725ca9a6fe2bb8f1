#include "AlsaPlaybackDevice.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <thread>
#include "EventCounter.h"

int AlsaPlaybackDevice::Open(const char* pcmName, const WaveFormatEx& format, OnLoss onLoss,
                             Queue queue, int notifyFd, const OpenWaiter& wait,
                             AlsaPlaybackDevice** device, OutputError* failure)
{
    *device = nullptr;
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.wBitsPerSample != 16 ||
        format.nChannels == 0 || format.nBlockAlign != format.nChannels * 2) {
        *failure = {OutputStep::Configure, -EINVAL};
        return WAVERR_BADFORMAT;
    }
    // A duplicate of its own: the thread may notify after the output is gone.
    const int ownNotifyFd = notifyFd < 0 ? -1 : fcntl(notifyFd, F_DUPFD_CLOEXEC, 0);
    auto* opened = new AlsaPlaybackDevice(pcmName, format, onLoss, queue, ownNotifyFd);
    if (!opened->Launch()) {
        *failure = {OutputStep::Open, -errno};
        delete opened;
        return MMSYSERR_NODRIVER;
    }
    const int result = opened->AwaitOpen(wait, failure);
    if (result != MMSYSERR_NOERROR) {
        opened->Abandon();
        return result;
    }
    *device = opened;
    return MMSYSERR_NOERROR;
}

AlsaPlaybackDevice::AlsaPlaybackDevice(const char* pcmName, const WaveFormatEx& format,
                                       OnLoss onLoss, Queue queue, int notifyFd)
    : WaveOutDevice(notifyFd),
      m_pcmName(pcmName),
      m_format(format),
      m_onLoss(onLoss),
      m_queue(queue),
      m_notifyFd(notifyFd)
{
}

AlsaPlaybackDevice::~AlsaPlaybackDevice()
{
    for (const int fd : {m_wakeFd, m_openedFd, m_notifyFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

// Makes what the thread needs (it allocates nothing itself) and starts it.
bool AlsaPlaybackDevice::Launch()
{
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_openedFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0 || m_openedFd < 0) {
        return false;
    }
    m_pollFds[0] = {m_wakeFd, POLLIN, 0};
    const std::uint64_t periodBytes = std::uint64_t{m_format.nSamplesPerSec} *
                                      m_queue.periodMicroseconds / 1000000 * m_format.nBlockAlign;
    m_chunkFrames = std::max<snd_pcm_uframes_t>(periodBytes / m_format.nBlockAlign, 1);
    m_chunk = std::make_unique<char[]>(m_chunkFrames * m_format.nBlockAlign);
    // The thread (and those the sound library starts from it) never takes
    // the process's signals: they are for whoever waits for them.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    bool started = true;
    try {
        std::thread(&AlsaPlaybackDevice::Run, this).detach();
    } catch (const std::system_error& error) {
        errno = error.code().value();
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

// Waits for the thread's open. Whoever settles m_opening first decides: an
// open the caller gave up (timed out, or its wait cancelled) is left to the
// thread, which closes whatever it opens; an open that was cancelled after
// it succeeded is closed all the same (by Abandon).
int AlsaPlaybackDevice::AwaitOpen(const OpenWaiter& wait, OutputError* failure)
{
    bool kept = true;
    if (wait) {
        kept = wait(m_openedFd, kOpenTimeoutMs);
    } else {
        pollfd opened{m_openedFd, POLLIN, 0};
        while (poll(&opened, 1, kOpenTimeoutMs) < 0 && errno == EINTR) {
        }
    }
    Opening waiting = Opening::Waiting;
    const bool abandoned = m_opening.compare_exchange_strong(waiting, Opening::Abandoned);
    if (!kept) {
        *failure = {OutputStep::Open, -ECANCELED};
        return WAVERR_OPENCANCELLED;
    }
    if (abandoned) {
        *failure = {OutputStep::Open, -ETIMEDOUT};
        return MMSYSERR_NODRIVER;
    }
    if (waiting == Opening::Opened) {
        return MMSYSERR_NOERROR;
    }
    *failure = m_state.Status().error;
    return failure->step == OutputStep::Configure ? WAVERR_BADFORMAT : MMSYSERR_NODRIVER;
}

// The caller lets go of a device that never played: the thread closes the
// PCM, if it opened one, and frees the device.
void AlsaPlaybackDevice::Abandon()
{
    m_closing.store(true);
    Wake();
    Drop();
}

void AlsaPlaybackDevice::Drop()
{
    if (m_holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete this;
    }
}

void AlsaPlaybackDevice::Wake()
{
    RaiseEvent(m_wakeFd);
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
    m_passes = passes;
    m_startLoop = m_state.AskLoop();
    m_state.Begin();
    Wake();
}

bool AlsaPlaybackDevice::Switch(const char* frames, std::uint32_t bytes, double fromCyclesPerSample,
                                double toCyclesPerSample, std::uint32_t repeatFrom)
{
    const snd_pcm_uframes_t frameCount = bytes / m_format.nBlockAlign;
    const std::uint32_t epoch = m_state.PlayingEpoch();
    const snd_pcm_uframes_t repeatFrame =
        repeatFrom == kWholeLoop ? kWholeLoop : repeatFrom / m_format.nBlockAlign;
    if (frameCount == 0 || epoch == 0 || (repeatFrom != kWholeLoop && repeatFrame >= frameCount)) {
        return false;
    }
    auto asked = std::make_unique<LoopSwitch>(LoopSwitch{frames, frameCount, fromCyclesPerSample,
                                                         toCyclesPerSample, repeatFrame, epoch,
                                                         m_state.AskLoop()});
    // (An older switch handed back untaken was never read: it is m_published
    // or older, and goes with it below.)
    m_asked.exchange(asked.get());
    Wake();
    // The thread takes the newest switch in the same reading spell as its
    // next copy: once it is seen not reading, it reads no older loop again.
    AwaitNoReading();
    m_published = std::move(asked);
    return true;
}

void AlsaPlaybackDevice::AwaitNoReading() const
{
    while (m_reading.load()) {
        std::this_thread::yield();
    }
}

// After a stop the thread takes nothing more: a switch left untaken is void.
void AlsaPlaybackDevice::WithdrawSwitches()
{
    m_asked.store(nullptr);
    m_published.reset();
}

void AlsaPlaybackDevice::Stop()
{
    m_state.End();
    Wake();
    // The thread checks the state after it marks itself reading, so once it
    // is seen not reading it will not read again: a memcpy at most.
    AwaitNoReading();
    WithdrawSwitches();
}

void AlsaPlaybackDevice::Release()
{
    Stop();
    Abandon();
}

int AlsaPlaybackDevice::OpenPcm(OutputStep step)
{
    if (const int opened =
            snd_pcm_open(&m_pcm, m_pcmName.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        opened < 0) {
        m_pcm = nullptr;
        m_state.Fail(step, opened);
        return MMSYSERR_NODRIVER;
    }
    if (const int configured = Configure(); configured < 0) {
        m_state.Fail(step == OutputStep::Open ? OutputStep::Configure : step, configured);
        ClosePcm();
        return WAVERR_BADFORMAT;
    }
    return MMSYSERR_NOERROR;
}

void AlsaPlaybackDevice::ClosePcm()
{
    if (m_pcm != nullptr) {
        snd_pcm_close(m_pcm);
        m_pcm = nullptr;
    }
}

// Returns 0 or the first negative code of the set-up.
int AlsaPlaybackDevice::Configure()
{
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned bufferTime = m_queue.bufferMicroseconds;
    unsigned periodTime = m_queue.periodMicroseconds;
    int code = 0;
    if ((code = snd_pcm_hw_params_any(m_pcm, hw)) < 0 ||
        (code = snd_pcm_hw_params_set_access(m_pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (code = snd_pcm_hw_params_set_format(m_pcm, hw, SND_PCM_FORMAT_S16_LE)) < 0 ||
        (code = snd_pcm_hw_params_set_channels(m_pcm, hw, m_format.nChannels)) < 0 ||
        (code = snd_pcm_hw_params_set_rate_resample(m_pcm, hw, 1)) < 0 ||
        (code = snd_pcm_hw_params_set_rate(m_pcm, hw, m_format.nSamplesPerSec, 0)) < 0 ||
        (code = snd_pcm_hw_params_set_buffer_time_near(m_pcm, hw, &bufferTime, nullptr)) < 0 ||
        (code = snd_pcm_hw_params_set_period_time_near(m_pcm, hw, &periodTime, nullptr)) < 0 ||
        (code = snd_pcm_hw_params(m_pcm, hw)) < 0) {
        return code;
    }
    snd_pcm_hw_params_get_buffer_size(hw, &m_bufferFrames);
    snd_pcm_hw_params_get_period_size(hw, &m_periodFrames, nullptr);

    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if ((code = snd_pcm_sw_params_current(m_pcm, sw)) < 0 ||
        (code = snd_pcm_sw_params_set_start_threshold(m_pcm, sw, m_bufferFrames)) < 0 ||
        (code = snd_pcm_sw_params_set_avail_min(m_pcm, sw, m_periodFrames)) < 0 ||
        (code = snd_pcm_sw_params(m_pcm, sw)) < 0) {
        return code;
    }
    const int pcmFds = snd_pcm_poll_descriptors_count(m_pcm);
    if (pcmFds <= 0 || static_cast<std::size_t>(pcmFds) >= m_pollFds.size()) {
        return pcmFds < 0 ? pcmFds : -EINVAL;
    }
    m_pcmPollCount = static_cast<unsigned>(pcmFds);
    return 0;
}

// The device's thread: opens, then plays each loop it is given until it is
// released. No allocation, no lock, no text of our own (opening the PCM,
// also again after a loss, is left to the ALSA library).
void AlsaPlaybackDevice::Run()
{
    const bool opened = OpenPcm(OutputStep::Open) == MMSYSERR_NOERROR;
    Opening waiting = Opening::Waiting;
    const bool wanted =
        m_opening.compare_exchange_strong(waiting, opened ? Opening::Opened : Opening::Failed);
    RaiseEvent(m_openedFd);
    std::uint32_t epoch = 0;
    while (opened && wanted && WaitForPlay(epoch)) {
        Play(epoch);
        if (m_pcm != nullptr) {
            snd_pcm_drop(m_pcm);
        }
    }
    ClosePcm();
    Drop();
}

// Sleeps until a new play is begun (true, with its epoch) or the device is
// released (false).
bool AlsaPlaybackDevice::WaitForPlay(std::uint32_t& epoch)
{
    for (;;) {
        if (m_closing.load()) {
            return false;
        }
        if (const std::uint32_t current = m_state.PlayingEpoch(); current > epoch) {
            epoch = current;
            return true;
        }
        WaitForWakeUp(-1);
    }
}

// Plays the loop of `epoch` until it is stopped; a lost device ends it or is
// reopened, as the output was made to do.
void AlsaPlaybackDevice::Play(std::uint32_t epoch)
{
    const bool taken = ReadWhilePlaying(epoch, [this] {
        m_loopData = m_frames;
        m_loopFrames = m_frameCount;
        m_passesLeft = m_passes;
        m_loop = m_startLoop;
    });
    if (!taken) {
        return;
    }
    m_position = 0;
    m_repeatFrame = 0;
    m_firstPass = false;
    // (A PCM closed by a reopening that was stopped is opened again below.)
    const int prepared = m_pcm == nullptr ? -ENODEV : snd_pcm_prepare(m_pcm);
    bool lost = false;
    if (prepared < 0) {
        Lose(epoch, OutputStep::Recover, prepared);
        lost = true;
    }
    while (lost || PlayUntilLost(epoch)) {
        if (m_onLoss == OnLoss::End || !Reopen(epoch)) {
            break;
        }
        lost = false;
    }
    // A lost device with nothing to reopen waits here for the stop.
    while (m_state.Holds(epoch) && !m_closing.load()) {
        WaitForWakeUp(-1);
    }
}

// Writes the loop until a stop (false) or until the device is lost (true).
bool AlsaPlaybackDevice::PlayUntilLost(std::uint32_t epoch)
{
    while (m_state.Holds(epoch)) {
        if (m_passesLeft == 0) {
            FinishPasses(epoch);
            return false;
        }
        if (!WriteChunk(epoch)) {
            return m_state.State() == OutputState::Lost && m_state.Holds(epoch);
        }
    }
    return false;
}

// Closes the lost PCM and opens the same name every kReopenIntervalMs until
// it opens (true: play from the first sample) or a stop arrives (false).
bool AlsaPlaybackDevice::Reopen(std::uint32_t epoch)
{
    ClosePcm();
    if (!m_state.Change(epoch, OutputState::Lost, OutputState::Reopening)) {
        return false;
    }
    // (A wake-up is a stop only if the play no longer holds: one left from
    // the start of this play, or a switch asked as the device went, merely
    // brings the next try forward.)
    for (;;) {
        WaitForWakeUp(kReopenIntervalMs);
        if (!m_state.Holds(epoch)) {
            return false;
        }
        if (OpenPcm(OutputStep::Reopen) != MMSYSERR_NOERROR) {
            continue;
        }
        if (const int prepared = snd_pcm_prepare(m_pcm); prepared < 0) {
            m_state.Fail(OutputStep::Reopen, prepared);
            ClosePcm();
            continue;
        }
        m_position = m_repeatFrame;  // (a fired burst is not played again)
        m_state.CountReopen();
        return m_state.Change(epoch, OutputState::Reopening, OutputState::Playing);
    }
}

// Runs read() on what the caller owns, unless the play was stopped first
// (false). The caller's Stop waits while m_reading is set.
template <class Reader>
bool AlsaPlaybackDevice::ReadWhilePlaying(std::uint32_t epoch, Reader read)
{
    m_reading.store(true);
    const bool playing = m_state.Holds(epoch);
    if (playing) {
        read();
    }
    m_reading.store(false);
    return playing;
}

// The caller's newest loop, if it asked for one, from the frame that
// continues the old one: the same place, or the new loop's frame of the same
// phase. Runs while reading, so the caller knows when an old loop is free.
void AlsaPlaybackDevice::TakeSwitch(std::uint32_t epoch)
{
    const LoopSwitch* asked = m_asked.exchange(nullptr);
    if (asked == nullptr || asked->epoch != epoch) {
        return;
    }
    snd_pcm_uframes_t position = m_position % asked->frameCount;
    if (asked->fromCyclesPerSample > 0.0 && asked->toCyclesPerSample > 0.0) {
        const double cycles = static_cast<double>(m_position) * asked->fromCyclesPerSample;
        const double phase = cycles - std::floor(cycles);
        position = static_cast<snd_pcm_uframes_t>(std::llround(phase / asked->toCyclesPerSample)) %
                   asked->frameCount;
    }
    const bool triggered = asked->repeatFrame != kWholeLoop;
    m_loopData = asked->frames;
    m_loopFrames = asked->frameCount;
    m_loop = asked->loop;
    m_position = triggered ? 0 : position;
    m_repeatFrame = triggered ? asked->repeatFrame : 0;
    m_firstPass = triggered && m_repeatFrame > 0;  // (from 0: a restart, written at once)
}

// Writes up to one period from the current position, never across the
// loop seam; false when the play is to end or the device is lost.
bool AlsaPlaybackDevice::WriteChunk(std::uint32_t epoch)
{
    snd_pcm_uframes_t chunk = 0;
    if (!ReadWhilePlaying(epoch, [&] {
            TakeSwitch(epoch);
            chunk = std::min({m_periodFrames, m_chunkFrames, m_loopFrames - m_position});
            std::memcpy(m_chunk.get(), m_loopData + m_position * m_format.nBlockAlign,
                        chunk * m_format.nBlockAlign);
        })) {
        return false;
    }
    const snd_pcm_sframes_t written = snd_pcm_writei(m_pcm, m_chunk.get(), chunk);
    if (written == -EAGAIN) {
        return WaitForRoom(epoch);
    }
    if (written < 0) {
        return Recover(epoch, static_cast<int>(written));
    }
    m_state.CountFrames(static_cast<std::uint64_t>(written));
    m_position += static_cast<snd_pcm_uframes_t>(written);
    if (m_position == m_loopFrames) {
        m_position = m_repeatFrame;
        m_firstPass = false;
        --m_passesLeft;
    }
    if (!m_firstPass) {
        m_state.LoopWritten(m_loop);
    }
    if (static_cast<snd_pcm_uframes_t>(written) < chunk) {
        return WaitForRoom(epoch);
    }
    return true;
}

// Sleeps until the PCM can take a period or the wake-up descriptor fires;
// false when the play is to end or the device is lost.
bool AlsaPlaybackDevice::WaitForRoom(std::uint32_t epoch)
{
    pollfd* pcmFds = &m_pollFds[1];
    if (const int filled = snd_pcm_poll_descriptors(m_pcm, pcmFds, m_pcmPollCount);
        filled != static_cast<int>(m_pcmPollCount)) {
        return Lose(epoch, OutputStep::Wait, filled < 0 ? filled : -EIO);
    }
    for (;;) {
        const int ready = poll(m_pollFds.data(), m_pcmPollCount + 1, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return Lose(epoch, OutputStep::Wait, -errno);
        }
        if ((m_pollFds[0].revents & POLLIN) != 0) {
            // A wake-up, perhaps one left from before this play began.
            ClearEvent(m_wakeFd);
            return m_state.Holds(epoch);
        }
        unsigned short events = 0;
        if (const int checked =
                snd_pcm_poll_descriptors_revents(m_pcm, pcmFds, m_pcmPollCount, &events);
            checked < 0) {
            return Lose(epoch, OutputStep::Wait, checked);
        }
        if ((events & (POLLERR | POLLNVAL | POLLHUP)) != 0) {
            return Recover(epoch, -EIO);
        }
        if ((events & POLLOUT) != 0) {
            return true;
        }
    }
}

// Sleeps until the caller wakes the thread (true, the wake-up consumed) or
// the time runs out (false); -1 waits for ever.
// A failing poll (no memory for it) is kept as the output's last failure
// and waited out as a short time-out, never a spin nor a silent one.
bool AlsaPlaybackDevice::WaitForWakeUp(int timeoutMs)
{
    constexpr int kRetryAfterFailureMs = 100;
    int ready;
    while ((ready = poll(m_pollFds.data(), 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    if (ready < 0) {
        m_state.Fail(OutputStep::Wait, -errno);
        const int waitMs =
            timeoutMs < 0 ? kRetryAfterFailureMs : std::min(timeoutMs, kRetryAfterFailureMs);
        timespec pause{0, waitMs * 1000000L};
        nanosleep(&pause, nullptr);
        return false;
    }
    if (ready > 0 && (m_pollFds[0].revents & POLLIN) != 0) {
        ClearEvent(m_wakeFd);
        return true;
    }
    return false;
}

// After a failed write or an error on the descriptors, the PCM's state says
// what happened: an underrun is prepared away and the loop goes on from
// where it was; a suspend is resumed; a PCM left stopped or draining (which
// this thread never asks for) is set up again; a disconnected PCM, or one
// that fails in any other state, is lost.
bool AlsaPlaybackDevice::Recover(std::uint32_t epoch, int code)
{
    int recovered = 0;
    switch (snd_pcm_state(m_pcm)) {
    case SND_PCM_STATE_XRUN:
        m_state.CountUnderrun();
        recovered = snd_pcm_prepare(m_pcm);
        break;
    case SND_PCM_STATE_SUSPENDED:
        return Resume(epoch);
    case SND_PCM_STATE_SETUP:
    case SND_PCM_STATE_DRAINING:
        if ((recovered = snd_pcm_drop(m_pcm)) >= 0) {
            recovered = snd_pcm_prepare(m_pcm);
        }
        break;
    default:
        recovered = code;
        break;
    }
    return recovered >= 0 || Lose(epoch, OutputStep::Recover, recovered);
}

// Resumes a suspended PCM, waiting while it says "not yet"; a PCM that
// cannot resume is prepared instead. False on a stop or a loss.
bool AlsaPlaybackDevice::Resume(std::uint32_t epoch)
{
    int resumed;
    while ((resumed = snd_pcm_resume(m_pcm)) == -EAGAIN) {
        WaitForWakeUp(kResumeRetryMs);  // (a stop shows in the state)
        if (!m_state.Holds(epoch)) {
            return false;
        }
    }
    if (resumed < 0) {
        resumed = snd_pcm_prepare(m_pcm);
    }
    return resumed >= 0 || Lose(epoch, OutputStep::Recover, resumed);
}

bool AlsaPlaybackDevice::Lose(std::uint32_t epoch, OutputStep step, int code)
{
    m_state.Fail(step, code);
    m_state.Change(epoch, OutputState::Playing, OutputState::Lost);
    return false;
}

// All passes are queued: let them play out, then wait for the stop.
void AlsaPlaybackDevice::FinishPasses(std::uint32_t epoch)
{
    if (snd_pcm_state(m_pcm) == SND_PCM_STATE_PREPARED) {
        snd_pcm_start(m_pcm);
    }
    while (m_state.Holds(epoch) && !m_closing.load()) {
        WaitForWakeUp(-1);
    }
}
