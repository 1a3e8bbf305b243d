// Small text helpers shared by every layer: integers and stamp texts.
#pragma once
#include "base/types.h"

// Decimal text right-aligned in `width` characters (0: as long as needed).
// Writes at most max(width, 11) characters and the terminating zero.
char* int_to_text(i32 value, u8 width, char* buffer);
// The digits of s as a number; a '-' before the first digit negates it.
i32 text_to_int(const char* s);

// A decimal number at the very start of [begin, end), read as
// std::from_chars reads a double (no blanks, no '+', no hexadecimal): true
// with the value and `*stop` just after it, false when none is there or it
// is out of range.
bool text_to_double(const char* begin, const char* end, double* value, const char** stop);

// "hh:mm:ss" and "dd.mm.yy"; `out` holds 9 bytes.
char* format_time(u32 stamp, char* out);
char* format_date(u32 stamp, char* out);
