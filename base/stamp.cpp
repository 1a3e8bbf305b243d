#include "base/stamp.h"

namespace {

constexpr u32 SECONDS_PER_DAY = 86400;
// Days from 1 January of year 1 up to 31 December 1999.
constexpr i64 DAYS_BEFORE_2000 = 730119;

}  // namespace

bool is_leap_year(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month)
{
    static const int len[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && is_leap_year(year) ? 29 : len[month - 1];
}

u32 date_to_days(int year, int month, int day)
{
    if (year < 2000) year = 2000 + ((year % 100) + 100) % 100;
    if (year > 9999 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) return 0;
    int doy = day;
    for (int m = 1; m < month; ++m) doy += days_in_month(year, m);
    const i64 y = year - 1;
    const i64 days = y * 365 + y / 4 - y / 100 + y / 400 + doy - DAYS_BEFORE_2000;
    return days < 0 ? 0 : static_cast<u32>(days);
}

u32 time_to_seconds(int hours, int minutes, int seconds)
{
    return static_cast<u32>(hours * 3600 + minutes * 60 + seconds);
}

u32 pack(u32 days, u32 seconds)
{
    return days * SECONDS_PER_DAY + seconds;
}

u32 stamp_days(u32 stamp)
{
    return stamp / SECONDS_PER_DAY;
}

u32 stamp_seconds(u32 stamp)
{
    return stamp % SECONDS_PER_DAY;
}

void unpack(u32 stamp, u16* year, u16* month, u16* day, u16* hour, u16* minute, u16* second)
{
    const u32 secs = stamp_seconds(stamp);
    // Zero-based day count from 1 January of year 1.
    i64 d = static_cast<i64>(stamp_days(stamp)) + DAYS_BEFORE_2000 - 1;
    const i64 q400 = d / 146097;
    d %= 146097;
    i64 q100 = d / 36524;
    if (q100 > 3) q100 = 3;
    d -= q100 * 36524;
    const i64 q4 = d / 1461;
    d %= 1461;
    i64 q1 = d / 365;
    if (q1 > 3) q1 = 3;
    d -= q1 * 365;
    const int y = static_cast<int>(q400 * 400 + q100 * 100 + q4 * 4 + q1 + 1);
    int m = 1;
    while (m < 12 && d >= days_in_month(y, m)) {
        d -= days_in_month(y, m);
        ++m;
    }
    *year = static_cast<u16>(y);
    *month = static_cast<u16>(m);
    *day = static_cast<u16>(d + 1);
    *hour = static_cast<u16>(secs / 3600);
    *minute = static_cast<u16>(secs / 60 % 60);
    *second = static_cast<u16>(secs % 60);
}
