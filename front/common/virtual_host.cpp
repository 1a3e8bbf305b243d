#include "front/common/virtual_host.h"

#include <cstdio>
#include <cstring>

#include "host/device.h"

VirtualHost::VirtualHost() : clock_start_(std::time(nullptr)) {}

void VirtualHost::pump()
{
    if (on_pump_) on_pump_();
}

void VirtualHost::sleep_1ms()
{
    ++ms_;
    ++elapsed_;
    if (elapsed_ % 31 == 0) tick_counter = tick_counter + 1;
    if (on_ms_) on_ms_();
}

HostDateTime VirtualHost::local_time()
{
    std::time_t t = clock_start_ + static_cast<std::time_t>(elapsed_ / 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

u32 VirtualHost::random_seed()
{
    if (seed_set_) return seed_;
    return static_cast<u32>(clock_start_ + static_cast<std::time_t>(elapsed_ / 1000));
}

void VirtualHost::post_button(u32 code)
{
    if (!power_off_flag && mod_toggle_) code |= KEY_SHIFT;
    key_post(code);
}

bool parse_clock(const char* text, std::time_t* out)
{
    int y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(text, "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return false;
    if (std::strlen(text) != 19) return false;
    if (y < 1970 || y > 2099 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return false;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    // mktime normalises impossible dates such as 30 February: refuse them.
    if (t == static_cast<std::time_t>(-1) || tm.tm_mday != d || tm.tm_mon != mo - 1) return false;
    *out = t;
    return true;
}
