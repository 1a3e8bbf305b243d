#include "analysis/fft.h"

#include <cstring>

#include "kiss_fft.h"

static_assert(sizeof(kiss_fft_scalar) == 4, "KISS FFT must be the fixed-point int32 build");
static_assert(sizeof(kiss_fft_cpx) == sizeof(FftPair));

namespace {
constexpr u32 FFT_SIZES[5] = {512, 1024, 2048, 4096, 8192};
kiss_fft_cfg config_cache[5];
kiss_fft_cpx work_in[FFT_MAX_POINTS];
kiss_fft_cpx work_out[FFT_MAX_POINTS];

int size_slot(u32 n)
{
    for (int i = 0; i < 5; ++i)
        if (FFT_SIZES[i] == n) return i;
    return -1;
}
}  // namespace

bool fft_size_supported(u32 n)
{
    return size_slot(n) >= 0;
}

FftPair* fft_input()
{
    return reinterpret_cast<FftPair*>(work_in);
}

int fft_forward(u32 n, FftPair* out, u32 keep)
{
    const int slot = size_slot(n);
    if (slot < 0) return 0;
    if (!config_cache[slot]) {
        config_cache[slot] = kiss_fft_alloc(static_cast<int>(n), 0, nullptr, nullptr);
        if (!config_cache[slot]) return 0;
    }
    if (keep > n) keep = n;
    kiss_fft(config_cache[slot], work_in, work_out);
    std::memcpy(out, work_out, keep * sizeof(FftPair));
    return 1;
}
