#include "host/device.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "base/stamp.h"
#include "host/hostif.h"

volatile u32 pending_key = KEY_NONE;
volatile u8 power_off_flag = 0;
volatile u8 screen_dirty = 0;
volatile u32 tick_counter = 0;
void (*idle_callback)() = nullptr;
u8 busy_flag = 0;
u32 last_activity_tick = 0;

namespace {

// Used until a host installs itself: real sleep, real clocks, no events.
class QuietHost final : public HostInterface {
public:
    void pump() override {}
    void sleep_1ms() override { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }
    u32 millis() override
    {
        using namespace std::chrono;
        return static_cast<u32>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    HostDateTime local_time() override
    {
        std::time_t t = std::time(nullptr);
        std::tm tm{};
        localtime_r(&t, &tm);
        return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    }
    bool shift_held() override { return false; }
};

QuietHost g_quiet_host;
HostInterface* g_current_host = &g_quiet_host;

u32 g_rand_state = 1;

// One pass of the desktop event loop followed by the 1 ms sleep.
void pump_and_sleep()
{
    g_current_host->pump();
    g_current_host->sleep_1ms();
}

}  // namespace

u32 HostInterface::random_seed()
{
    return static_cast<u32>(std::time(nullptr));
}

void host_install(HostInterface* h)
{
    g_current_host = h ? h : &g_quiet_host;
}

HostInterface& host()
{
    return *g_current_host;
}

void key_post(u32 code)
{
    pending_key = code;
}

u32 key_poll_raw()
{
    pump_and_sleep();
    u32 v = pending_key;
    pending_key = KEY_NONE;
    if (power_off_flag) {
        last_activity_tick = ticks_now();
        return KEY_ESC;
    }
    if (v == KEY_NONE) {
        if (idle_callback) idle_callback();
    } else {
        last_activity_tick = ticks_now();
    }
    return v;
}

u16 key_poll()
{
    return static_cast<u16>(key_poll_raw() & 0xFFFF);
}

u16 key_wait()
{
    for (;;) {
        u16 k = key_poll();
        if (k != KEY_NONE) return k;
    }
}

u16 key_wait_timeout(float seconds, u16 default_code)
{
    const u32 start = ticks_now();
    const u32 limit = static_cast<u32>(seconds * 32.0f);
    const bool limited = seconds > 0.09f;
    for (;;) {
        u16 k = key_poll();
        u32 now = ticks_now();
        if (limited && (now < start || now - start >= limit)) return default_code;
        if (k != KEY_NONE) return k;
    }
}

void idle_yield()
{
    screen_dirty = 1;
    pump_and_sleep();
}

void keys_reset()
{
    pending_key = KEY_NONE;
}

u32 ticks_now()
{
    u32 a = tick_counter;
    for (;;) {
        u32 b = tick_counter;
        if (a == b) return a;
        a = b;
    }
}

void delay_ms(u32 ms)
{
    const u32 start = g_current_host->millis();
    for (;;) {
        if (power_off_flag) return;
        pump_and_sleep();
        u32 now = g_current_host->millis();
        if (now < start || now - start > ms) return;
    }
}

void busy_mark()
{
    busy_flag = 1;
}

void busy_release()
{
    if (busy_flag) last_activity_tick = ticks_now();
    busy_flag = 0;
}

bool key_held(u32 code)
{
    return code == KEY_MOD && g_current_host->shift_held();
}

bool rtc_read(u16* year, u16* month, u16* day, u16* hours, u16* minutes, u16* seconds)
{
    HostDateTime t = g_current_host->local_time();
    *year = static_cast<u16>(t.year % 100);
    *month = static_cast<u16>(t.month);
    *day = static_cast<u16>(t.day);
    *hours = static_cast<u16>(t.hour);
    *minutes = static_cast<u16>(t.minute);
    *seconds = static_cast<u16>(t.second);
    return true;
}

bool rtc_write(u16, u16, u16, u16, u16, u16)
{
    // The instrument's clock is the desktop's clock: nothing to set.
    return true;
}

void rand_seed(u32 seed)
{
    g_rand_state = seed;
}

int rand_next()
{
    g_rand_state = g_rand_state * 1103515245u + 12345u;
    return static_cast<int>((g_rand_state / 65536u) % 32768u);
}

void device_reset()
{
    pending_key = KEY_NONE;
    power_off_flag = 0;
    screen_dirty = 0;
    tick_counter = 0;
    idle_callback = nullptr;
    busy_flag = 0;
    last_activity_tick = 0;
    g_rand_state = 1;
}

u32 pack_now()
{
    u16 y, mo, d, h, mi, s;
    rtc_read(&y, &mo, &d, &h, &mi, &s);
    const u32 days = date_to_days(2000 + y, mo, d);
    const u32 secs = (h >= 24 || mi >= 60 || s >= 60) ? 0 : time_to_seconds(h, mi, s);
    return pack(days, secs);
}
