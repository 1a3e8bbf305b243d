// The whole instrument as the headless runner runs it, with virtual time,
// for benchmarks of live screens.
#pragma once
#include <functional>
#include <string>

#include "base/types.h"

// A temporary data folder with flash.dat made (outside any timing); removed
// again at the end.
class BenchFolder {
public:
    BenchFolder();
    ~BenchFolder();
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;
    // Empty when the folder is ready, else what went wrong.
    const std::string& error() const { return error_; }

private:
    std::string folder_;
    std::string error_;
};

// Starts the instrument and calls `each_ms` with the virtual time after every
// millisecond; measures the wall time from `start_ms` for `measure_ms`
// virtual milliseconds, then powers off. Returns seconds of instrument time
// per second of wall time.
double run_live(u64 start_ms, u64 measure_ms, const std::function<void(u64 ms)>& each_ms);
