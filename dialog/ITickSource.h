#pragma once

#include <cstdint>

// Milliseconds since some fixed point, as an unsigned 32-bit count that wraps
// to 0 after 4294967295.
class ITickSource {
public:
    virtual ~ITickSource() = default;
    virtual std::uint32_t GetTickCount() = 0;
};
