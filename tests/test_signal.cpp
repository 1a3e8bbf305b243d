// Result store, on-demand derivation, band values, grading and averaging.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <vector>

#include "analysis/fft.h"
#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/signal.h"
#include "host/settings.h"
#include "tests/support/support.h"

namespace {

constexpr double PI = std::numbers::pi;

class SignalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings_defaults();
        meas_init();
        results_reset();
        results.group_count = 2;
        results.group[1].active = 1;
    }

    // Puts a sine of `counts` raw amplitude and frequency f into word column
    // `column` of n frames, with sample period dt.
    static void fill_sine(u32 column, u32 n, double dt, double f, double counts, double phase = 0.3)
    {
        meas_state.n_samples = n;
        meas_state.dt = static_cast<float>(dt);
        for (u32 i = 0; i < n; ++i)
            meas_state.frames[i].w[column] =
                static_cast<u16>(std::lround(MID_SCALE + counts * std::sin(2 * PI * f * i * dt + phase)));
    }

    // Amplitude of line k of a spectrum record in physical units.
    static double line_amplitude(const SignalRecord* rec, u32 k)
    {
        return std::hypot(double(rec->data[2 * k]), double(rec->data[2 * k + 1])) * rec->scale;
    }

    static u32 strongest_line(const SignalRecord* rec)
    {
        u32 best = 1;
        for (u32 k = 1; k < rec->count; ++k)
            if (line_power(rec, k) > line_power(rec, best)) best = k;
        return best;
    }

    VirtualHostScope scope;
};

constexpr double DT_1024 = 0.4 / 1023;  // 1024 samples up to 1000 Hz

TEST_F(SignalTest, SineGivesPeakRmsAndPeakToPeakBandValues)
{
    // The same vibration seen by the three channels: acceleration amplitude
    // A (m/s^2), velocity A / w (mm/s), displacement A / w^2 (um).
    struct Case {
        double f, accel;
    };
    for (const Case c : {Case{79.6, 7.0}, Case{160.0, 2.5}, Case{45.0, 20.0}}) {
        SCOPED_TRACE(c.f);
        SetUp();
        const double w = 2 * PI * c.f;
        const double amp[3] = {c.accel, c.accel / w * 1000, c.accel / (w * w) * 1e6};
        const double counts = 6000;
        for (u32 q = Q_A; q <= Q_D; ++q) {
            fill_sine(q, 1024, DT_1024, c.f, counts, 0.2 + q);
            build_time_record(meas_frames(0), q, record_at(1, KIND_W, q), q, static_cast<float>(amp[q] / counts),
                              meas_calibration.marker_zero);
        }
        update_band_values_all();
        EXPECT_NEAR(meas_band_value(1, Q_A), amp[0], amp[0] * 0.02);
        EXPECT_NEAR(meas_band_value(1, Q_V), amp[1] / std::sqrt(2.0), amp[1] * 0.02);
        EXPECT_NEAR(meas_band_value(1, Q_D), 2 * amp[2], amp[2] * 0.04);
        // The band values work on a private spectrum: no cell was filled.
        EXPECT_EQ(record_at(1, KIND_S, Q_A)->type, REC_EMPTY);
        EXPECT_EQ(window_mode, 1u);
    }
}

TEST_F(SignalTest, BandValuesAndDerivedSpectraTakeTheirOwnWindows)
{
    // The band values never use a window, whatever window the derived
    // spectra use, and leave that window as it was.
    fill_sine(0, 1024, DT_1024, 79.6, 6000);
    build_time_record(meas_frames(0), 0, record_at(1, KIND_W, Q_A), Q_A, 7.0f / 6000, meas_calibration.marker_zero);
    update_band_values_all();
    const float plain = meas_band_value(1, Q_A);
    for (u32 mode : {2u, 1u}) {
        SCOPED_TRACE(mode);
        window_mode = mode;
        results_reset();
        results.group_count = 2;
        results.group[1].active = 1;
        build_time_record(meas_frames(0), 0, record_at(1, KIND_W, Q_A), Q_A, 7.0f / 6000, meas_calibration.marker_zero);
        update_band_values_all();
        EXPECT_EQ(meas_band_value(1, Q_A), plain);
        EXPECT_EQ(window_mode, mode);
        SignalRecord* sa;
        ASSERT_EQ(meas_get_record(1, KIND_S, Q_A, &sa), 1);
        EXPECT_FLOAT_EQ(sa->scale, record_at(1, KIND_W, Q_A)->scale * window_factor(mode) * 2);
    }
}

