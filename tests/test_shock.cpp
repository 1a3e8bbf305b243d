// Shock-pulse analysis: levels, decibels, statistics and records.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/shock.h"
#include "analysis/signal.h"
#include "tests/support/support.h"

namespace {

double db(double x)
{
    return x > 0.2 ? 20 * std::log10(x * 5 / 0.56) : 0;
}

class ShockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        meas_init();
        results_reset();
    }
    VirtualHostScope scope;
};

TEST_F(ShockTest, LevelsFollowTheRateCountsOf1024SamplesAt2560Hz)
{
    // T = 0.4 s: N40 = 16, N200 = 80, N1000 = 400. Each level sits one sample
    // past its count, so a count off by one would pick another level.
    std::vector<u16> s;
    auto add = [&s](u32 n, u16 v) { s.insert(s.end(), n, v); };
    add(16, 1000);
    add(1, 900);  // 17th largest: low-rate level = mean of the 17
    add(63, 500);
    add(1, 400);  // 81st: carpet
    add(319, 100);
    add(1, 90);  // 401st: high rate
    add(623, 10);
    ASSERT_EQ(s.size(), 1024u);
    ShockPulseResult& r = shock_result;
    shock_analyse(s.data(), 0, 1024, 1.0f, 2560.0f, &r);
    const double lr_level = std::round((16 * 1000.0 + 900) / 17);
    EXPECT_EQ(r.valid, 1u);
    EXPECT_EQ(r.count, 1024u);
    EXPECT_EQ(r.min_abs, 10);
    EXPECT_EQ(r.max_abs, 1000);
    double sum = 0;
    for (u16 v : s) sum += v;
    EXPECT_EQ(r.mean_abs, static_cast<i32>(sum / 1024));
    EXPECT_NEAR(r.dbm, db(1000), 1e-3);
    EXPECT_NEAR(r.dbc, db(400), 1e-3);
    EXPECT_NEAR(r.lr, db(lr_level), 1e-3);
    EXPECT_NEAR(r.hr, db(90), 1e-3);
    EXPECT_NEAR(r.delta_mc, db(1000) - db(400), 1e-3);
    EXPECT_NEAR(r.delta_lh, db(lr_level) - db(90), 1e-3);
    EXPECT_EQ(r.cond_code, 1u);  // delta_mc about 8 dB
    EXPECT_EQ(r.zone, 1u);       // D - 5 > 45 - HR
    EXPECT_EQ(r.zone_letter, static_cast<u32>('A'));
    EXPECT_EQ(r.cond_number, 0u);

    // The same signal at 10240 Hz lasts 0.1 s: N40 = 4, N200 = 20, N1000 = 100:
    // the levels move up to 1000, 500 and 100.
    shock_analyse(s.data(), 0, 1024, 1.0f, 10240.0f, &r);
    EXPECT_NEAR(r.lr, db(1000), 1e-3);
    EXPECT_NEAR(r.dbc, db(500), 1e-3);
    EXPECT_NEAR(r.hr, db(100), 1e-3);
}

TEST_F(ShockTest, StatisticsAgainstDoublePrecision)
{
    // A constant: RMS = the constant, crest 1, kurtosis -2 (grade 1).
    std::vector<u16> c(1024, 300);
    shock_analyse(c.data(), 0, 1024, 1.0f, 2560.0f, &shock_result);
    EXPECT_NEAR(shock_result.rms, 300, 1e-3);
    EXPECT_NEAR(shock_result.crest, 1, 1e-5);
    EXPECT_NEAR(shock_result.kurtosis, -2, 1e-4);  // single-precision sums
    EXPECT_EQ(shock_result.kurtosis_grade, 1u);

    // A pulse train, read as signed 16-bit (65535 is -1).
    std::vector<u16> s(2048);
    for (u32 i = 0; i < s.size(); ++i) s[i] = i % 64 == 5 ? 700 : i % 3 ? 20 : 65535;
    shock_analyse(s.data(), 0, 2048, 0.5f, 2560.0f, &shock_result);
    double s2 = 0, s4 = 0, mx = 0;
    for (u16 v : s) {
        const double x = static_cast<i16>(v);
        s2 += x * x;
        s4 += x * x * x * x;
        mx = std::max(mx, std::abs(x));
    }
    const double rms = std::sqrt(s2 / 2048), kurt = 2048 * s4 / (s2 * s2) - 3;
    EXPECT_NEAR(shock_result.rms, rms, rms * 1e-5);
    EXPECT_NEAR(shock_result.crest, mx / rms, mx / rms * 1e-5);
    EXPECT_NEAR(shock_result.kurtosis, kurt, kurt * 1e-4);
    EXPECT_EQ(shock_result.kurtosis_grade, 3u);
    EXPECT_EQ(shock_result.min_abs, 1);
}

