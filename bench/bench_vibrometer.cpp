// The live vibrometer as the headless runner runs it: the whole instrument
// with virtual time, measurement on. "realtime_x" is how many seconds of
// instrument time run per second of wall time while it measures.
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/reset.h"
#include "app/startup.h"
#include "host/device.h"
#include "host/session.h"
#include "host/virtual_host.h"

namespace {

constexpr u64 OPEN_AT_MS = 1500;   // Enter on the main menu's first item
constexpr u64 START_AT_MS = 1800;  // Enter starts the measurement
constexpr u64 MEASURE_MS = 20000;

void BM_LiveVibrometer(benchmark::State& state)
{
    std::string folder = (std::filesystem::temp_directory_path() / "tarvik2-bench-XXXXXX").string();
    if (!mkdtemp(folder.data())) {
        state.SkipWithError("no temporary folder");
        return;
    }
    data_dir_set(folder);
    // flash.dat is made once, outside the timing.
    std::string error;
    const int fd = flash_file_open(&error);
    if (fd == 0) {
        state.SkipWithError(error.c_str());
        return;
    }
    close(fd);

    using Clock = std::chrono::steady_clock;
    double ratio = 0;
    for (auto _ : state) {
        system_reset();
        VirtualHost host;
        std::time_t start;
        parse_clock("2026-12-10T12:00:00", &start);
        host.set_clock(start);
        host.set_seed(1);
        Clock::time_point measuring;
        double wall = 0;
        host.set_on_ms([&] {
            const u64 ms = host.elapsed_ms();
            if (ms == OPEN_AT_MS || ms == START_AT_MS) key_post(KEY_ENTER);
            if (ms == START_AT_MS) measuring = Clock::now();
            if (ms == START_AT_MS + MEASURE_MS) {
                wall = std::chrono::duration<double>(Clock::now() - measuring).count();
                power_off_flag = 1;
            }
        });
        host_install(&host);
        emu_set_main(instrument_main);
        emu_run();
        host_install(nullptr);
        ratio = wall > 0 ? (MEASURE_MS / 1000.0) / wall : 0;
    }
    state.counters["realtime_x"] = ratio;
    data_dir_set("");
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}
BENCHMARK(BM_LiveVibrometer)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
