#pragma once

#include <cstddef>
#include <cstdint>

// An output level below full scale: each sample times `level` (0 to 1),
// rounded to the nearest step, halves away from zero. At 1 every sample
// stays exactly as it was.
void ScaleSamples(std::int16_t* samples, std::size_t count, double level);

// The noises' samples (0 to 32767) shifted down by half their span, so that
// they centre on zero and a level scales them about it.
inline constexpr std::int16_t kNoiseCentre = 16384;
void CentreNoise(std::int16_t* samples, std::size_t count);

// The other polarity: each sample negated (they stay within +-32767).
void InvertSamples(std::int16_t* samples, std::size_t count);
