// Signal processing: the forward FFT, whole acquisition cycles and on-demand
// derivation. Cycles also report how many times faster than the instrument
// acquires the record (n * dt) they run ("realtime_x"), and what one cycle
// costs in forward FFTs of the record's length, both timed in the same run
// ("fft_x", processor time).
#include <time.h>

#include <benchmark/benchmark.h>

#include "analysis/fft.h"
#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/signal.h"
#include "host/device.h"
#include "host/settings.h"

namespace {

FftPair g_fft_out[FFT_MAX_POINTS];

// Pseudo-random values of 15 bits as the input of an n-point transform.
void fft_fill_input(u32 n)
{
    u32 x = 1;
    FftPair* in = fft_input();
    for (u32 i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        in[i] = FftPair{static_cast<i32>(x >> 17) - 16384, 0};
    }
}

void fft_once(u32 n)
{
    fft_forward(n, g_fft_out, n);
    benchmark::DoNotOptimize(g_fft_out[1]);
}

void BM_FftForward(benchmark::State& state)
{
    const u32 n = static_cast<u32>(state.range(0));
    fft_fill_input(n);
    // The transform is out of place: the input stays as it is.
    for (auto _ : state) fft_once(n);
}
BENCHMARK(BM_FftForward)->RangeMultiplier(2)->Range(512, 8192)->Unit(benchmark::kMicrosecond);

// Processor time of this thread in seconds.
double cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Processor seconds of one n-point forward FFT as BM_FftForward times it.
double fft_seconds(u32 n)
{
    fft_fill_input(n);
    fft_once(n);
    u64 count = 0;
    const double t0 = cpu_seconds();
    double t = t0;
    while (t - t0 < 0.05) {
        for (int i = 0; i < 16; ++i) fft_once(n);
        count += 16;
        t = cpu_seconds();
    }
    return (t - t0) / static_cast<double>(count);
}

// One whole cycle from meas_step to its end: synthesis, processing, band
// values, shock analysis, averaging.
void run_cycles(benchmark::State& state, u32 mask, u32 mode, u32 sensor)
{
    settings_defaults();
    SettingsBlock& s = settings;
    s.meas_mode = mode;
    s.sensor = sensor;
    s.meas_params_changed = 1;
    meas_init();
    results_reset();
    rand_seed(7);
    meas_start(mask);
    meas_set_running(1);
    meas_step();  // geometry and the first allocation of the transforms
    const double t0 = cpu_seconds();
    for (auto _ : state) {
        meas_step();
        benchmark::DoNotOptimize(results.valid);
    }
    const double cycle = (cpu_seconds() - t0) / static_cast<double>(state.iterations());
    const double record_seconds = meas_state.n_samples * double(meas_state.dt);
    state.counters["n"] = meas_state.n_samples;
    state.counters["record_ms"] = record_seconds * 1e3;
    // Record time divided by the time of one cycle (shown with a "/s" suffix).
    state.counters["realtime_x"] = benchmark::Counter(record_seconds, benchmark::Counter::kIsIterationInvariantRate);
    // One cycle in FFTs of the record's length.
    state.counters["fft_x"] = cycle / fft_seconds(meas_state.n_samples);
}

void BM_CycleVibrometer1024(benchmark::State& state)
{
    run_cycles(state, 206, 1, 1);
}
BENCHMARK(BM_CycleVibrometer1024)->Unit(benchmark::kMicrosecond);

void BM_CycleSpectra4096Marker(benchmark::State& state)
{
    // Spectrum mode, 4096 samples up to 4000 Hz (the defaults), marker sensor.
    run_cycles(state, 462, 2, 3);
}
BENCHMARK(BM_CycleSpectra4096Marker)->Unit(benchmark::kMicrosecond);

void BM_DeriveVelocitySpectrum(benchmark::State& state)
{
    const u32 n = static_cast<u32>(state.range(0));
    settings_defaults();
    settings.meas_mode = n == 1024 ? 1 : 2;
    meas_init();
    results_reset();
    meas_start(REQ_VIBRATION);
    meas_set_running(1);
    meas_step();
    results.group[1].active = 1;
    build_time_record(meas_frames(0), 0, record_at(1, KIND_W, Q_A), Q_A, 0.01f, meas_calibration.marker_zero);
    for (auto _ : state) {
        for (u32 q = Q_A; q <= Q_D; ++q) {
            record_at(1, KIND_S, q)->type = REC_EMPTY;
            if (q) record_at(1, KIND_W, q)->type = REC_EMPTY;
        }
        SignalRecord* sv;
        benchmark::DoNotOptimize(meas_get_record(1, KIND_S, Q_V, &sv));
    }
}
BENCHMARK(BM_DeriveVelocitySpectrum)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);

}  // namespace
