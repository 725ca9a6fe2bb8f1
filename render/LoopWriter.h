#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The largest sample data a WAV file can describe: its RIFF size field is
// 32 bits and counts the 36 bytes of header after it.
inline constexpr std::uint64_t kMostWavDataBytes = 0xFFFFFFFFull - 36;

// Writes a loop buffer `repeat` times in a row to an open descriptor: a
// 16-bit WAV file of `channels` interleaved channels whose header goes first (its sizes are known
// before the first sample), or bare little-endian samples. Nothing is ever sought, so a pipe or a
// device takes it as well as a file. Returns an empty string or the reason for a failure.
std::string WriteLoop(int fd, const std::int16_t* samples, std::size_t count, unsigned sampleRate,
                      unsigned repeat, bool raw, unsigned channels = 1);
