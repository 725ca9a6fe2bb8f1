#pragma once

#include <math.h>

#include <cstdint>

#include "SineArguments.h"

// The vector kernel, included by one translation unit per instruction set.
// It calls only the C library's own functions, never an inline one from a
// C++ header, which the linker could share with code built for any x86-64.
//
// Why the samples cannot differ from the scalar path's: a sample is
// trunc(sin(x) * 32767.9999), and the arguments x and the product are the
// same IEEE operations in the same order on either path; only sin itself
// differs. glibc documents at most 4 ulp of error for its vector sin, which
// is below 1e-15 absolute for |sin| <= 1 and below 4e-11 once scaled. Such an
// error can change a truncated sample only when the scaled value lies that
// close to a non-zero whole number (near 0 every value truncates to 0
// anyway). So every sample whose scaled vector value lies within 1e-6 of a
// non-zero whole number, a margin 10^4 times the worst error, takes the
// scalar sin again; about two samples in a million do.
namespace {
namespace sine {

constexpr double kMargin = 1e-6;

// Fills out[0..count) W samples at a time. Isa gives the vector type V of W
// doubles and, on it: Sin (the vector sine), NearWholeMask (a bit for each
// lane within the margin of a non-zero whole number) and StoreTruncated
// (the lanes truncated toward zero, as 16-bit samples). argument(index)
// gives the arguments of W consecutive samples.
template <class Isa, class Argument>
void FillVector(Argument argument, std::int32_t count, std::int16_t* out)
{
    using V = typename Isa::V;
    constexpr int W = Isa::kWidth;
    V lanes{};
    for (int k = 0; k < W; ++k) {
        lanes[k] = k;
    }
    std::int32_t i = 0;
    for (; i + W <= count; i += W) {
        const V x = argument(lanes + static_cast<double>(i));
        V scaled = Isa::Sin(x) * kAmplitude;
        if (const unsigned near = Isa::NearWholeMask(scaled); near != 0) {
            for (int k = 0; k < W; ++k) {
                if ((near >> k) & 1u) {
                    scaled[k] = ::sin(x[k]) * kAmplitude;
                }
            }
        }
        Isa::StoreTruncated(scaled, out + i);
    }
    for (; i < count; ++i) {
        V single{};
        single[0] = static_cast<double>(i);
        out[i] = Truncate(::sin(argument(single)[0]) * kAmplitude);
    }
}

template <class Isa>
void FillSine(double p, std::int32_t count, std::int16_t* out)
{
    FillVector<Isa>([p](typename Isa::V i) { return SineArgument(i, p); }, count, out);
}

template <class Isa>
void FillSweep(double p, double length, std::int32_t count, std::int16_t* out)
{
    FillVector<Isa>([p, length](typename Isa::V i) { return SweepArgument(i, p, length); }, count,
                    out);
}

}  // namespace sine
}  // namespace
