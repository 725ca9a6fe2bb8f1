#include "OutputLevel.h"

#include <algorithm>
#include <cmath>

void ScaleSamples(std::int16_t* samples, std::size_t count, double level)
{
    if (level == 1.0) {
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<std::int16_t>(std::lround(samples[i] * level));
    }
}

void InvertSamples(std::int16_t* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<std::int16_t>(-std::max<int>(samples[i], -32767));
    }
}

void CentreNoise(std::int16_t* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<std::int16_t>(samples[i] - kNoiseCentre);
    }
}
