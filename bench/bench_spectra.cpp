// The spectra and signals screen: one pass of its loop with a new record
// (4096 samples, a 1600-line spectrum, all three plots), and the live screen
// as the headless runner runs it ("realtime_x": seconds of instrument time
// per second of wall time while it measures with 10 averages).
#include <benchmark/benchmark.h>

#include "analysis/meas_module.h"
#include "analysis/signal.h"
#include "app/reset.h"
#include "bench/live.h"
#include "front/common/virtual_host.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/spectra.h"
#include "screens/spectra_internal.h"

namespace {

// 4096 samples up to 1000 Hz: 1600 spectrum lines; the sensor with marker
// so that all three plots are shown; a spectrum of velocity.
void heavy_settings(u32 averaging)
{
    settings.sensor = 3;
    settings.meas_mode = 2;
    settings.spectrum_lines_idx = 2;
    settings.spectrum_fmax_idx = 2;
    settings.spectrum_step_idx = 2;
    settings.averaging_idx = averaging;
    settings.plot_mode = KIND_S;
    settings.plot_quantity = Q_V;
    settings.plot_layout = SPECTRA_LAYOUT_ALL;
    settings.meas_params_changed = 1;
}

void BM_SpectraPassNewRecordLayout3(benchmark::State& state)
{
    system_reset();
    VirtualHost host;
    host_install(&host);
    heavy_settings(1);
    meas_set_paced(false);
    spectra_enter();
    spectra_start();
    spectra_pass(KEY_ENTER);
    // Every record starts at a random phase: its first samples tell it apart.
    const auto head = [] {
        const i32* d = record_at(1, KIND_W, Q_A)->data;
        return (static_cast<u64>(static_cast<u32>(d[0])) << 32) | static_cast<u32>(d[1]);
    };
    u64 passes = 0, records = 0, seen = head();
    for (auto _ : state) {
        spectra_pass(KEY_NONE);
        ++passes;
        if (head() != seen) {
            seen = head();
            ++records;
        }
    }
    state.counters["records_per_pass"] = passes ? static_cast<double>(records) / static_cast<double>(passes) : 0;
    state.counters["lines"] = record_at(1, KIND_S, Q_V)->count;
    spectra_pass(KEY_ESC);
    host_install(nullptr);
}
BENCHMARK(BM_SpectraPassNewRecordLayout3)->Unit(benchmark::kMicrosecond);

constexpr u64 OPEN_AT_MS = 1500;   // Right, then Enter on the main menu's second item
constexpr u64 START_AT_MS = 1900;  // Enter starts the measurement
constexpr u64 MEASURE_MS = 30000;

void BM_LiveSpectraAveraging10(benchmark::State& state)
{
    BenchFolder folder;
    if (!folder.error().empty()) {
        state.SkipWithError(folder.error().c_str());
        return;
    }
    system_reset();
    settings_defaults();
    heavy_settings(4);  // " 10 Усредн"
    settings_save();

    double ratio = 0;
    u32 records = 0;
    for (auto _ : state) {
        u32 last_tick = 0;
        records = 0;
        ratio = run_live(START_AT_MS, MEASURE_MS, [&](u64 ms) {
            if (ms == OPEN_AT_MS) key_post(KEY_RIGHT);
            if (ms == OPEN_AT_MS + 100 || ms == START_AT_MS) key_post(KEY_ENTER);
            if (ms == START_AT_MS) last_tick = results.tick;
            if (ms > START_AT_MS && results.tick != last_tick) {
                last_tick = results.tick;
                ++records;
            }
        });
    }
    state.counters["realtime_x"] = ratio;
    state.counters["records"] = records;
}
BENCHMARK(BM_LiveSpectraAveraging10)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
