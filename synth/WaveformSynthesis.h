#pragma once

#include "GeneratorState.h"
#include "NoiseGenerator.h"

// Waveform indices: the zero-based positions of the items in the list.
enum Waveform : int {
    kSine = 0,
    kTriangle = 1,
    kSquare = 2,
    kPulse = 3,
    kWhiteNoise = 4,
    kHeldWhiteNoise = 5,
    kSweepingSine = 6,
    // The instrument's and the tool's, numbered far from the window's list:
    // a list position past its end stays a waveform not yet defined.
    kRamp = 100,
    kArbitrary = 101,
};

enum class SynthesisResult { Ready, Refused };

// Refusals that the window's waveforms and the shaped ones both give.
inline constexpr const char* kTooLongText =
    "exceeding pre-allocated memory, try a lower sampling rate.\n";
inline constexpr const char* kPulseTooFastText = "decrease the frequency below %.3fHz";

// Computes one looping buffer of the selected waveform into g_sampleBuffer and
// formats its status line into g_messageText; or, when the buffer cannot be
// made, formats the refusal into g_messageText and writes no sample.
// m_cyclesPerSample, m_sampleCount (and m_sweepLength for the sweep) are set
// either way.
SynthesisResult SynthesizeWaveform(GeneratorState& state, NoiseGenerator& noise);
// The same checks, refusals, counts and status text, without filling the
// buffer or drawing noise: what a setting costs before anything plays.
SynthesisResult CheckWaveform(GeneratorState& state);
// The same, for a waveform with the instrument's shape settings: the
// window's synthesis while they are its own, the shaped one otherwise. A
// triggered burst or sweep is made `fired` or waiting (see ShapedSynthesis.h).
struct ShapeSettings;
SynthesisResult SynthesizeWaveform(GeneratorState& state, const ShapeSettings& shape,
                                   NoiseGenerator& noise, bool fired = false);
SynthesisResult CheckWaveform(GeneratorState& state, const ShapeSettings& shape,
                              bool fired = false);

// The length in samples of one sweep of the sweeping sine: 100 cycles of its
// lowest frequency, twice over.
double SweepLength(double frequency, double sampleRate);
