#include "bench/live.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "app/reset.h"
#include "app/startup.h"
#include "front/common/virtual_host.h"
#include "host/device.h"
#include "host/session.h"

BenchFolder::BenchFolder()
{
    folder_ = (std::filesystem::temp_directory_path() / "tarvik2-bench-XXXXXX").string();
    if (!mkdtemp(folder_.data())) {
        error_ = "no temporary folder";
        folder_.clear();
        return;
    }
    data_dir_set(folder_);
    const int fd = flash_file_open(&error_);
    if (fd != 0) close(fd);
}

BenchFolder::~BenchFolder()
{
    data_dir_set("");
    if (folder_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

double run_live(u64 start_ms, u64 measure_ms, const std::function<void(u64 ms)>& each_ms)
{
    using Clock = std::chrono::steady_clock;
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
        each_ms(ms);
        if (ms == start_ms) measuring = Clock::now();
        if (ms == start_ms + measure_ms) {
            wall = std::chrono::duration<double>(Clock::now() - measuring).count();
            power_off_flag = 1;
        }
    });
    host_install(&host);
    emu_set_main(instrument_main);
    emu_run();
    host_install(nullptr);
    return wall > 0 ? static_cast<double>(measure_ms) / 1000.0 / wall : 0;
}
