// The file source of the measuring module with a 10 s recording at 48 kHz:
// feeding one 4096-sample record to the converter frames, from the loop
// resampled once per setup (/1) and resampled as it is read (/0, the way of
// long files), with "realtime_x" how many times faster than the record's own
// duration; setting a setup up (resampling and integrating the whole loop);
// and the live vibrometer measuring the bearing demonstration recording
// once its setup is ready ("realtime_x" as in BM_LiveVibrometer, to be
// compared with it).
#include <sndfile.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "analysis/meas_module.h"
#include "analysis/signal_source.h"
#include "bench/live.h"
#include "host/device.h"
#include "host/settings.h"
#include "tools/demo_signals.h"

namespace {

// A recording written into a temporary folder, removed again at the end.
class RecordingFile {
public:
    RecordingFile(const std::vector<float>& samples, int rate)
    {
        folder_ = (std::filesystem::temp_directory_path() / "tarvik2-bench-signal-XXXXXX").string();
        if (!mkdtemp(folder_.data())) {
            error_ = "no temporary folder";
            folder_.clear();
            return;
        }
        path_ = folder_ + "/signal.wav";
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open(path_.c_str(), SFM_WRITE, &info);
        if (!f) {
            error_ = sf_strerror(nullptr);
            return;
        }
        sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size()));
        sf_close(f);
    }
    ~RecordingFile()
    {
        signal_source_close();
        std::error_code ec;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
    }
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

private:
    std::string folder_, path_, error_;
};

constexpr int FILE_RATE = 48000;
constexpr u32 RECORD_SAMPLES = 4096;
constexpr float RECORD_DT = 4096 / 2.56f / 4000 / 4095;  // the 4 kHz, 1600-line setup

// Ten seconds of the bearing demonstration signal at 48 kHz.
std::vector<float> demo_at_48k()
{
    const std::vector<float> demo = demo_acceleration(demo_signals().back(), 5);
    std::vector<float> samples(static_cast<size_t>(DEMO_SECONDS * FILE_RATE));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = demo[static_cast<size_t>(static_cast<double>(i) * DEMO_RATE / FILE_RATE)];
    return samples;
}

// Opens the file as the source; false (the benchmark skipped) when it fails.
bool open_source(benchmark::State& state, const RecordingFile& file)
{
    settings_defaults();
    meas_calibration_defaults();
    SignalOptions o;
    o.path = file.path();
    const std::string error = file.error().empty() ? signal_source_open(o) : file.error();
    if (error.empty()) return true;
    state.SkipWithError(error.c_str());
    return false;
}

VibFrame g_frames[RECORD_SAMPLES];

void BM_SignalSourceRecordFrom48k(benchmark::State& state)
{
    const bool whole_loop = state.range(0) != 0;
    RecordingFile file(demo_at_48k(), FILE_RATE);
    signal_source_set_loop_limit(whole_loop ? SIGNAL_LOOP_MAX_SAMPLES : 0);
    if (!open_source(state, file)) return;
    VibFrame* frames = g_frames;
    // The first record sets the setup up; the figure is the steady state.
    signal_source_vibration(frames, RECORD_SAMPLES, RECORD_DT, meas_calibration.set[meas_main_set()]);
    for (auto _ : state) {
        signal_source_vibration(frames, RECORD_SAMPLES, RECORD_DT, meas_calibration.set[meas_main_set()]);
        benchmark::DoNotOptimize(frames[RECORD_SAMPLES - 1]);
    }
    state.counters["realtime_x"] = benchmark::Counter(
        RECORD_SAMPLES * RECORD_DT * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    signal_source_set_loop_limit(SIGNAL_LOOP_MAX_SAMPLES);
}
BENCHMARK(BM_SignalSourceRecordFrom48k)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_SignalSourceSetupFrom48k(benchmark::State& state)
{
    RecordingFile file(demo_at_48k(), FILE_RATE);
    if (!open_source(state, file)) return;
    for (auto _ : state) {
        signal_source_reset();
        signal_source_vibration(g_frames, RECORD_SAMPLES, RECORD_DT, meas_calibration.set[meas_main_set()]);
        benchmark::DoNotOptimize(g_frames[0]);
    }
}
BENCHMARK(BM_SignalSourceSetupFrom48k)->Unit(benchmark::kMillisecond);

constexpr u64 OPEN_AT_MS = 1500;   // Enter on the main menu's first item
constexpr u64 START_AT_MS = 1800;  // Enter starts the measurement
constexpr u64 READY_AT_MS = 3000;  // the setup is ready after the first record
constexpr u64 MEASURE_MS = 20000;

void BM_LiveVibrometerFromFile(benchmark::State& state)
{
    BenchFolder folder;
    if (!folder.error().empty()) {
        state.SkipWithError(folder.error().c_str());
        return;
    }
    const DemoSignal& bearing = demo_signals().back();
    RecordingFile file(demo_acceleration(bearing, 5), static_cast<int>(DEMO_RATE));
    SignalOptions o;
    o.path = file.path();
    o.shock_channel = 1;
    const std::string error = file.error().empty() ? signal_source_open(o) : file.error();
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    double ratio = 0;
    for (auto _ : state) {
        ratio = run_live(READY_AT_MS, MEASURE_MS, [](u64 ms) {
            if (ms == OPEN_AT_MS || ms == START_AT_MS) key_post(KEY_ENTER);
        });
    }
    state.counters["realtime_x"] = ratio;
}
BENCHMARK(BM_LiveVibrometerFromFile)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
