// The measuring module's file source: reading files, units and options,
// resampling, the front end's integration, clipping, looping, the marker,
// shock-pulse and temperature inputs, and the demonstration recordings.
#include <sndfile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/shock.h"
#include "analysis/signal.h"
#include "analysis/signal_file.h"
#include "analysis/signal_source.h"
#include "app/reset.h"
#include "base/cp1251.h"
#include "gfx/framebuffer.h"
#include "host/device.h"
#include "host/session.h"
#include "host/settings.h"
#include "screens/bearings.h"
#include "screens/spectra.h"
#include "screens/spectra_internal.h"
#include "tests/support/setups.h"
#include "tests/support/support.h"
#include "tools/demo_signals.h"

namespace {

constexpr double PI = std::numbers::pi;
const std::string DEMO_DIR = TARVIK2_DEMO_DIR;

struct Tone {
    double hz;
    double amplitude;
};

// `seconds` of the sum of the tones (sines from phase 0) at `rate`.
std::vector<float> tones(double rate, double seconds, const std::vector<Tone>& parts)
{
    std::vector<float> out(static_cast<size_t>(std::llround(rate * seconds)));
    for (size_t i = 0; i < out.size(); ++i) {
        double v = 0;
        for (const Tone& t : parts) v += t.amplitude * std::sin(2 * PI * t.hz * static_cast<double>(i) / rate);
        out[i] = static_cast<float>(v);
    }
    return out;
}

// Writes interleaved samples with libsndfile in `format`.
void write_sound(const std::string& path, const std::vector<float>& samples, double rate, int channels, int format)
{
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / channels);
    EXPECT_EQ(sf_writef_float(f, samples.data(), frames), frames);
    sf_close(f);
}

void write_float_wav(const std::string& path, const std::vector<float>& samples, double rate)
{
    write_sound(path, samples, rate, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
}

void write_text(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

class SignalSourceBase : public ::testing::Test {
protected:
    void SetUp() override
    {
        signal_source_reset();
        measuring_fresh(SetupRate::Hz2560, 99);
    }
    void TearDown() override { signal_source_close(); }

    void open(SignalOptions o) { ASSERT_EQ(signal_source_open(o), ""); }
    void open(const std::string& path, const std::string& unit = "")
    {
        SignalOptions o;
        o.path = path;
        o.unit = unit;
        open(o);
    }

    // Whole acquisition cycles of request `mask` (the vibrometer's by default).
    static void measure(int cycles, u32 mask = 206)
    {
        meas_start(mask);
        meas_set_running(1);
        for (int i = 0; i < cycles; ++i) ASSERT_EQ(meas_step(), 0);
    }

    struct Values {
        float a, v, d;
    };
    // Band values after a fresh series of cycles.
    static Values band_values(int cycles = 4)
    {
        band_values_clear();
        measure(cycles);
        return {meas_band_value(1, Q_A), meas_band_value(1, Q_V), meas_band_value(1, Q_D)};
    }

    VirtualHostScope scope;
    TempDir dir;
};

using SignalSourceTest = SignalSourceBase;

// Both ways of reading a file: its whole loop resampled once per setup, or
// resampled as it is read (the way of files too long for the former).
class SignalPaths : public SignalSourceBase, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        signal_source_set_loop_limit(GetParam() ? SIGNAL_LOOP_MAX_SAMPLES : 0);
        SignalSourceBase::SetUp();
    }
    void TearDown() override
    {
        SignalSourceBase::TearDown();
        signal_source_set_loop_limit(SIGNAL_LOOP_MAX_SAMPLES);
    }
};
INSTANTIATE_TEST_SUITE_P(WholeLoopOrStream, SignalPaths, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "WholeLoop" : "Stream"; });

// --- units and options ---

