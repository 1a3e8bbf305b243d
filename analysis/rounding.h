// Rounding of measured values to integers.
#pragma once
#include "base/types.h"

// x taken as a single-precision value; halves go away from zero. Values
// beyond the i32 range give INT32_MAX or INT32_MIN, NaN gives 0.
i32 round_half_away(float x);