TEST_F(SignalTest, BandExcludesFrequenciesOutsideTenToThousandHz)
{
    // 1150 Hz lies above the band, 350 Hz above the displacement band.
    fill_sine(0, 1024, DT_1024, 1150.0, 6000);
    build_time_record(meas_frames(0), 0, record_at(1, KIND_W, Q_A), Q_A, 0.001f, meas_calibration.marker_zero);
    fill_sine(2, 1024, DT_1024, 350.0, 6000);
    build_time_record(meas_frames(0), 2, record_at(1, KIND_W, Q_D), Q_D, 0.001f, meas_calibration.marker_zero);
    update_band_values_all();
    EXPECT_LT(meas_band_value(1, Q_A), 6.0 * 0.05);
    EXPECT_LT(meas_band_value(1, Q_D), 12.0 * 0.05);
}

TEST_F(SignalTest, BandValueIsTheMeanOfTheLastFourAndClampedAt999)
{
    const double amps[5] = {1, 2, 3, 4, 5};
    for (double a : amps) {
        fill_sine(0, 1024, DT_1024, 100.0, 8000);
        build_time_record(meas_frames(0), 0, record_at(1, KIND_W, Q_A), Q_A, static_cast<float>(a / 8000),
                          meas_calibration.marker_zero);
        update_band_values_all();
    }
    EXPECT_EQ(band_history_count, 4u);
    EXPECT_NEAR(meas_band_value(1, Q_A), (2 + 3 + 4 + 5) / 4.0, 0.1);

    build_time_record(meas_frames(0), 0, record_at(1, KIND_W, Q_A), Q_A, 1.0f,
                      meas_calibration.marker_zero);  // ~8000 m/s^2
    for (int i = 0; i < 4; ++i) update_band_values_all();
    EXPECT_EQ(meas_band_value(1, Q_A), 999.0f);
    results_reset();
    EXPECT_EQ(meas_band_value(1, Q_A), 0.0f);
}

TEST_F(SignalTest, TimeRecordIsCentredAndNormalised)
{
    fill_sine(1, 1024, DT_1024, 79.6, 300);
    for (u32 i = 0; i < 1024; ++i) meas_state.frames[i].w[1] += 100;  // offset is removed
    SignalRecord* rec = record_at(1, KIND_W, Q_V);
    build_time_record(meas_frames(0), 1, rec, Q_V, 0.5f, meas_calibration.marker_zero);
    EXPECT_EQ(rec->type, REC_ACQUIRED);
    EXPECT_EQ(rec->count, 1024u);
    EXPECT_FLOAT_EQ(rec->x_last, 1023 * static_cast<float>(DT_1024));
    // 300 counts need 6 doublings to reach 16384.
    EXPECT_FLOAT_EQ(rec->scale, 0.5f / 64);
    EXPECT_GE(rec->peak, 16384);
    EXPECT_LT(rec->peak, 32768);
    for (u32 i = 0; i < 1024; i += 97) {
        const double physical = (meas_state.frames[i].w[1] - 16384.0 - 100.0) * 0.5;
        EXPECT_NEAR(rec->data[i] * rec->scale, physical, 0.5 * 1.01) << i;
    }
}

