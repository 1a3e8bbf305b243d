// Plot view: one full redraw of a spectrum and of a waveform in the
// vibrometer's plot rectangle, next to a plain fill of the same rectangle.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "analysis/measures.h"
#include "analysis/signal.h"
#include "gfx/framebuffer.h"
#include "host/settings.h"
#include "screens/plot.h"

namespace {

// The vibrometer's plot rectangle.
constexpr i32 X0 = 3, Y0 = 153, X1 = 269, Y1 = 211;
constexpr u32 SAMPLES = 4096;
constexpr float DT = 1.0f / 2560;

// Group 1 holds a 4096-sample acceleration signal: a shaft tone, two
// harmonics and broadband noise; its 1601-line spectrum is derived once.
void fill_results()
{
    settings_defaults();
    settings.averaging_idx = 1;
    results_reset();
    results.group[1].active = 1;
    results.stamp = 1;
    results.tick = 1;
    SignalRecord* r = record_at(1, KIND_W, Q_A);
    r->type = REC_ACQUIRED;
    r->kind = KIND_W;
    r->quantity = Q_A;
    r->count = SAMPLES;
    r->x0 = 0;
    r->dx = DT;
    r->x_last = (SAMPLES - 1) * DT;
    r->scale = 0.001f;
    r->data_bytes = SAMPLES * 4;
    u32 noise = 12345;
    i32 peak = 0;
    for (u32 i = 0; i < SAMPLES; ++i) {
        noise = noise * 1103515245u + 12345u;
        const double t = i * DT;
        const double v = 9000 * std::sin(2 * std::numbers::pi * 49.5 * t) +
                         4000 * std::sin(2 * std::numbers::pi * 99 * t + 1) +
                         2500 * std::sin(2 * std::numbers::pi * 148.5 * t) + static_cast<double>(noise >> 21) - 1024;
        r->data[i] = static_cast<i32>(v);
        peak = std::max(peak, std::abs(r->data[i]));
    }
    r->peak = peak;
    SignalRecord* spectrum;
    meas_get_record(1, KIND_S, Q_A, &spectrum);
}

void draw_plot(benchmark::State& state, u32 kind)
{
    framebuffer_reset();
    fill_results();
    PlotView pv;
    plot_init(&pv, X0, Y0, X1, Y1);
    plot_set_group(&pv, 1);
    plot_set_source(&pv, kind, Q_A);
    plot_set_cursor_freq(&pv, 49.5f);
    plot_set_cursor(&pv, kind == KIND_S ? 49.5f : 0.1f);
    plot_add_marker(&pv, 2.0f, "2x");
    plot_add_marker(&pv, 3.0f, "3x");
    plot_set_min_scale(&pv, 0.5f);
    plot_draw(&pv);
    for (auto _ : state) {
        plot_invalidate(&pv);
        plot_draw(&pv);
        benchmark::DoNotOptimize(framebuffer[LCD_WIDTH * 180 + 100]);
    }
}

void BM_PlotSpectrum1601Lines(benchmark::State& state)
{
    draw_plot(state, KIND_S);
}
BENCHMARK(BM_PlotSpectrum1601Lines)->Unit(benchmark::kMicrosecond);

void BM_PlotWaveform4096Samples(benchmark::State& state)
{
    draw_plot(state, KIND_W);
}
BENCHMARK(BM_PlotWaveform4096Samples)->Unit(benchmark::kMicrosecond);

// The same rectangle filled once, frame to frame: the floor of any redraw.
void BM_PlotRectFill(benchmark::State& state)
{
    framebuffer_reset();
    for (auto _ : state) {
        fill_rect(X0 - 1, Y0, X1 + 1, Y1, COLOR_BACKGROUND);
        benchmark::DoNotOptimize(framebuffer[LCD_WIDTH * 180 + 100]);
    }
}
BENCHMARK(BM_PlotRectFill)->Unit(benchmark::kMicrosecond);

}  // namespace
