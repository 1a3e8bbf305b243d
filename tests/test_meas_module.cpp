// The simulated measuring module: acquisition cycle, geometry, synthesised
// signals, marker search.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/shock.h"
#include "analysis/signal.h"
#include "host/device.h"
#include "host/settings.h"
#include "tests/support/support.h"

namespace {

constexpr double PI = std::numbers::pi;

class MeasModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings_defaults();
        settings.meas_mode = 1;  // 1024 samples up to 1000 Hz
        meas_calibration_defaults();
        test_signal = TestSignal{79.6f, 14.0f, 0.0f};
        meas_init();
        results_reset();
        rand_seed(1234);
    }

    // Runs whole cycles; each must end within one step.
    static void cycle(int count = 1)
    {
        for (int i = 0; i < count; ++i) ASSERT_EQ(meas_step(), 0);
    }

    VirtualHostScope scope;
};

TEST_F(MeasModuleTest, StartAddsTheImpliedRequests)
{
    struct Case {
        u32 mask, request;
    };
    for (const Case c : {Case{462, 0x1CE}, Case{206, 0xCE}, Case{74, 0x4A}, Case{0x80, 0xC6}, Case{2, 0x42},
                         Case{6, 0x46}, Case{8, 8}}) {
        meas_start(c.mask);
        EXPECT_EQ(meas_state.request, c.request) << c.mask;
    }
}

TEST_F(MeasModuleTest, CycleWithRunningOffEndsInOneStepAndLeavesResults)
{
    meas_start(462);
    EXPECT_EQ(meas_step(), 0);
    EXPECT_EQ(results.valid, 0u);
    EXPECT_EQ(meas_state.geometry_set, 0);  // nothing was synthesised
    // A valid result set stays as it is while acquisition is off.
    meas_set_running(1);
    cycle();
    ASSERT_EQ(results.valid, 1u);
    const u32 stamp = results.stamp;
    const i32 first = record_at(1, KIND_W, Q_A)->data[10];
    meas_set_running(0);
    cycle(3);
    EXPECT_EQ(results.valid, 1u);
    EXPECT_EQ(results.stamp, stamp);
    EXPECT_EQ(record_at(1, KIND_W, Q_A)->data[10], first);
    EXPECT_EQ(meas_all_done(), 0);  // the marker is only evaluated when running
    meas_start(206);
    cycle();
    EXPECT_EQ(meas_all_done(), 1);
}

TEST_F(MeasModuleTest, Geometry)
{
    struct Case {
        u32 mode, lines_idx, fmax_idx, step_idx, samples_idx, sensor;
        u32 n, n_frames;
        double dt, fmax;
    };
    const Case cases[] = {
        {1, 2, 3, 1, 2, 1, 1024, 1024, 0.4 / 1023, 1000},
        {0, 2, 3, 1, 2, 3, 1024, 1280, 0.4 / 1023, 1000},
        {2, 2, 3, 1, 2, 1, 4096, 4096, 4096 / 2.56 / 4000 / 4095, 4000},
        {2, 1, 1, 1, 2, 4, 1024, 1280, 1024 / 2.56 / 400 / 1023, 400},
        {3, 2, 3, 3, 2, 1, 4096, 4096, 1.0 / 1024, 4096 / 2.56 * 1024 / 4095},  // about 400.1 Hz
        {3, 2, 3, 1, 1, 3, 1024, 1280, 1.0 / 10240, 1024 / 2.56 * 10240 / 1023},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode * 100 + c.sensor);
        SetUp();
        SettingsBlock& s = settings;
        s.meas_mode = c.mode;
        s.spectrum_lines_idx = c.lines_idx;
        s.spectrum_fmax_idx = c.fmax_idx;
        s.signal_step_idx = c.step_idx;
        s.signal_samples_idx = c.samples_idx;
        s.sensor = c.sensor;
        s.meas_params_changed = 1;
        meas_start(206);
        meas_set_running(1);
        cycle();
        EXPECT_EQ(meas_state.n_samples, c.n);
        EXPECT_EQ(meas_state.n_frames, c.n_frames);
        EXPECT_NEAR(meas_state.dt, c.dt, c.dt * 1e-6);
        EXPECT_NEAR(meas_state.fmax, c.fmax, c.fmax * 1e-6);
        EXPECT_EQ(s.meas_params_changed, 0u);
        EXPECT_EQ(meas_state.geometry_set, 1);
        EXPECT_EQ(record_at(1, KIND_W, Q_A)->count, c.n);
        EXPECT_NEAR(meas_state.shock_rate, 1 / c.dt, 1e-3 / c.dt);
    }
}