TEST_F(SignalTest, SpectrumPeaksAtTheSineLineForEveryTransformSize)
{
    for (u32 n : {512u, 1024u, 2048u, 4096u, 8192u}) {
        SCOPED_TRACE(n);
        SetUp();
        const double dt = 1.0 / 2560;
        const u32 bin = n / 32 + 3;
        const double f = bin / (n * dt);  // exactly on a line
        fill_sine(0, n, dt, f, 10000);
        build_time_record(meas_frames(0), 0, record_at(1, KIND_W, Q_A), Q_A, 0.003f, meas_calibration.marker_zero);
        SignalRecord* sa;
        ASSERT_EQ(meas_get_record(1, KIND_S, Q_A, &sa), 1);
        EXPECT_EQ(sa, record_at(1, KIND_S, Q_A));
        EXPECT_EQ(sa->type, REC_COMPUTED);
        EXPECT_EQ(sa->kind, KIND_S);
        EXPECT_EQ(sa->count, n * 100 / 256 + 1);
        EXPECT_NEAR(sa->dx, 1.0 / ((n - 1) * dt), 1e-3);
        EXPECT_EQ(strongest_line(sa), bin);
        // Hamming's coherent gain 0.54 times its factor 1.856 is 1.002.
        EXPECT_NEAR(line_amplitude(sa, bin), 10000 * 0.003, 30 * 0.01);
        EXPECT_EQ(sa->data[0], 0);
        EXPECT_EQ(sa->data[1], 0);
    }
}

TEST_F(SignalTest, FixedPointTransformMatchesADoubleDft)
{
    // Window mode 0: the spectrum is the plain DFT scaled by 1/N.
    const u32 n = 512;
    meas_state.n_samples = n;
    meas_state.dt = 1.0f / 2560;
    u32 x = 12345;
    for (u32 i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        meas_state.frames[i].w[0] = static_cast<u16>(8000 + (x >> 16) % 16000);
    }
    SignalRecord* w = record_at(1, KIND_W, Q_A);
    build_time_record(meas_frames(0), 0, w, Q_A, 1.0f, meas_calibration.marker_zero);
    window_mode = 0;
    SignalRecord* s;
    ASSERT_EQ(meas_get_record(1, KIND_S, Q_A, &s), 1);
    window_mode = 1;
    for (u32 k = 1; k < s->count; ++k) {
        std::complex<double> sum = 0;
        for (u32 i = 0; i < n; ++i) sum += double(w->data[i]) * std::polar(1.0, -2 * PI * k * i / n);
        sum /= n;
        EXPECT_NEAR(s->data[2 * k], sum.real(), 3.0) << k;
        EXPECT_NEAR(s->data[2 * k + 1], sum.imag(), 3.0) << k;
    }
}

TEST_F(SignalTest, TransformKeepsThePowerOfNoise)
{
    // Records enter the transform with about 15 significant bits; rounding
    // in its stages must not eat into them. The power of the spectrum lines
    // is compared with a double-precision DFT of the same windowed input.
    struct Case {
        u32 n, window;
    };
    for (const Case c : {Case{1024, 0}, Case{1024, 1}, Case{4096, 0}, Case{4096, 1}}) {
        SCOPED_TRACE(testing::Message() << c.n << " points, window " << c.window);
        SetUp();
        meas_state.n_samples = c.n;
        meas_state.dt = 1.0f / 2560;
        u32 x = 2024 + c.n;
        for (u32 i = 0; i < c.n; ++i) {
            x = x * 1103515245u + 12345u;
            meas_state.frames[i].w[0] = static_cast<u16>(MID_SCALE - 6000 + (x >> 8) % 12001);
        }
        SignalRecord* wa = record_at(1, KIND_W, Q_A);
        build_time_record(meas_frames(0), 0, wa, Q_A, 1.0f, meas_calibration.marker_zero);
        i32 buffer[RECORD_VALUES];
        SignalRecord spec{};
        spec.data = buffer;
        ASSERT_EQ(spectrum_of(wa, &spec, c.window), 1);

        const u32* w = window_table(c.window);
        const u32 step = 8192 / c.n;
        std::vector<double> in(c.n), cs(c.n), sn(c.n);
        for (u32 i = 0; i < c.n; ++i) {
            const i64 v = wa->data[i];
            in[i] = static_cast<double>(w ? static_cast<i64>(w[i * step]) * v / 65536 : v);
            cs[i] = std::cos(2 * PI * i / c.n);
            sn[i] = std::sin(2 * PI * i / c.n);
        }
        double exact = 0, fixed = 0;
        for (u32 k = 1; k < spec.count; ++k) {
            double re = 0, im = 0;
            for (u32 i = 0, j = 0; i < c.n; ++i, j = (j + k) % c.n) {
                re += in[i] * cs[j];
                im -= in[i] * sn[j];
            }
            re /= c.n;
            im /= c.n;
            exact += re * re + im * im;
            fixed += static_cast<double>(line_power(&spec, k));
        }
        EXPECT_NEAR(fixed / exact, 1.0, 5e-4);
    }
}

