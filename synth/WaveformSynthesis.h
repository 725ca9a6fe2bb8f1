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
};

enum class SynthesisResult { Ready, Refused };

// Computes one looping buffer of the selected waveform into g_sampleBuffer and
// formats its status line into g_messageText; or, when the buffer cannot be
// made, formats the refusal into g_messageText and writes no sample.
// m_cyclesPerSample, m_sampleCount (and m_sweepLength for the sweep) are set
// either way.
SynthesisResult SynthesizeWaveform(GeneratorState& state, NoiseGenerator& noise);
// The same checks, refusals, counts and status text, without filling the
// buffer or drawing noise: what a setting costs before anything plays.
SynthesisResult CheckWaveform(GeneratorState& state);

// The length in samples of one sweep of the sweeping sine: 100 cycles of its
// lowest frequency, twice over.
double SweepLength(double frequency, double sampleRate);
