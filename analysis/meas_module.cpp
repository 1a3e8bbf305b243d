#include "analysis/meas_module.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "analysis/measures.h"
#include "analysis/plant_source.h"
#include "analysis/rounding.h"
#include "analysis/shock.h"
#include "analysis/signal.h"
#include "analysis/signal_source.h"
#include "host/device.h"
#include "host/hostif.h"
#include "host/settings.h"

MeasModuleState meas_state;
TestSignal test_signal = DEFAULT_TEST_SIGNAL;
const MeasCalibration MEAS_CALIBRATION_DEFAULT = {
    {{0.017391304f, 0.034492683f, 0.16286644f}, {0.009832841f, 0.04433229f, 0.2f}},
    0.00018229167f,
    MID_SCALE,
    22.888184f,
};
MeasCalibration meas_calibration = MEAS_CALIBRATION_DEFAULT;

const u32 SAMPLES_TABLE[3] = {1024, 1024, 4096};
const float FMAX_TABLE[4] = {1000, 400, 1000, 4000};
const float PERIOD_TABLE[4] = {1.0f / 2560, 1.0f / 10240, 1.0f / 2560, 1.0f / 1024};

namespace {
VibFrame g_frame_buffer[MEAS_MAX_FRAMES];
u16 g_shock_buffer[MEAS_MAX_FRAMES];

// Continuation states.
constexpr u16 RUNNING = 1;
constexpr u16 WAIT_VIBRATION = 1, WAIT_SHOCK = 2, WAIT_TEMPERATURE = 3;

constexpr u32 RING[9] = {70, 56, 44, 34, 27, 21, 16, 12, 9};

template <typename T, size_t N>
T table_value(const T (&table)[N], u32 index)
{
    return index < N ? table[index] : table[0];
}

int rnd()
{
    return rand_next();
}

u16 sample_word(double v)
{
    const i32 r = round_half_away(static_cast<float>(v));
    return static_cast<u16>(r < 0 ? 0 : r > 65535 ? 65535 : r);
}

bool marker_sensor()
{
    const u32 s = settings.sensor;
    return s == 3 || s == 4;
}
// Pacing: a record of n samples dt apart is ready only n * dt after the
// previous one, as the converter delivers it, measured on the host's
// millisecond clock.
bool g_paced = false;
bool g_record_clock_set = false;
u32 g_record_due_ms = 0;

u32 record_duration_ms()
{
    const double ms = meas_state.n_frames * static_cast<double>(meas_state.dt) * 1000.0;
    return ms >= 1 ? static_cast<u32>(ms + 0.5) : 1;
}

// True when the record being acquired is complete; the next one starts then.
bool record_complete()
{
    if (!g_paced) return true;
    const u32 now = host().millis();
    if (!g_record_clock_set) {
        g_record_clock_set = true;
        g_record_due_ms = now + record_duration_ms();
        return false;
    }
    const i32 late = static_cast<i32>(now - g_record_due_ms);
    if (late < 0) return false;
    // The next record is due one record after this one was due, not after
    // the pass that took it: passes a few milliseconds apart keep the pace.
    // After a stall of a whole record the pace starts afresh.
    const u32 duration = record_duration_ms();
    g_record_due_ms = late < static_cast<i32>(duration) ? g_record_due_ms + duration : now + duration;
    return true;
}

}  // namespace

void meas_calibration_defaults()
{
    meas_calibration = MEAS_CALIBRATION_DEFAULT;
}

void meas_reset()
{
    g_paced = false;
    g_record_clock_set = false;
    std::memset(&meas_state, 0, sizeof meas_state);
    meas_state.frames = g_frame_buffer;
    meas_state.shock_buf = g_shock_buffer;
    test_signal = DEFAULT_TEST_SIGNAL;
    meas_calibration_defaults();
}

void meas_init()
{
    std::memset(&meas_state, 0, sizeof meas_state);
    meas_state.frames = g_frame_buffer;
    meas_state.shock_buf = g_shock_buffer;
    shock_reset();
    avg_clear();
    meas_state.cont_step = 0;
}

void meas_set_paced(bool on)
{
    g_paced = on;
    g_record_clock_set = false;
}

FrameBlock meas_frames(u32 start)
{
    return FrameBlock{meas_state.frames + start, meas_state.n_samples, meas_state.dt, meas_state.stamp,
                      meas_state.tick};
}

void meas_start(u32 mask)
{
    meas_state.request = mask;
    if (mask & REQ_VIBRATION) meas_state.request |= REQ_PROCESS;
    if (mask & REQ_SHOCK_ANALYSIS) meas_state.request |= REQ_PROCESS | REQ_SHOCK | REQ_VIBRATION;
    meas_state.cont_step = 0;
}