TEST_F(SignalTest, TransformTakesValuesUpToTheEndsOfTheI32Range)
{
    // Whatever a record holds reaches the transform unclipped and comes back
    // in the same scale: full-scale constants and alternations, and full-scale
    // noise compared with a double-precision DFT.
    constexpr i32 MAX = INT32_MAX, MIN = INT32_MIN;
    struct Case {
        u32 n;
        i32 even, odd;  // values of the even and odd samples
        u32 line;       // the only line that is not 0
        double re;
    };
    for (const Case c :
         {Case{8192, MAX, MAX, 0, MAX}, Case{8192, MIN, MIN, 0, MIN}, Case{512, MAX, -MAX, 256, MAX},
          Case{8192, MIN, MAX, 4096, -2147483647.5}, Case{1024, 32767, 32767, 0, 32767}, Case{1024, 1, -1, 512, 1}}) {
        SCOPED_TRACE(testing::Message() << c.n << " points, " << c.even << " " << c.odd);
        FftPair* in = fft_input();
        for (u32 i = 0; i < c.n; ++i) in[i] = FftPair{i % 2 ? c.odd : c.even, 0};
        std::vector<FftPair> out(c.n);
        ASSERT_EQ(fft_forward(c.n, out.data(), c.n), 1);
        // The stages divide by a radix a hair short of exact (by 2^-29 of
        // the value): a few units at full scale.
        for (u32 k = 0; k < c.n; ++k) {
            const double expect = k == c.line ? c.re : 0.0;
            EXPECT_NEAR(out[k].re, expect, 4.0 + std::fabs(expect) * 1e-8) << k;
            EXPECT_NEAR(out[k].im, 0.0, 4.0) << k;
        }
    }

    const u32 n = 512;
    FftPair* in = fft_input();
    std::vector<double> x(n);
    u32 r = 77;
    for (u32 i = 0; i < n; ++i) {
        r = r * 1103515245u + 12345u;
        const i32 v = (r >> 16) % 3 == 0 ? MIN : (r >> 16) % 3 == 1 ? MAX : static_cast<i32>(r);
        in[i] = FftPair{v, 0};
        x[i] = v;
    }
    std::vector<FftPair> out(n);
    ASSERT_EQ(fft_forward(n, out.data(), n), 1);
    for (u32 k = 0; k < n; k += 7) {
        std::complex<double> sum = 0;
        for (u32 i = 0; i < n; ++i) sum += x[i] * std::polar(1.0, -2 * PI * ((k * i) % n) / n);
        sum /= n;
        EXPECT_NEAR(out[k].re, sum.real(), 8.0) << k;
        EXPECT_NEAR(out[k].im, sum.imag(), 8.0) << k;
    }
}

