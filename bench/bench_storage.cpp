// Flash storage: mounting an image of 8192 files and one of 131008 one-page
// files, the worst case of the full directory (whole mount and longest scan
// step), saving a 30 KB file into a half-full image, renaming an object
// (a rewrite of its whole block), and the two ways of reading page headers
// from the image file.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/reset.h"
#include "archive/objects.h"
#include "bench/bench_image.h"
#include "base/cp1251.h"
#include "host/session.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tests/image/test_image.h"

namespace {

// 64 objects with 127 measurement files of 16 KiB each: 8192 files on
// 65088 pages, about half of the chip.
// 64 objects of 127 files of 16 KB: a full directory.
BuiltImage& image()
{
    static BuiltImage img(64, 127, 16384);
    return img;
}

// Makes the benchmark image the open flash file.
bool use_image(benchmark::State& state)
{
    if (!image().ok) {
        state.SkipWithError("cannot build the image");
        return false;
    }
    flash_handle = image().fd;
    return true;
}

void BM_Mount8192Files(benchmark::State& state)
{
    if (!use_image(state)) return;
    double longest_step = 0;
    int steps = 0;
    for (auto _ : state) {
        fs_init();
        fs_dir_reset();
        steps = 0;
        for (;;) {
            const auto t0 = std::chrono::steady_clock::now();
            const int more = fs_scan_step();
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            if (ms > longest_step) longest_step = ms;
            ++steps;
            if (!more) break;
        }
        fs_mount_finish();
    }
    if (dir_count() != 8192) state.SkipWithError("directory incomplete");
    state.counters["longest_scan_step_ms"] = longest_step;
    state.counters["scan_steps"] = steps;
    flash_handle = 0;
}
BENCHMARK(BM_Mount8192Files)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_Save30KFileIntoHalfFullImage(benchmark::State& state)
{
    if (!use_image(state)) return;
    fs_init();
    fs_mount();
    std::vector<u8> data(30 * 1024);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<u8>(i * 31);
    const u32 object = dir_id(0);
    dir_remove(static_cast<int>(dir_count()) - 1);  // room for the new entry
    u32 stamp = 900000000;
    for (auto _ : state) {
        FileHandle h;
        ++stamp;
        const int c = fs_create(&h, FILE_TYPE_VIBROMETER, object, 0, static_cast<u32>(data.size()), &stamp);
        const u32 w = c == FS_OK ? fs_write(&h, data.data(), 0, static_cast<u32>(data.size())) : 0;
        const int cl = w == data.size() ? fs_close(&h) : 0;
        if (cl != FS_OK || !dir_insert_after(0, h.first, stamp, object, FILE_TYPE_VIBROMETER, 0)) {
            std::fprintf(stderr, "save failed: create %d write %u close %d\n", c, w, cl);
            state.SkipWithError("save failed");
            break;
        }
        state.PauseTiming();
        dir_delete(1);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    flash_handle = 0;
}
BENCHMARK(BM_Save30KFileIntoHalfFullImage)->Unit(benchmark::kMicrosecond)->Iterations(400);

// Renaming an object rewrites the whole block that holds it and its first
// measurements: 64 pages of data and spare area.
void BM_RenameObjectRewritesItsBlock(benchmark::State& state)
{
    if (!use_image(state)) return;
    fs_init();
    fs_mount();
    const char* names[2] = {"Насос 1"_cp, "Насос 2"_cp};
    int turn = 0;
    const u64 writes_before = nand_writes_made();
    for (auto _ : state) {
        if (obj_rename(0, names[turn]) != OBJ_OK) {
            state.SkipWithError("rename failed");
            break;
        }
        turn ^= 1;
    }
    if (state.iterations() > 0)
        state.counters["writes_per_rename"] =
            static_cast<double>(nand_writes_made() - writes_before) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 64 * 2112);
    flash_handle = 0;
}
BENCHMARK(BM_RenameObjectRewritesItsBlock)->Unit(benchmark::kMicrosecond)->UseRealTime();

// 131008 one-page files, one on every page of blocks 1..2047, each newer
// than the one before: once the directory is full, every file the scan finds
// replaces the oldest entry (the worst case of the full directory). Written
// straight into the image, header by header.
struct FullChipImage {
    std::string folder;
    int fd = 0;
    bool ok = false;
    static constexpr u32 FIRST_STAMP = 800000000;

