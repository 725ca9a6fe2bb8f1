#pragma once

#include <cstdint>

// Linear congruential generator shared by both noises. Its state starts at 1
// and is never reseeded, so it runs on from one synthesis to the next.
class NoiseGenerator {
public:
    // Advances the state and yields a value from 0 to 32767.
    std::int16_t Next()
    {
        m_state = m_state * 214013u + 2531011u;
        return static_cast<std::int16_t>((m_state >> 16) & 0x7FFFu);
    }

private:
    std::uint32_t m_state = 1;
};

extern NoiseGenerator g_noise;