TEST_F(SignalTest, VelocitySpectrumFromAccelerationOnly)
{
    const double f = 40 / (1024 * DT_1024);
    fill_sine(0, 1024, DT_1024, f, 12000);
    build_time_record(meas_frames(0), 0, record_at(1, KIND_W, Q_A), Q_A, 5.0f / 12000, meas_calibration.marker_zero);
    SignalRecord* sv;
    ASSERT_EQ(meas_get_record(1, KIND_S, Q_V, &sv), 1);
    // "SV=WA+FI": the acceleration spectrum is kept, velocity derived from it.
    EXPECT_EQ(sv, record_at(1, KIND_S, Q_V));
    EXPECT_EQ(sv->quantity, Q_V);
    EXPECT_EQ(sv->kind, KIND_S);
    EXPECT_EQ(record_at(1, KIND_S, Q_A)->type, REC_COMPUTED);
    EXPECT_EQ(record_at(1, KIND_W, Q_V)->type, REC_EMPTY);
    SignalRecord* sa;
    ASSERT_EQ(meas_get_record(1, KIND_S, Q_A, &sa), 1);
    EXPECT_EQ(sa, record_at(1, KIND_S, Q_A));
    // Velocity line = acceleration line * 1000 / (2 pi f) with the line's
    // own frequency.
    for (u32 k : {20u, 40u, 41u, 100u}) {
        const double expect = line_amplitude(sa, k) * 1000 / (2 * PI * x_at(sa, k));
        EXPECT_NEAR(line_amplitude(sv, k), expect, expect * 0.002 + 1e-4) << k;
    }
    EXPECT_NEAR(line_amplitude(sv, 40), 5.0 * 1000 / (2 * PI * x_at(sa, 40)), 0.1);
    // And the displacement from there by "SD=SV+I" (lines up to count/64 are 0).
    SignalRecord* sd;
    ASSERT_EQ(meas_get_record(1, KIND_S, Q_D, &sd), 1);
    EXPECT_EQ(sd->data[2 * 6], 0);
    EXPECT_NEAR(line_amplitude(sd, 40), line_amplitude(sv, 40) * 1000 / (2 * PI * x_at(sv, 40)), 1.0);
}

TEST_F(SignalTest, DifferentiationUndoesIntegration)
{
    fill_sine(0, 1024, DT_1024, 200.0, 9000);
    build_time_record(meas_frames(0), 0, record_at(1, KIND_W, Q_A), Q_A, 0.01f, meas_calibration.marker_zero);
    SignalRecord *sa, *sv;
    ASSERT_EQ(meas_get_record(1, KIND_S, Q_A, &sa), 1);
    ASSERT_EQ(meas_get_record(1, KIND_S, Q_V, &sv), 1);
    i32 buffer[RECORD_VALUES];
    SignalRecord back{};
    back.data = buffer;
    ASSERT_EQ(differentiate_record(sv, &back), 1);
    EXPECT_EQ(back.quantity, Q_A);
    for (u32 k = 1; k < sa->count; ++k) {
        // Rounding of the velocity line, magnified by the differentiation.
        const double tol = 1.0 + 2 * PI * x_at(sa, k) * 0.001;
        EXPECT_NEAR(back.data[2 * k], sa->data[2 * k], tol) << k;
        EXPECT_NEAR(back.data[2 * k + 1], sa->data[2 * k + 1], tol) << k;
    }
    // Wrong quantities are refused.
    EXPECT_EQ(differentiate_record(sa, &back), 0);
    SignalRecord* wa = record_at(1, KIND_W, Q_A);
    wa->quantity = Q_D;
    EXPECT_EQ(integrate_record(wa, &back), 0);
}

TEST_F(SignalTest, RefusalsLeaveTheCellEmpty)
{
    SignalRecord* rec = nullptr;
    // Nothing acquired: no recipe has a source.
    EXPECT_EQ(meas_get_record(1, KIND_S, Q_A, &rec), 0);
    // Out of range and inactive groups.
    EXPECT_EQ(meas_get_record(1, 4, Q_A, &rec), 0);
    EXPECT_EQ(meas_get_record(1, KIND_S, 4, &rec), 0);
    EXPECT_EQ(meas_get_record(7, KIND_S, Q_A, &rec), 0);
    fill_sine(0, 1024, DT_1024, 80, 5000);
    build_time_record(meas_frames(0), 0, record_at(2, KIND_W, Q_A), Q_A, 1.0f, meas_calibration.marker_zero);
    EXPECT_EQ(meas_get_record(2, KIND_S, Q_A, &rec), 0);
    // A length that is not a transform size yields no spectrum, not even
    // through a longer recipe, and no band value.
    fill_sine(0, 1000, DT_1024, 80, 5000);
    build_time_record(meas_frames(0), 0, record_at(1, KIND_W, Q_A), Q_A, 1.0f, meas_calibration.marker_zero);
    EXPECT_EQ(meas_get_record(1, KIND_S, Q_A, &rec), 0);
    EXPECT_EQ(record_at(1, KIND_S, Q_A)->type, REC_EMPTY);
    EXPECT_EQ(meas_get_record(1, KIND_S, Q_D, &rec), 0);
    EXPECT_EQ(record_at(1, KIND_S, Q_V)->type, REC_EMPTY);
    EXPECT_EQ(record_at(1, KIND_S, Q_D)->type, REC_EMPTY);
    update_band_values_all();
    EXPECT_EQ(band_history_count, 1u);
    EXPECT_EQ(meas_band_value(1, Q_A), 0.0f);
    // The time record itself is served as it is ("WA=WA").
    ASSERT_EQ(meas_get_record(1, KIND_W, Q_A, &rec), 1);
    EXPECT_EQ(rec, record_at(1, KIND_W, Q_A));
}

