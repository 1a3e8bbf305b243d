#include "analysis/rounding.h"

#include <cmath>
#include <cstdint>

i32 round_half_away(float x)
{
    // Outside the i32 range the result saturates; NaN has no nearest
    // integer and gives 0. 2^31 is the first float past INT32_MAX.
    if (std::isnan(x)) return 0;
    if (x >= 2147483648.0f) return INT32_MAX;
    if (x <= -2147483648.0f) return INT32_MIN;
    const i32 whole = static_cast<i32>(x);  // truncated toward zero
    const float frac = x - static_cast<float>(whole);
    if (frac >= 0.5f) return whole + 1;
    if (frac <= -0.5f) return whole - 1;
    return whole;
}