TEST_F(MeasModuleTest, SynthesisedSineMatchesTheTestSignal)
{
    settings.meas_params_changed = 1;
    meas_start(206);
    meas_set_running(1);
    cycle();
    const double amplitude = test_signal.amplitude;
    ASSERT_GT(amplitude, 0.0);
    ASSERT_LE(amplitude, 50.0);
    const double f = test_signal.freq_hz, dt = meas_state.dt;
    const double aa = amplitude * 16384 / 3000 * 0.5;
    const double av = aa * 1000 / (2 * PI * f), ad = av * 1000 / (2 * PI * f);
    // Channel relations: velocity lags acceleration by a quarter turn.
    double hi[3] = {0, 0, 0};
    for (u32 i = 0; i < 1024; ++i)
        for (int q = 0; q < 3; ++q) hi[q] = std::max(hi[q], std::abs(meas_state.frames[i].w[q] - 16384.0));
    EXPECT_NEAR(hi[0], aa, 1.0 + aa * 0.01);
    EXPECT_NEAR(hi[1], av, 1.0 + av * 0.01);
    EXPECT_NEAR(hi[2], ad, 1.0 + ad * 0.01);
    // Band values in physical units with calibration set 1 (sensor 1).
    const float* cal = meas_calibration.set[1];
    EXPECT_EQ(meas_state.sensor_set_main, 1u);
    EXPECT_NEAR(meas_band_value(1, Q_A), aa * cal[0], aa * cal[0] * 0.03 + 0.01);
    EXPECT_NEAR(meas_band_value(1, Q_V), av * cal[1] / std::sqrt(2.0), av * cal[1] * 0.03 + 0.01);
    EXPECT_NEAR(meas_band_value(1, Q_D), 2 * ad * cal[2], ad * cal[2] * 0.06 + 0.01);
    // The velocity spectrum peaks at the line of 79.6 Hz.
    SignalRecord* sv;
    ASSERT_EQ(meas_get_record(1, KIND_S, Q_V, &sv), 1);
    u32 best = 1;
    for (u32 k = 1; k < sv->count; ++k)
        if (line_power(sv, k) > line_power(sv, best)) best = k;
    EXPECT_NEAR(best, f * 1024 * dt, 1.0);
    EXPECT_EQ(results.valid, 1u);
    EXPECT_EQ(results.busy, 0u);
    EXPECT_EQ(results.flags, 2u);
    EXPECT_EQ(shock_result.valid, 1u);
    EXPECT_GE(meas_temperature(), 60.0f);
    EXPECT_LE(meas_temperature(), 110.0f);
}

TEST_F(MeasModuleTest, ZeroFrequencyGivesFlatChannels)
{
    test_signal.freq_hz = 0;
    meas_start(206);
    meas_set_running(1);
    cycle();
    for (u32 i = 0; i < 1024; ++i)
        for (int q = 0; q < 3; ++q) ASSERT_EQ(meas_state.frames[i].w[q], 16384);
    EXPECT_EQ(meas_band_value(1, Q_A), 0.0f);
}