int meas_step()
{
    return meas_task_top(&meas_state.cont_step) == TASK_WAITING ? 1 : 0;
}

int meas_all_done()
{
    return (meas_state.done & meas_state.request) == meas_state.request ? 1 : 0;
}

void meas_set_running(u8 on)
{
    const u8 was = meas_state.running;
    meas_state.running = on;
    if (!on && was && results.busy) {
        for (int pass = 0; pass < 32 && !meas_all_done() && results.busy; ++pass) meas_step();
    } else if (on && !was) {
        avg_clear();
        g_record_clock_set = false;
    }
}

void meas_set_test_signal(float freq_hz, float amplitude)
{
    test_signal.freq_hz = freq_hz;
    test_signal.amplitude = amplitude;
    meas_state.shock_ready = 0;
}

void meas_clear_shock_ready()
{
    meas_state.shock_ready = 0;
}

void meas_prepare_sensor()
{
    // The sensors are synthesised: none of the preparation routines has
    // anything to switch.
    switch (settings.sensor) {
    case 2: break;
    case 3: break;
    case 4: break;
    default: break;
    }
}

u32 meas_main_set()
{
    return settings.sensor == 2 ? 0 : 1;
}

float meas_temperature()
{
    return meas_state.temperature;
}

int meas_task_top(u16* cont)
{
    MeasModuleState& s = meas_state;
    if (*cont == 0) {
        s.done = 0;
        s.vib_produced = s.shock_produced = s.temp_produced = 0;
        s.cont_vib = s.cont_shock = s.cont_temp = s.cont_proc = 0;
        *cont = RUNNING;
    }
    // One statement each, so the order is fixed: the generators draw from one
    // random sequence in this order, and the processing task consumes what
    // they produced in the same pass.
    int r = meas_task_vibration(&s.cont_vib);
    r &= meas_task_shock(&s.cont_shock);
    r &= meas_task_temperature(&s.cont_temp);
    r &= meas_task_process(&s.cont_proc);
    if (r != TASK_ENDED) return TASK_WAITING;
    *cont = 0;
    return TASK_ENDED;
}

void meas_derive_geometry()
{
    MeasModuleState& s = meas_state;
    SettingsBlock& set = settings;
    u32 n;
    if (set.meas_mode == 2) {
        n = table_value(SAMPLES_TABLE, set.spectrum_lines_idx);
        s.fmax = table_value(FMAX_TABLE, set.spectrum_fmax_idx);
        s.dt = static_cast<float>(n * 0.390625 / s.fmax / (n - 1));
    } else if (set.meas_mode == 3) {
        n = table_value(SAMPLES_TABLE, set.signal_samples_idx);
        s.dt = table_value(PERIOD_TABLE, set.signal_step_idx);
        s.fmax = static_cast<float>(n * 0.390625 / s.dt / (n - 1));
    } else {
        n = 1024;
        s.fmax = 1000;
        s.dt = static_cast<float>(1024 * 0.390625 / 1000 / 1023);
    }
    s.n_samples = n;
    s.n_frames = marker_sensor() ? n * 5 / 4 : n;
    set.meas_params_changed = 0;
    s.geometry_set = 1;
}

namespace {
// The vibration waveform of the test signal into the frames, with a new
// random amplitude and phase.
void synthesise_vibration()
{
    MeasModuleState& s = meas_state;
    TestSignal& ts = test_signal;
    ts.amplitude = static_cast<float>(rnd() * 50.0 / 32767);
    const double phase = rnd() * 2.0 * std::numbers::pi / 32767;
    const double w = 2.0 * std::numbers::pi * s.dt * ts.freq_hz;
    double aa = 0, av = 0, ad = 0;
    if (ts.freq_hz > 0) {
        aa = ts.amplitude * 16384.0 / 3000 * 0.5;
        av = aa * 1000 / (2.0 * std::numbers::pi * ts.freq_hz);
        ad = av * 1000 / (2.0 * std::numbers::pi * ts.freq_hz);
    }
    const double noise = ts.noise;
    const auto frame = [&](u32 i, auto noise_term) {
        const double t = i * w + phase;
        const double sn = std::sin(t), cs = std::cos(t);
        VibFrame& f = s.frames[i];
        f.w[0] = sample_word(sn * aa + MID_SCALE + noise_term());
        f.w[1] = sample_word(-cs * av + MID_SCALE + noise_term());
        f.w[2] = sample_word(-sn * ad + MID_SCALE + noise_term());
        const u16 marker = sn >= 0.95 ? 24576 : MID_SCALE;
        f.w[3] = f.w[4] = f.w[5] = f.w[6] = marker;
    };
    if (noise == 0) {
        // The noise term is exactly 0 then (and adding 0 changes no sum):
        // only the random numbers are drawn, as the sequence goes on.
        for (u32 i = 0; i < s.n_frames; ++i)
            frame(i, [] {
                rnd();
                return 0.0;
            });
    } else {
        for (u32 i = 0; i < s.n_frames; ++i) frame(i, [noise] { return rnd() * noise / 32767 - noise * 0.5; });
    }
}
}  // namespace

