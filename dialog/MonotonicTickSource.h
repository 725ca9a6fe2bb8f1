#pragma once

#include "ITickSource.h"

// The tick count from the monotonic clock, wrapping like a 32-bit counter.
class MonotonicTickSource : public ITickSource {
public:
    std::uint32_t GetTickCount() override;
};
