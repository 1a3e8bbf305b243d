// The measuring chain pinned bit for bit: for a fixed seed, a table of setups
// (fed by the synthesis, a plant point or a recording) runs acquisition
// cycles, and a digest (64-bit FNV-1a) of everything the
// chain produces is compared with the digest the chain gave when it was
// pinned. The digests cover
// - every record of the result store (all header fields but the stamp and
//   tick, and the data of every filled cell), after each cycle with every
//   record asked for, and after deriving the spectra of A, V, D and the
//   marker afresh with each of the three windows;
// - the band values (history and the values shown), the averaging ring
//   (count and every averaged line of its five spectra);
// - the shock-pulse result (every field but the pointer, stamp and tick, and
//   its samples), the temperature and the result store's header;
// - the screen pixels of the live vibrometer (waveform, spectrum, shock panel,
//   each quantity) and of the spectra screen (spectrum and signal, three
//   plots, averaging), sampled as the window repaints.
// A change that only makes the chain cheaper keeps every digest; a change
// of a single bit anywhere fails here.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/plant.h"
#include "analysis/plant_source.h"
#include "analysis/shock.h"
#include "analysis/signal.h"
#include "analysis/signal_source.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/plant_bearings.h"
#include "screens/spectra.h"
#include "screens/spectra_internal.h"
#include "screens/vibrometer.h"
#include "tests/support/support.h"

