#include "FrequencyScale.h"

#include <cmath>

#include "NumberRules.h"

double FrequencyFromScrollPos(const GeneratorState& state, unsigned position)
{
    const double x = static_cast<double>(position) / static_cast<double>(state.m_sliderSteps);
    return state.m_minFrequency + x * ((state.m_maxFrequency - state.m_minFrequency) * x);
}

int ScrollPosFromFrequency(const GeneratorState& state, double frequency)
{
    const double r =
        (frequency - state.m_minFrequency) / (state.m_maxFrequency - state.m_minFrequency);
    return TruncateToInt32(std::sqrt(r) * state.m_sliderSteps + 0.5);
}
