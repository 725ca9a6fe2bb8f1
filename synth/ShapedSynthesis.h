#pragma once

#include "GeneratorState.h"
#include "ShapeSettings.h"
#include "WaveformSynthesis.h"

// Whether a waveform repeats one cycle of its frequency (so a burst or a
// sweep can be made of it, and a switch to or from it keeps the phase).
bool IsPeriodic(int waveform);

// Whether a waveform with these settings is made here rather than as the
// window makes it: the ramp and the arbitrary waveform always, the others
// once a parameter, phase, burst or sweep differs from the window's.
bool UsesShaping(int waveform, const ShapeSettings& shape);

// The loop of a shaped waveform into g_sampleBuffer (with `fill`), its
// status line or refusal into g_messageText, and m_cyclesPerSample and
// m_sampleCount, as the synthesis does for the window's waveforms. A
// triggered burst or sweep is silence until `fired`; fired, it is the
// burst or sweep once, then kTriggerIdleSamples of silence, looped from
// there: the loop's last kTriggerIdleSamples are what repeats.
SynthesisResult SynthesizeShaped(GeneratorState& state, const ShapeSettings& shape, bool fill,
                                 bool fired);

// The value (-1 to 1) of a periodic waveform at `x` (0 to 1) of its cycle,
// before it becomes a sample; `cyclesPerSample` sizes a pulse's width and
// edges in samples.
double ShapeValue(int waveform, const ShapeSettings& shape, double x, double cyclesPerSample);
