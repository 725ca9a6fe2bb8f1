#include "SineFill.h"

#include <cmath>

#include "SineArguments.h"

#if WAVEGEN_VECTOR_SINE
// Built in translation units of their own, for their own instruction sets.
void FillSineAvx2(double p, std::int32_t count, std::int16_t* out);
void FillSweepAvx2(double p, double length, std::int32_t count, std::int16_t* out);
void FillSineAvx512(double p, std::int32_t count, std::int16_t* out);
void FillSweepAvx512(double p, double length, std::int32_t count, std::int16_t* out);
#endif

bool SinePathSupported(SinePath path)
{
    switch (path) {
    case SinePath::Scalar:
        return true;
#if WAVEGEN_VECTOR_SINE
    case SinePath::Avx2:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case SinePath::Avx512:
        return __builtin_cpu_supports("avx512f");
#endif
    default:
        return false;
    }
}

SinePath FastestSinePath()
{
    static const SinePath fastest = SinePathSupported(SinePath::Avx512) ? SinePath::Avx512
                                    : SinePathSupported(SinePath::Avx2) ? SinePath::Avx2
                                                                        : SinePath::Scalar;
    return fastest;
}

void FillSineSamples(SinePath path, double p, std::int32_t count, std::int16_t* out)
{
#if WAVEGEN_VECTOR_SINE
    if (path == SinePath::Avx512) {
        return FillSineAvx512(p, count, out);
    }
    if (path == SinePath::Avx2) {
        return FillSineAvx2(p, count, out);
    }
#endif
    static_cast<void>(path);
    for (std::int32_t i = 0; i < count; ++i) {
        out[i] = sine::Truncate(std::sin(sine::SineArgument(static_cast<double>(i), p)) *
                                sine::kAmplitude);
    }
}

void FillSweepSamples(SinePath path, double p, double length, std::int32_t count, std::int16_t* out)
{
#if WAVEGEN_VECTOR_SINE
    if (path == SinePath::Avx512) {
        return FillSweepAvx512(p, length, count, out);
    }
    if (path == SinePath::Avx2) {
        return FillSweepAvx2(p, length, count, out);
    }
#endif
    static_cast<void>(path);
    for (std::int32_t i = 0; i < count; ++i) {
        out[i] = sine::Truncate(std::sin(sine::SweepArgument(static_cast<double>(i), p, length)) *
                                sine::kAmplitude);
    }
}