namespace {

class Digest {
public:
    void bytes(const void* p, size_t n)
    {
        const u8* b = static_cast<const u8*>(p);
        for (size_t i = 0; i < n; ++i) {
            h_ ^= b[i];
            h_ *= 0x100000001b3ull;
        }
    }
    template <typename T>
    void value(const T& v)
    {
        bytes(&v, sizeof v);
    }
    u64 get() const { return h_; }

private:
    u64 h_ = 0xcbf29ce484222325ull;
};

void digest_record(Digest& d, const SignalRecord& r)
{
    d.value(r.type);
    if (r.type == REC_EMPTY) return;
    d.value(r.kind);
    d.value(r.quantity);
    d.value(r.count);
    d.value(r.x0);
    d.value(r.dx);
    d.value(r.x_last);
    d.value(r.peak);
    d.value(r.scale);
    d.value(r.data_bytes);
    d.bytes(r.data, r.data_bytes <= RECORD_VALUES * sizeof(i32) ? r.data_bytes : 0);
}

void digest_store(Digest& d)
{
    d.value(results.valid);
    d.value(results.group_count);
    d.value(results.flags);
    d.value(results.rotation_hz);
    for (u32 g = 0; g < RESULT_GROUPS; ++g) {
        const SignalGroup& grp = results.group[g];
        d.value(grp.active);
        d.value(grp.cal_set);
        d.value(grp.fmax);
        d.value(grp.band_start);
        for (u32 k = 0; k < RESULT_KINDS; ++k)
            for (u32 q = 0; q < RESULT_SLOTS; ++q) digest_record(d, grp.rec[k][q]);
    }
}

void digest_values(Digest& d)
{
    d.bytes(band_history, sizeof band_history);
    d.value(band_history_count);
    for (u32 q = Q_A; q <= Q_D; ++q) d.value(meas_band_value(1, q));
    d.value(meas_temperature());
    const u32 count = avg_count();
    d.value(count);
    if (avg_target() != 1) {
        const u32 sources[5][2] = {{1, Q_A}, {1, Q_V}, {1, Q_D}, {3, Q_A}, {0, Q_N}};
        for (const auto& s : sources)
            for (u32 line = 0; line < RECORD_PAIRS; ++line) d.value(avg_line(s[0], s[1], line));
    }
    ShockPulseResult r = shock_result;
    const i16* samples = r.samples;
    r.samples = nullptr;
    r.stamp = r.tick = 0;
    d.value(r);
    if (r.valid && samples) d.bytes(samples, r.count * sizeof(i16));
}

// Derives the spectra that the screens ask for, with window `window`, from
// freshly emptied cells.
void derive_spectra(u32 window)
{
    window_mode = window;
    for (u32 q = Q_A; q <= Q_D; ++q) record_at(1, KIND_S, q)->type = REC_EMPTY;
    record_at(0, KIND_S, Q_N)->type = REC_EMPTY;
    SignalRecord* rec;
    for (u32 q = Q_A; q <= Q_D; ++q) meas_get_record(1, KIND_S, q, &rec);
    meas_get_record(0, KIND_S, Q_N, &rec);
    meas_get_record(3, KIND_B, Q_A, &rec);
}

// What feeds the chain: the synthesis, a point of the example plant, a
// demonstration recording (with its shock-pulse channel).
enum : u32 { SOURCE_SYNTHESIS, SOURCE_PLANT, SOURCE_RECORDING };

void open_source(u32 source)
{
    if (source == SOURCE_PLANT) {
        Plant plant;
        ASSERT_EQ(plant_load(std::string(TARVIK2_SOURCE_DIR) + "/examples/plants/pump_set.json", plant_bearing_lookup,
                             &plant),
                  "");
        ASSERT_EQ(plant_source_open(plant, "Pump set/Pump/P1 H"), "");
    } else if (source == SOURCE_RECORDING) {
        SignalOptions o;
        o.path = std::string(TARVIK2_DEMO_DIR) + "/bearing_6205_outer_race.wav";
        o.shock_channel = 1;
        ASSERT_EQ(signal_source_open(o), "");
    }
}

void close_source()
{
    plant_source_close();
    signal_source_close();
}

struct ChainSetup {
    const char* name;
    u32 mode;         // measurement mode: 1 vibrometer, 2 spectrum, 3 signal
    u32 samples_idx;  // spectrum lines or signal samples: 0/1 1024, 2 4096
    u32 step_idx;     // spectrum fmax or signal step
    u32 sensor;       // 1 internal, 2 external, 3 and 4 with marker
    u32 averaging;    // averaging setting: 1 none, 2 4, 4 10, 6 unlimited
    u32 mask;         // request mask of the screen
    u64 digest;
    float noise = 0;  // noise of the test signal (counts)
    u32 source = SOURCE_SYNTHESIS;
};

// The digests of the chain as pinned (see the top of the file).
const ChainSetup CHAIN_SETUPS[] = {
    {"vibrometer, 1024 samples", 1, 0, 0, 1, 1, 206, 0xc469449afd04a6cc},
    {"vibrometer, 4 averages (the default setting)", 1, 0, 0, 1, 2, 206, 0x595e42d0cfcc0778},
    {"vibrometer, marker sensor", 1, 0, 0, 3, 1, 206, 0xdfdb5f528c152faa},
    {"vibrometer, external sensor", 1, 0, 0, 2, 1, 206, 0x0f700eaeff70c7ff},
    {"spectra 1000 Hz, 1024 samples, marker", 2, 1, 2, 3, 1, 462, 0x65dd4c5899b25cfd},
    {"spectra 4000 Hz, 4096 samples, marker, 4 averages", 2, 2, 3, 3, 2, 462, 0x21ae021e2240c428},
    {"spectra 1000 Hz, 4096 samples, marker sensor 4, 10 averages", 2, 2, 2, 4, 4, 462, 0xe7dd40d8dcfc2ee5},
    {"spectra 400 Hz, 4096 samples, no marker, unlimited averaging", 2, 2, 1, 1, 6, 462, 0xe2177d81f94e06e3},
    {"signal 1024 samples 1 ms apart, marker", 3, 1, 3, 3, 1, 462, 0xdda9aa9deed3467b},
    {"signal 4096 samples, external sensor, 4 averages", 3, 2, 0, 2, 3, 462, 0x550627c7c6724959},
    {"vibrometer with noise, 4 averages", 1, 0, 0, 1, 2, 206, 0xbfef2b10ddf314d8, 400},
    {"spectra 1000 Hz, 4096 samples, marker, noise", 2, 2, 2, 3, 1, 462, 0x75db539e363b2224, 900},
    {"plant point, spectra 1000 Hz, 4096 samples, marker, 4 averages", 2, 2, 2, 3, 2, 462, 0x1b0f94b4b0727fbb, 0,
     SOURCE_PLANT},
    {"recording with its shock channel, vibrometer, 4 averages", 1, 0, 0, 1, 2, 206, 0xb0cbb0b22911f4e2, 0,
     SOURCE_RECORDING},
};

TEST(CycleDigest, ChainResultsStayBitIdentical)
{
    VirtualHostScope scope;
    for (const ChainSetup& s : CHAIN_SETUPS) {
        SCOPED_TRACE(s.name);
        settings_defaults();
        settings.sensor = s.sensor;
        settings.meas_mode = s.mode;
        settings.spectrum_lines_idx = settings.signal_samples_idx = s.samples_idx;
        settings.spectrum_fmax_idx = settings.signal_step_idx = s.step_idx;
        settings.averaging_idx = s.averaging;
        settings.meas_params_changed = 1;
        meas_calibration_defaults();
        test_signal = DEFAULT_TEST_SIGNAL;
        test_signal.noise = s.noise;
        open_source(s.source);
        meas_init();
        results_reset();
        window_mode = 1;
        rand_seed(20261211);
        meas_start(s.mask);
        meas_set_running(1);
        Digest d;
        for (int cycle = 0; cycle < 3; ++cycle) {
            ASSERT_EQ(meas_step(), 0) << "a whole cycle per step";
            digest_values(d);
            // Spectra are derived when asked for: ask for every record, as
            // the screens and the archive do.
            for (u32 g = 0; g < RESULT_GROUPS; ++g)
                for (u32 k = 0; k < RESULT_KINDS; ++k)
                    for (u32 q = 0; q <= Q_N; ++q) {
                        SignalRecord* rec;
                        meas_get_record(g, k, q, &rec);
                    }
            digest_store(d);
            // The screen's window last, as a screen would leave the store.
            for (u32 window : {0u, 2u, 1u}) {
                derive_spectra(window);
                digest_store(d);
            }
            digest_values(d);
        }
        meas_set_running(0);
        close_source();
        window_mode = 1;
        EXPECT_EQ(d.get(), s.digest) << std::hex << "0x" << d.get();
    }
}

// A virtual host whose clock starts at a fixed time, so that the status
// bar's clock is the same in every run; the images unpacked, the default
// settings with `sensor`, the random generator seeded.
class ScreenScope {
public:
    explicit ScreenScope(u32 sensor)
    {
        std::time_t start;
        EXPECT_TRUE(parse_clock("2026-12-11T06:00:00", &start));
        scope.host.set_clock(start);
        images_unpack_all();
        settings_defaults();
        settings.sensor = sensor;
        rand_seed(20261211);
    }
    VirtualHostScope scope;
};

void digest_screen(Digest& d)
{
    d.bytes(fb_pixels, LCD_PIXELS * sizeof(u16));
}

struct VibrometerKey {
    u64 ms;
    u32 key;
};

TEST(CycleDigest, LiveVibrometerPixelsStayBitIdentical)
{
    struct Case {
        const char* name;
        u32 sensor;
        std::vector<VibrometerKey> keys;  // after Enter at 200 ms; Esc at the end
        u64 digest;
    };
    const Case cases[] = {
        {"waveform of velocity, spectrum, shock panel, displacement",
         1,
         {{1400, KEY_UP}, {2600, KEY_DOWN}, {3800, KEY_UP}, {5000, KEY_DOWN}, {6200, 0}},
         0x3f2f0c3623a83202},
        {"marker sensor: spectrum of acceleration, cursor to the peak, zoom",
         3,
         {{300, KEY_UP}, {900, KEY_DOWN}, {1300, KEY_DOWN}, {2100, KEY_MOD}, {2500, KEY_SHIFT | KEY_RIGHT}, {3700, 0}},
         0x5f9e356f587ed08d},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScreenScope screen(c.sensor);
        VirtualHost& host = screen.scope.host;
        settings.plot_mode = VIB_MODE_WAVEFORM;
        settings.plot_quantity = Q_V;
        // Records at the converter's pace, as the window and runner take them.
        meas_set_paced(true);
        Digest d;
        std::vector<VibrometerKey> keys = c.keys;
        keys.insert(keys.begin(), VibrometerKey{200, KEY_ENTER});
        keys.back().key = KEY_ESC;
        u32 records = 0, last_tick = results.tick;
        host.set_on_ms([&] {
            const u64 ms = host.elapsed_ms();
            if (results.tick != last_tick) {
                last_tick = results.tick;
                ++records;
            }
            // The window repaints every 100 ms.
            if (ms % 100 == 0) digest_screen(d);
            for (const VibrometerKey& k : keys)
                if (k.ms == ms) key_post(k.key);
        });
        vibrometer_screen();
        EXPECT_EQ(power_off_flag, 0) << "left with Esc";
        // About one record per 0.4 s of the measurement.
        EXPECT_GE(records, (keys.back().ms - 200) / 400 - 3);
        digest_values(d);
        EXPECT_EQ(d.get(), c.digest) << std::hex << "0x" << d.get();
        meas_set_paced(false);
    }
}

TEST(CycleDigest, SpectraScreenPixelsStayBitIdentical)
{
    struct Case {
        const char* name;
        u32 sensor, lines_idx, fmax_idx, averaging, layout;
        std::vector<u32> keys;  // one per pass, after Enter; KEY_NONE passes only measure
        u64 digest;
    };
    const Case cases[] = {
        {"4096 samples, three plots, spectrum then signal, quantities",
         3,
         2,
         2,
         1,
         SPECTRA_LAYOUT_ALL,
         {KEY_NONE, KEY_NONE, KEY_MOD, KEY_NONE, KEY_DOWN, KEY_NONE, KEY_UP, KEY_NONE, KEY_DOWN, KEY_NONE},
         0x0c3fe5c3544d9822},
        {"1024 samples, main and shock plots, 4 averages",
         1,
         1,
         2,
         2,
         1,
         {KEY_NONE, KEY_NONE, KEY_NONE, KEY_NONE, KEY_DOWN, KEY_NONE, KEY_NONE, KEY_UP, KEY_NONE},
         0xb73cdd24a4d2afe9},
        {"4000 Hz, 4096 samples, marker plot, unlimited averaging",
         4,
         2,
         3,
         6,
         2,
         {KEY_NONE, KEY_NONE, KEY_NONE, KEY_DOWN, KEY_NONE, KEY_DOWN, KEY_NONE},
         0x4cf185e7cd539478},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScreenScope screen(c.sensor);
        settings.meas_mode = 2;
        settings.spectrum_lines_idx = c.lines_idx;
        settings.spectrum_fmax_idx = c.fmax_idx;
        settings.averaging_idx = c.averaging;
        settings.plot_mode = KIND_S;
        settings.plot_quantity = Q_V;
        settings.plot_layout = c.layout;
        settings.meas_params_changed = 1;
        Digest d;
        spectra_enter();
        spectra_start();
        ASSERT_EQ(spectra_pass(KEY_ENTER), SPECTRA_PASS_ON);
        digest_screen(d);
        for (u32 key : c.keys) {
            results.valid = 0;
            ASSERT_EQ(spectra_pass(key), SPECTRA_PASS_ON);
            EXPECT_EQ(results.valid, 1u) << "a new record in every pass";
            digest_screen(d);
            digest_values(d);
        }
        spectra_pass(KEY_ESC);
        EXPECT_EQ(d.get(), c.digest) << std::hex << "0x" << d.get();
    }
}

}  // namespace
