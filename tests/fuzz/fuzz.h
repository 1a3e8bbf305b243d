// Shared pieces of the fuzz targets. Each target is one file <name>.cpp that
// defines LLVMFuzzerTestOneInput and is listed once in CMakeLists.txt. The
// fuzz preset builds it with libFuzzer (fuzz_<name>); the test build makes
// it a test program (fuzz_replay_<name>) that runs every file of
// corpus/<name>/ and reproducers/<name>/ under the sanitizers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/types.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Stops the run with a message when a property of the reader does not hold:
// libFuzzer keeps the input as a crash, the replay test fails.
#define FUZZ_CHECK(cond) ((cond) ? (void)0 : fuzz_fail(#cond, __FILE__, __LINE__))
[[noreturn]] void fuzz_fail(const char* what, const char* file, int line);

// The input bytes, read from the front; past the end every value is 0.
struct FuzzInput {
    const u8* data;
    size_t size;
    size_t at = 0;

    size_t left() const { return size - at; }
    u8 byte() { return at < size ? data[at++] : 0; }
    u16 u16le()
    {
        const u16 lo = byte();
        return static_cast<u16>(lo | byte() << 8);
    }
    u32 u32le()
    {
        const u32 lo = u16le();
        return lo | static_cast<u32>(u16le()) << 16;
    }
    // Up to n bytes from the front; *got says how many.
    const u8* take(size_t n, size_t* got)
    {
        *got = n < left() ? n : left();
        const u8* p = data + at;
        at += *got;
        return p;
    }
};

// A folder of the run's own (under /dev/shm where it exists), made at the
// first call and removed at exit; the data folder (flash.dat, fram.dat) of
// the instrument code is set to it.
const std::string& fuzz_folder();

// Whole-file transfers for the targets' own files (fram.dat).
std::vector<u8> fuzz_read_file(const std::string& path);
void fuzz_write_file(const std::string& path, const std::vector<u8>& bytes);

// Once per run: the instrument's state at power-on, a virtual host (no real
// sleeps, a fixed clock) and the power-off flag set, so that every key poll
// answers Esc and boxes and screens return at once.
void fuzz_quiet_instrument();
