#include "WaveformSynthesis.h"

#include <cmath>
#include <cstdint>

#include "MessageText.h"
#include "NumberRules.h"
#include "SampleBuffer.h"
#include "ShapedSynthesis.h"
#include "SineFill.h"
#include "TextFormat.h"

namespace {

constexpr double kTriangleScale = 131068.0;
constexpr std::int16_t kHighLevel = 32767;
constexpr std::int16_t kLowLevel = -32767;
constexpr double kShortestPulsePeriod = 100.0;
constexpr double kPulseMessageFactor = 0.01;
constexpr double kOneThird = 0.3333333333333333;
// The nearest double to 5/3, for the status text; the Start command checks
// the sweep's top with the double one ulp below it.
constexpr double kFiveThirds = 1.6666666666666667;
constexpr double kSweepMessageFactor = 3.0;
constexpr int kHoldBlock = 100;

constexpr const char* kUnknownWaveformText =
    "waveform not yet defined, tell Zorv to add what you want.\n";
constexpr const char* kSweepTooLongText = "increase the frequency above %.3fHz";
constexpr const char* kSineStatus = "This is a sine wave, %.3f Hz\n";
constexpr const char* kTriangleStatus = "This is a triangle wave, %.3f Hz\n";
constexpr const char* kSquareStatus = "This is a square wave, actual frequency is %.3f Hz\n";
constexpr const char* kPulseStatus = "This is a 1:100 square pulse, actual frequency is %.3f Hz\n";
constexpr const char* kNoiseStatus =
    "This is whitenoise, actual frequency is %.3f Hz\n"
    "Remember to use very LOW frequency for real white-noise. e.g. 0.05Hz.";
constexpr const char* kHeldNoiseStatus =
    "This is whitenoise, actual frequency is %.3f Hz\n"
    "Remember to use very LOW frequency for real white-noise. e.g. 0.05Hz. "
    "The highest frequency is suppressed to 1/100 of the sampling rate.";
constexpr const char* kSweepStatus =
    "This is a sweeping sine wave, its frequency is %.3f-%.3f Hz\n"
    "The repeat cycle is %.3f seconds\n";

void Format(const char* format, std::initializer_list<FormatArg> args = {})
{
    FormatText(g_messageText, kMessageTextSize, format, args);
}

SynthesisResult Refuse(const char* format, std::initializer_list<FormatArg> args = {})
{
    Format(format, args);
    return SynthesisResult::Refused;
}

// Whole samples since the current cycle began: n = i*p and k = i - n/p, both
// truncated. Where i*p lands on a whole number, i - n/p can come out a hair
// below zero; truncation makes that 0. n/p is worked out once per cycle.
// With p so small that it is 0.0, no cycle ever completes and k is i.
// p is at most 1/3 here (the Start command caps the frequency), so the
// counts fit an int64 and converting them truncates toward zero.
class CyclePosition {
public:
    explicit CyclePosition(double p) : m_p(p) {}

    double At(std::int32_t i)
    {
        const auto n = static_cast<std::int64_t>(i * m_p);
        if (n != m_cycle) {
            m_cycle = n;
            m_cycleStart = static_cast<double>(n) / m_p;
        }
        return static_cast<double>(static_cast<std::int64_t>(i - m_cycleStart));
    }

private:
    double m_p;
    std::int64_t m_cycle = 0;
    double m_cycleStart = 0.0;
};

std::int16_t TruncateSample(double value)
{
    return static_cast<std::int16_t>(static_cast<std::int32_t>(value));
}

void FillTriangle(double p, std::int32_t count)
{
    const double quarter = 1 / (p * 4);
    const double threeQuarters = quarter * 3;
    CyclePosition position(p);
    for (std::int32_t i = 0; i < count; ++i) {
        const double k = position.At(i);
        double v;
        if (k <= quarter) {
            v = k * p;
        } else if (k <= threeQuarters) {
            v = 0.5 - k * p;
        } else {
            v = k * p - 1;
        }
        g_sampleBuffer[i] = TruncateSample(v * kTriangleScale);
    }
}

// Low for the first `lowSamples` of every cycle, `rest` after that.
void FillTwoLevel(double p, std::int32_t count, double lowSamples, std::int16_t rest)
{
    CyclePosition position(p);
    for (std::int32_t i = 0; i < count; ++i) {
        g_sampleBuffer[i] = position.At(i) < lowSamples ? kLowLevel : rest;
    }
}

void FillNoise(NoiseGenerator& noise, std::int32_t count)
{
    for (std::int32_t i = 0; i < count; ++i) {
        g_sampleBuffer[i] = noise.Next();
    }
}

// One draw per block of 100 samples, and one more draw for the samples left
// over, taken even when none are left.
void FillHeldNoise(NoiseGenerator& noise, std::int32_t count)
{
    const std::int32_t blocks = count / kHoldBlock;
    std::int32_t i = 0;
    for (std::int32_t b = 0; b < blocks; ++b) {
        const std::int16_t value = noise.Next();
        for (std::int32_t end = i + kHoldBlock; i < end; ++i) {
            g_sampleBuffer[i] = value;
        }
    }
    const std::int16_t last = noise.Next();
    for (; i < count; ++i) {
        g_sampleBuffer[i] = last;
    }
}

}  // namespace

