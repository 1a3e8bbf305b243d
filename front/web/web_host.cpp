#include "web_host.h"

#include <emscripten.h>

#include <algorithm>
#include <cmath>

#include "archive/mount.h"
#include "host/device.h"

namespace {

constexpr double REST_AFTER_MS = 2000;
constexpr int PASS_SLEEP_MS = 1;
// How far the passes may fall behind their millisecond before they are
// given up, and how long they may run before the browser gets its turn.
constexpr double MAX_BEHIND_MS = 10;
constexpr double SLICE_MS = 8;
constexpr double TICK_MS = 31;
// The window's redraw timer.
constexpr double REDRAW_MS = 100;

}  // namespace

// The page paints the LCD (tarvik2.js).
EM_JS(void, web_paint_js, (), { Module.tarvik2.paint(); });

// Sleeps up to `ms` milliseconds; input (a key, a click) wakes it at once.
EM_ASYNC_JS(void, web_rest_js, (int ms), {
    await new Promise(resolve => {
        const done = () => {
            clearTimeout(timer);
            Module.tarvik2.wake = null;
            resolve();
        };
        const timer = setTimeout(done, ms);
        Module.tarvik2.wake = done;
    });
});

// A zero-delay turn through a message port: timers would be held to 4 ms
// once they nest.
EM_ASYNC_JS(void, web_yield_now, (), {
    await new Promise(resolve => {
        const channel = new MessageChannel();
        channel.port1.onmessage = () => resolve();
        channel.port2.postMessage(0);
    });
});

void web_wait(int ms)
{
    if (ms <= 0)
        web_yield_now();
    else
        emscripten_sleep(static_cast<unsigned>(ms));
}

double web_now_ms()
{
    return emscripten_get_now();
}

WebRealHost::WebRealHost() : start_ms_(web_now_ms()), last_input_ms_(start_ms_) {}

double WebRealHost::now_ms() const
{
    return web_now_ms();
}

void WebRealHost::pump()
{
    const double now = now_ms();
    // The window's 31 ms timer.
    const u32 due = static_cast<u32>((now - start_ms_) / TICK_MS);
    while (ticks_given_ < due) {
        tick_counter = tick_counter + 1;
        ++ticks_given_;
    }
    // The window's redraw timer: the screen as the code has yielded it.
    if (screen_dirty && now - last_paint_ms_ >= REDRAW_MS) {
        screen_dirty = 0;
        last_paint_ms_ = now;
        web_paint_js();
    }
}

void WebRealHost::sleep_1ms()
{
    // At rest (nothing measures, the archive is mounted, no input for 2 s)
    // a pass comes with each tick, or at once when input comes; time in the
    // instrument (ticks, delays, the clock) is unaffected.
    const double now = now_ms();
    const bool at_rest = !busy_flag && archive_idle() && now - last_input_ms_ >= REST_AFTER_MS;
    if (!at_rest) {
        // A pass every millisecond on average, as the window makes them:
        // the browser's timers wake later than asked (4 ms once they nest),
        // so the passes missed meanwhile come at once, up to a slice.
        pass_due_ms_ = std::max(pass_due_ms_ + PASS_SLEEP_MS, now - MAX_BEHIND_MS);
        if (now < pass_due_ms_) {
            web_wait(static_cast<int>(std::ceil(pass_due_ms_ - now)));
            last_yield_ms_ = now_ms();
        } else if (now - last_yield_ms_ >= SLICE_MS) {
            web_wait(0);
            last_yield_ms_ = now_ms();
        }
        return;
    }
    pass_due_ms_ = now;
    last_yield_ms_ = now;
    const double into_tick = std::fmod(now - start_ms_, TICK_MS);
    web_rest_js(static_cast<int>(std::ceil(TICK_MS - into_tick)));
}

u32 WebRealHost::millis()
{
    return static_cast<u32>(now_ms() - start_ms_);
}

HostDateTime WebRealHost::local_time()
{
    const std::time_t now = std::time(nullptr);
    if (now != local_second_) {
        std::tm tm{};
        localtime_r(&now, &tm);
        local_ = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
        local_second_ = now;
    }
    return local_;
}
