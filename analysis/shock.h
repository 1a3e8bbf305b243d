// Shock-pulse analysis: maximum and carpet values in dB, low and high rate
// values, condition zone and number, signal statistics; the shock-pulse time
// record and its spectrum.
#pragma once
#include "base/types.h"

struct ShockPulseResult {
    u32 valid;
    u32 capacity;
    u32 stamp;
    u32 kind;
    u32 count;
    i16* samples;
    float scale;
    float dt;
    u32 rate_limit;
    i32 min_abs, max_abs, mean_abs;
    float dbm, dbc, lr, hr;
    float delta_mc, delta_lh;
    float limit_hi, limit_lo;
    u32 cond_code;
    float z1_hr, z1_d, z1b_hr, z1b_d, z2_hr, z2_d, z2b_hr, z2b_d;
    u32 zone;
    u32 cond_number;
    u32 zone_letter;
    float sum_sq;
    float sum_4;
    float rms;
    float crest;
    float kurtosis;
    u32 stats_valid;
    u32 kurtosis_grade;
    u32 tick;
};

// Samples the analysis can hold.
constexpr u32 SHOCK_WORK_SAMPLES = 16384;

extern ShockPulseResult shock_result;

// Clears the block and attaches its sample buffer.
void shock_reset();
float to_db(float x);
float from_db(float d);
void shock_analyse(const u16* buffer, u32 start, u32 n, float scale, float rate, ShockPulseResult* result);
void shock_build_records(ShockPulseResult* result);