TEST_F(SignalTest, RecipeTableIsWellFormed)
{
    for (const char* r : DERIVE_RECIPES) {
        SCOPED_TRACE(r);
        const std::string s(r);
        ASSERT_GE(s.size(), 5u);
        EXPECT_LE(s.size(), 11u);
        EXPECT_EQ(s[2], '=');
        if (s.size() > 5) {
            EXPECT_EQ(s[5], '+');
            EXPECT_EQ(s.find_first_not_of("FID", 6), std::string::npos);
        }
    }
}

TEST_F(SignalTest, WindowTables)
{
    const u32* hamming = window_table(1);
    const u32* hann = window_table(2);
    EXPECT_EQ(window_table(0), nullptr);
    for (u32 i = 0; i <= 8192; i += 37) {
        const double c = std::cos(2 * PI * i / 8192);
        EXPECT_NEAR(hamming[i], (0.54 - 0.46 * c) * 65536, 0.5 + 1e-9) << i;
        EXPECT_NEAR(hann[i], (1 - c) * 0.5 * 65536, 0.5 + 1e-9) << i;
        EXPECT_EQ(hamming[8192 - i], hamming[i]);
        EXPECT_EQ(hann[8192 - i], hann[i]);
    }
    EXPECT_EQ(hamming[4096], 65536u);
    EXPECT_EQ(hann[4096], 65536u);
    EXPECT_EQ(hann[0], 0u);
}

TEST_F(SignalTest, LinePowerAndIndexOf)
{
    SignalRecord* rec = record_at(1, KIND_S, Q_A);
    rec->count = 401;
    rec->x0 = 0;
    rec->dx = 2.5f;
    rec->x_last = 1000;
    rec->data[2 * 3] = 40000;
    rec->data[2 * 3 + 1] = -40000;
    EXPECT_EQ(line_power(rec, 3), 3200000000ull);  // beyond 2^31
    struct Case {
        float x, tol;
        int index;
    };
    constexpr float INF = std::numeric_limits<float>::infinity();
    constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
    for (const Case c : {Case{-5, 0, 0}, Case{0, 0, 0}, Case{11.2f, 0, 4}, Case{1000, 0, 400}, Case{2000, 0, 400},
                         Case{11.2f, 2, 4}, Case{11.2f, 1, -1}, Case{998.9f, 1, -1},
                         // At and beyond the ends.
                         Case{-0.001f, 0, 0}, Case{-1e30f, 0, 0}, Case{-INF, 0, 0}, Case{998.76f, 0, 400},
                         Case{1e30f, 0, 400}, Case{INF, 0, 400}, Case{-0.5f, 1, 0}, Case{-5, 1, -1},
                         Case{1000.5f, 1, 400}, Case{1002, 1, -1}, Case{NaN, 0, 0}, Case{NaN, 1, -1}}) {
        EXPECT_EQ(index_of(rec, c.x, c.tol), c.index) << c.x << " " << c.tol;
    }
    EXPECT_FLOAT_EQ(x_at(rec, 4), 10.0f);

    // Headers that do not agree with the count still give one of the
    // record's points: an x_last past the last point, a step so small that
    // the quotient leaves the i32 range, a step that is not a number.
    struct Header {
        float dx, x_last, x;
        int index;
    };
    for (const Header h : {Header{2.5f, 5000, 3000, 400}, Header{1e-30f, 1e30f, 1e10f, 400},
                           Header{1e-30f, 1e30f, 0.5f, 400}, Header{NaN, 1000, 500, 0}}) {
        rec->dx = h.dx;
        rec->x_last = h.x_last;
        EXPECT_EQ(index_of(rec, h.x, 0), h.index) << h.dx << " " << h.x;
    }
    // An empty record has no point to give.
    rec->count = 0;
    EXPECT_EQ(index_of(rec, 10, 0), -1);
    EXPECT_EQ(index_of(rec, 10, 1), -1);
}

