#include "analysis/signal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "analysis/fft.h"
#include "analysis/frames.h"
#include "analysis/rounding.h"

ResultStore results;
u32 window_mode = 1;

const char* const DERIVE_RECIPES[33] = {
    "WA=WA",    "WA=WV+D", "WA=WD+DD", "WV=WV",    "WV=WA+I",  "WV=WD+D",   "WD=WD",    "WD=WV+I",  "WD=WA+II",
    "SA=SA",    "SA=WA+F", "SA=SV+D",  "SA=WV+FD", "SA=SD+DD", "SA=WD+FDD", "SV=SV",    "SV=WV+F",  "SV=SA+I",
    "SV=WA+FI", "SV=SD+D", "SV=WD+FD", "SD=SD",    "SD=WD+F",  "SD=SV+I",   "SD=WV+FI", "SD=SA+II", "SD=WA+FII",
    "EA=EA",    "BA=BA",   "BA=EA+F",  "WN=WN",    "SN=SN",    "SN=WN+F",
};

const float CLASS_LIMITS[13] = {0, 0.28f, 0.45f, 0.71f, 1.12f, 1.8f, 2.8f, 4.5f, 7.1f, 11.2f, 18, 28, 45};

namespace {
i32 g_record_buffers[RESULT_GROUPS][RESULT_KINDS][RESULT_SLOTS][RECORD_VALUES];

constexpr u32 WINDOW_POINTS = 8192;
u32 g_hamming[WINDOW_POINTS + 1];
u32 g_hann[WINDOW_POINTS + 1];
bool g_windows_built = false;

void build_windows()
{
    // Computed over the first half and mirrored, so the tables are exactly
    // symmetric with their centre at 65536.
    for (u32 i = 0; i <= WINDOW_POINTS / 2; ++i) {
        const double c = std::cos(2.0 * std::numbers::pi * i / WINDOW_POINTS);
        g_hamming[i] = g_hamming[WINDOW_POINTS - i] = static_cast<u32>(std::floor((0.54 - 0.46 * c) * 65536.0 + 0.5));
        g_hann[i] = g_hann[WINDOW_POINTS - i] = static_cast<u32>(std::floor((1.0 - c) * 0.5 * 65536.0 + 0.5));
    }
    g_windows_built = true;
}

// Rounds a product half away from zero, saturated to the i32 range.
i32 round_saturated(double v)
{
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483647.0) return -2147483647;
    return round_half_away(static_cast<float>(v));
}

u32 kind_of_letter(char c)
{
    switch (c) {
    case 'W': return KIND_W;
    case 'S': return KIND_S;
    case 'E': return KIND_E;
    case 'B': return KIND_B;
    default: return 99;
    }
}

u32 quantity_of_letter(char c)
{
    switch (c) {
    case 'A': return Q_A;
    case 'V': return Q_V;
    case 'D': return Q_D;
    case 'N': return Q_N;
    default: return 99;
    }
}

}  // namespace

void result_store_clear()
{
    std::memset(&results, 0, sizeof results);
    for (u32 g = 0; g < RESULT_GROUPS; ++g)
        for (u32 k = 0; k < RESULT_KINDS; ++k)
            for (u32 q = 0; q < RESULT_SLOTS; ++q) results.group[g].rec[k][q].data = g_record_buffers[g][k][q];
}

void clear_record(SignalRecord* rec)
{
    i32* data = rec->data;
    std::memset(rec, 0, sizeof *rec);
    rec->data = data;
}

i32 pair_peak(const i32* pairs, u32 from_line, u32 lines)
{
    i32 peak = 0;
    for (u32 k = from_line; k < lines; ++k) {
        const i32 re = std::abs(pairs[2 * k]);
        const i32 im = std::abs(pairs[2 * k + 1]);
        if (re > peak) peak = re;
        if (im > peak) peak = im;
    }
    return peak;
}

const u32* window_table(u32 mode)
{
    if (!g_windows_built) build_windows();
    if (mode == 1) return g_hamming;
    if (mode == 2) return g_hann;
    return nullptr;
}

float window_factor(u32 mode)
{
    if (mode == 1) return 1.856f;
    if (mode == 2) return 2.0f;
    return 1.0f;
}

void signal_reset()
{
    result_store_clear();
    window_mode = 1;
}

SignalRecord* record_at(u32 group, u32 kind, u32 quantity)
{
    if (group >= RESULT_GROUPS || kind >= RESULT_KINDS || quantity >= RESULT_SLOTS) return nullptr;
    SignalRecord* rec = &results.group[group].rec[kind][quantity];
    if (!rec->data) rec->data = g_record_buffers[group][kind][quantity];
    return rec;
}

