// Two channels' dialogs on one two-channel output, over the recording one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingWaveOut.h"
#include "StereoWaveOut.h"

namespace {

const WaveFormatEx kMono = {WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 0};

struct Channel {
    Channel(StereoWaveOut& pair, int index) : output(pair.Channel(index)) {}
    void Play(std::vector<std::int16_t> samples)
    {
        loop = std::move(samples);
        header = {};
        header.lpData = reinterpret_cast<char*>(loop.data());
        header.dwBufferLength = static_cast<std::uint32_t>(2 * loop.size());
        header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
        header.dwLoops = kLoopForever;
        ASSERT_EQ(output.Open(&handle, kMono), MMSYSERR_NOERROR);
        output.PrepareHeader(handle, &header);
        ASSERT_EQ(output.Write(handle, &header), MMSYSERR_NOERROR);
    }
    void Stop()
    {
        output.Reset(handle);
        output.UnprepareHeader(handle, &header);
        output.Close(handle);
    }
    IWaveOut& output;
    WaveOutHandle handle = nullptr;
    WaveHeader header;
    std::vector<std::int16_t> loop;
};

TEST(StereoWaveOut, jointLength_holdsWholeLoopsOfBothOrNothing)
{
    const struct {
        std::int64_t left, right, frames;
    } cases[] = {
        {480000, 0, 480000}, {0, 64, 64},    {480000, 480, 480000},
        {480, 64, 960},      {480000, 7, 0}, {524288, 1, 524288},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StereoWaveOut::JointLength(c.left, c.right), c.frames)
            << c.left << "," << c.right;
    }
}

// Each channel plays its own side of one buffer; starting, changing and
// stopping one leaves the other's samples frame for frame.
TEST(StereoWaveOut, eachChannelItsSide_theOtherUntouched)
{
    std::vector<std::string> log;
    RecordingWaveOut device(log);
    StereoWaveOut pair(device);
    Channel left(pair, 0);
    Channel right(pair, 1);
    left.Play({1, 2, 3, 4});
    EXPECT_EQ(device.m_format.nChannels, 2);
    EXPECT_EQ(device.m_format.nBlockAlign, 4);
    const auto written = reinterpret_cast<const std::int16_t*>(device.m_written.lpData);
    EXPECT_EQ(std::vector<std::int16_t>(written, written + 8),
              (std::vector<std::int16_t>{1, 0, 2, 0, 3, 0, 4, 0}));
    right.Play({-5, -6});
    EXPECT_EQ(right.handle, left.handle);  // one device, one clock
    EXPECT_EQ(device.m_switched, (std::vector<std::int16_t>{1, -5, 2, -6, 3, -5, 4, -6}));
    EXPECT_EQ(device.m_switchCycles, (std::pair<double, double>{0.0, 0.0}));
    ASSERT_EQ(right.output.Switch(right.handle, reinterpret_cast<const char*>(right.loop.data()), 2,
                                  0.25, 0.5),
              MMSYSERR_NOERROR);
    EXPECT_EQ(device.m_switched, (std::vector<std::int16_t>{1, -5, 2, -5, 3, -5, 4, -5}));
    EXPECT_EQ(device.m_switchCycles, (std::pair<double, double>{0.0, 0.0}))
        << "the other channel's place must hold";
    right.Stop();
    EXPECT_EQ(device.m_switched, (std::vector<std::int16_t>{1, 0, 2, 0, 3, 0, 4, 0}));
    // Alone, a channel keeps its phase as on a device of its own.
    left.output.Switch(left.handle, reinterpret_cast<const char*>(left.loop.data()), 4, 0.25, 0.5);
    EXPECT_EQ(device.m_switchCycles, (std::pair<double, double>{0.25, 0.5}));
    log.clear();
    left.Stop();
    EXPECT_EQ(log, (std::vector<std::string>{"reset", "unprepare", "close"}));
}

TEST(StereoWaveOut, aDeviceOfOneChannel_playsChannel1AndRefusesChannel2)
{
    std::vector<std::string> log;
    RecordingWaveOut device(log);
    device.m_oneChannel = true;
    StereoWaveOut pair(device);
    Channel left(pair, 0);
    left.Play({7, 8});
    EXPECT_EQ(device.m_format.nChannels, 1);
    WaveOutHandle handle = nullptr;
    EXPECT_NE(pair.Channel(1).Open(&handle, kMono), MMSYSERR_NOERROR);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(pair.Channel(1).FailureText(nullptr),
              "the output device has one channel: channel 2 cannot play");
    left.Stop();
}

}  // namespace