TEST(SignalUnits, TextsGiveQuantityAndFactor)
{
    struct Case {
        const char* text;
        bool ok;
        u32 quantity;
        double factor;
    };
    const Case cases[] = {
        {"", true, Q_A, 1.0},
        {"m/s2", true, Q_A, 1.0},
        {"m/s^2", true, Q_A, 1.0},
        {"g", true, Q_A, SIGNAL_G},
        {"mm/s", true, Q_V, 1.0},
        {"100mV/g", true, Q_A, SIGNAL_G * 10},
        {"10.2 mV/g", true, Q_A, SIGNAL_G * 1000 / 10.2},
        {"furlong", false, 0, 0},
        {"mV/g", false, 0, 0},
        {"0mV/g", false, 0, 0},
        {"-100mV/g", false, 0, 0},
        {"G", false, 0, 0},
        {"m/s", false, 0, 0},
    };
    for (const Case& c : cases) {
        SignalUnit u{99, 0};
        EXPECT_EQ(signal_unit_parse(c.text, &u), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(u.quantity, c.quantity) << c.text;
        EXPECT_NEAR(u.factor, c.factor, 1e-9 * c.factor) << c.text;
    }
}

TEST(SignalOptionsParse, ValuesAreTakenOrRefusedWithOneLine)
{
    struct Case {
        const char* name;
        const char* value;
        bool ok;
    };
    const Case cases[] = {
        {"--signal", "x.wav", true},
        {"--signal", "", false},
        {"--signal-channel", "2", true},
        {"--signal-channel", "0", false},
        {"--signal-channel", "two", false},
        {"--signal-channel", "-1", false},
        {"--signal-unit", "g", true},
        {"--signal-unit", "mph", false},
        {"--signal-rate", "48000", true},
        {"--signal-rate", "0", false},
        {"--signal-rate", "-5", false},
        {"--signal-rate", "nan", false},
        {"--rpm", "1797", true},
        {"--rpm", "0", false},
        {"--rpm", "fast", false},
        {"--signal-shock", "1", true},
        {"--signal-temp", "2", true},
        {"--signal-temp", "0", false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(signal_option_known(c.name)) << c.name;
        SignalOptions o;
        const std::string e = signal_option_set(c.name, c.value, &o);
        EXPECT_EQ(e.empty(), c.ok) << c.name << " " << c.value << ": " << e;
        if (!c.ok) {
            EXPECT_NE(e.find(c.name), std::string::npos) << e;
            EXPECT_EQ(e.find('\n'), std::string::npos) << e;
        }
    }
    SignalOptions o;
    EXPECT_EQ(signal_option_set("--signal-channel", "3", &o), "");
    EXPECT_EQ(signal_option_set("--rpm", "1500.5", &o), "");
    EXPECT_EQ(signal_option_set("--signal-rate", "2560", &o), "");
    EXPECT_EQ(o.channel, 3u);
    EXPECT_DOUBLE_EQ(o.rpm, 1500.5);
    EXPECT_DOUBLE_EQ(o.rate, 2560);
    EXPECT_FALSE(signal_option_known("--data"));
    EXPECT_FALSE(signal_option_known("--signals"));
}

// --- CSV tables ---

TEST(SignalTable, LayoutsAndRates)
{
    struct Case {
        const char* text;
        double rate_option;
        u32 channels;
        std::vector<float> samples;
        double rate;
    };
    const Case cases[] = {
        {"1\n2\n-3.5\n", 1000, 1, {1, 2, -3.5f}, 1000},
        {"value\n1\n2\n", 500, 1, {1, 2}, 500},
        {"time,accel\n0,1\n0.001,2\n0.002,3\n", 0, 1, {1, 2, 3}, 1000},
        {"0;1;10\n0.5;2;20\n", 0, 2, {1, 10, 2, 20}, 2},
        {"0\t1\n0.25\t2\n\n0.5\t3\n", 0, 1, {1, 2, 3}, 4},
        {"0 1\n0.25   -2e-1\n", 0, 1, {1, -0.2f}, 4},
        {"t,v\r\n0,1\r\n0.01,+2\r\n", 50, 1, {1, 2}, 50},  // the option wins over the times
    };
    for (const Case& c : cases) {
        SignalRecording rec;
        ASSERT_EQ(signal_table_parse(c.text, "t.csv", c.rate_option, &rec), "") << c.text;
        EXPECT_EQ(rec.channels, c.channels) << c.text;
        EXPECT_EQ(rec.samples, c.samples) << c.text;
        EXPECT_EQ(rec.frames, c.samples.size() / c.channels) << c.text;
        EXPECT_NEAR(rec.rate, c.rate, 1e-9 * c.rate) << c.text;
        EXPECT_TRUE(rec.floating);
    }
}

TEST(SignalTable, FaultsNameTheLine)
{
    struct Case {
        const char* text;
        double rate_option;
        const char* says;
    };
    const Case cases[] = {
        {"1\n2\n", 0, "--signal-rate"},
        {"", 1000, "no samples"},
        {"header only\n", 1000, "no samples"},
        {"1\n2\nx\n", 1000, "line 3: not a number: 'x'"},
        {"0,1\n1,2\n2\n", 0, "line 3: 1 values where line 1 has 2"},
        {"0,1\n1,2\n1,3\n", 0, "not evenly rising"},
        {"0,1\n1,2\n3,3\n", 0, "not evenly rising"},
        {"0,1\n", 0, "one time only"},
        {"0,1\n1,,2\n", 1000, "line 2: not a number: ''"},
        {"inf\n", 1000, "no samples"},  // a header line, then nothing
        // Beyond the range of a float sample (which would become infinite).
        {"1\n1e39\n", 1000, "line 2: '1e39' is beyond the range of a sample"},
        {"t,a,b\n0,1,2\n0.001,-3.5e38,1\n", 0, "line 3: '-3.5e38' is beyond the range of a sample"},
        {"0,1\n1e-310,2\n", 0, "too close together"},  // a rate beyond any number
    };
    for (const Case& c : cases) {
        SignalRecording rec;
        const std::string e = signal_table_parse(c.text, "t.csv", c.rate_option, &rec);
        EXPECT_NE(e.find(c.says), std::string::npos) << c.text << " -> " << e;
        EXPECT_NE(e.find("'t.csv'"), std::string::npos) << e;
        EXPECT_EQ(e.find('\n'), std::string::npos) << e;
        // Nothing of a refused table is kept.
        EXPECT_TRUE(rec.samples.empty() && rec.channels == 0 && rec.frames == 0 && rec.rate == 0) << c.text;
    }
}

// --- opening files ---

TEST_F(SignalSourceTest, BadFilesAreRefusedAndTheSourceStaysAsItWas)
{
    write_text(dir.file("noise.wav"), "this is not a sound file at all, just words");
    write_sound(dir.file("empty.wav"), {}, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    write_text(dir.file("slow.csv"), "1\n2\n3\n");
    write_float_wav(dir.file("good.wav"), tones(8000, 0.5, {{100, 1}}), 8000);
    struct Case {
        std::string path;
        std::string unit;
        double rate;
        u32 channel;
        std::string says;
    };
    const Case cases[] = {
        {dir.file("missing.wav"), "", 0, 1, "cannot read"},
        {dir.file("noise.wav"), "", 0, 1, "cannot read"},
        {dir.file("empty.wav"), "", 0, 1, "has no samples"},
        {dir.file("slow.csv"), "", 10, 1, "is sampled at 10"},
        {dir.file("slow.csv"), "", 0, 1, "--signal-rate"},
        {dir.file("good.wav"), "", 0, 2, "--signal-channel 2: '" + dir.file("good.wav") + "' has 1 channel"},
        {dir.file("good.wav"), "parsec", 0, 1, "--signal-unit 'parsec'"},
        {"", "", 0, 1, "--signal needs a file"},
    };
    for (int round = 0; round < 2; ++round) {
        // First with synthesis in place, then with a good file loaded.
        for (const Case& c : cases) {
            SignalOptions o;
            o.path = c.path;
            o.unit = c.unit;
            o.rate = c.rate;
            o.channel = c.channel;
            const std::string e = signal_source_open(o);
            EXPECT_NE(e.find(c.says), std::string::npos) << c.path << " -> " << e;
            EXPECT_EQ(e.find('\n'), std::string::npos) << e;
            EXPECT_EQ(signal_source_active(), round == 1);
            EXPECT_EQ(signal_source_path(), round == 1 ? dir.file("good.wav") : "");
        }
        open(dir.file("good.wav"));
    }
    signal_source_close();
    EXPECT_FALSE(signal_source_active());
    EXPECT_EQ(signal_source_path(), "");
}

TEST_F(SignalSourceTest, SampleFormatsGiveTheSameValues)
{
    // Integer samples are fractions of full scale; with the unit g, 0.5 of
    // full scale is 0.5 g. Float samples are taken as they are.
    const std::vector<float> wave = tones(25600, 1, {{80, 0.5}});
    struct Case {
        const char* file;
        int format;
    };
    const Case cases[] = {
        {"pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},    {"pcm24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"pcm32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32},    {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"double.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE},   {"flac16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"flac24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24}, {"aiff.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
    };
    const double accel_peak = 0.5 * SIGNAL_G;
    const double velocity_rms = accel_peak / (2 * PI * 80) * 1000 / std::numbers::sqrt2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        write_sound(dir.file(c.file), wave, 25600, 1, c.format);
        open(dir.file(c.file), "g");
        const Values v = band_values();
        EXPECT_NEAR(v.a, accel_peak, 0.01 * accel_peak);
        EXPECT_NEAR(v.v, velocity_rms, 0.01 * velocity_rms);
    }
}

// --- accuracy ---

TEST_P(SignalPaths, TenMillimetresPerSecondShowsTenOnTheVibrometerFromEitherUnit)
{
    // 10 mm/s RMS at 100 Hz: 14.14 mm/s peak, 8.886 m/s² peak (0.906 g),
    // 45.0 µm peak to peak.
    const double v_peak = 10 * std::numbers::sqrt2;
    const double a_peak = v_peak * 2 * PI * 100 / 1000;
    const double d_pp = 2 * v_peak / (2 * PI * 100) * 1000;
    write_float_wav(dir.file("velocity.wav"), tones(25600, 2, {{100, v_peak}}), 25600);
    // In volts from a 100 mV/g accelerometer.
    write_float_wav(dir.file("volts.wav"), tones(25600, 2, {{100, a_peak / SIGNAL_G * 0.1}}), 25600);
    for (const auto& [file, unit] :
         {std::pair<std::string, std::string>{"velocity.wav", "mm/s"}, {"volts.wav", "100mV/g"}}) {
        for (const SetupRate s : {SetupRate::Hz2560, SetupRate::Hz10240}) {
            SCOPED_TRACE(file + " setup " + std::to_string(static_cast<int>(s)));
            use_setup(s);
            open(dir.file(file), unit);
            const Values v = band_values();
            EXPECT_NEAR(v.v, 10.0, 0.2);
            EXPECT_NEAR(v.a, a_peak, 0.02 * a_peak);
            EXPECT_NEAR(v.d, d_pp, 0.02 * d_pp);
        }
    }
}

TEST_P(SignalPaths, IntegrationHoldsUpToTheTopOfTheBand)
{
    // A plain trapezoidal integrator at 2560 Hz would show a 900 Hz tone
    // about 40 % low; the front end keeps every band within 1 %.
    struct Case {
        double hz;
        SetupRate setup;
        double a_peak;  // keeps the displacement within the 999 µm shown
    };
    const Case cases[] = {{15, SetupRate::Hz2560, 2},   {100, SetupRate::Hz2560, 20},   {450, SetupRate::Hz2560, 20},
                          {900, SetupRate::Hz2560, 20}, {3500, SetupRate::Hz10240, 20}, {40, SetupRate::Hz10240, 10},
                          {300, SetupRate::Hz1024, 20}, {25, SetupRate::Hz1024, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hz);
        use_setup(c.setup);
        const double a_peak = c.a_peak;
        write_float_wav(dir.file("a.wav"), tones(25600, 1, {{c.hz, a_peak}}), 25600);
        open(dir.file("a.wav"));
        const Values v = band_values();
        const double w = 2 * PI * c.hz;
        const double fmax = meas_state.fmax;
        // Acceleration and velocity bands reach 1000 Hz (or the setup's top).
        if (c.hz <= std::min(1000.0, fmax)) {
            EXPECT_NEAR(v.a, a_peak, 0.01 * a_peak);
            const double v_rms = a_peak / w * 1000 / std::numbers::sqrt2;
            EXPECT_NEAR(v.v, v_rms, 0.01 * v_rms);
        }
        // The displacement band ends at 300 Hz.
        if (c.hz < 300) {
            const double d_pp = 2 * a_peak / (w * w) * 1e6;
            EXPECT_NEAR(v.d, d_pp, 0.01 * d_pp);
        }
        // The velocity time signal is the true integral of the acceleration:
        // its peak follows a / w whatever the band.
        const SignalRecord* wv = record_at(1, KIND_W, Q_V);
        const double v_peak = a_peak / w * 1000;
        EXPECT_NEAR(wv->peak * wv->scale, v_peak, 0.02 * v_peak + 2 * meas_calibration.set[1][Q_V]);
    }
}

TEST_P(SignalPaths, VelocityFilesAreDifferentiatedAndIntegrated)
{
    for (const double hz : {20.0, 160.0, 700.0}) {
        SCOPED_TRACE(hz);
        const double v_peak = 12.0;
        write_float_wav(dir.file("v.wav"), tones(25600, 1, {{hz, v_peak}}), 25600);
        open(dir.file("v.wav"), "mm/s");
        const Values v = band_values();
        const double w = 2 * PI * hz;
        EXPECT_NEAR(v.v, v_peak / std::numbers::sqrt2, 0.01 * v_peak);
        EXPECT_NEAR(v.a, v_peak * w / 1000, 0.01 * v_peak * w / 1000);
        if (hz < 300) {
            EXPECT_NEAR(v.d, 2 * v_peak / w * 1000, 0.02 * v_peak / w * 1000);
        }
    }
}

TEST_P(SignalPaths, FileRatesGiveTheSameBandValues)
{
    const std::vector<Tone> parts = {{37, 3.0}, {160, 8.0}, {610, 15.0}};
    write_float_wav(dir.file("48k.wav"), tones(48000, 1, parts), 48000);
    write_float_wav(dir.file("10k.wav"), tones(10240, 1, parts), 10240);
    // The same signal as a CSV table with times.
    std::string csv = "time;accel\n";
    const std::vector<float> slow = tones(5120, 1, parts);
    for (size_t i = 0; i < slow.size(); ++i) csv += std::to_string(i / 5120.0) + ";" + std::to_string(slow[i]) + "\n";
    write_text(dir.file("5k.csv"), csv);
    for (const SetupRate s : {SetupRate::Hz1024, SetupRate::Hz2560, SetupRate::Hz10240}) {
        SCOPED_TRACE(static_cast<int>(s));
        use_setup(s);
        open(dir.file("48k.wav"));
        const Values fast = band_values();
        for (const char* other : {"10k.wav", "5k.csv"}) {
            SCOPED_TRACE(other);
            use_setup(s);
            open(dir.file(other));
            const Values v = band_values();
            EXPECT_NEAR(v.a, fast.a, 0.01 * fast.a);
            EXPECT_NEAR(v.v, fast.v, 0.01 * fast.v);
            EXPECT_NEAR(v.d, fast.d, 0.01 * fast.d);
        }
    }
}

TEST_P(SignalPaths, SetupChangesResampleToTheNewRate)
{
    write_float_wav(dir.file("tone.wav"), tones(48000, 2, {{250, 10}}), 48000);
    open(dir.file("tone.wav"));
    for (const SetupRate s : {SetupRate::Hz2560, SetupRate::Hz10240, SetupRate::Hz1024, SetupRate::Hz2560}) {
        SCOPED_TRACE(static_cast<int>(s));
        use_setup(s);
        measure(2);
        const SignalRecord* wa = record_at(1, KIND_W, Q_A);
        EXPECT_FLOAT_EQ(wa->dx, meas_state.dt);
        SignalRecord* sa = nullptr;
        ASSERT_EQ(meas_get_record(1, KIND_S, Q_A, &sa), 1);
        u32 best = 1;
        for (u32 k = 1; k < sa->count; ++k)
            if (line_power(sa, k) > line_power(sa, best)) best = k;
        EXPECT_NEAR(x_at(sa, best), 250.0, sa->dx) << "dx " << sa->dx;
    }
}

TEST_P(SignalPaths, TheFileLoopsWithoutASeam)
{
    // 0.2 s holding 8 whole periods of 40 Hz: looped, a pure tone. Records
    // of 0.4 s cross the seam every time; a gap or a restart of the
    // resampler there would spread energy over the spectrum.
    write_float_wav(dir.file("loop.wav"), tones(8000, 0.2, {{40, 10}}), 8000);
    open(dir.file("loop.wav"));
    for (int record = 0; record < 6; ++record) {
        SCOPED_TRACE(record);
        measure(1);
        SignalRecord* sa = nullptr;
        ASSERT_EQ(meas_get_record(1, KIND_S, Q_A, &sa), 1);
        const int tone_line = index_of(sa, 40, 0);
        double total = 0, near_tone = 0;
        for (u32 k = 1; k < sa->count; ++k) {
            const double p = static_cast<double>(line_power(sa, k));
            total += p;
            if (std::abs(static_cast<int>(k) - tone_line) <= 3) near_tone += p;
        }
        EXPECT_GT(near_tone / total, 0.999);
    }
}

TEST_P(SignalPaths, VelocityAndDisplacementReadTheSameAcrossTheLoopPoint)
{
    // Files whose end does not run on into their start: the unbalance demo
    // (29.95 Hz over 10 s ends half a period out, so its acceleration turns
    // over there) and made ones with a tone ending a third of a period out,
    // with and without a second, unrelated tone. Records of 0.4 s, one after
    // another over more than two loops, each read alone: those within a
    // second after a loop point read what the others read (within 1 %
    // beyond their spread), and no velocity waveform there leaves its zero
    // line (the jolt a restart of the integration would give).
    const double rate = 25600;
    write_float_wav(dir.file("third.wav"), tones(rate, 3.0 + 1.0 / 3 / 23.0, {{23, 2}}), rate);
    write_float_wav(dir.file("two.wav"), tones(rate, 4.37, {{31.3, 4}, {87.1, 6}}), rate);
    struct Case {
        std::string file;
        int records;
    };
    const Case cases[] = {{DEMO_DIR + "/unbalance.wav", 56}, {dir.file("third.wav"), 20}, {dir.file("two.wav"), 26}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        open(c.file);
        const double loop_s = static_cast<double>(signal_source_loop_frames()) / rate;
        ASSERT_GT(loop_s, 0);
        struct Reading {
            double value, drift, rms;  // band value; the waveform's shift of its zero line, and RMS
        };
        std::vector<Reading> across[2], away[2];  // velocity, displacement
        for (int r = 0; r < c.records; ++r) {
            band_values_clear();
            measure(1);
            const double t0 = r * meas_state.n_samples * static_cast<double>(meas_state.dt);
            const double t1 = t0 + meas_state.n_samples * static_cast<double>(meas_state.dt);
            // A loop point within the record or up to a second before it.
            const bool near_seam = std::floor(t1 / loop_s) * loop_s > t0 - 1.0;
            for (const u32 q : {Q_V, Q_D}) {
                const SignalRecord* w = record_at(1, KIND_W, q);
                // The waveform's zero line: the means of its two halves.
                const u32 half = w->count / 2;
                double sum[2] = {0, 0}, sq = 0;
                for (u32 i = 0; i < w->count; ++i) {
                    sum[i < half ? 0 : 1] += w->data[i];
                    sq += static_cast<double>(w->data[i]) * w->data[i];
                }
                const Reading reading{meas_band_value(1, q), (sum[1] - sum[0]) / half, std::sqrt(sq / w->count)};
                (near_seam ? across : away)[q == Q_V ? 0 : 1].push_back(reading);
            }
        }
        for (const int k : {0, 1}) {
            SCOPED_TRACE(k == 0 ? "velocity" : "displacement");
            ASSERT_FALSE(across[k].empty());
            ASSERT_FALSE(away[k].empty());
            double lo = 1e30, hi = 0, away_sum = 0, across_sum = 0;
            for (const Reading& r : away[k]) {
                lo = std::min(lo, r.value);
                hi = std::max(hi, r.value);
                away_sum += r.value;
            }
            for (const Reading& r : across[k]) {
                EXPECT_GE(r.value, 0.99 * lo);
                EXPECT_LE(r.value, 1.01 * hi);
                across_sum += r.value;
            }
            const double away_mean = away_sum / away[k].size(), across_mean = across_sum / across[k].size();
            EXPECT_NEAR(across_mean, away_mean, 0.01 * away_mean);
            // The velocity waveforms across a loop point keep their zero line
            // as well as the others (the displacement's wanders with the
            // noise wherever it is).
            if (k == 0) {
                double steady = 0;
                for (const Reading& r : away[k]) steady = std::max(steady, std::fabs(r.drift) / r.rms);
                for (const Reading& r : across[k]) EXPECT_LE(std::fabs(r.drift) / r.rms, 1.25 * steady);
            }
        }
    }
}

TEST_P(SignalPaths, OverloadIsClippedNotWrapped)
{
    // 250 m/s² peak: beyond the converter's ±16384 counts of 0.00983 m/s²
    // (about ±161 m/s²) with the internal sensor.
    write_float_wav(dir.file("loud.wav"), tones(25600, 1, {{50, 250}}), 25600);
    SignalOptions o;
    o.path = dir.file("loud.wav");
    o.shock_channel = 1;
    open(o);
    measure(2);
    u16 lo = 65535, hi = 0;
    for (u32 i = 0; i < meas_state.n_frames; ++i) {
        lo = std::min(lo, meas_state.frames[i].w[Q_A]);
        hi = std::max(hi, meas_state.frames[i].w[Q_A]);
    }
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, SIGNAL_ADC_MAX);
    EXPECT_GT(signal_source_clipped(), 0u);
    // Clipped samples sit at the rails, in the half-wave they belong to: a
    // wrapped sample would jump to the other side.
    u32 rails = 0;
    for (u32 i = 1; i + 1 < meas_state.n_frames; ++i) {
        const u16 word = meas_state.frames[i].w[Q_A];
        if (word == 0 || word == SIGNAL_ADC_MAX) {
            ++rails;
            // Neighbours of a rail sample stay on its side of the zero.
            for (const u32 j : {i - 1, i + 1}) {
                const int side = word == 0 ? -1 : 1;
                EXPECT_GT(side * (static_cast<int>(meas_state.frames[j].w[Q_A]) - MID_SCALE), 0) << i;
            }
        }
    }
    EXPECT_GT(rails, meas_state.n_frames / 10);
    // The acceleration peak the instrument shows is the converter's range.
    const SignalRecord* wa = record_at(1, KIND_W, Q_A);
    EXPECT_LE(wa->peak * wa->scale, 16384 * meas_calibration.set[1][Q_A] * 1.05);
    // The shock-pulse input clips at its top as well, never wrapping to a
    // negative sample.
    for (u32 i = 0; i < meas_state.shock_count; ++i) ASSERT_LE(meas_state.shock_buf[i], SIGNAL_SHOCK_MAX) << i;
    EXPECT_GE(shock_result.min_abs, 0);
}

TEST_P(SignalPaths, ValuesNearTheFloatLimitGiveTheRails)
{
    // Samples near the largest float, in g: times 9.8 they overflow to
    // infinity, and the front end's filters make that not a number. Every
    // count is still a converter count, at the rails and counted as clipped.
    write_float_wav(dir.file("huge.wav"), tones(25600, 0.5, {{50, 3e38}}), 25600);
    SignalOptions o;
    o.path = dir.file("huge.wav");
    o.unit = "g";
    o.shock_channel = 1;
    open(o);
    measure(2);
    for (u32 i = 0; i < meas_state.n_frames; ++i)
        for (u32 q = 0; q < 3; ++q) {
            const u16 word = meas_state.frames[i].w[q];
            ASSERT_TRUE(word == 0 || word == SIGNAL_ADC_MAX) << i << " " << q << ": " << word;
        }
    for (u32 i = 0; i < meas_state.shock_count; ++i) ASSERT_LE(meas_state.shock_buf[i], SIGNAL_SHOCK_MAX) << i;
    EXPECT_GE(signal_source_clipped(), 3u * meas_state.n_frames);
}

TEST_F(SignalSourceTest, RpmDrivesTheMarkerChannel)
{
    settings.sensor = 3;  // internal with marker
    use_setup(SetupRate::Hz2560);
    write_float_wav(dir.file("m.wav"), tones(25600, 1, {{100, 5}}), 25600);
    for (const double rpm : {1797.0, 600.0, 3000.0}) {
        SCOPED_TRACE(rpm);
        SignalOptions o;
        o.path = dir.file("m.wav");
        o.rpm = rpm;
        open(o);
        measure(3, 462);
        EXPECT_NEAR(results.rotation_hz, rpm / 60, 0.01 * rpm / 60);
    }
    // Without a speed the marker stays flat: no rotation found.
    open(dir.file("m.wav"));
    measure(2, 462);
    EXPECT_EQ(results.rotation_hz, 0.0f);
    for (u32 i = 0; i < meas_state.n_frames; ++i) ASSERT_EQ(meas_state.frames[i].w[3], MID_SCALE);
}

TEST_P(SignalPaths, MoreChannelsFeedShockPulseAndTemperature)
{
    // Channel 1 a plain tone, channel 2 a train of ringing impacts, channel 3
    // a temperature of 42.5 °C.
    const double rate = 25600;
    const std::vector<float> tone = tones(rate, 1, {{60, 5}});
    std::vector<float> three(tone.size() * 3);
    for (size_t i = 0; i < tone.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double u = std::fmod(t, 0.01);  // 100 impacts per second
        three[3 * i] = tone[i];
        three[3 * i + 1] = static_cast<float>(20 * std::exp(-u / 0.001) * std::sin(2 * PI * 3000 * u));
        three[3 * i + 2] = 42.5f;
    }
    write_sound(dir.file("three.wav"), three, rate, 3, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    SignalOptions o;
    o.path = dir.file("three.wav");
    open(o);
    measure(2);
    // Synthetic shock pulses while they are not mapped, and a steady
    // temperature (below).
    u16 shock_top = 0;
    for (u32 i = 0; i < meas_state.shock_count; ++i) shock_top = std::max(shock_top, meas_state.shock_buf[i]);
    EXPECT_LE(shock_top, 768);

    o.shock_channel = 2;
    o.temperature_channel = 3;
    open(o);
    measure(2);
    EXPECT_FLOAT_EQ(meas_temperature(), 42.5f);
    // The envelope's spectrum has its line at the impact rate.
    SignalRecord* b = nullptr;
    ASSERT_EQ(meas_get_record(3, KIND_B, Q_A, &b), 1);
    u32 best = 2;
    for (u32 k = 2; k < b->count; ++k)
        if (line_power(b, k) > line_power(b, best)) best = k;
    EXPECT_NEAR(x_at(b, best), 100.0, b->dx);
    // The vibration channel is still channel 1: the 60 Hz tone.
    SignalRecord* sa = nullptr;
    ASSERT_EQ(meas_get_record(1, KIND_S, Q_A, &sa), 1);
    best = 1;
    for (u32 k = 1; k < sa->count; ++k)
        if (line_power(sa, k) > line_power(sa, best)) best = k;
    EXPECT_NEAR(x_at(sa, best), 60.0, sa->dx);
}

TEST_F(SignalSourceTest, WithoutATemperatureChannelTheTemperatureIsSteady)
{
    // A recording without --signal-temp: the temperature stays at the one
    // chosen (35 °C unless --temperature says otherwise) with a sensor's
    // small noise, never the synthesis's wander over 60 to 110 °C.
    write_float_wav(dir.file("t.wav"), tones(25600, 1, {{60, 5}}), 25600);
    struct Case {
        std::string option;  // "": not given
        double celsius;
    };
    const Case cases[] = {{"", 35}, {"20", 20}, {"-12.5", -12.5}, {"150", 150}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        SignalOptions o;
        o.path = dir.file("t.wav");
        if (!c.option.empty()) {
            ASSERT_EQ(signal_option_set("--temperature", c.option, &o), "");
        }
        open(o);
        double lo = 1e9, hi = -1e9;
        for (int r = 0; r < 40; ++r) {
            measure(1);
            lo = std::min<double>(lo, meas_temperature());
            hi = std::max<double>(hi, meas_temperature());
        }
        EXPECT_GE(lo, c.celsius - SIGNAL_TEMPERATURE_NOISE);
        EXPECT_LE(hi, c.celsius + SIGNAL_TEMPERATURE_NOISE);
        EXPECT_GT(hi - lo, SIGNAL_TEMPERATURE_NOISE / 2) << "a sensor's noise";
    }
    // Synthesis, without a file, wanders as before.
    signal_source_close();
    double lo = 1e9, hi = -1e9;
    for (int r = 0; r < 40; ++r) {
        measure(1);
        lo = std::min<double>(lo, meas_temperature());
        hi = std::max<double>(hi, meas_temperature());
    }
    EXPECT_GE(lo, 60);
    EXPECT_LE(hi, 110);
    EXPECT_GT(hi - lo, 10);
    // Values the option refuses.
    SignalOptions o;
    for (const char* bad : {"", "warm", "-51", "301", "nan"})
        EXPECT_NE(signal_option_set("--temperature", bad, &o), "") << bad;
}

TEST_P(SignalPaths, PowerOnStartsTheStreamAgainAndKeepsTheFile)
{
    write_float_wav(dir.file("n.wav"), tones(25600, 1, {{33, 4}, {470, 9}}), 25600);
    open(dir.file("n.wav"));
    auto first_records = [] {
        std::vector<i32> out;
        for (int r = 0; r < 3; ++r) {
            measure(1);
            const SignalRecord* wa = record_at(1, KIND_W, Q_A);
            out.insert(out.end(), wa->data, wa->data + wa->count);
        }
        return out;
    };
    const std::vector<i32> a = first_records();
    const std::vector<i32> b = first_records();
    EXPECT_NE(a, b);  // the stream moves on
    system_reset();
    settings.meas_mode = 1;
    settings.sensor = 1;
    meas_init();
    results_reset();
    EXPECT_TRUE(signal_source_active());
    EXPECT_EQ(first_records(), a);
}

// --- the demonstration recordings ---

TEST(DemoSignals, FilesAreFloatWavAtTheStatedRate)
{
    for (const DemoSignal& d : demo_signals()) {
        SCOPED_TRACE(d.file);
        SignalRecording rec;
        ASSERT_EQ(signal_file_read(DEMO_DIR + "/" + d.file, 0, &rec), "");
        EXPECT_TRUE(rec.floating);
        EXPECT_EQ(rec.channels, 1u);
        EXPECT_EQ(rec.rate, DEMO_RATE);
        EXPECT_EQ(rec.frames, static_cast<u64>(DEMO_RATE * DEMO_SECONDS));
    }
}

// Index of the largest line within `radius` lines of x.
int peak_near(const SignalRecord* spectrum, double x, int radius)
{
    const int centre = index_of(spectrum, static_cast<float>(x), 0);
    int best = centre;
    for (int k = std::max(1, centre - radius); k <= std::min<int>(spectrum->count - 1, centre + radius); ++k)
        if (line_power(spectrum, k) > line_power(spectrum, best)) best = k;
    return best;
}

// True when line k stands out: a local maximum well above the median of
// the 40 lines around it.
bool is_line(const SignalRecord* spectrum, int k)
{
    if (k < 1 || k + 1 >= static_cast<int>(spectrum->count)) return false;
    const u64 p = line_power(spectrum, k);
    if (p < line_power(spectrum, k - 1) || p < line_power(spectrum, k + 1)) return false;
    std::vector<u64> around;
    for (int j = std::max(1, k - 20); j <= std::min<int>(spectrum->count - 1, k + 20); ++j)
        around.push_back(line_power(spectrum, j));
    std::nth_element(around.begin(), around.begin() + around.size() / 2, around.end());
    return p > 20 * around[around.size() / 2];
}

// What the README says of the demos: the velocity on the vibrometer and the
// severity it shows, the highest line of the velocity spectrum and its RMS
// (the spectra screen reads √2 times that), the unbalance's displacement.
TEST_F(SignalSourceTest, DemoVelocitiesGradesAndLines)
{
    struct Case {
        const char* file;
        double low, high;
        int grade;  // with the default limits 4.5 and 7.1 mm/s
        double highest_order, highest_rms;
        double d_pp;  // 0: not stated
    };
    const Case cases[] = {
        {"balanced.wav", 0.5, 0.8, 1, 1, 0.6, 0},
        {"unbalance.wav", 7.6, 8.5, 3, 1, 8.0, 121},
        {"misalignment.wav", 5.3, 6.1, 2, 2, 5.0, 0},
        {"looseness.wav", 4.9, 5.7, 2, 1, 3.0, 0},
        {"bearing_6205_outer_race.wav", 3.3, 3.9, 1, 1, 3.3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        open(DEMO_DIR + "/" + c.file);
        const Values v = band_values();
        EXPECT_GE(v.v, c.low);
        EXPECT_LE(v.v, c.high);
        EXPECT_EQ(grade_value(v.v, 7, 8), c.grade);
        if (c.d_pp > 0) {
            EXPECT_NEAR(v.d, c.d_pp, 0.02 * c.d_pp);
        }
        SignalRecord* sv = nullptr;
        ASSERT_EQ(meas_get_record(1, KIND_S, Q_V, &sv), 1);
        u32 best = 1;
        for (u32 k = 1; k < sv->count; ++k)
            if (line_power(sv, k) > line_power(sv, best)) best = k;
        EXPECT_NEAR(x_at(sv, best), c.highest_order * DEMO_SHAFT_HZ, sv->dx);
        const double rms = std::sqrt(static_cast<double>(line_power(sv, best))) * sv->scale / std::numbers::sqrt2;
        EXPECT_NEAR(rms, c.highest_rms, 0.03 * c.highest_rms);
    }
}

TEST_P(SignalPaths, BearingDemoShowsBallPassLines)
{
    SignalOptions o;
    o.path = DEMO_DIR + "/bearing_6205_outer_race.wav";
    o.shock_channel = 1;
    o.rpm = DEMO_RPM;
    for (const SetupRate s : {SetupRate::Hz2560, SetupRate::Hz10240}) {
        SCOPED_TRACE(static_cast<int>(s));
        use_setup(s);
        open(o);
        measure(3);
        for (const u32 kind : {KIND_S, KIND_B}) {
            for (const u32 q : {Q_A, Q_V}) {
                if (kind == KIND_B && q != Q_A) continue;
                SCOPED_TRACE(kind * 10 + q);
                SignalRecord* spectrum = nullptr;
                ASSERT_EQ(meas_get_record(kind == KIND_B ? 3 : 1, kind, q, &spectrum), 1);
                for (const double multiple : {1.0, 2.0}) {
                    const double f = multiple * DEMO_BPFO_HZ;
                    const int k = peak_near(spectrum, f, 1);
                    EXPECT_TRUE(is_line(spectrum, k)) << f << " Hz";
                    EXPECT_LE(std::fabs(x_at(spectrum, k) - f), spectrum->dx) << f << " Hz";
                }
            }
        }
    }
}

// The spectra screen with the bearing demo on the vibration and shock-pulse
// inputs and bearing 6205 chosen: Mod puts the cursor on the running speed,
// and the shock-pulse plot's BPFO markers then stand on lines.
class BearingDemoScreen : public ::testing::Test {
protected:
    void SetUp() override
    {
        data_dir_set(dir.path());
        system_reset();
        host_install(&host);
        bearing_catalogue_load();
    }
    void TearDown() override
    {
        signal_source_close();
        host_install(nullptr);
        bearing_catalogue_clear();
        data_dir_set("");
    }
    TempDir dir;
    VirtualHost host;
};

TEST_F(BearingDemoScreen, BpfoMarkersLandOnLines)
{
    SignalOptions o;
    o.path = DEMO_DIR + "/bearing_6205_outer_race.wav";
    o.shock_channel = 1;
    ASSERT_EQ(signal_source_open(o), "");
    std::strcpy(settings.bearing_name, "6205");
    const BearingRecord* bearing = bearing_at(bearing_find("6205"));
    ASSERT_NE(bearing, nullptr);
    settings.plot_mode = KIND_S;
    settings.plot_quantity = Q_V;
    settings.plot_layout = SPECTRA_LAYOUT_SHOCK;
    settings.averaging_idx = 1;
    meas_set_paced(false);
    spectra_enter();
    spectra_start();
    spectra_pass(KEY_ENTER);
    for (int i = 0; i < 6; ++i) spectra_pass(KEY_NONE);
    spectra_pass(KEY_MOD);
    spectra_pass(KEY_NONE);

    // The cursor on the running speed: the line nearest 29.95 Hz.
    SignalRecord* sv = nullptr;
    ASSERT_EQ(meas_get_record(1, KIND_S, Q_V, &sv), 1);
    const PlotSlot& cursor = spectra.main.slots[KIND_S];
    EXPECT_EQ(cursor.index, index_of(sv, static_cast<float>(DEMO_SHAFT_HZ), 0));

    SignalRecord* b = nullptr;
    ASSERT_EQ(meas_get_record(3, KIND_B, Q_A, &b), 1);
    int found = 0;
    for (u32 k = 0; k < spectra.shock.slot_count; ++k) {
        const PlotSlot& m = spectra.shock.slots[k];
        const bool bpfo = std::strcmp(m.label, "BPFO") == 0, twice = std::strcmp(m.label, "2BPFO") == 0;
        if (!bpfo && !twice) continue;
        ++found;
        SCOPED_TRACE(m.label);
        EXPECT_NEAR(m.multiplier, (twice ? 2 : 1) * bearing->bpfo, 1e-5);
        EXPECT_TRUE(is_line(b, m.index)) << "line " << m.index << " at " << x_at(b, m.index) << " Hz";
        // Shown: above the plot's label threshold, on screen.
        EXPECT_GT(m.amplitude, 0.01f * spectra.shock.label_threshold * spectra.shock.y_scale);
        EXPECT_GE(m.screen_x, 0);
    }
    EXPECT_EQ(found, 2);
    spectra_pass(KEY_ESC);
}

// --- the runner ---

TEST(SignalRunner, BadSignalOptionsGiveOneLineAndStatus2)
{
    TempDir dir;
    write_text(dir.file("junk.wav"), "not sound");
    write_text(dir.file("one.csv"), "1\n2\n");
    write_text(dir.file("huge.csv"), "0.5\n-0.5\n1e39\n0\n");
    const std::string demo = DEMO_DIR + "/balanced.wav";
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"--signal", dir.file("missing.wav")}, "cannot read"},
        {{"--signal", dir.file("junk.wav")}, "cannot read"},
        {{"--signal", dir.file("one.csv")}, "--signal-rate"},
        {{"--signal", dir.file("huge.csv"), "--signal-rate", "1000"}, "huge.csv' line 3: '1e39' is beyond the range"},
        {{"--signal", demo, "--signal-unit", "furlong"}, "--signal-unit 'furlong'"},
        {{"--signal", demo, "--signal-channel", "2"}, "has 1 channel"},
        {{"--signal", demo, "--signal-rate", "0"}, "--signal-rate '0'"},
        {{"--rpm", "1500"}, "--rpm needs --signal FILE"},
        {{"--signal"}, "--signal needs a value"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--data", dir.path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = run_runner(args);
        EXPECT_EQ(r.status, 2) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        EXPECT_FALSE(std::filesystem::exists(dir.file("flash.dat"))) << "the instrument did not start";
    }
}

TEST(SignalRunner, SignalFileChangesWhatTheVibrometerShows)
{
    // The same steps with synthesis and with the unbalance demo: the screens
    // differ, and two runs with the file are identical.
    TempDir dir;
    const std::string keys = "wait 1500; enter; wait 300; enter; wait 2500";
    auto shot = [&](const std::string& name, bool with_file) {
        std::vector<std::string> args = {"--data", dir.file(name), "--clock", "2026-12-10T12:00:00",  "--seed", "1",
                                         "--keys", keys,           "--shot",  dir.file(name + ".png")};
        if (with_file) {
            args.push_back("--signal");
            args.push_back(DEMO_DIR + "/unbalance.wav");
        }
        const RunResult r = run_runner(args);
        EXPECT_EQ(r.status, 0) << r.output;
        return load_screenshot(dir.file(name + ".png"));
    };
    const auto synthetic = shot("s", false);
    const auto file1 = shot("f1", true);
    const auto file2 = shot("f2", true);
    ASSERT_FALSE(synthetic.empty());
    ASSERT_FALSE(file1.empty());
    EXPECT_NE(synthetic, file1);
    EXPECT_EQ(file1, file2);
}

TEST(SignalRunner, OverloadIsWarnedOncePerRun)
{
    // A 1 kHz tone of 50 mm/s RMS is 444 m/s² peak, beyond the converter's
    // ±161 m/s²: many records clip, and the run says so in one line. The
    // unbalance demo stays within the range and runs without a word.
    TempDir dir;
    const double v_rms = 50, hz = 1000;
    write_float_wav(dir.file("loud.wav"), tones(25600, 1, {{hz, v_rms * std::numbers::sqrt2 * 2 * PI * hz / 1000}}),
                    25600);
    struct Case {
        std::string file;
        int warnings;
    };
    const Case cases[] = {{dir.file("loud.wav"), 1}, {DEMO_DIR + "/unbalance.wav", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const RunResult r = run_runner({"--data", dir.file("d"), "--clock", "2026-12-10T12:00:00", "--seed", "1",
                                        "--keys", "wait 1500; enter; wait 300; enter; wait 4000", "--signal", c.file});
        EXPECT_EQ(r.status, 0) << r.output;
        size_t count = 0;
        for (size_t at = r.output.find("warning:"); at != std::string::npos; at = r.output.find("warning:", at + 1))
            ++count;
        EXPECT_EQ(count, static_cast<size_t>(c.warnings)) << r.output;
        if (c.warnings) {
            EXPECT_NE(r.output.find("'" + c.file + "' overloaded the converter (range ±161 m/s²"), std::string::npos)
                << r.output;
            EXPECT_NE(r.output.find("records are too low\n"), std::string::npos) << r.output;
            EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        }
    }
}

TEST(SignalRunner, TheTemperatureStaysSteadyOverARecording)
{
    // The spectra screen's status line over 30 s of the unbalance demo: the
    // temperature print stays at the chosen temperature the whole time.
    TempDir dir;
    struct Case {
        std::vector<std::string> option;
        const char* shown;
    };
    const Case cases[] = {{{}, " 35ёC"_cp}, {{"--temperature", "72"}, " 72ёC"_cp}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        std::string keys = "wait 1500; right; enter; wait 300; up; enter";
        for (int i = 0; i < 10; ++i) keys += "; wait 3000; shot " + dir.file("t" + std::to_string(i) + ".png");
        std::vector<std::string> args = {"--data", dir.file("d"), "--clock",  "2026-12-10T12:00:00",      "--seed", "1",
                                         "--keys", keys,          "--signal", DEMO_DIR + "/unbalance.wav"};
        args.insert(args.end(), c.option.begin(), c.option.end());
        const RunResult r = run_runner(args);
        ASSERT_EQ(r.status, 0) << r.output;
        for (int i = 0; i < 10; ++i) {
            SCOPED_TRACE(i);
            const auto px = load_screenshot(dir.file("t" + std::to_string(i) + ".png"));
            ASSERT_FALSE(px.empty());
            EXPECT_TRUE(region_has_text(px, 147, 7, c.shown, 3, 0, COLOR_DARK_BLUE, COLOR_BACKGROUND));
        }
    }
}

TEST(SignalRunner, SavedReadingsAgreeAcrossTheLoopPoint)
{
    // Twelve vibrometer readings of the unbalance demo saved 2 s apart, over
    // 2.6 loops of the file, and exported: those whose records took in a
    // loop point read what the others read (a restart of the integration
    // there put 139 to 142 µm among readings of 121 µm).
    TempDir dir;
    std::string keys = "wait 1500; enter; wait 300; enter";
    const int readings = 12;
    for (int i = 0; i < readings; ++i) keys += "; wait 2000; shift+enter; wait 300; esc; wait 200; enter";
    const RunResult r = run_runner({"--data", dir.path(), "--clock", "2026-12-10T12:00:00", "--seed", "1", "--keys",
                                    keys, "--signal", DEMO_DIR + "/unbalance.wav"});
    ASSERT_EQ(r.status, 0) << r.output;
    const RunResult e = run_archive_tool(dir.path(), "export --all --format csv --out " + shell_quote(dir.file("out")));
    ASSERT_EQ(e.status, 0) << e.output;
    std::vector<double> velocity, displacement;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("out"))) {
        std::ifstream in(entry.path());
        // The export's "# key: value" lines, then the column names and the row.
        std::string header, row;
        while (std::getline(in, header) && header.rfind("#", 0) == 0) {
        }
        ASSERT_TRUE(std::getline(in, row)) << entry.path();
        ASSERT_NE(header.find("velocity RMS (mm/s),displacement peak-to-peak (µm)"), std::string::npos) << header;
        std::vector<std::string> fields;
        std::stringstream ss(row);
        for (std::string f; std::getline(ss, f, ',');) fields.push_back(f);
        ASSERT_GE(fields.size(), 5u) << row;
        velocity.push_back(std::stod(fields[3]));
        displacement.push_back(std::stod(fields[4]));
    }
    ASSERT_EQ(velocity.size(), static_cast<size_t>(readings));
    auto median = [](std::vector<double> x) {
        std::sort(x.begin(), x.end());
        return x[x.size() / 2];
    };
    const double v = median(velocity), d = median(displacement);
    EXPECT_NEAR(v, 8.0, 0.1);
    EXPECT_NEAR(d, 121, 2);
    // The displacement's own spread (sub-10 Hz noise of the recording) is
    // about 1 %; a jolt adds 15 %.
    for (const double x : velocity) EXPECT_NEAR(x, v, 0.01 * v);
    for (const double x : displacement) EXPECT_NEAR(x, d, 0.02 * d);
}

}  // namespace