float x_at(const SignalRecord* rec, u32 i)
{
    return rec->x0 + static_cast<float>(i) * rec->dx;
}

int index_of(const SignalRecord* rec, float x, float tolerance)
{
    // An empty record has no point: count - 1.
    if (rec->count == 0) return -1;
    const int last = static_cast<int>(rec->count) - 1;
    int i;
    if (x < rec->x0) {
        i = 0;
    } else if (x >= rec->x_last || rec->dx <= 0) {
        i = last;
    } else {
        // The header need not agree with count (x_last, a tiny dx) and x may
        // be NaN: the index stays a point of the record whatever the quotient.
        i = round_half_away((x - rec->x0) / rec->dx);
        if (i > last) i = last;
        if (i < 0) i = 0;
    }
    // A NaN distance is not below the tolerance either.
    if (tolerance != 0 && !(std::fabs(x - x_at(rec, static_cast<u32>(i))) < tolerance)) return -1;
    return i;
}

u64 line_power(const SignalRecord* rec, u32 i)
{
    // 64-bit: re and im each reach 2^15 times the window gain, so their
    // squares may sum past 2^31.
    const i64 re = rec->data[2 * i];
    const i64 im = rec->data[2 * i + 1];
    return static_cast<u64>(re * re) + static_cast<u64>(im * im);
}

void copy_record(const SignalRecord* src, SignalRecord* dst)
{
    if (src == dst) return;
    i32* data = dst->data;
    *dst = *src;
    dst->data = data;
}

int is_vibration_quantity(const SignalRecord* rec)
{
    return rec->quantity <= Q_D ? 1 : 0;
}

void build_time_record(const FrameBlock& block, u32 column, SignalRecord* rec, u32 quantity, float scale,
                       u32 marker_zero)
{
    const u32 n = block.count;
    const VibFrame* frames = block.frames;
    rec->type = REC_ACQUIRED;
    rec->stamp = block.stamp;
    rec->tick = block.tick;
    rec->kind = KIND_W;
    rec->quantity = quantity;
    rec->count = n;
    rec->x0 = 0;
    rec->dx = block.dt;
    rec->x_last = static_cast<float>(n - 1) * block.dt;
    rec->data_bytes = n * 4;

    i32 vmax = 0, vmin = 65535;
    i64 sum = 0;
    for (u32 i = 0; i < n; ++i) {
        const i32 v = frames[i].w[column];
        if (v > vmax) vmax = v;
        if (v < vmin) vmin = v;
        sum += v;
    }
    i32 zero;
    if (quantity == Q_N)
        zero = static_cast<i32>(marker_zero);
    else
        zero = n ? round_half_away(static_cast<float>(sum) / static_cast<float>(n)) : 0;

    const i32 up = vmax - zero, down = vmin - zero;
    const i32 m = std::abs(up) >= std::abs(down) ? std::abs(up) : std::abs(down);
    u32 shift = 0;
    if (m >= 1)
        while ((m << shift) < 16384) ++shift;
    const i32 mult = 1 << shift;
    rec->scale = scale / static_cast<float>(mult);
    rec->peak = m * mult;
    for (u32 i = 0; i < n; ++i) rec->data[i] = (frames[i].w[column] - zero) * mult;
}

int spectrum_of(const SignalRecord* in, SignalRecord* out, u32 window)
{
    if (in->kind != KIND_W && in->kind != KIND_E) return 0;
    const u32 n = in->count;
    if (!fft_size_supported(n) || n > RECORD_VALUES) return 0;
    copy_record(in, out);
    const u32 step = 8192 / n;
    FftPair* work = fft_input();
    const u32* w = window_table(window);
    for (u32 i = 0; i < n; ++i) {
        const i64 x = in->data[i];
        work[i].re = w ? static_cast<i32>(static_cast<i64>(w[i * step]) * x / 65536) : static_cast<i32>(x);
        work[i].im = 0;
    }
    const u32 lines = spectrum_lines(n);
    // The record buffer holds at most 4096 pairs; only the first `lines`
    // belong to the spectrum.
    const u32 keep = n < RECORD_PAIRS ? n : RECORD_PAIRS;
    if (!fft_forward(n, reinterpret_cast<FftPair*>(out->data), keep)) return 0;
    out->type = REC_COMPUTED;
    out->kind = in->kind + 1;
    out->count = lines;
    out->x0 = 0;
    out->dx = 1.0f / in->x_last;
    out->x_last = static_cast<float>(lines - 1) * out->dx;
    out->data_bytes = lines * 8;
    out->scale = in->scale * window_factor(window) * 2.0f;
    const u32 zeroed = out->kind == KIND_B ? 2 : 1;
    for (u32 k = 0; k < zeroed; ++k) out->data[2 * k] = out->data[2 * k + 1] = 0;
    out->peak = pair_peak(out->data, zeroed, lines);
    return 1;
}

