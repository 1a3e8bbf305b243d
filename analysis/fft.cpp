#include "analysis/fft.h"

#include <cstdint>

#include "kiss_fft.h"

static_assert(sizeof(kiss_fft_scalar) == 4, "KISS FFT must be the fixed-point int32 build");
static_assert(sizeof(kiss_fft_cpx) == sizeof(FftPair));

namespace {
constexpr u32 FFT_SIZES[5] = {512, 1024, 2048, 4096, 8192};
kiss_fft_cfg g_config_cache[5];
kiss_fft_cpx g_work_in[FFT_MAX_POINTS];
kiss_fft_cpx g_work_out[FFT_MAX_POINTS];

int size_slot(u32 n)
{
    for (int i = 0; i < 5; ++i)
        if (FFT_SIZES[i] == n) return i;
    return -1;
}

// The transform divides by the radix in every stage and rounds each time;
// values of only 15 significant bits lose noticeable power that way (the
// halves go toward zero). The input is therefore scaled by 2^shift to come
// close to the 32-bit limit, and the result scaled back.
//
// Every stage keeps the largest magnitude of a complex value (|a + jb|) at or
// below that of its input, plus a few units of rounding, so inputs up to
// INPUT_LIMIT leave a wide margin below 2^31 for the 8192-point transform.
constexpr u64 INPUT_LIMIT = (u64{1} << 31) - (u64{1} << 16);

// The largest squared magnitude among the n input values. The spectra feed
// real values (all imaginary parts 0): then it is the square of the largest
// |re|, found in one pass without 64-bit products.
u64 largest_square(u32 n)
{
    u32 largest = 0, any_im = 0;
    for (u32 i = 0; i < n; ++i) {
        const i32 re = g_work_in[i].r;
        const u32 m = re < 0 ? 0u - static_cast<u32>(re) : static_cast<u32>(re);
        largest = m > largest ? m : largest;
        any_im |= static_cast<u32>(g_work_in[i].i);
    }
    if (any_im == 0) return static_cast<u64>(largest) * largest;
    u64 largest_sq = 0;
    for (u32 i = 0; i < n; ++i) {
        const i64 re = g_work_in[i].r, im = g_work_in[i].i;
        const u64 sq = static_cast<u64>(re * re) + static_cast<u64>(im * im);
        if (sq > largest_sq) largest_sq = sq;
    }
    return largest_sq;
}

// The shift that brings the largest magnitude of the n input values as close
// to INPUT_LIMIT as possible without passing it: 0 for all zeros, -1 for
// inputs already beyond the limit (values near the i32 ends).
int input_shift(u32 n)
{
    const u64 largest_sq = largest_square(n);
    if (largest_sq == 0) return 0;
    constexpr u64 LIMIT_SQ = INPUT_LIMIT * INPUT_LIMIT;
    if (largest_sq > LIMIT_SQ) return -1;
    int shift = 0;
    while (shift < 31 && largest_sq <= LIMIT_SQ >> (2 * (shift + 1))) ++shift;
    return shift;
}

i32 saturate(i64 v)
{
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<i32>(v);
}

// v / 2^shift (shift 1 ... 31) rounded to nearest, ties to even: no drift
// in either direction, so the spectrum keeps its scale on average. Without
// branches, so that the loops over the values vectorise.
i32 shift_down_even(i32 v, int shift)
{
    const i32 q = v >> shift;  // floor
    const u32 rest = static_cast<u32>(v) & ((u32{1} << shift) - 1);
    const u32 half = u32{1} << (shift - 1);
    return q + static_cast<i32>((rest > half) | ((rest == half) & static_cast<u32>(q & 1)));
}

// Scales the input by 2^shift (shift >= -1).
void scale_input(u32 n, int shift)
{
    if (shift > 0) {
        // The shift leaves every value within INPUT_LIMIT: no overflow.
        for (u32 i = 0; i < n; ++i) {
            kiss_fft_cpx& c = g_work_in[i];
            c.r = static_cast<kiss_fft_scalar>(static_cast<u32>(c.r) << shift);
            c.i = static_cast<kiss_fft_scalar>(static_cast<u32>(c.i) << shift);
        }
    } else if (shift < 0) {
        for (u32 i = 0; i < n; ++i) {
            kiss_fft_cpx& c = g_work_in[i];
            c.r = static_cast<kiss_fft_scalar>(shift_down_even(c.r, -shift));
            c.i = static_cast<kiss_fft_scalar>(shift_down_even(c.i, -shift));
        }
    }
}

// Undoes scale_input on the first `keep` output values.
void unscale_output(u32 keep, int shift, FftPair* out)
{
    if (shift > 0) {
        for (u32 k = 0; k < keep; ++k) {
            out[k].re = shift_down_even(g_work_out[k].r, shift);
            out[k].im = shift_down_even(g_work_out[k].i, shift);
        }
    } else if (shift < 0) {
        for (u32 k = 0; k < keep; ++k) {
            out[k].re = saturate(static_cast<i64>(g_work_out[k].r) * 2);
            out[k].im = saturate(static_cast<i64>(g_work_out[k].i) * 2);
        }
    } else {
        for (u32 k = 0; k < keep; ++k) out[k] = FftPair{g_work_out[k].r, g_work_out[k].i};
    }
}
}  // namespace

bool fft_size_supported(u32 n)
{
    return size_slot(n) >= 0;
}

FftPair* fft_input()
{
    return reinterpret_cast<FftPair*>(g_work_in);
}

int fft_forward(u32 n, FftPair* out, u32 keep)
{
    const int slot = size_slot(n);
    if (slot < 0) return 0;
    if (!g_config_cache[slot]) {
        g_config_cache[slot] = kiss_fft_alloc(static_cast<int>(n), 0, nullptr, nullptr);
        if (!g_config_cache[slot]) return 0;
    }
    if (keep > n) keep = n;
    const int shift = input_shift(n);
    scale_input(n, shift);
    kiss_fft(g_config_cache[slot], g_work_in, g_work_out);
    unscale_output(keep, shift, out);
    return 1;
}