double SweepLength(double frequency, double sampleRate)
{
    return ((100.0 / (frequency * kOneThird)) + 1.0) * sampleRate * 2;
}

namespace {

SynthesisResult SynthesizeSweep(GeneratorState& s, bool fill)
{
    const double p = s.m_cyclesPerSample;
    s.m_sweepLength = SweepLength(s.m_frequency, s.m_sampleRate);
    s.m_sampleCount = TruncateToInt32(s.m_sweepLength);
    // Tested on the double, so that lengths beyond the int range (or infinite
    // ones) are refused like any other.
    if (!(std::trunc(s.m_sweepLength) <= kSampleBufferCapacity)) {
        return Refuse(kSweepTooLongText, {s.m_minFrequency * kSweepMessageFactor});
    }
    if (fill) {
        FillSweepSamples(FastestSinePath(), p, s.m_sweepLength, s.m_sampleCount, g_sampleBuffer);
    }
    Format(kSweepStatus, {s.m_frequency * kOneThird, s.m_frequency * kFiveThirds,
                          s.m_sweepLength / s.m_sampleRate});
    return SynthesisResult::Ready;
}

SynthesisResult SynthesizeSelected(GeneratorState& s, NoiseGenerator& noise, bool fill)
{
    const double p = s.m_cyclesPerSample;
    const std::int32_t count = s.m_sampleCount;
    switch (s.m_waveform) {
    case kSine:
        if (fill) {
            FillSineSamples(FastestSinePath(), p, count, g_sampleBuffer);
        }
        Format(kSineStatus, {s.m_frequency});
        return SynthesisResult::Ready;
    case kTriangle:
        if (fill) {
            FillTriangle(p, count);
        }
        Format(kTriangleStatus, {s.m_frequency});
        return SynthesisResult::Ready;
    case kSquare:
        if (fill) {
            FillTwoLevel(p, count, 1 / (p + p), kHighLevel);
        }
        Format(kSquareStatus, {s.m_frequency});
        return SynthesisResult::Ready;
    case kPulse:
        if (1.0 / p < kShortestPulsePeriod) {
            return Refuse(kPulseTooFastText, {s.m_sampleRate * kPulseMessageFactor});
        }
        if (fill) {
            FillTwoLevel(p, count, 1 / (p * kShortestPulsePeriod), 0);
        }
        Format(kPulseStatus, {s.m_frequency});
        return SynthesisResult::Ready;
    case kWhiteNoise:
        if (fill) {
            FillNoise(noise, count);
        }
        Format(kNoiseStatus, {s.m_sampleRate / count});
        return SynthesisResult::Ready;
    case kHeldWhiteNoise:
        if (fill) {
            FillHeldNoise(noise, count);
        }
        Format(kHeldNoiseStatus, {s.m_sampleRate / count});
        return SynthesisResult::Ready;
    case kSweepingSine:
        return SynthesizeSweep(s, fill);
    default:
        return Refuse(kUnknownWaveformText);
    }
}

}  // namespace

namespace {

SynthesisResult Synthesize(GeneratorState& state, NoiseGenerator& noise, bool fill)
{
    state.m_cyclesPerSample = state.m_frequency / state.m_sampleRate;
    const double nominalCount = state.m_bufferSeconds * state.m_sampleRate;
    state.m_sampleCount = TruncateToInt32(nominalCount);
    if (!(std::trunc(nominalCount) <= kSampleBufferCapacity)) {
        return Refuse(kTooLongText);
    }
    return SynthesizeSelected(state, noise, fill);
}

}  // namespace

SynthesisResult SynthesizeWaveform(GeneratorState& state, NoiseGenerator& noise)
{
    return Synthesize(state, noise, true);
}

SynthesisResult SynthesizeWaveform(GeneratorState& state, const ShapeSettings& shape,
                                   NoiseGenerator& noise, bool fired)
{
    if (UsesShaping(state.m_waveform, shape)) {
        return SynthesizeShaped(state, shape, true, fired);
    }
    return Synthesize(state, noise, true);
}

SynthesisResult CheckWaveform(GeneratorState& state, const ShapeSettings& shape, bool fired)
{
    if (UsesShaping(state.m_waveform, shape)) {
        return SynthesizeShaped(state, shape, false, fired);
    }
    return CheckWaveform(state);
}

SynthesisResult CheckWaveform(GeneratorState& state)
{
    NoiseGenerator untouched;  // (not drawn from without a fill)
    return Synthesize(state, untouched, false);
}
