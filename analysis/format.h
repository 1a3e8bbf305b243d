// Text forms of measured values, units, plot axis steps and stamp texts.
#pragma once
#include "base/types.h"

// Quantities of the signal records; index 4 is the temperature.
constexpr int QUANTITY_COUNT = 5;

// Fixed-point text of exactly `width` characters, right-aligned; "*" fill
// when the integer part does not fit. `out` holds width + 1 bytes.
char* format_fixed(double value, int width, int decimals, char* out);
// Shortest text of at most `width` characters with as many significant
// digits as fit; exponent form "1e6" when the integer part does not fit.
// `out` holds at least max(width, 24) + 1 bytes.
char* format_sig(double value, int width, char* out);
// Per-quantity text ("%4.1f", "%3.0f", ...); `out` holds 32 bytes.
char* format_quantity(char* out, int index, double value);
const char* unit_of_quantity(int index);
// Record kind 0 W, 1 S, 2 E, 3 B.
const char* unit_of_kind(u32 kind);

// x = m * 10^e with 1 <= m < 10 (m = 0, e = 0 for x <= 0).
void decompose(double x, double* mantissa, int* exponent);
// A step of 1, 2 or 5 times a power of ten for about n divisions of lo..hi,
// and the first multiple of it above lo.
void axis_step(double lo, double hi, int n, double* first, double* step);
