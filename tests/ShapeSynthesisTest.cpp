// The instrument's shapes, phase, bursts, sweeps and arbitrary points, at
// frequencies whose cycle is a whole number of samples (750 Hz: 64).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "MessageText.h"
#include "SampleBuffer.h"
#include "ShapeSettings.h"
#include "WaveformSynthesis.h"

namespace {

constexpr double k64Samples = 750.0;  // Hz

GeneratorState StateFor(int waveform, double frequency = k64Samples)
{
    GeneratorState state;
    state.m_maxFrequency = kDefaultMaxFrequency;
    state.m_minFrequency = kDefaultMinFrequency;
    state.m_bufferSeconds = kDefaultBufferSeconds;
    state.m_sampleRate = kDefaultSampleRate;
    state.m_frequency = frequency;
    state.m_waveform = waveform;
    return state;
}

SynthesisResult Make(GeneratorState& state, const ShapeSettings& shape, bool fired = false)
{
    NoiseGenerator noise;
    return SynthesizeWaveform(state, shape, noise, fired);
}

std::shared_ptr<const std::vector<double>> Points(std::vector<double> points)
{
    return std::make_shared<const std::vector<double>>(std::move(points));
}

// Samples at chosen places of the first cycle: each shape's defining
// points, so a swapped edge, a lost phase or a wrong scale shows.
TEST(ShapeSynthesis, shapes_giveTheirSamplesAtTheCyclesLandmarks)
{
    ShapeSettings ramp;
    ramp.symmetry = 100.0;
    ShapeSettings falling;
    falling.symmetry = 0.0;
    ShapeSettings duty;
    duty.dutyCycle = 25.0;
    ShapeSettings phase;
    phase.phase = 90.0;
    ShapeSettings arb;
    arb.points = Points({0.0, 1.0, 0.0, -1.0});
    ShapeSettings pulse;
    pulse.pulseWidth = 10.0 / kDefaultSampleRate;
    ShapeSettings edges = pulse;
    edges.pulseEdge = 4.0 / kDefaultSampleRate;
    const struct {
        const char* name;
        int waveform;
        ShapeSettings shape;
        std::vector<std::pair<int, int>> samples;  // place, value (within one step)
    } cases[] = {
        {"rising ramp",
         kRamp,
         ramp,
         {{0, 0}, {16, 16383}, {31, 31743}, {32, -32767}, {48, -16383}}},
        {"falling ramp", kRamp, falling, {{0, 32767}, {16, 16383}, {32, 0}, {48, -16383}}},
        {"square 25 %", kSquare, duty, {{0, -32767}, {47, -32767}, {48, 32767}, {63, 32767}}},
        {"sine at 90 degrees", kSine, phase, {{0, 32767}, {16, 0}, {32, -32767}}},
        {"arbitrary, linear between points",
         kArbitrary,
         arb,
         {{0, 0}, {8, 16383}, {16, 32767}, {24, 16383}, {48, -32767}}},
        {"pulse of 10 samples", kPulse, pulse, {{0, -32767}, {9, -32767}, {10, 0}, {63, 0}}},
        {"pulse with 4-sample edges",
         kPulse,
         edges,
         {{0, -8191}, {3, -32767}, {10, -24575}, {13, 0}}},
    };
    for (const auto& c : cases) {
        GeneratorState state = StateFor(c.waveform);
        ASSERT_EQ(Make(state, c.shape), SynthesisResult::Ready) << c.name << ": " << g_messageText;
        for (const auto& [place, value] : c.samples) {
            EXPECT_NEAR(g_sampleBuffer[place], value, 1) << c.name << " at " << place;
        }
        // Whole cycles in the loop: the seam joins.
        EXPECT_EQ(g_sampleBuffer[state.m_sampleCount - 64], g_sampleBuffer[0]) << c.name;
    }
}

TEST(ShapeSynthesis, bursts_soundTheirCyclesThenSilenceAndFireOnce)
{
    ShapeSettings burst;
    burst.burst = true;
    burst.burstCycles = 3;
    burst.burstPeriod = 0.01;
    GeneratorState state = StateFor(kSine);
    ASSERT_EQ(Make(state, burst), SynthesisResult::Ready) << g_messageText;
    EXPECT_EQ(state.m_sampleCount, 480);  // one burst period
    EXPECT_EQ(g_sampleBuffer[16], 32767);
    EXPECT_NE(g_sampleBuffer[191], 0);
    EXPECT_TRUE(
        std::all_of(g_sampleBuffer + 192, g_sampleBuffer + 480, [](int v) { return v == 0; }));

    burst.triggered = true;  // waiting: silence; fired: the cycles, then silence
    ASSERT_EQ(Make(state, burst), SynthesisResult::Ready);
    EXPECT_EQ(state.m_sampleCount, kTriggerIdleSamples);
    EXPECT_TRUE(std::all_of(g_sampleBuffer, g_sampleBuffer + kTriggerIdleSamples,
                            [](int v) { return v == 0; }));
    ASSERT_EQ(Make(state, burst, true), SynthesisResult::Ready);
    EXPECT_EQ(state.m_sampleCount, 192 + kTriggerIdleSamples);
    EXPECT_EQ(g_sampleBuffer[16], 32767);
}

TEST(ShapeSynthesis, sweeps_passThroughEveryFrequencyBetweenTheirEnds)
{
    const auto risingCrossings = [](int count) {
        int crossings = 0;
        for (int i = 1; i < count; ++i) {
            crossings += g_sampleBuffer[i - 1] < 0 && g_sampleBuffer[i] >= 0 ? 1 : 0;
        }
        return crossings;
    };
    ShapeSettings sweep;
    sweep.sweep = true;
    sweep.sweepStart = 100.0;
    sweep.sweepStop = 1000.0;
    sweep.sweepTime = 1.0;
    GeneratorState state = StateFor(kSine, 500.0);
    ASSERT_EQ(Make(state, sweep), SynthesisResult::Ready) << g_messageText;
    EXPECT_EQ(state.m_sampleCount, 48000);
    EXPECT_NEAR(risingCrossings(48000), 550, 1);  // the mean frequency, for one second
    sweep.logSweep = true;                        // 9 / ln 10 decades' worth of 100 Hz
    ASSERT_EQ(Make(state, sweep), SynthesisResult::Ready);
    EXPECT_NEAR(risingCrossings(48000), 100 * 9 / std::log(10.0), 1);
}

TEST(ShapeSynthesis, refusals_sayWhyAndLeaveTheSamples)
{
    ShapeSettings narrowDuty;
    narrowDuty.dutyCycle = 20.0;  // a third of a cycle is one sample at 16 kHz
    ShapeSettings widePulse;
    widePulse.pulseWidth = 0.002;  // wider than a 1 kHz period less its edge
    ShapeSettings endless;
    endless.burst = true;
    endless.burstCycles = 0;
    ShapeSettings crowded;
    crowded.burst = true;
    crowded.burstCycles = 10;  // 13.3 ms at 750 Hz, in a 10 ms period
    ShapeSettings noiseBurst = crowded;
    ShapeSettings highSweep;
    highSweep.sweep = true;
    highSweep.sweepStop = 20000.0;
    const struct {
        int waveform;
        double frequency;
        ShapeSettings shape;
        const char* text;
    } cases[] = {
        {kSquare, 16000.0, narrowDuty, "the duty cycle leaves less than a sample high or low"},
        {kPulse, 1000.0, widePulse, "decrease the frequency below 494.845Hz"},
        {kArbitrary, 750.0, ShapeSettings{}, "no arbitrary waveform is selected"},
        {kSine, 750.0, endless, "an endless burst needs a trigger"},
        {kSine, 750.0, crowded, "10 cycles do not fit the burst period"},
        {kWhiteNoise, 750.0, noiseBurst, "a burst or a sweep needs a periodic waveform"},
        {kSine, 750.0, highSweep, "the sweep runs from above 0 Hz to at most 16000.000 Hz"},
    };
    for (const auto& c : cases) {
        g_sampleBuffer[0] = 1234;
        GeneratorState state = StateFor(c.waveform, c.frequency);
        EXPECT_EQ(Make(state, c.shape), SynthesisResult::Refused) << c.text;
        EXPECT_NE(std::string(g_messageText).find(c.text), std::string::npos)
            << c.text << " / " << g_messageText;
        EXPECT_EQ(g_sampleBuffer[0], 1234) << c.text;
    }
}

}  // namespace
