#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// Double to int32 by truncation toward zero. Values outside the int32 range
// saturate and NaN gives 0, so no conversion is ever undefined.
inline std::int32_t TruncateToInt32(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 2147483648.0) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value <= -2147483649.0) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}
