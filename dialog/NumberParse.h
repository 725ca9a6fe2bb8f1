#pragma once

#include <cstddef>

// The value of the longest prefix of text that forms a decimal number, as
// C's atof reads it in the "C" locale, or 0.0 when there is none: leading
// white space, an optional sign, digits with at most one decimal point, and
// an optional exponent (e or E, an optional sign, digits). No "inf", "nan"
// or hexadecimal forms, whatever the C library would take; a decimal text
// too large for a double is infinite, one too small is 0 or subnormal.
// Independent of the process locale.
double ParseDecimal(const char* text);

// The same reading, telling how much of text it used (white space included);
// false, with value 0.0 and used 0, when text starts with no number.
bool ParseDecimalPrefix(const char* text, double& value, std::size_t& used);
