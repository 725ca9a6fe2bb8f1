#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "IWaveOut.h"

// Two mono outputs on one two-channel device: each channel's dialog opens,
// plays, switches and stops its loop as on a device of its own, and the
// device plays both from one sample clock, left and right of one buffer.
// A change on one channel leaves the other's samples as they were, frame
// for frame. A device that takes only one channel plays channel 1 alone
// and refuses channel 2.
class StereoWaveOut {
public:
    explicit StereoWaveOut(IWaveOut& device);
    StereoWaveOut(const StereoWaveOut&) = delete;
    StereoWaveOut& operator=(const StereoWaveOut&) = delete;

    static constexpr int kChannels = 2;
    // A two-channel loop holds at most as many samples as a mono one may
    // (the synthesis's buffer of 1048576).
    static constexpr std::int64_t kMostFrames = 524288;
    // Channel 0 is the left (channel 1 to a user), 1 the right.
    IWaveOut& Channel(int index) { return m_outputs[index]; }
    // Both channels from the start of their loops again, together (their
    // phases as set); false when nothing plays.
    bool Synchronize();
    // The frames a buffer of two loops takes: the least whole number of
    // each (a loop of 0 is a silent channel), or 0 when that is more than
    // the buffer holds.
    static std::int64_t JointLength(std::int64_t left, std::int64_t right);
    // Two loops (an empty one is silence) as `channels` interleaved ones,
    // each repeated to their JointLength: frame i holds each loop's sample
    // i of its own length. False when they do not fit one buffer.
    static bool Interleave(const std::vector<std::int16_t>* const (&loops)[kChannels], int channels,
                           std::vector<std::int16_t>& out);
    // Whether the other channel than `index` plays now.
    bool OtherPlays(int index) const { return !m_loops[1 - index].empty(); }
    // The loop channel `index` plays now (empty: it is silent).
    const std::vector<std::int16_t>& Loop(int index) const { return m_loops[index]; }

private:
    class ChannelOut final : public IWaveOut {
    public:
        ChannelOut(StereoWaveOut& pair, int index) : m_pair(pair), m_index(index) {}
        int Open(WaveOutHandle* handle, const WaveFormatEx& format) override;
        int PrepareHeader(WaveOutHandle handle, WaveHeader* header) override;
        int Write(WaveOutHandle handle, WaveHeader* header) override;
        int Reset(WaveOutHandle handle) override;
        int UnprepareHeader(WaveOutHandle handle, WaveHeader* header) override;
        int Close(WaveOutHandle handle) override;
        int Switch(WaveOutHandle handle, const char* frames, std::uint32_t bytes, double from,
                   double to) override;
        int Trigger(WaveOutHandle handle, const char* frames, std::uint32_t bytes,
                    std::uint32_t repeatFrom) override;
        int ChangeDescriptor() const override { return m_pair.m_device.ChangeDescriptor(); }
        std::string FailureText(WaveOutHandle handle) const override;

    private:
        StereoWaveOut& m_pair;
        const int m_index;
        WaveHeaderQueue m_headers;  // the dialog's header, as a device keeps it
    };

    int Open(int index, WaveOutHandle* handle, const WaveFormatEx& format);
    int Close(int index);
    // Takes `bytes` of the channel's loop (none: silent) and plays both;
    // the cycles per sample keep the channel's phase while the other is
    // silent, and with `repeatFrom` the loop is a trigger's.
    int Play(int index, const char* frames, std::uint32_t bytes, double from, double to,
             const std::uint32_t* repeatFrom = nullptr);
    void StopDevice();

    IWaveOut& m_device;
    ChannelOut m_outputs[kChannels];
    WaveOutHandle m_handle = nullptr;
    int m_deviceChannels = 0;  // 2, or 1 for a device that takes only one
    bool m_open[kChannels] = {false, false};
    std::string m_failure;  // why channel 2 cannot play
    std::vector<std::int16_t> m_loops[kChannels];
    // The buffer the device reads and the one the next loop is made in.
    std::vector<std::int16_t> m_buffers[2];
    int m_playing = 0;
    bool m_started = false;
    WaveHeader m_header;
};
