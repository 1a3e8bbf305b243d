// The live vibrometer as the headless runner runs it: the whole instrument
// with virtual time, measurement on. "realtime_x" is how many seconds of
// instrument time run per second of wall time while it measures.
#include <benchmark/benchmark.h>

#include "bench/live.h"
#include "host/device.h"

namespace {

constexpr u64 OPEN_AT_MS = 1500;   // Enter on the main menu's first item
constexpr u64 START_AT_MS = 1800;  // Enter starts the measurement
constexpr u64 MEASURE_MS = 20000;

void BM_LiveVibrometer(benchmark::State& state)
{
    BenchFolder folder;
    if (!folder.error().empty()) {
        state.SkipWithError(folder.error().c_str());
        return;
    }
    double ratio = 0;
    for (auto _ : state) {
        ratio = run_live(START_AT_MS, MEASURE_MS, [](u64 ms) {
            if (ms == OPEN_AT_MS || ms == START_AT_MS) key_post(KEY_ENTER);
        });
    }
    state.counters["realtime_x"] = ratio;
}
BENCHMARK(BM_LiveVibrometer)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
