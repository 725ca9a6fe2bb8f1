#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes a loop buffer `repeat` times in a row to a file (or "-" for stdout)
// as a 16-bit mono WAV file, or as bare little-endian samples. The file is
// written under a temporary name and renamed into place, so an existing file
// is only replaced by a complete one. Returns an empty string or the reason
// for a failure.
std::string WriteLoopFile(const std::string& path, const std::int16_t* samples, std::size_t count,
                          unsigned sampleRate, unsigned repeat, bool raw);
