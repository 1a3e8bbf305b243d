// The measuring module's converter as the signal sources see it.
#pragma once
#include "base/types.h"

// A converter count from a value in counts, clipped at 0 and `top` as an
// overloaded converter clips (a count that is not a number, from an
// overflow upstream, at 0); each clip adds one to `*clipped`.
u16 converter_count(double count, u32 top, u64* clipped);
