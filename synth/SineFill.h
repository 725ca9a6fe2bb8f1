#pragma once

#include <cstdint>

// How the sine and the sweep take their sines: glibc's scalar sin once a
// sample, or its vector sin (libmvec) four or eight at a time. Every path
// gives the same samples, bit for bit.
enum class SinePath { Scalar, Avx2, Avx512 };

// Whether this build and this processor can take the path.
bool SinePathSupported(SinePath path);
// The fastest supported path, chosen once by the processor's features.
SinePath FastestSinePath();

// out[i] = trunc(sin((i * p) * 2pi) * 32767.9999) for i < count.
void FillSineSamples(SinePath path, double p, std::int32_t count, std::int16_t* out);
// out[i] = trunc(sin(((((i / length) + 0.5) * 2/3) * i) * p * 2pi) * 32767.9999).
void FillSweepSamples(SinePath path, double p, double length, std::int32_t count,
                      std::int16_t* out);
