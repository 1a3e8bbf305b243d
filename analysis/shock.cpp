#include "analysis/shock.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "analysis/rounding.h"
#include "analysis/signal.h"
#include "host/device.h"

ShockPulseResult shock_result;

namespace {
i16 g_shock_work[SHOCK_WORK_SAMPLES];
u32 g_histogram[65536];
}  // namespace

void shock_reset()
{
    std::memset(&shock_result, 0, sizeof shock_result);
    shock_result.capacity = 512;
    shock_result.samples = g_shock_work;
}

float to_db(float x)
{
    if (x <= 0.2f) return 0;
    return static_cast<float>(20.0 * std::log10(x * 5.0 / 0.56));
}

float from_db(float d)
{
    return static_cast<float>(std::pow(10.0, d * 0.05) * 0.56 * 0.2);
}

void shock_analyse(const u16* buffer, u32 start, u32 n, float scale, float rate, ShockPulseResult* r)
{
    r->kind = 2;
    if (n == 0) return;
    if (!r->samples) r->samples = g_shock_work;
    if (n > SHOCK_WORK_SAMPLES) n = SHOCK_WORK_SAMPLES;
    for (u32 i = 0; i < n; ++i) r->samples[i] = static_cast<i16>(buffer[start + i]);
    r->dt = 1.0f / rate;
    r->rate_limit = 40000;
    r->scale = scale;
    r->count = n;
    r->valid = 1;
    r->stamp = pack_now();
    r->tick = ticks_now();

    i32 amin = 65536, amax = 0;
    i64 asum = 0;
    float sum_sq = 0, sum_4 = 0;
    for (u32 i = 0; i < n; ++i) {
        const i32 x = r->samples[i];
        const i32 a = std::abs(x);
        ++g_histogram[a];
        if (a < amin) amin = a;
        if (a > amax) amax = a;
        asum += a;
        const float x2 = static_cast<float>(x) * static_cast<float>(x);
        sum_sq += x2;
        sum_4 += x2 * x2;
    }
    if (amax == 0) amax = amin;

    const float duration = static_cast<float>(r->count) * r->dt;
    const i64 n1000 = round_half_away(1000.0f * duration);
    const i64 n200 = round_half_away(200.0f * duration);
    const i64 n40 = round_half_away(40.0f * duration);
    i32 low_rate = 0, carpet = 0, high_rate = 0;
    bool have_lr = false, have_carpet = false;
    i64 c = 0;
    double weighted = 0;
    for (i32 a = amax; a >= amin; --a) {
        c += g_histogram[a];
        weighted += static_cast<double>(g_histogram[a]) * a;
        if (!have_lr && c > n40) {
            low_rate = round_half_away(static_cast<float>(weighted / static_cast<double>(c)));
            have_lr = true;
        }
        if (!have_carpet && c > n200) {
            carpet = a;
            have_carpet = true;
        }
        if (c > n1000) {
            high_rate = a;
            break;
        }
    }
    // Only the counts between the smallest and largest magnitude were
    // touched: clearing them leaves the histogram zero for the next record,
    // without clearing all its 256 KB in every cycle.
    std::memset(g_histogram + amin, 0, static_cast<size_t>(amax - amin + 1) * sizeof g_histogram[0]);
    if (low_rate == 0) low_rate = amin;
    if (carpet == 0) carpet = amin;
    if (high_rate == 0) high_rate = amin;

    r->min_abs = amin;
    r->max_abs = amax;
    r->mean_abs = static_cast<i32>(asum / static_cast<i64>(r->count));
    r->dbm = to_db(static_cast<float>(amax) * scale);
    r->dbc = to_db(static_cast<float>(carpet) * scale);
    r->lr = to_db(static_cast<float>(low_rate) * scale);
    r->hr = to_db(static_cast<float>(high_rate) * scale);
    r->delta_mc = r->dbm - r->dbc;
    r->delta_lh = r->lr - r->hr;

    r->limit_hi = 35;
    r->limit_lo = 20;
    r->cond_code = r->delta_mc >= r->limit_hi ? 3 : r->delta_mc < r->limit_lo ? 1 : 2;

    r->z1_hr = 40;
    r->z1_d = 10;
    r->z1b_hr = 45;
    r->z1b_d = 5;
    r->z2_hr = 40;
    r->z2_d = 12;
    r->z2b_hr = 52;
    r->z2b_d = 0;
    const float hr = r->hr, d = r->delta_lh;
    if ((hr < r->z1_hr && d < r->z1_d) || (hr < r->z1b_hr && d < r->z1b_d) || (d - 5 > 45 - hr))
        r->zone = 1;
    else if ((hr < r->z2_hr && d < r->z2_d) || (hr < r->z2b_hr && d < r->z2b_d) || (d > 52 - hr))
        r->zone = 2;
    else
        r->zone = 3;

    r->cond_number = 0;
    if (r->zone != 1) {
        const float v = hr < 40 ? d - 10 : (d - 5) - (45 - hr);
        if (v > 20)
            r->cond_number = 89;
        else if (v > 10)
            r->cond_number = static_cast<u32>(round_half_away(3 * v + 29));
    }
    r->zone_letter = r->zone == 3 ? 'D' : r->zone == 2 ? 'C' : 'A';

    r->sum_sq = sum_sq;
    r->sum_4 = sum_4;
    if (sum_sq > 0) {
        r->rms = std::sqrt(sum_sq / static_cast<float>(r->count));
        r->crest = static_cast<float>(amax) / r->rms;
        r->kurtosis = static_cast<float>(r->count) * sum_4 / (sum_sq * sum_sq) - 3.0f;
    } else {
        r->rms = r->crest = r->kurtosis = 0;
    }
    r->stats_valid = 1;
    r->kurtosis_grade = r->kurtosis < 0 ? 1 : r->kurtosis < 2 ? 2 : 3;
}

void shock_build_records(ShockPulseResult* r)
{
    SignalRecord* e = record_at(3, KIND_E, Q_A);
    clear_record(e);
    // Its spectrum, unweighted, computed when somebody asks for it (none
    // without a time record).
    defer_spectrum(3, KIND_B, Q_A, 0);
    const u32 n = r->count < RECORD_VALUES ? r->count : RECORD_VALUES;
    if (n == 0 || !r->samples) return;
    e->type = REC_ACQUIRED;
    e->stamp = r->stamp;
    e->tick = r->tick;
    e->kind = KIND_E;
    e->quantity = Q_A;
    e->count = n;
    e->x0 = 0;
    e->dx = r->dt;
    e->x_last = static_cast<float>(n - 1) * r->dt;
    e->data_bytes = n * 4;

    const i32 m = r->max_abs - r->mean_abs;
    u32 shift = 0;
    if (m >= 1)
        while ((m << shift) < 16384) ++shift;
    const i32 mult = 1 << shift;
    e->scale = r->scale / static_cast<float>(mult);
    i32 peak = m * mult;
    for (u32 i = 0; i < n; ++i) {
        const i32 v = (std::abs(static_cast<i32>(r->samples[i])) - r->mean_abs) * mult;
        e->data[i] = v;
        if (std::abs(v) > peak) peak = std::abs(v);
    }
    e->peak = peak;
}
