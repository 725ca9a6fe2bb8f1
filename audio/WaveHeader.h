#pragma once

#include <cstdint>

// dwFlags bits. The caller sets the loop bits; the wave output adds and
// removes the state bits while it holds the header.
inline constexpr std::uint32_t WHDR_DONE = 0x01;
inline constexpr std::uint32_t WHDR_PREPARED = 0x02;
inline constexpr std::uint32_t WHDR_BEGINLOOP = 0x04;
inline constexpr std::uint32_t WHDR_ENDLOOP = 0x08;
inline constexpr std::uint32_t WHDR_INQUEUE = 0x10;

// The largest pass count, which the dialog asks for: at a second a pass, it
// would play for 136 years, so it stands for "until reset".
inline constexpr std::uint32_t kLoopForever = 0xFFFFFFFFu;

// One caller-owned buffer for the wave output, played in place.
struct WaveHeader {
    char* lpData = nullptr;
    std::uint32_t dwBufferLength = 0;  // bytes
    std::uint32_t dwBytesRecorded = 0;
    std::uintptr_t dwUser = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwLoops = 0;  // passes to play, with WHDR_BEGINLOOP | WHDR_ENDLOOP
    WaveHeader* lpNext = nullptr;
    std::uintptr_t reserved = 0;
};