TEST_F(MeasModuleTest, ShockPulsesPerRecord)
{
    struct Case {
        u32 sensor, count, step, pulses;
    };
    for (const Case c : {Case{1, 1024, 18, 55}, Case{3, 1280, 23, 54}}) {
        SCOPED_TRACE(c.sensor);
        SetUp();
        settings.sensor = c.sensor;
        meas_start(462);
        meas_set_running(1);
        cycle();
        ASSERT_EQ(meas_state.shock_count, c.count);
        EXPECT_EQ(meas_state.shock_ready, 1);
        // A pulse is a jump from the noise floor (0 ... 128) to 512 ... 768,
        // followed by its decaying ring.
        u32 pulses = 0;
        for (u32 i = 1; i < c.count; ++i) {
            const u16 v = meas_state.shock_buf[i];
            if (v < 512 || meas_state.shock_buf[i - 1] > 128) continue;
            ++pulses;
            ASSERT_EQ((i - 30) % c.step, 0u) << i;
            EXPECT_LE(v, 768);
            EXPECT_EQ(meas_state.shock_buf[i + 1], v * 70 / 100);
            EXPECT_EQ(meas_state.shock_buf[i + 9], v * 9 / 100);
            EXPECT_LE(meas_state.shock_buf[i + 10], 128);
        }
        EXPECT_EQ(pulses, c.pulses);
    }
    meas_clear_shock_ready();
    EXPECT_EQ(meas_state.shock_ready, 0);
}

TEST_F(MeasModuleTest, MarkerEdgesAndRotationFrequency)
{
    settings.sensor = 3;
    // Up to about 80 Hz a marker pulse (sin >= 0.95) lasts 3 frames or more,
    // enough for the 4-frame edge windows.
    for (float f : {79.6f, 25.0f, 50.0f, 12.0f}) {
        for (u32 seed : {1u, 2u, 3u, 4u, 5u}) {
            SCOPED_TRACE(testing::Message() << f << " Hz, seed " << seed);
            rand_seed(seed);
            meas_set_test_signal(f, 10);
            meas_start(462);
            meas_set_running(1);
            cycle();
            const u32 m = meas_state.n_frames, n = meas_state.n_samples;
            ASSERT_EQ(m, 1280u);
            EXPECT_EQ(results.flags, 3u);
            EXPECT_EQ(results.group[0].active, 1u);
            EXPECT_LE(meas_state.marker_start + n, m);
            EXPECT_EQ(meas_state.marker_level, (24576u + 16384u) / 2);
            const double period = 1 / (f * double(meas_state.dt));
            if (meas_state.marker_periods >= 3) {
                EXPECT_LE(meas_state.marker_start, m / 5 + 2);
                // The first frame of the record is high: a marker pulse.
                EXPECT_EQ(meas_state.frames[meas_state.marker_start].w[3], 24576);
                // Each edge is found to within a frame or so.
                const double span = meas_state.marker_end - meas_state.marker_start;
                EXPECT_NEAR(results.rotation_hz, f, f * 3 / span);
                EXPECT_NEAR(meas_state.marker_periods, std::floor(span / period + 0.5), 0.01);
            } else {
                EXPECT_EQ(results.rotation_hz, 0.0f);
            }
            EXPECT_EQ(record_at(0, KIND_W, Q_N)->type, REC_ACQUIRED);
        }
    }
}

