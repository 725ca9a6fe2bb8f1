#include "ShapedSynthesis.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include "MessageText.h"
#include "NumberRules.h"
#include "SampleBuffer.h"
#include "TextFormat.h"

namespace {

// As the window's sine scales its values: full scale is +-32767.
constexpr double kSampleScale = 32767.9999;
constexpr double kPercent = 100.0;
constexpr double kDegrees = 360.0;
constexpr double kPulseShare = 0.01;  // the 1:100 pulse

constexpr const char* kRampStatus = "This is a ramp wave, %.3f Hz, rising %.3f%% of the period\n";
constexpr const char* kArbitraryStatus =
    "This is an arbitrary waveform of %d points, %.3f Hz, interpolated linearly\n";
constexpr const char* kDutyText =
    "the duty cycle leaves less than a sample high or low: at %.3f Hz it is %.3f to %.3f%%";
constexpr const char* kPulseEdgeText = "the pulse width is less than its edge time";
constexpr const char* kNoPointsText = "no arbitrary waveform is selected";
constexpr const char* kNotPeriodicText = "a burst or a sweep needs a periodic waveform";
constexpr const char* kBurstTooLongText =
    "%d cycles do not fit the burst period: lengthen it to more than %.3f s";
constexpr const char* kEndlessBurstText =
    "an endless burst needs a trigger: set TRIGger:SOURce BUS";
constexpr const char* kSweepTooLongText = "the sweep does not fit the buffer: at most %.3f s";
constexpr const char* kSweepLimitText = "the sweep runs from above 0 Hz to at most %.3f Hz";
constexpr const char* kEndlessBurstStatus = "An endless burst from a trigger";
constexpr const char* kBurstStatus = "A burst of %d cycles every %.3f s";
constexpr const char* kSweepStatus = "A sweep from %.3f to %.3f Hz in %.3f s";

SynthesisResult Refuse(const char* format, std::initializer_list<FormatArg> args = {})
{
    FormatText(g_messageText, kMessageTextSize, format, args);
    return SynthesisResult::Refused;
}

double Fraction(double cycles)
{
    return cycles - std::floor(cycles);
}

double RampValue(double symmetry, double x)
{
    const double s = symmetry / kPercent;
    // x = 0 is the rising zero crossing, as for the sine.
    const double u = Fraction(x + s / 2);
    return u < s ? -1 + 2 * u / s : 1 - 2 * (u - s) / (1 - s);
}

// Low for its width between the half-height points, 0 otherwise; each
// edge moves in equal steps over its time, and one of a single sample is
// a step, as the window's pulse has.
double PulseValue(const ShapeSettings& shape, double x, double p)
{
    const double t = x / p;  // samples into the cycle
    const double width =
        shape.pulseWidth > 0.0 ? shape.pulseWidth * kDefaultSampleRate : kPulseShare / p;
    const double edge = std::max(1.0, shape.pulseEdge * kDefaultSampleRate);
    const double rising = std::min(1.0, (t + 1) / edge);
    const double falling = std::clamp(1 - (t - width + 1) / edge, 0.0, 1.0);
    return -std::min(rising, falling);
}

// Linear between the points, the last joined to the first.
double ArbitraryValue(const std::vector<double>& points, double x)
{
    const double at = x * static_cast<double>(points.size());
    const auto index = std::min(static_cast<std::size_t>(at), points.size() - 1);
    const double next = points[(index + 1) % points.size()];
    return points[index] + (next - points[index]) * (at - static_cast<double>(index));
}

}  // namespace

bool IsPeriodic(int waveform)
{
    return waveform <= kPulse || waveform == kRamp || waveform == kArbitrary;
}

double ShapeValue(int waveform, const ShapeSettings& shape, double x, double cyclesPerSample)
{
    switch (waveform) {
    case kTriangle:
        return x < 0.25 ? 4 * x : x < 0.75 ? 2 - 4 * x : 4 * x - 4;
    case kSquare:
        return x < 1 - shape.dutyCycle / kPercent ? -1.0 : 1.0;
    case kPulse:
        return PulseValue(shape, x, cyclesPerSample);
    case kRamp:
        return RampValue(shape.symmetry, x);
    case kArbitrary:
        return shape.points ? ArbitraryValue(*shape.points, x) : 0.0;
    default:
        return std::sin(x * 2 * std::numbers::pi);
    }
}

