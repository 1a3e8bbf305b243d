// Packed date-time stamps.
#pragma once
#include "base/types.h"

// Stamp = days * 86400 + seconds of the day; day 1 is 1 January 2000 and
// day 0 stands for a missing date.
u32 pack(u32 days, u32 seconds);
void unpack(u32 stamp, u16* year, u16* month, u16* day, u16* hour, u16* minute, u16* second);
u32 stamp_days(u32 stamp);
u32 stamp_seconds(u32 stamp);
// 0 (the missing date) when the date is not a valid one.
u32 date_to_days(int year, int month, int day);
u32 time_to_seconds(int hours, int minutes, int seconds);
// true for a leap year of the Gregorian calendar.
bool is_leap_year(int year);
// 28..31, or 0 when `month` is not 1..12.
int days_in_month(int year, int month);
