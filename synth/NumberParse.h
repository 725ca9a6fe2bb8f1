#pragma once

// The value of text as C's atof gives it in the "C" locale: leading white
// space skipped, the longest numeric prefix converted, 0.0 without one.
// Independent of the process locale.
double ParseDoubleC(const char* text);