bool UsesShaping(int waveform, const ShapeSettings& shape)
{
    static const ShapeSettings kWindow;
    if (shape.burst || shape.sweep) {
        return true;  // (refused for the noises and the sweeping sine)
    }
    return waveform == kRamp || waveform == kArbitrary ||
           (IsPeriodic(waveform) && shape.phase != kWindow.phase) ||
           (waveform == kSquare && shape.dutyCycle != kWindow.dutyCycle) ||
           (waveform == kPulse &&
            (shape.pulseWidth != kWindow.pulseWidth || shape.pulseEdge != kWindow.pulseEdge));
}

namespace {

// Where each sample is in its cycle, and whether it sounds at all.
class CycleClock {
public:
    CycleClock(const GeneratorState& state, const ShapeSettings& shape)
        : m_shape(shape), m_p(state.m_cyclesPerSample), m_rate(state.m_sampleRate)
    {
    }

    // False for a sample of silence (after a burst's cycles).
    bool At(std::int32_t i, double& x) const
    {
        const double n = i;
        if (m_shape.burst) {
            const double cycles = n * m_p;
            x = Fraction(cycles + m_shape.burstPhase / kDegrees);
            return m_shape.burstCycles == 0 || cycles < m_shape.burstCycles;
        }
        x = Fraction((m_shape.sweep ? SweepCycles(n / m_rate) : n * m_p) +
                     m_shape.phase / kDegrees);
        return true;
    }

private:
    // Cycles since the sweep began, t seconds ago: the frequency's integral.
    double SweepCycles(double t) const
    {
        const double f0 = m_shape.sweepStart;
        const double f1 = m_shape.sweepStop;
        const double T = m_shape.sweepTime;
        if (!m_shape.logSweep || f0 == f1) {
            return f0 * t + (f1 - f0) * t * t / (2 * T);
        }
        const double k = std::log(f1 / f0);
        return f0 * T / k * std::expm1(k * t / T);
    }

