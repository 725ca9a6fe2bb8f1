#pragma once

#include "IWaveOut.h"

// A wave output that hands every call to the output it is set to, so that
// one Start command can compute the buffer silently, let the file be
// written, and only then play it.
class DeferredWaveOut : public IWaveOut {
public:
    explicit DeferredWaveOut(IWaveOut& target) : m_target(&target) {}
    // Takes effect for the next Open; close the open device first.
    void SetTarget(IWaveOut& target) { m_target = &target; }

    int Open(WaveOutHandle* handle, const WaveFormatEx& format) override
    {
        return m_target->Open(handle, format);
    }
    int PrepareHeader(WaveOutHandle handle, WaveHeader* header) override
    {
        return m_target->PrepareHeader(handle, header);
    }
    int Write(WaveOutHandle handle, WaveHeader* header) override
    {
        return m_target->Write(handle, header);
    }
    int Reset(WaveOutHandle handle) override { return m_target->Reset(handle); }
    int UnprepareHeader(WaveOutHandle handle, WaveHeader* header) override
    {
        return m_target->UnprepareHeader(handle, header);
    }
    int Close(WaveOutHandle handle) override { return m_target->Close(handle); }
    int Switch(WaveOutHandle handle, const char* frames, std::uint32_t bytes, double from,
               double to) override
    {
        return m_target->Switch(handle, frames, bytes, from, to);
    }
    int Trigger(WaveOutHandle handle, const char* frames, std::uint32_t bytes,
                std::uint32_t repeatFrom) override
    {
        return m_target->Trigger(handle, frames, bytes, repeatFrom);
    }
    int ChangeDescriptor() const override { return m_target->ChangeDescriptor(); }
    std::string FailureText(WaveOutHandle handle) const override
    {
        return m_target->FailureText(handle);
    }

private:
    IWaveOut* m_target;
};
