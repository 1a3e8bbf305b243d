// The measuring module's file source: a recorded vibration signal in place
// of the synthesised one. The chosen channel of the file is resampled to the
// sample rate of the current measurement setup (libsamplerate, best
// quality; set up again whenever the setup changes), loops seamlessly, is
// integrated (or differentiated) to acceleration, velocity and displacement
// as the instrument's analogue front end does, and becomes converter counts
// through the inverse of the active calibration, clipped at the converter's
// range. Optionally a second channel's rectified envelope feeds the
// shock-pulse input, a channel in degrees Celsius the temperature, and a
// rotation speed the marker channel. Everything after the converter stays
// the instrument's own.
#pragma once
#include <string>

#include "analysis/frames.h"
#include "base/types.h"

// Highest converter count: the zero level MID_SCALE is mid-range.
constexpr u32 SIGNAL_ADC_MAX = 32767;
// Highest count of the shock-pulse input (a magnitude, from 0 up).
constexpr u32 SIGNAL_SHOCK_MAX = 32767;
// Marker channel level during the once-per-revolution pulse, and the share
// of the revolution the pulse lasts.
constexpr u16 SIGNAL_MARKER_HIGH = 24576;
constexpr double SIGNAL_MARKER_DUTY = 0.1;
// Standard gravity, m/s² per g.
constexpr double SIGNAL_G = 9.80665;
// File sample rates the source takes (the resampler converts by at most 256
// times either way between them and the setups' rates).
constexpr double SIGNAL_RATE_MIN = 40;
constexpr double SIGNAL_RATE_MAX = 261888;

// Steady temperature of a recording without a temperature channel, °C, and
// the range --temperature takes; the sensor's noise around it, ± °C.
constexpr double SIGNAL_TEMPERATURE_DEFAULT = 35;
constexpr double SIGNAL_TEMPERATURE_MIN = -50;
constexpr double SIGNAL_TEMPERATURE_MAX = 300;
constexpr double SIGNAL_TEMPERATURE_NOISE = 0.2;

// The source's choices, as the hosts' command lines give them.
struct SignalOptions {
    std::string path;             // the file; empty: synthesis
    u32 channel = 1;              // vibration channel, from 1
    std::string unit;             // what one unit of the file means; empty: m/s2
    double rate = 0;              // sample rate in Hz; 0: the file's own
    double rpm = 0;               // rotation speed for the marker channel; 0: no marker
    u32 shock_channel = 0;        // channel whose rectified envelope feeds the shock-pulse input; 0: synthesis
    u32 temperature_channel = 0;  // channel in degrees Celsius; 0: synthesis
    // Temperature while the file is measured without a temperature channel:
    // steady, with a sensor's small noise.
    double temperature = SIGNAL_TEMPERATURE_DEFAULT;
};

// What one unit of a file means: `factor` m/s² (quantity Q_A) or mm/s (Q_V).
struct SignalUnit {
    u32 quantity;
    double factor;
};
// The unit of a text: "g", "m/s2", "mm/s" or a sensitivity such as
// "100mV/g" (the file in volts); "" is m/s2. False for anything else.
bool signal_unit_parse(const std::string& text, SignalUnit* out);

// The options' help lines, for the hosts' usage texts.
extern const char* const SIGNAL_OPTIONS_HELP;
// True when `name` ("--signal", "--rpm", ...) is one of the source's options;
// each takes one value.
bool signal_option_known(const std::string& name);
// Stores the value of option `name`; returns "" or one line that says what
// is wrong.
std::string signal_option_set(const std::string& name, const std::string& value, SignalOptions* o);

// Reads the file and makes it the source from the next record on; returns ""
// or one line that says what is wrong, and then leaves the source as it was.
std::string signal_source_open(const SignalOptions& o);
// Back to synthesis.
void signal_source_close();
// True while a file is the source.
bool signal_source_active();
// The file in use, as given ("" with synthesis).
const std::string& signal_source_path();

// Power-on: the file (host configuration) stays; its stream starts again
// from the beginning at the next record.
void signal_source_reset();

// For the measuring module's tasks. Each returns false, touching nothing,
// when the file does not feed that input. Fills `count` frames sampled `dt`
// seconds apart with the next part of the stream, in counts of the
// calibration set `scale` (the one in use for the vibration channels).
bool signal_source_vibration(VibFrame* frames, u32 count, float dt, const CalibrationSet& scale);
// Fills `count` shock-pulse samples `dt` seconds apart; the input sees the
// envelope through the acceleration scale of `scale`.
bool signal_source_shock(u16* buffer, u32 count, float dt, const CalibrationSet& scale);
// The temperature over the span of the last vibration record: the
// temperature channel's mean, or without one the steady temperature of the
// options with a sensor's small noise.
bool signal_source_temperature(float* celsius);
// A file whose loop, resampled, is at most this many samples long is
// resampled (and integrated) once per setup and then read over and over;
// a longer one is resampled as it is read.
constexpr u64 SIGNAL_LOOP_MAX_SAMPLES = u64{1} << 21;
// Sets that limit (0: every file is resampled as it is read) and starts the
// stream again; it is not reset at power-on.
void signal_source_set_loop_limit(u64 samples);
// Samples clipped at the converter's range since the file was opened.
u64 signal_source_clipped();
// The vibration records measured from the file since it was opened, and how
// many of them, and of their frames, clipped at the converter's range (a
// frame clips when any of its acceleration, velocity and displacement
// samples does).
struct SignalClipping {
    u64 records = 0;
    u64 clipped_records = 0;
    u64 frames = 0;
    u64 clipped_frames = 0;
    // Share (0 to 1) of the last record's frames that clipped.
    double last_share = 0;
};
const SignalClipping& signal_source_clipping();
// Frames of the file in one loop: the loop ends where the recording runs on
// most nearly into its start, up to a second before its end (0 with
// synthesis).
u64 signal_source_loop_frames();