    const ShapeSettings& m_shape;
    double m_p;
    double m_rate;
};

void FillShaped(const GeneratorState& state, const ShapeSettings& shape, std::int32_t active)
{
    const CycleClock clock(state, shape);
    for (std::int32_t i = 0; i < state.m_sampleCount; ++i) {
        double x = 0.0;
        const bool sounds = i < active && clock.At(i, x);
        const double value =
            sounds ? ShapeValue(state.m_waveform, shape, x, state.m_cyclesPerSample) : 0.0;
        g_sampleBuffer[i] = static_cast<std::int16_t>(value * kSampleScale);
    }
}

SynthesisResult CheckParameters(const GeneratorState& s, const ShapeSettings& shape)
{
    const double p = s.m_cyclesPerSample;
    if ((shape.burst || shape.sweep) && !IsPeriodic(s.m_waveform)) {
        return Refuse(kNotPeriodicText);
    }
    if (s.m_waveform == kSquare &&
        !(shape.dutyCycle >= kPercent * p && shape.dutyCycle <= kPercent * (1 - p))) {
        return Refuse(kDutyText, {s.m_frequency, kPercent * p, kPercent * (1 - p)});
    }
    if (s.m_waveform == kPulse && shape.pulseWidth > 0.0) {
        const double edge = std::max(shape.pulseEdge, 1 / s.m_sampleRate);
        if (shape.pulseWidth < edge) {
            return Refuse(kPulseEdgeText);
        }
        if (1 / s.m_frequency < shape.pulseWidth + edge) {
            return Refuse(kPulseTooFastText, {1 / (shape.pulseWidth + edge)});
        }
    } else if (s.m_waveform == kPulse && 1.0 / p < 1 / kPulseShare) {
        return Refuse(kPulseTooFastText, {s.m_sampleRate * kPulseShare});
    }
    if (s.m_waveform == kArbitrary && (!shape.points || shape.points->empty())) {
        return Refuse(kNoPointsText);
    }
    return SynthesisResult::Ready;
}

// The samples the loop holds and, of them, those that sound.
SynthesisResult LoopLength(GeneratorState& s, const ShapeSettings& shape, bool fired,
                           std::int32_t& active)
{
    const double capacity = kSampleBufferCapacity;
    const double idle = fired ? kTriggerIdleSamples : 0.0;
    double length = s.m_bufferSeconds * s.m_sampleRate;
    if (shape.sweep) {
        const double most = (capacity - kTriggerIdleSamples) / s.m_sampleRate;
        if (!(shape.sweepStart > 0.0 && shape.sweepStop > 0.0 &&
              std::max(shape.sweepStart, shape.sweepStop) <= s.m_maxFrequency)) {
            return Refuse(kSweepLimitText, {s.m_maxFrequency});
        }
        if (!(shape.sweepTime * s.m_sampleRate >= 1.0 && shape.sweepTime <= most)) {
            return Refuse(kSweepTooLongText, {most});
        }
        length = std::round(shape.sweepTime * s.m_sampleRate);
    } else if (shape.burst && shape.burstCycles == 0 && shape.triggered) {
        length = s.m_bufferSeconds * s.m_sampleRate;  // fired, it plays on
    } else if (shape.burst && shape.burstCycles == 0) {
        return Refuse(kEndlessBurstText);
    } else if (shape.burst) {
        const double sounding = std::ceil(shape.burstCycles / s.m_cyclesPerSample);
        const double period = std::round(shape.burstPeriod * s.m_sampleRate);
        if (!(sounding <= (shape.triggered ? capacity - idle : period))) {
            return Refuse(kBurstTooLongText, {shape.burstCycles, sounding / s.m_sampleRate});
        }
        length = shape.triggered ? sounding : period;
    }
    active = TruncateToInt32(length);
    if (shape.triggered && (shape.burst || shape.sweep) && !fired) {
        active = 0;
        length = kTriggerIdleSamples;  // armed: silence until a trigger
    } else if (fired && !(shape.burst && shape.burstCycles == 0)) {
        length += idle;
    }
    s.m_sampleCount = TruncateToInt32(length);
    if (!(length >= 1.0 && length <= capacity)) {
        return Refuse(kTooLongText);
    }
    return SynthesisResult::Ready;
}

const char* ShapeName(int waveform)
{
    static constexpr const char* kNames[] = {"sine wave",    "triangle wave", "square wave",
                                             "pulse wave",   "noise",         "noise",
                                             "sweeping sine"};
    return waveform >= 0 && waveform < static_cast<int>(std::size(kNames)) ? kNames[waveform]
                                                                           : "waveform";
}

void FormatStatus(const GeneratorState& s, const ShapeSettings& shape)
{
    char* out = g_messageText;
    std::size_t room = kMessageTextSize;
    std::size_t used = 0;
    if (s.m_waveform == kRamp) {
        used = FormatText(out, room, kRampStatus, {s.m_frequency, shape.symmetry});
    } else if (s.m_waveform == kArbitrary) {
        used = FormatText(out, room, kArbitraryStatus,
                          {static_cast<int>(shape.points->size()), s.m_frequency});
    } else {
        const std::string line =
            std::string("This is a ") + ShapeName(s.m_waveform) + ", %.3f Hz\n";
        used = FormatText(out, room, line.c_str(), {s.m_frequency});
    }
    if (shape.burst && shape.burstCycles == 0) {
        FormatText(out + used, room - used, kEndlessBurstStatus);
    } else if (shape.burst) {
        FormatText(out + used, room - used, kBurstStatus,
                   {static_cast<int>(shape.burstCycles), shape.burstPeriod});
    } else if (shape.sweep) {
        FormatText(out + used, room - used, kSweepStatus,
                   {shape.sweepStart, shape.sweepStop, shape.sweepTime});
    }
}

}  // namespace

SynthesisResult SynthesizeShaped(GeneratorState& state, const ShapeSettings& shape, bool fill,
                                 bool fired)
{
    state.m_cyclesPerSample = state.m_frequency / state.m_sampleRate;
    std::int32_t active = 0;
    if (CheckParameters(state, shape) == SynthesisResult::Refused ||
        LoopLength(state, shape, fired, active) == SynthesisResult::Refused) {
        return SynthesisResult::Refused;
    }
    if (fill) {
        FillShaped(state, shape, active);
    }
    FormatStatus(state, shape);
    return SynthesisResult::Ready;
}
