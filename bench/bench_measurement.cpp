// Measurement records on a 276 MB image holding 16 objects with 1024
// measurement files:
// saving and reading a vibrometer record (one page) and a spectra record
// with a 4096-line spectrum (17 pages).
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/reset.h"
#include "archive/measurement.h"
#include "archive/objects.h"
#include "bench/bench_image.h"
#include "front/common/virtual_host.h"
#include "host/hostif.h"
#include "host/session.h"
#include "storage/dir.h"
#include "storage/fs.h"

namespace {

constexpr u32 SPECTRUM_LINES = 4096;
constexpr u32 SPECTRUM_BYTES = SPECTRUM_LINES * 2 * sizeof(i32);  // (re, im) pairs
constexpr u32 STAMP = 900000000;

// A host with virtual time for the length of a benchmark: saving and
// reading restore the screen, which yields once, and the quiet host would
// sleep a real millisecond there.
struct VirtualTime {
    VirtualHost host;
    VirtualTime() { host_install(&host); }
    ~VirtualTime() { host_install(nullptr); }
};

// Mounts the image and makes its first object current.
bool mount_image(benchmark::State& state)
{
    static BuiltImage img(16, 64, 8192);  // 16 objects with 64 files of 8 KiB each
    if (!img.ok) {
        state.SkipWithError("cannot build the image");
        return false;
    }
    flash_handle = img.fd;
    if (fs_init() != FS_OK || fs_mount() != FS_OK || obj_after_mount() == OBJ_FAILED) {
        state.SkipWithError("cannot mount the image");
        flash_handle = 0;
        return false;
    }
    return true;
}

struct Record {
    std::vector<u8> section1;
    std::vector<i32> section2;
    u32 kind;
};

Record vibrometer_record()
{
    RmsTableRecord r;
    std::memset(&r, 0, sizeof r);
    r.valid = 1;
    r.format = RECORD_FORMAT;
    r.stamp = STAMP;
    r.group = RMS_TABLE_GROUP;
    r.values[0][0][1] = 4.2f;
    r.filled[0] = 1;
    r.filled_count = 1;
    rms_table_seal(&r);
    Record rec{std::vector<u8>(sizeof r), {}, MEAS_KIND_VIBROMETER};
    std::memcpy(rec.section1.data(), &r, sizeof r);
    return rec;
}

Record spectra_record()
{
    Record rec{std::vector<u8>(SPECTRA_RECORD_SIZE), std::vector<i32>(SPECTRUM_BYTES / sizeof(i32)),
               MEAS_KIND_SPECTRUM};
    for (size_t i = 0; i < rec.section2.size(); ++i) rec.section2[i] = static_cast<i32>(i * 2654435761u);
    SpectraRecord s;
    std::memset(&s, 0, sizeof s);
    s.type = 2;
    s.format = RECORD_FORMAT;
    s.stamp = STAMP;
    s.kind = MEAS_KIND_SPECTRUM;
    s.quantity = 1;
    s.slot[1] =
        SpectraSlot{2, STAMP, 1, 1, SPECTRUM_LINES, 0, 1.25f, 5118.75f, 1 << 20, 1e-6f, 0, SPECTRUM_BYTES, 0, {}};
    spectra_record_seal(&s, rec.section2.data(), SPECTRUM_BYTES);
    std::memcpy(rec.section1.data(), &s, sizeof s);
    return rec;
}

u32 save(const Record& r)
{
    const u32 length2 = static_cast<u32>(r.section2.size() * sizeof(i32));
    return meas_save(r.kind, STAMP, r.section1.data(), static_cast<u32>(r.section1.size()),
                     r.section2.empty() ? nullptr : r.section2.data(), length2, nullptr, 0, true);
}

// Each save is timed alone, then deleted again, so that the directory and
// the free space stay as they were; the newest measurement of the object,
// whose header gives the number, is a real one saved first.
void save_bench(benchmark::State& state, const Record& r)
{
    VirtualTime virtual_time;
    if (!mount_image(state)) return;
    if (save(r) == 0) return state.SkipWithError("save failed");
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const u32 id = save(r);
        const auto t1 = std::chrono::steady_clock::now();
        if (id == 0) return state.SkipWithError("save failed");
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        dir_delete(dir_find_id(id));
    }
    flash_handle = 0;
}

void read_bench(benchmark::State& state, const Record& r)
{
    VirtualTime virtual_time;
    if (!mount_image(state)) return;
    const u32 id = save(r);
    if (id == 0) return state.SkipWithError("save failed");
    std::vector<u8> section1(r.section1.size());
    std::vector<u8> section2(r.section2.size() * sizeof(i32));
    for (auto _ : state) {
        MeasSection s1{section1.data(), static_cast<u32>(section1.size()), 0};
        MeasSection s2{section2.data(), static_cast<u32>(section2.size()), 0};
        if (meas_read(id, nullptr, &s1, section2.empty() ? nullptr : &s2, nullptr, true) == 0)
            return state.SkipWithError("read failed");
    }
    if (std::memcmp(section1.data(), r.section1.data(), section1.size()) != 0 ||
        std::memcmp(section2.data(), r.section2.data(), section2.size()) != 0)
        state.SkipWithError("sections read back wrong");
    flash_handle = 0;
}

void BM_MeasSaveVibrometer(benchmark::State& state)
{
    save_bench(state, vibrometer_record());
}
BENCHMARK(BM_MeasSaveVibrometer)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(2000);

void BM_MeasReadVibrometer(benchmark::State& state)
{
    read_bench(state, vibrometer_record());
}
BENCHMARK(BM_MeasReadVibrometer)->Unit(benchmark::kMicrosecond)->UseRealTime();

// 2000 saves of 17 pages stay within the free pages, so no rebuild of
// deleted pages falls into the measurement.
void BM_MeasSaveSpectrum4096Lines(benchmark::State& state)
{
    save_bench(state, spectra_record());
}
BENCHMARK(BM_MeasSaveSpectrum4096Lines)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(2000);

void BM_MeasReadSpectrum4096Lines(benchmark::State& state)
{
    read_bench(state, spectra_record());
}
BENCHMARK(BM_MeasReadSpectrum4096Lines)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
