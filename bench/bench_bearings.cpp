// The bearing catalogue: looking up every designation of the built-in
// catalogue by bisection, as the bearing choice does for the stored name.
#include <benchmark/benchmark.h>

#include "data/bearing_table.h"
#include "screens/bearings.h"

static void BM_BearingFind(benchmark::State& state)
{
    bearing_catalogue_clear();
    const u32 count = bearing_unpack(BEARING_TABLE_PACKED, BEARING_TABLE_PACKED_SIZE);
    if (count == 0) {
        state.SkipWithError("the built-in catalogue does not unpack");
        return;
    }
    for (auto _ : state) {
        for (u32 i = 0; i < count; ++i) benchmark::DoNotOptimize(bearing_find(bearing_catalogue.records[i].name));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
    // Seconds per lookup (shown with its SI prefix, e.g. 150n = 150 ns).
    state.counters["per_lookup"] =
        benchmark::Counter(count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["records"] = count;
    bearing_catalogue_clear();
}
BENCHMARK(BM_BearingFind)->Unit(benchmark::kMicrosecond);