TEST_F(MeasModuleTest, MarkerRecordFitsWhenTheFirstEdgeIsLate)
{
    // Hand-made marker column: the first pulse starts at frame 257, so a
    // record of 1024 from its edge would need frames beyond 1280.
    meas_state.n_samples = 1024;
    for (u32 i = 0; i < 1280; ++i) {
        const bool high = i >= 257 && (i - 257) % 100 < 5;
        for (int c = 3; c < 7; ++c) meas_state.frames[i].w[c] = high ? 24576 : 16384;
    }
    // Make the first fifth swing so the search runs.
    meas_state.frames[0].w[3] = 24576;
    meas_marker_search(1280);
    EXPECT_LE(meas_state.marker_start + 1024, 1280u);

    // An early edge is found and periods counted.
    for (u32 i = 0; i < 1280; ++i) meas_state.frames[i].w[3] = (i % 100) >= 50 && (i % 100) < 55 ? 24576 : 16384;
    meas_marker_search(1280);
    EXPECT_EQ(meas_state.marker_start, 50u);
    // 12 whole periods of 100 frames between the first and the last edge.
    EXPECT_EQ(meas_state.marker_periods, 12u);
    EXPECT_EQ(meas_state.marker_end, 1250u);

    // A flat first fifth: no marker, the defaults stay.
    for (u32 i = 0; i < 1280; ++i) meas_state.frames[i].w[3] = 16384;
    meas_state.marker_start = 0;
    meas_state.marker_end = 1023;
    meas_state.marker_periods = 1;
    meas_marker_search(1280);
    EXPECT_EQ(meas_state.marker_end, 1023u);
    EXPECT_EQ(meas_state.marker_periods, 1u);
}

TEST_F(MeasModuleTest, SwitchingOnClearsTheAveraging)
{
    settings.averaging_idx = 2;
    meas_start(206);
    meas_set_running(1);
    cycle(3);
    EXPECT_EQ(avg_count(), 3u);
    EXPECT_EQ(band_history_count, 3u);
    meas_set_running(0);
    EXPECT_EQ(avg_count(), 3u);
    meas_set_running(1);
    EXPECT_EQ(avg_count(), 0u);
    // Without a shock request the analysis block is marked invalid.
    meas_start(74);
    cycle();
    EXPECT_EQ(shock_result.valid, 0u);
    EXPECT_GE(meas_temperature(), 60.0f);
}

}  // namespace

namespace {

// Starts a paced acquisition: the first step starts sampling the first
// record. Returns the milliseconds a record's samples span.
u32 start_paced()
{
    meas_set_paced(true);
    meas_start(REQ_VIBRATION);
    meas_set_running(1);
    EXPECT_EQ(meas_step(), 1) << "the first record is still being sampled";
    return static_cast<u32>(meas_state.n_frames * meas_state.dt * 1000.0f + 0.5f);
}

// Paced, a running acquisition delivers a record only once the time its
// samples span has passed on the host's clock; stopping still ends the cycle.
TEST_F(MeasModuleTest, PacedRecordsTakeTheTimeTheirSamplesSpan)
{
    const u32 span_ms = start_paced();
    ASSERT_GT(span_ms, 1u);
    for (u32 ms = 1; ms < span_ms; ++ms) {
        scope.host.sleep_1ms();
        ASSERT_EQ(meas_step(), 1) << "ready after " << ms << " of " << span_ms << " ms";
    }
    scope.host.sleep_1ms();
    EXPECT_EQ(meas_step(), 0);
    EXPECT_NE(results.valid, 0u);

    // The next record starts when the last one was taken.
    EXPECT_EQ(meas_step(), 1);
    meas_set_running(0);
    EXPECT_EQ(meas_step(), 0) << "stopped, the waiting cycle ends at once";

    meas_set_paced(false);
    meas_set_running(1);
    cycle(2);  // unpaced: a record per step
}

// Passes that come a few milliseconds apart (as in the window while it
// measures undisturbed) take the records at the converter's pace: a record
// that is taken late does not put off the next one.
TEST_F(MeasModuleTest, PacedRecordsKeepThePaceOfPassesFarApart)
{
    const u32 span_ms = start_paced();
    ASSERT_EQ(span_ms, 400u);
    constexpr u32 PASS_MS = 7, SPAN_COUNT = 50;
    u32 records = 0;
    for (u32 ms = PASS_MS; ms <= SPAN_COUNT * span_ms + PASS_MS; ms += PASS_MS) {
        for (u32 i = 0; i < PASS_MS; ++i) scope.host.sleep_1ms();
        if (meas_step() == 0) ++records;
    }
    EXPECT_EQ(records, SPAN_COUNT);
    meas_set_paced(false);
}

}  // namespace
