// Packed date-time stamps and the 16-bit checksum of stored blocks.
#pragma once
#include "host/types.h"

// Stamp = days * 86400 + seconds of the day; day 1 is 1 January 2000 and
// day 0 stands for a missing date.
u32 pack_now();
u32 pack(u32 days, u32 seconds);
void unpack(u32 stamp, u16* year, u16* month, u16* day, u16* hour, u16* minute, u16* second);
u32 stamp_days(u32 stamp);
u32 stamp_seconds(u32 stamp);
u32 date_to_days(int year, int month, int day);
u32 time_to_seconds(int hours, int minutes, int seconds);
bool is_leap_year(int year);
int days_in_month(int year, int month);

// Start 0xAAAA; per byte: rotate left by one bit, then XOR the byte.
u16 checksum16(const void* data, u32 n);
// The checksum field is the little-endian u16 at byte offset `field`.
void checksum_store(void* block, u32 n, u32 field);
int checksum_verify(void* block, u32 n, u32 field);
