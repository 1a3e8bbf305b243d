// The virtual plant's synthesis: one second of a point's signal at 25.6 kHz
// (acceleration, velocity, displacement, shock-pulse input and marker) for
// the busiest kind of point, one with every fault kind at once and a
// drifting speed. "ms_per_signal_s" is the cost of one second of signal (CPU time of
// the thread),
// "x_target" that cost against the 5 ms a second may take on one core, and
// "x_one_sine" against a bound measured in the same run: one std::sin per
// sample, the least any synthesis of one tone costs.
#include <time.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/plant.h"
#include "analysis/plant_synth.h"
#include "screens/plant_bearings.h"

namespace {

// CPU time of this thread, s: the cost on one core, whatever else the
// machine runs.
double thread_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

constexpr u32 RATE = 25600;
constexpr double TARGET_S = 0.005;

const char* const BUSY_POINT = R"({"format": "tarvik2-plant", "version": 1, "groups": [{"name": "G", "machines": [
  {"name": "M", "rpm": 1480, "drift": {"rpm": 20, "period_s": 60}, "bearings": ["6309", "6205"], "points": [
    {"name": "P", "direction": "axial", "components": [
      {"kind": "unbalance", "severity": 3}, {"kind": "misalignment", "severity": 2},
      {"kind": "looseness", "severity": 2}, {"kind": "bent_shaft", "severity": 1},
      {"kind": "outer_race", "bearing": "6309", "severity": 5}, {"kind": "inner_race", "bearing": "6309", "severity": 4},
      {"kind": "rolling_element", "bearing": "6205", "severity": 3}, {"kind": "cage", "bearing": "6205", "severity": 2},
      {"kind": "gear_mesh", "teeth": 31, "severity": 2}, {"kind": "vane_pass", "blades": 7, "severity": 1},
      {"kind": "electrical", "severity": 1}, {"kind": "noise", "severity": 1}]}]}]}]})";

// One second of one tone by std::sin per sample; the fastest of three.
double one_sine_second()
{
    static const double seconds = [] {
        std::vector<float> out(RATE);
        double best = 1e9;
        for (int run = 0; run < 3; ++run) {
            const double t0 = thread_seconds();
            const double w = 2 * 3.14159265358979 * 24.6666 / RATE;
            for (u32 i = 0; i < RATE; ++i) out[i] = static_cast<float>(std::sin(w * i));
            benchmark::DoNotOptimize(out.data());
            best = std::min(best, thread_seconds() - t0);
        }
        return best;
    }();
    return seconds;
}

void BM_PlantPointSecondAt25k6(benchmark::State& state)
{
    Plant plant;
    const std::string e = plant_parse(BUSY_POINT, "bench", plant_bearing_lookup, &plant);
    if (!e.empty()) return state.SkipWithError(e.c_str());
    const PlantMachine* m = nullptr;
    const PlantPoint* p = nullptr;
    plant_find_point(plant, "G/M/P", &m, &p);
    PlantSynth synth;
    synth.setup(plant, *m, *p, RATE, 1);
    std::vector<float> a(RATE), v(RATE), d(RATE), s(RATE);
    std::vector<u8> marker(RATE);
    const double bound = one_sine_second();
    double total = 0;
    int runs = 0;
    for (auto _ : state) {
        const double t0 = thread_seconds();
        synth.generate(RATE, a.data(), v.data(), d.data(), s.data(), marker.data());
        benchmark::DoNotOptimize(a.data());
        total += thread_seconds() - t0;
        ++runs;
    }
    const double per = total / runs;
    state.counters["ms_per_signal_s"] = per * 1000;
    state.counters["x_target"] = per / TARGET_S;
    state.counters["x_one_sine"] = per / bound;
}
BENCHMARK(BM_PlantPointSecondAt25k6)->Unit(benchmark::kMillisecond);

}  // namespace