TEST_F(ShockTest, SmallLevelsGiveZeroDecibels)
{
    EXPECT_EQ(to_db(0.2f), 0.0f);
    EXPECT_EQ(to_db(0.0f), 0.0f);
    EXPECT_EQ(to_db(-3.0f), 0.0f);
    for (float x : {0.21f, 1.0f, 17.5f, 1000.0f}) {
        EXPECT_NEAR(to_db(x), db(x), 1e-4) << x;
        EXPECT_NEAR(from_db(to_db(x)), x, x * 1e-5) << x;
    }
    std::vector<u16> s(1024, 3);
    s[100] = 8;
    shock_analyse(s.data(), 0, 1024, 0.025f, 2560.0f, &shock_result);  // 0.2 at the maximum
    EXPECT_EQ(shock_result.dbm, 0.0f);
    EXPECT_EQ(shock_result.dbc, 0.0f);
    EXPECT_EQ(shock_result.lr, 0.0f);
    EXPECT_EQ(shock_result.hr, 0.0f);
}

TEST_F(ShockTest, RecordsAndSpectrumOfTheEnvelope)
{
    // Pulses every 32 samples: the envelope spectrum has its lines at
    // 2560 / 32 = 80 Hz and its harmonics.
    const u32 n = 1024;
    std::vector<u16> s(n);
    for (u32 i = 0; i < n; ++i) s[i] = i % 32 < 3 ? 600 - 150 * (i % 32) : 10 + i % 7;
    shock_analyse(s.data(), 0, n, 2.0f, 2560.0f, &shock_result);
    shock_build_records(&shock_result);
    const SignalRecord* e = record_at(3, KIND_E, Q_A);
    ASSERT_EQ(e->type, REC_ACQUIRED);
    // The spectrum, as the screens get it (group 3 is no active group: the
    // record is owed by the acquisition, not derived by a recipe).
    SignalRecord* b = nullptr;
    ASSERT_EQ(meas_get_record(3, KIND_B, Q_A, &b), 1);
    ASSERT_EQ(b, record_at(3, KIND_B, Q_A));
    ASSERT_EQ(b->type, REC_COMPUTED);
    EXPECT_EQ(e->count, n);
    EXPECT_FLOAT_EQ(e->dx, 1.0f / 2560);
    const i32 mean = shock_result.mean_abs;
    for (u32 i = 0; i < n; ++i) ASSERT_NEAR(e->data[i] * e->scale, (s[i] - mean) * 2.0, 1e-3) << i;
    EXPECT_GE(e->peak, 16384);
    EXPECT_EQ(b->kind, KIND_B);
    EXPECT_EQ(b->count, 401u);
    EXPECT_NEAR(b->dx, 2560.0 / 1023, 1e-4);
    EXPECT_FLOAT_EQ(b->scale, e->scale * 2);
    EXPECT_EQ(b->data[0] | b->data[1] | b->data[2] | b->data[3], 0);
    // Line amplitudes against a double-precision DFT of the E samples.
    for (u32 k : {2u, 31u, 32u, 64u, 96u, 200u}) {
        std::complex<double> sum = 0;
        for (u32 i = 0; i < n; ++i) sum += double(e->data[i]) * std::polar(1.0, -2 * std::numbers::pi * k * i / n);
        const double expect = std::abs(sum) / n * e->scale * 2;
        const double got = std::hypot(double(b->data[2 * k]), double(b->data[2 * k + 1])) * b->scale;
        // Within one raw count of the fixed-point transform.
        EXPECT_NEAR(got, expect, b->scale * 1.5 + expect * 1e-3) << k;
    }
    i32 peak = 0;
    for (u32 k = 2; k < b->count; ++k) peak = std::max({peak, std::abs(b->data[2 * k]), std::abs(b->data[2 * k + 1])});
    EXPECT_EQ(b->peak, peak);
    EXPECT_GT(std::hypot(double(b->data[64]), double(b->data[65])), 1000.0);  // line 32 = 80 Hz
}

}  // namespace
