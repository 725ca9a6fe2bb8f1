#pragma once

#include <cstddef>
#include <initializer_list>

// One argument of FormatText: "%.3f" reads it as a double, "%d" as an int.
struct FormatArg {
    FormatArg(double value) : real(value), whole(0) {}
    FormatArg(int value) : real(value), whole(value) {}

    double real;
    int whole;
};

// Longest text FormatFixed3 produces: sign, 309 integer digits, ".000".
inline constexpr std::size_t kFixed3MaxLength = 1 + 309 + 4;

// Writes value as "%.3f" would, into out (which must hold kFixed3MaxLength
// characters; no terminator) and returns the length. A value lying exactly
// halfway between two three-decimal values goes away from zero (2.0625 ->
// "2.063"). Exact, and independent of the locale and the rounding mode.
std::size_t FormatFixed3(double value, char* out);

// A locale-free snprintf for the conversions the system uses: "%.3f", "%d"
// and "%%". Truncates to fit size, always terminates, returns the length.
std::size_t FormatText(char* out, std::size_t size, const char* format,
                       std::initializer_list<FormatArg> args = {});
