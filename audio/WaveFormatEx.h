#pragma once

#include <cstdint>

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

// Describes the PCM stream handed to the wave output when it is opened.
struct WaveFormatEx {
    std::uint16_t wFormatTag = 0;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint16_t cbSize = 0;
};