TEST_F(SignalTest, Grading)
{
    struct Case {
        float v;
        u32 warn, alarm;
        int grade;
    };
    const Case cases[] = {
        {4.49f, 7, 8, 1}, {4.5f, 7, 8, 2}, {7.09f, 7, 8, 2},  {7.1f, 7, 8, 3}, {100, 0, 0, 1},
        {100, 7, 0, 2},   {100, 0, 8, 3},  {0.28f, 1, 12, 2}, {45, 1, 12, 3},
    };
    for (const Case& c : cases) EXPECT_EQ(grade_value(c.v, c.warn, c.alarm), c.grade) << c.v;
    EXPECT_EQ(grade_temperature(79.9f), 1);
    EXPECT_EQ(grade_temperature(80), 2);
    EXPECT_EQ(grade_temperature(99.9f), 2);
    EXPECT_EQ(grade_temperature(100), 3);
    EXPECT_EQ(display_group(), 1u);
}

class AveragingTest : public SignalTest {
protected:
    // One acquisition: an acceleration sine of amplitude `a`, then a push.
    double push(double a)
    {
        fill_sine(0, 1024, DT_1024, 32 / (1024 * DT_1024), 10000);
        build_time_record(meas_frames(0), 0, record_at(1, KIND_W, Q_A), Q_A, static_cast<float>(a / 10000),
                          meas_calibration.marker_zero);
        record_at(1, KIND_S, Q_A)->type = REC_EMPTY;
        avg_push();
        // The spectrum pushed, as the screens get it.
        SignalRecord* spectrum;
        EXPECT_EQ(meas_get_record(1, KIND_S, Q_A, &spectrum), 1);
        return line_amplitude(spectrum, 32);
    }
};

TEST_F(AveragingTest, TargetFourWithTwoPushesAveragesTwo)
{
    settings.averaging_idx = 2;
    ASSERT_EQ(avg_target(), 4u);
    EXPECT_EQ(avg_count(), 0u);
    EXPECT_EQ(avg_line(1, Q_A, 32), 0.0f);
    const double l1 = push(2.0), l2 = push(6.0);
    EXPECT_EQ(avg_count(), 2u);
    EXPECT_NEAR(avg_line(1, Q_A, 32), (l1 + l2) / 2, 1e-3);
    EXPECT_NEAR(avg_line(1, Q_A, 32), 4.0, 0.1);
    // Only the newest four count once more have been pushed.
    const double l3 = push(1.0), l4 = push(1.0), l5 = push(1.0);
    EXPECT_EQ(avg_count(), 4u);
    EXPECT_NEAR(avg_line(1, Q_A, 32), (l2 + l3 + l4 + l5) / 4, 1e-3);
    avg_clear();
    EXPECT_EQ(avg_count(), 0u);
}

TEST_F(AveragingTest, RingKeepsTenAndUnlimitedKeepsAll)
{
    settings.averaging_idx = 4;
    ASSERT_EQ(avg_target(), 10u);
    std::vector<double> lines;
    for (int i = 0; i < 14; ++i) lines.push_back(push(1.0 + i));
    EXPECT_EQ(avg_count(), 10u);
    double sum = 0;
    for (int i = 4; i < 14; ++i) sum += lines[i];
    EXPECT_NEAR(avg_line(1, Q_A, 32), sum / 10, 1e-3);

    avg_clear();
    settings.averaging_idx = 6;
    ASSERT_EQ(avg_target(), 999u);
    sum = 0;
    for (int i = 0; i < 14; ++i) sum += push(1.0 + i);
    EXPECT_EQ(avg_count(), 14u);
    EXPECT_NEAR(avg_line(1, Q_A, 32), sum / 14, 1e-3);

    settings.averaging_idx = 1;
    EXPECT_EQ(avg_target(), 1u);
    for (u32 idx : {0u, 7u, 3u, 5u}) {
        settings.averaging_idx = idx;
        EXPECT_EQ(avg_target(), idx == 3 ? 4u : idx == 5 ? 10u : 1u);
    }
}

