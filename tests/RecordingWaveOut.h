#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "IWaveOut.h"

// A wave output that records its calls into a shared log and can be told to
// fail the open. It keeps the header flags through the same owner as the
// real outputs. It checks that every call names the device it opened.
class RecordingWaveOut : public IWaveOut {
public:
    explicit RecordingWaveOut(std::vector<std::string>& log) : m_log(log) {}

    int Open(WaveOutHandle* handle, const WaveFormatEx& format) override
    {
        m_log.push_back("open");
        m_format = format;
        if (m_waitInOpen && !m_waitInOpen()) {
            *handle = nullptr;
            return WAVERR_OPENCANCELLED;
        }
        if (m_failOpen) {
            *handle = nullptr;
            return MMSYSERR_NODRIVER;
        }
        if (m_oneChannel && format.nChannels != 1) {
            *handle = nullptr;
            return WAVERR_BADFORMAT;
        }
        m_devices.push_back(std::make_unique<WaveOutDevice>());
        *handle = m_devices.back().get();
        ++m_openDevices;
        return MMSYSERR_NOERROR;
    }

    int PrepareHeader(WaveOutHandle handle, WaveHeader* header) override
    {
        Log("prepare", handle);
        return handle->m_headers.Prepare(header);
    }

    int Write(WaveOutHandle handle, WaveHeader* header) override
    {
        Log("write", handle);
        m_written = *header;
        const int queued = handle->m_headers.Queue(header);
        handle->m_state.Begin();
        return queued;
    }

    int Reset(WaveOutHandle handle) override
    {
        handle->m_state.End();
        handle->m_headers.Reset();
        return Log("reset", handle);
    }

    int UnprepareHeader(WaveOutHandle handle, WaveHeader* header) override
    {
        Log("unprepare", handle);
        return handle->m_headers.Unprepare(header);
    }

    int Close(WaveOutHandle handle) override
    {
        --m_openDevices;
        return Log("close", handle);
    }

    int Switch(WaveOutHandle handle, const char* frames, std::uint32_t bytes, double from,
               double to) override
    {
        if (handle->m_state.PlayingEpoch() == 0) {
            return MMSYSERR_NOTSUPPORTED;
        }
        Log("switch", handle);
        m_switched.assign(reinterpret_cast<const std::int16_t*>(frames),
                          reinterpret_cast<const std::int16_t*>(frames) + bytes / 2);
        m_switchCycles = {from, to};
        return MMSYSERR_NOERROR;
    }

    int Trigger(WaveOutHandle handle, const char* frames, std::uint32_t bytes,
                std::uint32_t repeatFrom) override
    {
        if (handle->m_state.PlayingEpoch() == 0) {
            return MMSYSERR_NOTSUPPORTED;
        }
        Log("trigger", handle);
        m_switched.assign(reinterpret_cast<const std::int16_t*>(frames),
                          reinterpret_cast<const std::int16_t*>(frames) + bytes / 2);
        m_repeatFrom = repeatFrom;
        return MMSYSERR_NOERROR;
    }

    std::string FailureText(WaveOutHandle) const override { return m_failureText; }

    // The last device opened is lost, as a killed server loses it, and then
    // plays again, as a reopened one does.
    void LoseLast()
    {
        OutputStateMachine& state = m_devices.back()->m_state;
        state.Change(state.PlayingEpoch(), OutputState::Playing, OutputState::Lost);
    }
    void ReopenLast()
    {
        OutputStateMachine& state = m_devices.back()->m_state;
        state.Change(state.PlayingEpoch(), OutputState::Lost, OutputState::Reopening);
    }
    void RecoverLast()
    {
        ReopenLast();
        OutputStateMachine& state = m_devices.back()->m_state;
        state.Change(state.PlayingEpoch(), OutputState::Reopening, OutputState::Playing);
    }

    std::vector<std::string>& m_log;
    bool m_failOpen = false;
    bool m_oneChannel = false;  // a device that takes one channel only
    // Runs inside Open, as a slow device's wait; false gives the open up.
    std::function<bool()> m_waitInOpen;
    std::string m_failureText;
    int m_openDevices = 0;
    WaveFormatEx m_format;
    WaveHeader m_written;
    std::vector<std::int16_t> m_switched;      // the samples of the loop last switched to
    std::pair<double, double> m_switchCycles;  // its cycles per sample, old and new
    std::uint32_t m_repeatFrom = 0;            // the last trigger's

private:
    int Log(const char* call, WaveOutHandle handle)
    {
        const bool known = !m_devices.empty() && handle == m_devices.back().get();
        m_log.push_back(known ? call : std::string(call) + " on an unknown handle");
        return MMSYSERR_NOERROR;
    }

    std::vector<std::unique_ptr<WaveOutDevice>> m_devices;
};
