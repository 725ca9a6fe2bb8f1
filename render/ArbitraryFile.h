#pragma once

#include <string>
#include <vector>

// Reads an arbitrary waveform's points for --arb: numbers from -1 to 1, one
// a line (blank lines skipped), or, from a file whose name ends in ".raw",
// 16-bit little-endian codes where 32767 is 1. Returns "" and the points,
// or why the file cannot be read as points.
std::string ReadArbitraryFile(const std::string& path, std::vector<double>& points);
