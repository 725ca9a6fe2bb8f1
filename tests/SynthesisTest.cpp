#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "MessageText.h"
#include "SampleBuffer.h"
#include "WaveformSynthesis.h"

namespace {

GeneratorState DefaultState(double frequency, int waveform)
{
    GeneratorState state;
    state.m_maxFrequency = kDefaultMaxFrequency;
    state.m_minFrequency = kDefaultMinFrequency;
    state.m_bufferSeconds = kDefaultBufferSeconds;
    state.m_sampleRate = kDefaultSampleRate;
    state.m_sliderSteps = kDefaultSliderSteps;
    state.m_frequency = frequency;
    state.m_waveform = waveform;
    return state;
}

class Synthesis : public ::testing::Test {
protected:
    SynthesisResult Run(double frequency, int waveform)
    {
        state = DefaultState(frequency, waveform);
        return SynthesizeWaveform(state, noise);
    }

    std::vector<int> Samples(int first, int count) const
    {
        return {g_sampleBuffer + first, g_sampleBuffer + first + count};
    }

    int Sample(int i) const { return g_sampleBuffer[i]; }
    std::string Text() const { return g_messageText; }

    GeneratorState state;
    NoiseGenerator noise;
};

TEST_F(Synthesis, sine_at500Hz_matchesWorkedSamplesAndStatus)
{
    ASSERT_EQ(Run(500.0, kSine), SynthesisResult::Ready);
    EXPECT_EQ(state.m_cyclesPerSample, 0.010416666666666666);
    EXPECT_EQ(state.m_sampleCount, 480000);
    EXPECT_EQ(Samples(0, 5), (std::vector<int>{0, 2143, 4277, 6392, 8480}));
    EXPECT_EQ(Sample(24), 32767);
    EXPECT_EQ(Sample(48), 0);
    EXPECT_EQ(Sample(72), -32767);
    const auto [low, high] = std::minmax_element(g_sampleBuffer, g_sampleBuffer + 480000);
    EXPECT_EQ(*low, -32767);
    EXPECT_EQ(*high, 32767);
    EXPECT_EQ(Text(), "This is a sine wave, 500.000 Hz\n");
}

TEST_F(Synthesis, sine_loopSeam_joinsOnlyWhenTheBufferHoldsWholeCycles)
{
    // 440.5 Hz: 4405 whole cycles; the last sample leads up to phase 0 from below.
    ASSERT_EQ(Run(440.5, kSine), SynthesisResult::Ready);
    EXPECT_EQ(Sample(0), 0);
    EXPECT_LT(Sample(479999), -1800);
    // 440.05 Hz: 4400.5 cycles; the buffer ends half way, coming down towards
    // zero, and the loop turns back up: the seam cuts the cycle.
    ASSERT_EQ(Run(440.05, kSine), SynthesisResult::Ready);
    EXPECT_GT(Sample(479999), 1800);
    EXPECT_GT(Sample(1), 1800);
}

TEST_F(Synthesis, triangle_at500Hz_risesAndFallsOnTheGrid)
{
    ASSERT_EQ(Run(500.0, kTriangle), SynthesisResult::Ready);
    EXPECT_EQ(Samples(0, 3), (std::vector<int>{0, 1365, 2730}));
    EXPECT_EQ(Samples(24, 2), (std::vector<int>{32767, 31401}));
    EXPECT_EQ(Samples(47, 3), (std::vector<int>{1365, 0, -1365}));
    EXPECT_EQ(Samples(72, 2), (std::vector<int>{-32767, -31401}));
    EXPECT_EQ(Samples(95, 2), (std::vector<int>{-1365, 0}));
    EXPECT_EQ(Text(), "This is a triangle wave, 500.000 Hz\n");
}

TEST_F(Synthesis, triangle_at16000Hz_repeatsThreeSamples)
{
    ASSERT_EQ(Run(16000.0, kTriangle), SynthesisResult::Ready);
    for (int i = 0; i < 480000; i += 3) {
        ASSERT_EQ(Samples(i, 3), (std::vector<int>{0, 21844, -21844})) << "at " << i;
    }
}

TEST_F(Synthesis, triangle_cycleStartJustBelowZero_truncatesToTheCycleStart)
{
    // At 66 Hz, sample 8000 completes 11 cycles and 8000 - 11/p is about -9e-13.
    ASSERT_EQ(Run(66.0, kTriangle), SynthesisResult::Ready);
    EXPECT_EQ(Sample(8000), 0);
    EXPECT_EQ(Sample(8002), 180);
}

TEST_F(Synthesis, square_firstHalfLowSecondHalfHigh)
{
    ASSERT_EQ(Run(500.0, kSquare), SynthesisResult::Ready);
    for (int i = 0; i < 480000; ++i) {
        ASSERT_EQ(Sample(i), i % 96 < 48 ? -32767 : 32767) << "at " << i;
    }
    EXPECT_EQ(Text(), "This is a square wave, actual frequency is 500.000 Hz\n");

    ASSERT_EQ(Run(16000.0, kSquare), SynthesisResult::Ready);
    EXPECT_EQ(Samples(0, 6), (std::vector<int>{-32767, -32767, 32767, -32767, -32767, 32767}));
}

TEST_F(Synthesis, pulse_periodOfExactly100Samples_isAccepted)
{
    ASSERT_EQ(Run(480.0, kPulse), SynthesisResult::Ready);
    for (int i = 0; i < 480000; ++i) {
        ASSERT_EQ(Sample(i), i % 100 == 0 ? -32767 : 0) << "at " << i;
    }
    EXPECT_EQ(Text(), "This is a 1:100 square pulse, actual frequency is 480.000 Hz\n");
}

TEST_F(Synthesis, pulse_at100Hz_isLowForFiveSamplesOf480)
{
    ASSERT_EQ(Run(100.0, kPulse), SynthesisResult::Ready);
    for (int i = 0; i < 480000; ++i) {
        ASSERT_EQ(Sample(i), i % 480 < 5 ? -32767 : 0) << "at " << i;
    }
}

TEST_F(Synthesis, pulse_aboveHighestFrequency_isRefusedWithoutWritingSamples)
{
    for (double frequency : {480.0000001, 481.0, 16000.0}) {
        std::fill_n(g_sampleBuffer, 1000, 7);
        ASSERT_EQ(Run(frequency, kPulse), SynthesisResult::Refused);
        EXPECT_EQ(Text(), "decrease the frequency below 480.000Hz");
        EXPECT_EQ(Samples(0, 3), (std::vector<int>{7, 7, 7}));
        EXPECT_EQ(state.m_sampleCount, 480000);
    }
}

TEST_F(Synthesis, pulse_frequencyUnderflowingToZeroCyclesPerSample_isLowThroughout)
{
    ASSERT_EQ(Run(1e-320, kPulse), SynthesisResult::Ready);
    EXPECT_EQ(state.m_cyclesPerSample, 0.0);
    EXPECT_TRUE(std::all_of(g_sampleBuffer, g_sampleBuffer + 480000,
                            [](std::int16_t s) { return s == -32767; }));
    EXPECT_EQ(Text(), "This is a 1:100 square pulse, actual frequency is 0.000 Hz\n");
}

TEST_F(Synthesis, whiteNoise_isTheGeneratorsDrawsAndIgnoresTheFrequency)
{
    ASSERT_EQ(Run(1234.5, kWhiteNoise), SynthesisResult::Ready);
    EXPECT_EQ(Samples(0, 4), (std::vector<int>{41, 18467, 6334, 26500}));
    EXPECT_TRUE(std::all_of(g_sampleBuffer, g_sampleBuffer + 480000,
                            [](std::int16_t s) { return s >= 0; }));
    EXPECT_EQ(Text(),
              "This is whitenoise, actual frequency is 0.100 Hz\n"
              "Remember to use very LOW frequency for real white-noise. e.g. 0.05Hz.");
}

TEST_F(Synthesis, noiseGenerator_runsOnAcrossSyntheses)
{
    NoiseGenerator reference;
    ASSERT_EQ(Run(0.05, kWhiteNoise), SynthesisResult::Ready);
    for (int i = 0; i < 480000; ++i) {
        reference.Next();
    }
    ASSERT_EQ(Run(0.05, kWhiteNoise), SynthesisResult::Ready);
    EXPECT_EQ(Sample(0), reference.Next());
    EXPECT_EQ(Sample(1), reference.Next());
}

TEST_F(Synthesis, heldNoise_holdsEachDrawFor100SamplesAndDrawsOnceMore)
{
    ASSERT_EQ(Run(500.0, kHeldWhiteNoise), SynthesisResult::Ready);
    EXPECT_TRUE(
        std::all_of(g_sampleBuffer, g_sampleBuffer + 100, [](std::int16_t s) { return s == 41; }));
    EXPECT_TRUE(std::all_of(g_sampleBuffer + 100, g_sampleBuffer + 200,
                            [](std::int16_t s) { return s == 18467; }));
    EXPECT_EQ(Text(),
              "This is whitenoise, actual frequency is 0.100 Hz\n"
              "Remember to use very LOW frequency for real white-noise. e.g. 0.05Hz. "
              "The highest frequency is suppressed to 1/100 of the sampling rate.");
    EXPECT_EQ(Text().size(), 185u);

    // 4800 blocks and one draw for the empty remainder: the next noise
    // starts with draw 4802.
    NoiseGenerator reference;
    for (int i = 0; i < 4801; ++i) {
        reference.Next();
    }
    ASSERT_EQ(Run(500.0, kWhiteNoise), SynthesisResult::Ready);
    EXPECT_EQ(Sample(0), reference.Next());
}

TEST_F(Synthesis, heldNoise_countNotAMultipleOf100_givesTheRestTheExtraDraw)
{
    state = DefaultState(500.0, kHeldWhiteNoise);
    state.m_sampleRate = 250.0;
    state.m_bufferSeconds = 1.0;
    ASSERT_EQ(SynthesizeWaveform(state, noise), SynthesisResult::Ready);
    EXPECT_EQ(Sample(99), 41);
    EXPECT_EQ(Sample(100), 18467);
    EXPECT_EQ(Sample(200), 6334);
    EXPECT_EQ(Sample(249), 6334);
    EXPECT_EQ(Text().substr(0, 47), "This is whitenoise, actual frequency is 1.000 H");
}

struct SweepCase {
    double frequency;
    int sampleCount;
    const char* status;
};

class Sweep : public Synthesis, public ::testing::WithParamInterface<SweepCase> {};

TEST_P(Sweep, lengthAndStatus_followTheFrequency)
{
    const SweepCase& c = GetParam();
    ASSERT_EQ(Run(c.frequency, kSweepingSine), SynthesisResult::Ready);
    EXPECT_EQ(state.m_sampleCount, c.sampleCount);
    EXPECT_EQ(state.m_sweepLength, static_cast<double>(c.sampleCount));
    EXPECT_EQ(Text(), c.status);
    EXPECT_EQ(Sample(0), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Synthesis, Sweep,
    ::testing::Values(
        SweepCase{500.0, 153600,
                  "This is a sweeping sine wave, its frequency is 166.667-833.333 Hz\n"
                  "The repeat cycle is 3.200 seconds\n"},
        SweepCase{100.0, 384000,
                  "This is a sweeping sine wave, its frequency is 33.333-166.667 Hz\n"
                  "The repeat cycle is 8.000 seconds\n"},
        // 99000 / 48000 = 2.0625 exactly: the tie is printed away from zero.
        SweepCase{9600.0, 99000,
                  "This is a sweeping sine wave, its frequency is 3200.000-16000.000 Hz\n"
                  "The repeat cycle is 2.063 seconds\n"}),
    [](const ::testing::TestParamInfo<SweepCase>& testInfo) {
        return std::to_string(static_cast<int>(testInfo.param.frequency)) + "Hz";
    });

TEST_F(Synthesis, sweep_tooLongForTheBuffer_isRefused)
{
    std::fill_n(g_sampleBuffer, 10, 7);
    ASSERT_EQ(Run(30.0, kSweepingSine), SynthesisResult::Refused);
    EXPECT_EQ(Text(), "increase the frequency above 30.000Hz");
    EXPECT_EQ(state.m_sampleCount, 1056000);
    EXPECT_EQ(state.m_sweepLength, 1056000.0);
    EXPECT_EQ(Sample(0), 7);

    ASSERT_EQ(Run(30.234, kSweepingSine), SynthesisResult::Ready);
    EXPECT_EQ(state.m_sampleCount, 1048569);
}

TEST_F(Synthesis, sweep_lengthBeyondTheIntRange_isRefusedWithoutOverflow)
{
    for (double frequency : {0.01, 1e-300, 5e-324}) {
        ASSERT_EQ(Run(frequency, kSweepingSine), SynthesisResult::Refused) << frequency;
        EXPECT_EQ(Text(), "increase the frequency above 30.000Hz");
        EXPECT_GT(state.m_sampleCount, kSampleBufferCapacity);
    }
    Run(0.01, kSweepingSine);
    EXPECT_EQ(std::trunc(state.m_sweepLength), 2880096000.0);
}

TEST_F(Synthesis, unknownWaveform_isRefusedAndWritesNothing)
{
    for (int waveform : {7, -1, 1000}) {
        std::fill_n(g_sampleBuffer, 10, 7);
        ASSERT_EQ(Run(500.0, waveform), SynthesisResult::Refused);
        EXPECT_EQ(Text(), "waveform not yet defined, tell Zorv to add what you want.\n");
        EXPECT_EQ(Sample(0), 7);
        EXPECT_EQ(state.m_cyclesPerSample, 500.0 / 48000.0);
        EXPECT_EQ(state.m_sampleCount, 480000);
    }
}

TEST_F(Synthesis, capacity_exactlyFullIsAcceptedOneMoreIsRefusedFirst)
{
    state = DefaultState(500.0, kSine);
    state.m_sampleRate = 1048576.0;
    state.m_bufferSeconds = 1.0;
    ASSERT_EQ(SynthesizeWaveform(state, noise), SynthesisResult::Ready);
    EXPECT_EQ(state.m_sampleCount, 1048576);

    // Refused before the waveform is looked at, even an unknown one.
    state.m_sampleRate = 1048577.0;
    state.m_waveform = 99;
    ASSERT_EQ(SynthesizeWaveform(state, noise), SynthesisResult::Refused);
    EXPECT_EQ(Text(), "exceeding pre-allocated memory, try a lower sampling rate.\n");
    EXPECT_EQ(state.m_sampleCount, 1048577);
}

}  // namespace

namespace {

// The cycle formulas written out directly, sample by sample.
int ReferenceTriangle(int i, double p)
{
    const int n = static_cast<int>(i * p);
    const int k = static_cast<int>(i - n / p);
    const double q = 1 / (p * 4);
    const double v = k <= q ? k * p : (k <= q * 3 ? 0.5 - k * p : k * p - 1);
    return static_cast<int>(v * 131068.0);
}

int ReferenceSquare(int i, double p)
{
    const int n = static_cast<int>(i * p);
    const int k = static_cast<int>(i - n / p);
    return k < 1 / (p + p) ? -32767 : 32767;
}

TEST_F(Synthesis, cycleWaveforms_matchTheFormulasSampleForSample)
{
    for (double frequency : {10.0, 66.0, 440.05, 997.3, 12345.678, 15999.999, 16000.0}) {
        ASSERT_EQ(Run(frequency, kTriangle), SynthesisResult::Ready);
        const double p = state.m_cyclesPerSample;
        for (int i = 0; i < 480000; ++i) {
            ASSERT_EQ(Sample(i), ReferenceTriangle(i, p)) << frequency << " Hz at " << i;
        }
        ASSERT_EQ(Run(frequency, kSquare), SynthesisResult::Ready);
        for (int i = 0; i < 480000; ++i) {
            ASSERT_EQ(Sample(i), ReferenceSquare(i, p)) << frequency << " Hz at " << i;
        }
    }
}

}  // namespace
