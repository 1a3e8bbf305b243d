// Drawing primitives: whole-screen clear, lines and rectangles.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "gfx/framebuffer.h"

static void BM_LcdClear(benchmark::State& state)
{
    framebuffer_reset();
    bg_color = COLOR_BACKGROUND;
    for (auto _ : state) {
        lcd_clear();
        benchmark::DoNotOptimize(framebuffer[LCD_PIXELS - 1]);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * LCD_PIXELS * 2);
}
BENCHMARK(BM_LcdClear);

static void BM_Lines(benchmark::State& state)
{
    framebuffer_reset();
    for (auto _ : state) {
        // A fan of 64 lines across the screen, steep and shallow.
        for (int i = 0; i < 32; ++i) {
            draw_line(0, 0, 319, i * 7);
            draw_line(0, 239, i * 10, 0);
        }
        benchmark::DoNotOptimize(framebuffer[0]);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 64);
}
BENCHMARK(BM_Lines);

static void BM_FillRect(benchmark::State& state)
{
    framebuffer_reset();
    for (auto _ : state) {
        fill_rect(10, 10, 309, 229, COLOR_BLUE);
        benchmark::DoNotOptimize(framebuffer[LCD_WIDTH * 100 + 100]);
    }
}
BENCHMARK(BM_FillRect);

static void BM_RectOutlines(benchmark::State& state)
{
    framebuffer_reset();
    for (auto _ : state) {
        for (int i = 0; i < 50; ++i) {
            draw_rect(i, i, 319 - i, 239 - i, COLOR_RED);
            draw_round_rect(i + 2, i + 2, 317 - i, 237 - i, COLOR_BLUE);
        }
        benchmark::DoNotOptimize(framebuffer[0]);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100);
}
BENCHMARK(BM_RectOutlines);

static void BM_SaveRestore(benchmark::State& state)
{
    framebuffer_reset();
    for (auto _ : state) {
        screen_save();
        // screen_restore also yields to the host; copy back directly here.
        std::copy(saved_screen, saved_screen + LCD_PIXELS, framebuffer);
        benchmark::DoNotOptimize(framebuffer[0]);
    }
}
BENCHMARK(BM_SaveRestore);
