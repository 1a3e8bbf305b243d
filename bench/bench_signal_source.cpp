// The file source of the measuring module: resampling a 48 kHz recording and
// feeding one 4096-sample record to the converter frames (time per record,
// "realtime_x": how many times faster than the record's own duration), and
// the live vibrometer measuring the bearing demonstration recording
// ("realtime_x" as in BM_LiveVibrometer, to be compared with it).
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

void BM_SignalSourceRecordFrom48k(benchmark::State& state)
{
    // Ten seconds of the bearing demonstration signal at 48 kHz.
    const DemoSignal& bearing = demo_signals().back();
    std::vector<float> demo = demo_acceleration(bearing, 5);
    std::vector<float> samples(static_cast<size_t>(DEMO_SECONDS * FILE_RATE));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = demo[static_cast<size_t>(static_cast<double>(i) * DEMO_RATE / FILE_RATE)];
    RecordingFile file(samples, FILE_RATE);
    if (!file.error().empty()) {
        state.SkipWithError(file.error().c_str());
        return;
    }
    settings_defaults();
    meas_calibration_defaults();
    SignalOptions o;
    o.path = file.path();
    const std::string error = signal_source_open(o);
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    static VibFrame frames[RECORD_SAMPLES];
    // The first record sets the resampler up; the figure is the steady state.
    signal_source_vibration(frames, RECORD_SAMPLES, RECORD_DT);
    for (auto _ : state) {
        signal_source_vibration(frames, RECORD_SAMPLES, RECORD_DT);
        benchmark::DoNotOptimize(frames[RECORD_SAMPLES - 1]);
    }
    state.counters["realtime_x"] = benchmark::Counter(
        RECORD_SAMPLES * RECORD_DT * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SignalSourceRecordFrom48k)->Unit(benchmark::kMicrosecond);

constexpr u64 OPEN_AT_MS = 1500;   // Enter on the main menu's first item
constexpr u64 START_AT_MS = 1800;  // Enter starts the measurement
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
        ratio = run_live(START_AT_MS, MEASURE_MS, [](u64 ms) {
            if (ms == OPEN_AT_MS || ms == START_AT_MS) key_post(KEY_ENTER);
        });
    }
    state.counters["realtime_x"] = ratio;
}
BENCHMARK(BM_LiveVibrometerFromFile)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
