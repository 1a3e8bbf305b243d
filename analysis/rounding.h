// Rounding of measured values to integers.
#pragma once
#include "base/types.h"

// x taken as a single-precision value; halves go away from zero.
i32 round_half_away(float x);
