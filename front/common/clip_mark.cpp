#include "front/common/clip_mark.h"

#include <algorithm>

#include "analysis/signal_source.h"

namespace {

constexpr double PERCENT = 100;
constexpr double CLIP_PERCENT_SHOWN_MIN = 0.1;
constexpr double NOT_CLIPPED = -1;

}  // namespace

double clip_percent_shown()
{
    const double share = signal_source_active() ? signal_source_clipping().last_share : 0.0;
    if (!(share > 0)) return NOT_CLIPPED;
    return std::max(share * PERCENT, CLIP_PERCENT_SHOWN_MIN);
}
