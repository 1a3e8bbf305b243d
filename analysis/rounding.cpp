#include "analysis/rounding.h"

i32 round_half_away(float x)
{
    const i32 whole = static_cast<i32>(x);  // truncated toward zero
    const float frac = x - static_cast<float>(whole);
    if (frac >= 0.5f) return whole + 1;
    if (frac <= -0.5f) return whole - 1;
    return whole;
}
