#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "GeneratorState.h"

// What the instrument and the tool can ask of a waveform beyond the window's
// frequency: the shapes' parameters, phase, polarity, bursts, sweeps and
// arbitrary waveforms. The defaults leave every waveform as the window
// plays it.
struct ShapeSettings {
    double symmetry = 100.0;  // ramp: percent of the period it rises
    double dutyCycle = 50.0;  // square: percent of the period it is high
    // Pulse: seconds between the half-height points, and the time each
    // edge takes; a width of 0 is the 1:100 pulse, a hundredth of the
    // period, and an edge of one sample is a step.
    double pulseWidth = 0.0;
    double pulseEdge = 1.0 / kDefaultSampleRate;
    double phase = 0.0;  // degrees, the waveform against its time origin
    bool inverted = false;

    // Bursts: `burstCycles` cycles (0: endless) from `burstPhase` degrees,
    // every `burstPeriod` seconds, or once a trigger.
    bool burst = false;
    std::int32_t burstCycles = 1;
    double burstPeriod = 0.01;
    double burstPhase = 0.0;
    // Sweeps: from `sweepStart` to `sweepStop` hertz in `sweepTime`
    // seconds, linearly or by equal ratios, again and again or once a
    // trigger.
    bool sweep = false;
    double sweepStart = 100.0;
    double sweepStop = 1000.0;
    double sweepTime = 1.0;
    bool logSweep = false;
    // Bursts and sweeps wait for a trigger instead of repeating.
    bool triggered = false;

    // The arbitrary waveform's points, -1 to 1, one period.
    std::shared_ptr<const std::vector<double>> points;

    bool operator==(const ShapeSettings&) const = default;
};

// The most points an arbitrary waveform takes.
inline constexpr std::size_t kMostArbitraryPoints = 16384;
inline constexpr std::size_t kLeastArbitraryPoints = 2;
// The silence after a triggered burst or sweep, looped until the next one.
inline constexpr std::int32_t kTriggerIdleSamples = 4800;
