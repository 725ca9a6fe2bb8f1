#pragma once

#include "GeneratorState.h"

// The square law between slider positions 0..m_sliderSteps and frequencies
// m_minFrequency..m_maxFrequency; low frequencies get most of the travel.
double FrequencyFromScrollPos(const GeneratorState& state, unsigned position);
int ScrollPosFromFrequency(const GeneratorState& state, double frequency);