// The ring keeps a pushed spectrum as the store would have derived it at the
// push, whatever the store derives later: here the store's cell holds the
// same record's spectrum with another window when the ring is read.
TEST_F(AveragingTest, PushedSpectrumKeepsTheWindowOfItsPush)
{
    settings.averaging_idx = 2;
    const auto derive = [](u32 window) {
        window_mode = window;
        record_at(1, KIND_S, Q_A)->type = REC_EMPTY;
        SignalRecord* spectrum;
        EXPECT_EQ(meas_get_record(1, KIND_S, Q_A, &spectrum), 1);
        window_mode = 1;
        return line_amplitude(spectrum, 30);
    };
    fill_sine(0, 1024, DT_1024, 32.4 / (1024 * DT_1024), 10000);
    build_time_record(meas_frames(0), 0, record_at(1, KIND_W, Q_A), Q_A, 2e-4f, meas_calibration.marker_zero);
    record_at(1, KIND_S, Q_A)->type = REC_EMPTY;
    avg_push();
    const double hamming = derive(1), hann = derive(2);
    ASSERT_GT(std::fabs(hann - hamming), 1e-3 * hamming) << "the windows tell the lines apart";
    EXPECT_NEAR(avg_line(1, Q_A, 30), hamming, 1e-6 * hamming);
    // And with the store's cell of the same window, the same line.
    derive(1);
    avg_push();
    EXPECT_NEAR(avg_line(1, Q_A, 30), hamming, 1e-6 * hamming);
}

TEST(Estimators, CrossingRateOfASine)
{
    std::vector<i32> s(1000);
    const double period = 40.0;
    for (u32 i = 0; i < s.size(); ++i) s[i] = static_cast<i32>(std::lround(1000 * std::sin(2 * PI * i / period + 1.0)));
    u32 first = 99, last = 99, periods = 99;
    const float rate = crossing_rate(s.data(), 1000, &first, &last, &periods);
    EXPECT_NEAR(rate, 1 / period, 1e-4);
    // Rising zero crossings lie at i = period * (k - 1/(2 pi)) ...
    const double x0 = period * (1 - 1.0 / (2 * PI));
    EXPECT_NEAR(first, x0, 1.0);
    EXPECT_EQ(periods, 24u);
    EXPECT_NEAR(last, x0 + 24 * period, 1.0);

    // A flat signal: no result, outputs untouched.
    std::vector<i32> flat(100, 7);
    first = last = periods = 5;
    EXPECT_EQ(crossing_rate(flat.data(), 100, &first, &last, &periods), 0.0f);
    EXPECT_EQ(first + last + periods, 15u);
    // One crossing only.
    std::vector<i32> step(100, 0);
    for (u32 i = 50; i < 100; ++i) step[i] = 1000;
    EXPECT_EQ(crossing_rate(step.data(), 100, &first, &last, &periods), 0.0f);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(last, 99u);
    EXPECT_EQ(periods, 1u);
}

TEST(Estimators, ToneFitFindsTheAmplitude)
{
    const double dt = 1.0 / 2560, f = 79.6, amp = 3000;
    std::vector<i32> s(2048);
    for (u32 i = 0; i < s.size(); ++i)
        s[i] = static_cast<i32>(std::lround(500 + amp * std::sin(2 * PI * f * i * dt + 0.7)));
    float a = 1, b = 1;
    ASSERT_EQ(tone_fit(s.data(), 10, 2000, static_cast<float>(f), static_cast<float>(dt), &a, &b), 1);
    EXPECT_NEAR(std::hypot(a, b), amp, amp * 0.01);
    EXPECT_EQ(tone_fit(s.data(), 10, 2000, 0, static_cast<float>(dt), &a, &b), 0);
    EXPECT_EQ(a, 0.0f);
    EXPECT_EQ(b, 0.0f);
}

}  // namespace
