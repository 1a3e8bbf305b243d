// Rounding of measured values to integers.
#pragma once
#include <cmath>
#include <cstdint>

#include "base/types.h"

// x taken as a single-precision value; halves go away from zero. Values
// beyond the i32 range give INT32_MAX or INT32_MIN, NaN gives 0. Inline and
// without a branch on the fraction: the synthesis rounds every sample.
inline i32 round_half_away(float x)
{
    if (std::isnan(x)) return 0;
    // 2^31 is the first float past INT32_MAX.
    if (x >= 2147483648.0f) return INT32_MAX;
    if (x <= -2147483648.0f) return INT32_MIN;
    const i32 whole = static_cast<i32>(x);  // truncated toward zero
    const float frac = x - static_cast<float>(whole);
    return whole + static_cast<i32>(frac >= 0.5f) - static_cast<i32>(frac <= -0.5f);
}