    FullChipImage()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tarvik2-bench-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) return;
        folder = tmpl;
        fd = open((folder + "/flash.dat").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd <= 0) return;
        std::vector<u8> block(64 * 2112, 0xFF);
        ok = true;
        for (u32 b = 0; b < 2048 && ok; ++b) {
            std::fill(block.begin(), block.end(), 0xFF);
            for (u32 k = 0; b > 0 && k < 64; ++k) {
                const u32 page = b * 64 + k;
                u8* h = block.data() + k * 2112 + 2049;
                const u32 stamp = FIRST_STAMP + page, parent = 0;
                h[0] = PAGE_HEAD;
                std::memcpy(h + 1, &stamp, 4);
                h[7] = FILE_TYPE_VIBROMETER;
                std::memcpy(h + 12, &parent, 4);
            }
            ok = pwrite(fd, block.data(), block.size(), static_cast<off_t>(b) * block.size()) ==
                 static_cast<ssize_t>(block.size());
        }
    }
    ~FullChipImage()
    {
        if (fd > 0) close(fd);
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

void BM_MountFullChipOfOnePageFiles(benchmark::State& state)
{
    static FullChipImage img;
    if (!img.ok) return state.SkipWithError("cannot build the image");
    flash_handle = img.fd;
    double longest_step = 0;
    for (auto _ : state) {
        fs_init();
        fs_dir_reset();
        for (;;) {
            const auto t0 = std::chrono::steady_clock::now();
            const int more = fs_scan_step();
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            if (ms > longest_step) longest_step = ms;
            if (!more) break;
        }
        fs_mount_finish();
    }
    // The 8192 newest files, no other.
    bool newest = dir_count() == DIR_CAPACITY;
    for (u32 i = 0; newest && i < dir_count(); ++i)
        newest = dir_stamp(static_cast<int>(i)) >= FullChipImage::FIRST_STAMP + 131072 - DIR_CAPACITY;
    if (!newest) state.SkipWithError("the directory does not hold the newest files");
    state.counters["longest_scan_step_ms"] = longest_step;
    flash_handle = 0;
}
BENCHMARK(BM_MountFullChipOfOnePageFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Reading marker and header of every page: positioned reads (what the NAND
// device does) against a memory map of the image.
void BM_HeaderReadsPread(benchmark::State& state)
{
    BuiltImage& img = image();
    if (!img.ok) return state.SkipWithError("cannot build the image");
    u32 sum = 0;
    for (auto _ : state) {
        for (u64 p = 0; p < 131072; ++p) {
            u8 marker, header[16];
            if (pread(img.fd, &marker, 1, static_cast<off_t>(p * 2112 + 2048)) != 1 ||
                pread(img.fd, header, 16, static_cast<off_t>(p * 2112 + 2049)) != 16)
                return state.SkipWithError("read failed");
            sum += marker + header[0];
        }
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_HeaderReadsPread)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HeaderReadsMmap(benchmark::State& state)
{
    BuiltImage& img = image();
    if (!img.ok) return state.SkipWithError("cannot build the image");
    u32 sum = 0;
    for (auto _ : state) {
        void* map = mmap(nullptr, FLASH_FILE_SIZE, PROT_READ, MAP_SHARED, img.fd, 0);
        if (map == MAP_FAILED) return state.SkipWithError("mmap failed");
        const u8* base = static_cast<const u8*>(map);
        for (u64 p = 0; p < 131072; ++p) {
            u8 marker, header[16];
            std::memcpy(&marker, base + p * 2112 + 2048, 1);
            std::memcpy(header, base + p * 2112 + 2049, 16);
            sum += marker + header[0];
        }
        munmap(map, FLASH_FILE_SIZE);
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_HeaderReadsMmap)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
