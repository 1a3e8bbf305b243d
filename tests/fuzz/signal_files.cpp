// Recordings read for the measuring module's file source: the input is two
// bytes of choices and then a file, a CSV table or a sound file in any
// format libsndfile reads. A file is refused with one line naming it, or
// read to finite samples at a rate above 0; a file taken and made the
// source (when its rate is one the source takes) gives converter counts
// within the converters' range on every input, whatever its values.
//   byte 0: bit 0 a CSV table (else a sound file), bits 1-2 the unit,
//           bit 3 the file resampled as it is read (else as a whole loop),
//           bits 4-5 the measurement's sample period, bit 6 the file made
//           the source (else only read)
//   byte 1: the sample rate option (0: the file's own)
#include <cmath>
#include <string>
#include <vector>

#include "analysis/meas_module.h"
#include "analysis/signal_file.h"
#include "analysis/signal_source.h"
#include "fuzz.h"

namespace {

const char* const UNITS[] = {"", "g", "mm/s", "100mV/g"};
const double RATES[] = {0, 40, 1000, 8000, 25600, 51200, 39, 300000};
// The measurement setups' sample periods (the last a 4 kHz spectrum's).
const float PERIODS[] = {PERIOD_TABLE[0], PERIOD_TABLE[1], PERIOD_TABLE[3], 4096 * 0.390625f / 4000 / 4095};
// Samples of each input taken from the source per run.
constexpr u32 BLOCK = 512;
// The whole-loop limit while fuzzing: loops of more samples stream.
constexpr u64 LOOP_LIMIT = u64{1} << 14;

void check_refusal(const std::string& error, const std::string& path, const SignalRecording& rec)
{
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(error.find("'" + path + "'") != std::string::npos);
    FUZZ_CHECK(error.find('\n') == std::string::npos);
    FUZZ_CHECK(rec.samples.empty() && rec.channels == 0 && rec.frames == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    fuzz_quiet_instrument();
    const u8 choice = data[0];
    const bool table = choice & 1;
    const std::string path = fuzz_folder() + (table ? "/signal.csv" : "/signal.wav");
    fuzz_write_file(path, std::vector<u8>(data + 2, data + size));
    const double rate = RATES[data[1] % std::size(RATES)];

    SignalRecording rec;
    const std::string error = signal_file_read(path, rate, &rec);
    if (!error.empty()) {
        check_refusal(error, path, rec);
        return 0;
    }
    FUZZ_CHECK(rec.channels >= 1 && rec.frames >= 1);
    FUZZ_CHECK(rec.samples.size() == rec.frames * rec.channels);
    FUZZ_CHECK(rec.samples.size() <= SIGNAL_FILE_MAX_SAMPLES);
    FUZZ_CHECK(std::isfinite(rec.rate) && rec.rate > 0 && (rate == 0 || rec.rate == rate));
    FUZZ_CHECK(!table || rec.floating);
    for (const float v : rec.samples) FUZZ_CHECK(std::isfinite(v));
    if (!(choice & 0x40)) return 0;

    // The same file as the source: vibration from channel 1, the shock-pulse
    // input from channel 2 (or 1), the temperature from channel 3.
    SignalOptions o;
    o.path = path;
    o.unit = UNITS[(choice >> 1) & 3];
    o.rate = rate;
    o.rpm = 1500;
    o.shock_channel = rec.channels >= 2 ? 2 : 1;
    o.temperature_channel = rec.channels >= 3 ? 3 : 0;
    signal_source_set_loop_limit(choice & 8 ? 0 : LOOP_LIMIT);
    const std::string open_error = signal_source_open(o);
    if (rec.rate < SIGNAL_RATE_MIN || rec.rate > SIGNAL_RATE_MAX) {
        FUZZ_CHECK(open_error.find("is sampled at") != std::string::npos);
        FUZZ_CHECK(!signal_source_active());
        return 0;
    }
    FUZZ_CHECK(open_error.empty());
    const float dt = PERIODS[(choice >> 4) & 3];
    static VibFrame frames[BLOCK];
    static u16 shock[BLOCK];
    for (int round = 0; round < 2; ++round) {
        FUZZ_CHECK(signal_source_vibration(frames, BLOCK, dt, meas_calibration.set[meas_main_set()]));
        for (const VibFrame& f : frames)
            for (u32 q = 0; q < 3; ++q) FUZZ_CHECK(f.w[q] <= SIGNAL_ADC_MAX);
        FUZZ_CHECK(signal_source_shock(shock, BLOCK, dt, meas_calibration.set[meas_main_set()]));
        for (const u16 s : shock) FUZZ_CHECK(s <= SIGNAL_SHOCK_MAX);
        float celsius = 0;
        // A channel's mean, or without one the steady temperature with a
        // sensor's noise.
        FUZZ_CHECK(signal_source_temperature(&celsius));
        FUZZ_CHECK(std::isfinite(celsius));
        if (o.temperature_channel == 0)
            FUZZ_CHECK(std::fabs(celsius - o.temperature) <= SIGNAL_TEMPERATURE_NOISE + 1e-3);
    }
    signal_source_close();
    return 0;
}
