#include "web_host.h"

#include <emscripten.h>

#include "host/device.h"

namespace {

constexpr double REST_AFTER_MS = 2000;
constexpr int REST_SLEEP_MS = 10;
constexpr int PASS_SLEEP_MS = 1;
constexpr double TICK_MS = 31;

}  // namespace

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
    // The window's 31 ms timer.
    const u32 due = static_cast<u32>((now_ms() - start_ms_) / TICK_MS);
    while (ticks_given_ < due) {
        tick_counter = tick_counter + 1;
        ++ticks_given_;
    }
}

void WebRealHost::sleep_1ms()
{
    const bool at_rest = !busy_flag && now_ms() - last_input_ms_ >= REST_AFTER_MS;
    web_wait(at_rest ? REST_SLEEP_MS : PASS_SLEEP_MS);
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
