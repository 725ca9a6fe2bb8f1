#pragma once

#include <cstdint>

// The arguments of sin for the sine and the sweep, in the order of
// operations the buffers are defined by, written once for a double and for
// a vector of doubles alike. Everything here has internal linkage: this
// header is also compiled into translation units built for wider
// instruction sets, whose copies must never stand in for the plain ones.
namespace {
namespace sine {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kAmplitude = 32767.9999;
constexpr double kTwoThirds = 0.6666666666666666;

template <class T>
T SineArgument(T i, double p)
{
    return (i * p) * kTwoPi;
}

template <class T>
T SweepArgument(T i, double p, double length)
{
    return ((((i / length) + 0.5) * kTwoThirds) * i) * p * kTwoPi;
}

// TruncateSample again, with internal linkage: an AVX build of an inline
// function with external linkage could be the copy that plain code runs.
inline std::int16_t Truncate(double value)
{
    return static_cast<std::int16_t>(static_cast<std::int32_t>(value));
}

}  // namespace sine
}  // namespace
