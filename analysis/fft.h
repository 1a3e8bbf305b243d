// Forward complex FFT of 512 ... 8192 points on 32-bit fixed-point values,
// scaled by 1/N; one configuration per size, allocated once.
#pragma once
#include "base/types.h"

constexpr u32 FFT_MAX_POINTS = 8192;

struct FftPair {
    i32 re;
    i32 im;
};

// True for 512, 1024, 2048, 4096 and 8192.
bool fft_size_supported(u32 n);
// The input buffer of the transform (FFT_MAX_POINTS pairs).
FftPair* fft_input();
// Transforms the first n pairs of fft_input(); the first `keep` output pairs
// are written to out. Returns 1, or 0 when n is not a supported size (or its
// transform cannot be set up).
int fft_forward(u32 n, FftPair* out, u32 keep);