int meas_task_vibration(u16* cont)
{
    MeasModuleState& s = meas_state;
    if (!(s.request & REQ_VIBRATION) || (s.done & REQ_VIBRATION)) return TASK_ENDED;
    if (s.running) {
        if (!s.geometry_set || settings.meas_params_changed) meas_derive_geometry();
        if (!record_complete()) return TASK_WAITING;
        const CalibrationSet& scale = meas_calibration.set[meas_main_set()];
        if (!plant_source_vibration(s.frames, s.n_frames, s.dt, scale) &&
            !signal_source_vibration(s.frames, s.n_frames, s.dt, scale))
            synthesise_vibration();
    }
    s.done |= REQ_VIBRATION;
    ++s.vib_produced;
    *cont = 0;
    return TASK_ENDED;
}

namespace {
// Shock pulses: a noise floor with decaying rings at even steps.
void synthesise_shock()
{
    MeasModuleState& s = meas_state;
    for (u32 i = 0; i < s.shock_count; ++i) s.shock_buf[i] = static_cast<u16>(rnd() * 128 / 32767);
    const u32 step = s.shock_count / 54;
    for (u32 p = 0; p + 39 < s.shock_count; p += step) {
        const u32 peak = static_cast<u32>(rnd() * 256 / 32767 + 512);
        s.shock_buf[p + 30] = static_cast<u16>(peak);
        for (u32 j = 0; j < 9; ++j) s.shock_buf[p + 31 + j] = static_cast<u16>(peak * RING[j] / 100);
        if (step == 0) break;
    }
}
}  // namespace

int meas_task_shock(u16* cont)
{
    MeasModuleState& s = meas_state;
    if (!(s.request & REQ_SHOCK) || (s.done & REQ_SHOCK)) return TASK_ENDED;
    if (s.running) {
        s.shock_rate = s.dt > 0 ? 1.0f / s.dt : 1000.0f;
        s.shock_count = s.n_frames;
        const CalibrationSet& scale = meas_calibration.set[meas_main_set()];
        if (!plant_source_shock(s.shock_buf, s.shock_count, s.dt, scale) &&
            !signal_source_shock(s.shock_buf, s.shock_count, s.dt, scale))
            synthesise_shock();
        s.shock_ready = 1;
    }
    s.done |= REQ_SHOCK;
    ++s.shock_produced;
    *cont = 0;
    return TASK_ENDED;
}

int meas_task_temperature(u16* cont)
{
    MeasModuleState& s = meas_state;
    if (!(s.request & REQ_TEMPERATURE) || (s.done & REQ_TEMPERATURE)) return TASK_ENDED;
    if (s.running) {
        if (!plant_source_temperature(&s.temperature) && !signal_source_temperature(&s.temperature))
            s.temperature = static_cast<float>(rnd() * 50.0 / 32767 + 60);
        s.temp_ready = 1;
    }
    s.done |= REQ_TEMPERATURE;
    ++s.temp_produced;
    *cont = 0;
    return TASK_ENDED;
}

void meas_marker_search(u32 m)
{
    MeasModuleState& s = meas_state;
    const VibFrame* f = s.frames;
    constexpr u32 C = 3;
    const u32 fifth = m / 5;
    if (fifth == 0 || m < 9) return;
    u32 hi = 0, lo = 65535;
    for (u32 i = 0; i < fifth; ++i) {
        hi = f[i].w[C] > hi ? f[i].w[C] : hi;
        lo = f[i].w[C] < lo ? f[i].w[C] : lo;
    }
    if (hi - lo < 100) return;
    s.marker_level = (hi + lo) / 2;
    u32 s1 = f[0].w[C] + f[1].w[C] + f[2].w[C] + f[3].w[C];
    u32 s2 = f[4].w[C] + f[5].w[C] + f[6].w[C] + f[7].w[C];
    s.marker_start = s.marker_end = s.marker_periods = 0;
    bool started = false;
    const u32 level4 = 4 * s.marker_level;
    // The first edge must leave room for a whole record after it.
    const u32 n = s.n_samples;
    const u32 latest_start = m > n + 2 ? m - n - 2 : 0;
    for (u32 i = 4; i + 5 <= m; ++i) {
        if (level4 > s1 && level4 <= s2) {
            if (!started) {
                if (i > fifth || i > latest_start) break;
                // The end starts at the first edge, so that edge is not
                // counted again as the end of a period.
                s.marker_start = s.marker_end = i + 2;
                started = true;
            } else if (i > s.marker_end + 8) {
                s.marker_end = i + 2;
                ++s.marker_periods;
            }
        }
        // Slide: s1 = frames i-3 .. i, s2 = frames i+1 .. i+4.
        s1 = s1 - f[i - 4].w[C] + f[i].w[C];
        s2 = s2 - f[i].w[C] + f[i + 4].w[C];
    }
}