namespace {
// Integration multiplies each line by 1000 / (j 2 pi f) and differentiation by
// -j 2 pi f / 1000 (the factor 1000 converts m to mm and mm to um): both turn
// the pair by a quarter turn and scale it. Lines below first_line become 0.
// Time signals are not transformed; the record carries no samples.
void turn_lines(const SignalRecord* in, SignalRecord* out, u32 first_line, bool integrate)
{
    copy_record(in, out);
    if (in->kind != KIND_S) {
        std::memset(out->data, 0, in->count * sizeof(i32));
        out->peak = 0;
        return;
    }
    i32 peak = 0;
    for (u32 k = 0; k < in->count; ++k) {
        if (k < first_line) {
            out->data[2 * k] = out->data[2 * k + 1] = 0;
            continue;
        }
        const double f = x_at(in, k);
        const double g = integrate ? 1000.0 / (2.0 * std::numbers::pi * f) : 2.0 * std::numbers::pi * f * 0.001;
        const i32 turned_re = round_saturated(in->data[2 * k + 1] * g);
        const i32 turned_im = round_saturated(in->data[2 * k] * g);
        const i32 re = integrate ? -turned_re : turned_re;
        const i32 im = integrate ? turned_im : -turned_im;
        out->data[2 * k] = re;
        out->data[2 * k + 1] = im;
        peak = std::max(peak, std::max(std::abs(re), std::abs(im)));
    }
    out->peak = peak;
}
}  // namespace

int integrate_record(const SignalRecord* in, SignalRecord* out)
{
    if (in->quantity != Q_A && in->quantity != Q_V) return 0;
    if (in->kind != KIND_W && in->kind != KIND_S) return 0;
    const u32 k0 = in->quantity == Q_V ? in->count / 64 : in->count / 1024;
    turn_lines(in, out, k0 + 1, true);
    out->quantity = in->quantity + 1;
    out->type = REC_COMPUTED;
    return 1;
}

int differentiate_record(const SignalRecord* in, SignalRecord* out)
{
    if (in->quantity != Q_V && in->quantity != Q_D) return 0;
    if (in->kind != KIND_W && in->kind != KIND_S) return 0;
    turn_lines(in, out, 1, false);
    out->quantity = in->quantity - 1;
    out->type = REC_COMPUTED;
    return 1;
}

int meas_get_record(u32 group, u32 kind, u32 quantity, SignalRecord** rec)
{
    if (group >= RESULT_GROUPS || kind > 3 || quantity > 3) return 0;
    SignalGroup& g = results.group[group];
    SignalRecord* cell = record_at(group, kind, quantity);
    if (cell->type != REC_EMPTY) {
        *rec = cell;
        return 1;
    }
    if (!g.active) return 0;

    const char* recipe = nullptr;
    u32 src_kind = 0, src_q = 0;
    for (const char* r : DERIVE_RECIPES) {
        if (kind_of_letter(r[0]) != kind || quantity_of_letter(r[1]) != quantity) continue;
        const u32 sk = kind_of_letter(r[3]), sq = quantity_of_letter(r[4]);
        if (record_at(group, sk, sq)->type == REC_EMPTY) continue;
        recipe = r;
        src_kind = sk;
        src_q = sq;
        break;
    }
    if (!recipe) return 0;
    SignalRecord* cur = record_at(group, src_kind, src_q);
    if (recipe[5] == '+') {
        for (const char* op = recipe + 6; *op; ++op) {
            u32 nk = cur->kind, nq = cur->quantity;
            if (*op == 'F')
                nk = src_kind + 1;
            else if (*op == 'I')
                nq = src_q + 1;
            else if (*op == 'D')
                nq = src_q - 1;
            if (nk > 3 || nq > 3) return 0;
            SignalRecord* next = record_at(group, nk, nq);
            if (next->type == REC_EMPTY) {
                int ok = 0;
                if (*op == 'F')
                    ok = spectrum_of(cur, next, window_mode);
                else if (*op == 'I')
                    ok = integrate_record(cur, next);
                else if (*op == 'D')
                    ok = differentiate_record(cur, next);
                if (!ok) {
                    // A refused operation leaves its cell empty: nothing to show.
                    clear_record(next);
                    return 0;
                }
            }
            cur = next;
            src_kind = nk;
            src_q = nq;
        }
    }
    *rec = cur;
    return 1;
}
