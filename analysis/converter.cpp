#include "analysis/converter.h"

#include <cmath>

u16 converter_count(double count, u32 top, u64* clipped)
{
    const double c = std::nearbyint(count);
    if (!(c >= 0)) {
        ++*clipped;
        return 0;
    }
    if (c > top) {
        ++*clipped;
        return static_cast<u16>(top);
    }
    return static_cast<u16>(c);
}