int meas_task_process(u16* cont)
{
    MeasModuleState& s = meas_state;
    if (!(s.request & REQ_PROCESS) || (s.done & REQ_PROCESS)) return TASK_ENDED;
    if ((s.request & REQ_VIBRATION) && !(s.done & REQ_VIBRATION)) return TASK_WAITING;
    switch (*cont) {
    case 0:
    case WAIT_VIBRATION:
        *cont = WAIT_VIBRATION;
        if (s.running && (s.request & REQ_VIBRATION)) {
            if (s.vib_produced <= 0) return TASK_WAITING;
            --s.vib_produced;
        }
        [[fallthrough]];
    case WAIT_SHOCK:
        *cont = WAIT_SHOCK;
        if (s.running && s.request >= 0x80 && (s.request & REQ_SHOCK)) {
            if (s.shock_produced <= 0) return TASK_WAITING;
            --s.shock_produced;
        }
        [[fallthrough]];
    case WAIT_TEMPERATURE:
        *cont = WAIT_TEMPERATURE;
        if (s.running && (s.request & REQ_TEMPERATURE)) {
            if (s.temp_produced <= 0) return TASK_WAITING;
            --s.temp_produced;
        }
        break;
    default: break;
    }

    if (s.running && s.n_samples > 0) {
        const u32 sensor = settings.sensor;
        const bool marker = sensor == 3 || sensor == 4;
        if (sensor == 2) {
            s.sensor_set_main = 0;
            s.sensor_set_aux = 0;
        } else if (sensor == 3) {
            s.sensor_set_main = 1;
            s.sensor_set_aux = 0;
        } else {
            s.sensor_set_main = 1;
            s.sensor_set_aux = 1;
        }

        results.busy = 1;
        s.stamp = pack_now();
        s.tick = ticks_now();
        results.group_count = 2;
        results.group[1].fmax = results.group[2].fmax = s.fmax;
        results.group[1].band_start = 5.0f;
        results.group[2].band_start = 1.0f;
        results.group[1].cal_set = s.sensor_set_main;
        results.group[2].cal_set = s.sensor_set_aux;
        results.flags = 2;
        results.group[1].active = 1;

        const u32 n = s.n_samples;
        s.marker_level = 0;
        s.marker_start = 0;
        s.marker_end = n - 1;
        s.marker_periods = 1;
        if ((s.request & REQ_MARKER) && marker) meas_marker_search(s.n_frames);

        for (u32 q = Q_A; q <= Q_D; ++q) {
            build_time_record(meas_frames(s.marker_start), q, record_at(1, KIND_W, q), q,
                              meas_calibration.set[s.sensor_set_main][q], meas_calibration.marker_zero);
            record_at(1, KIND_S, q)->type = REC_EMPTY;
        }

        if (s.request & REQ_MARKER) {
            if (marker) {
                results.flags |= 1;
                results.group[0].active = 1;
                build_time_record(meas_frames(s.marker_start), 3, record_at(0, KIND_W, Q_N), Q_N,
                                  meas_calibration.marker_scale, meas_calibration.marker_zero);
                if (s.marker_periods >= 3 && s.marker_end >= 1 && s.marker_end > s.marker_start)
                    results.rotation_hz =
                        static_cast<float>(s.marker_periods / ((s.marker_end - s.marker_start) * double(s.dt)));
                else
                    results.rotation_hz = 0;
                record_at(0, KIND_S, Q_N)->type = REC_EMPTY;
            }
            s.done |= REQ_MARKER;
        }

        if (s.request >= 0x80) {
            if (s.done & REQ_SHOCK) {
                shock_analyse(s.shock_buf, s.marker_start, n, meas_calibration.shock_scale, s.shock_rate,
                              &shock_result);
                shock_build_records(&shock_result);
            }
        } else {
            shock_result.valid = 0;
        }

        update_band_values_all();
        avg_push();

        results.valid = 1;
        results.stamp = s.stamp;
        results.tick = s.tick;
    }
    results.busy = 0;
    s.done |= 0xC0;
    *cont = 0;
    return TASK_ENDED;
}
