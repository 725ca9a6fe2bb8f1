#pragma once

#include <cstdint>

// The only sample storage: every waveform is computed into it and the device
// plays it in place. Its capacity is the largest sample count accepted.
inline constexpr std::int32_t kSampleBufferCapacity = 1048576;

extern std::int16_t g_sampleBuffer[kSampleBufferCapacity];
