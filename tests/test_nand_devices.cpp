// The NAND layer on its two devices, the image file and the sparse chip in
// memory: the same operations (saves, rewrites, purges, a format, power cuts
// inside them) leave byte for byte the same pages and mount the same; the
// sparse chip's persist hook hears of exactly the pages written; a sparse
// chip given the pages of an image file mounts as that file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/reset.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "storage/nand_sparse.h"
#include "tests/image/test_image.h"
#include "tests/support/flash_image.h"
#include "tests/support/support.h"

namespace {

constexpr u32 STRIDE = 2112;
constexpr u32 PAGES = 131072;
constexpr u32 BLOCK_PAGES = 64;

enum class Kind { File, Sparse };

// One chip: an image file in a temporary folder (starting empty, as a new
// flash.dat) or a sparse chip, made the NAND layer's device by use().
class Chip {
public:
    explicit Chip(Kind kind) : kind_(kind) {}
    ~Chip() { nand_set_device(nullptr); }
    void use()
    {
        if (kind_ == Kind::File) {
            if (!flash_) flash_ = std::make_unique<FlashFile>(dir_.file("flash.dat"));
            nand_set_device(nullptr);
        } else {
            nand_set_device(sparse_.device());
        }
    }
    // A page's bytes, data then spare area, as the chip holds them.
    std::vector<u8> page(u32 p) const
    {
        if (kind_ == Kind::Sparse) {
            const u8* b = sparse_.page(p);
            return b ? std::vector<u8>(b, b + STRIDE) : std::vector<u8>(STRIDE, 0xFF);
        }
        std::vector<u8> bytes = flash_->read(flash_offset(p, 0), STRIDE);
        bytes.resize(STRIDE, 0xFF);  // past the end of a short file: erased
        return bytes;
    }
    // The pages of a block.
    std::vector<u8> block(u32 b) const
    {
        if (kind_ == Kind::File) {
            std::vector<u8> bytes = flash_->read(flash_offset(b * BLOCK_PAGES, 0), BLOCK_PAGES * STRIDE);
            bytes.resize(BLOCK_PAGES * STRIDE, 0xFF);
            return bytes;
        }
        std::vector<u8> bytes;
        for (u32 k = 0; k < BLOCK_PAGES; ++k) {
            const std::vector<u8> p = page(b * BLOCK_PAGES + k);
            bytes.insert(bytes.end(), p.begin(), p.end());
        }
        return bytes;
    }
    Kind kind() const { return kind_; }
    NandSparseChip& sparse() { return sparse_; }

private:
    Kind kind_;
    TempDir dir_;
    std::unique_ptr<FlashFile> flash_;
    NandSparseChip sparse_;
};

// What a mount makes of a chip: the directory, the page counts and the page
// table.
struct Mounted {
    std::vector<DirEntry> entries;
    u32 free = 0, used = 0, chained = 0, deleted = 0, bad = 0;
    std::vector<u32> table;
};

bool operator==(const Mounted& a, const Mounted& b)
{
    return a.entries.size() == b.entries.size() &&
           std::memcmp(a.entries.data(), b.entries.data(), a.entries.size() * sizeof(DirEntry)) == 0 &&
           a.free == b.free && a.used == b.used && a.chained == b.chained && a.deleted == b.deleted && a.bad == b.bad &&
           a.table == b.table;
}

Mounted mount_now()
{
    Mounted m;
    EXPECT_EQ(fs_init(), FS_OK);
    EXPECT_EQ(fs_mount(), FS_OK);
    fs_count_pages();
    m.entries.assign(directory.entries, directory.entries + directory.count);
    m.free = fs_state.free;
    m.used = fs_state.used;
    m.chained = fs_state.chained;
    m.deleted = fs_state.deleted;
    m.bad = fs_state.bad;
    if (nand_info.page_table) m.table.assign(nand_info.page_table, nand_info.page_table + nand_info.total_pages);
    return m;
}

std::vector<u8> pattern(u32 n, u32 seed)
{
    std::vector<u8> v(n);
    for (u32 i = 0; i < n; ++i) v[i] = static_cast<u8>(i * 13 + seed * 7 + (i >> 9));
    return v;
}

// Files made at once and pending, written across pages, grown, written over
// (a block rewrite), one deleted and its block purged. Under a power cut
// the steps fail where they fail (`check` off) and the save goes on.
void save_files(bool check = true)
{
    auto expect = [check](bool good, const char* step) {
        if (check) {
            EXPECT_TRUE(good) << step;
        }
    };
    testing::internal::CaptureStdout();  // the rebuild's and bad-block lines
    u32 stamp = 900000000;
    FileHandle object, reading, signal;
    expect(fs_create(&object, FILE_TYPE_OBJECT, 0, 0, 300, &stamp) == FS_OK, "object made");
    const std::vector<u8> name = pattern(300, 1);
    expect(fs_write(&object, name.data(), 0, 300) == 300u, "object written");
    expect(fs_close(&object) == FS_OK, "object closed");
    ++stamp;
    expect(fs_create_pending(&reading, FILE_TYPE_VIBROMETER, object.first, 0, 5000, &stamp) == FS_OK, "reading made");
    const std::vector<u8> values = pattern(7000, 2);
    expect(fs_write(&reading, values.data(), 0, 7000) == 7000u, "reading written and grown");
    expect(fs_close(&reading) == FS_OK, "reading closed");
    const std::vector<u8> again = pattern(50, 3);
    expect(fs_write(&reading, again.data(), 100, 50) == 50u, "reading written over");
    ++stamp;
    expect(fs_create(&signal, FILE_TYPE_SIGNAL, object.first, 0, 3 * 2048, &stamp) == FS_OK, "signal made");
    const std::vector<u8> samples = pattern(3 * 2048, 4);
    expect(fs_write(&signal, samples.data(), 0, 3 * 2048) == 3 * 2048u, "signal written");
    expect(fs_close(&signal) == FS_OK, "signal closed");
    expect(fs_delete(signal.first) == FS_OK, "signal deleted");
    expect(fs_rebuild() == FS_OK, "rebuilt");
    testing::internal::GetCapturedStdout();
}

void format_chip()
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(fs_format(), FS_OK);
    testing::internal::GetCapturedStdout();
}

// A save with the power cut after `cut` writes, the power back, the next
// start's mount, and a save after it.
void cut_save(u64 cut)
{
    nand_cut_power_at(nand_writes_made() + cut);
    save_files(false);
    nand_restore_power();
    mount_now();
    save_files();
}

// A format with the power cut after `cut` writes (inside the erase of a
// block), the next start's mount, and a save after it.
void cut_format(u64 cut)
{
    save_files();
    mount_now();
    nand_cut_power_at(nand_writes_made() + cut);
    format_chip();
    nand_restore_power();
    mount_now();
    save_files();
}

struct Scenario {
    const char* name;
    void (*run)();
};

const Scenario SCENARIOS[] = {
    {"save", [] { save_files(); }},
    {"save, format, save",
     [] {
         save_files();
         mount_now();
         format_chip();
         save_files();
     }},
    {"save cut after 3 writes", [] { cut_save(3); }},
    {"save cut after 12 writes", [] { cut_save(12); }},
    {"format cut inside an erase", [] { cut_format(200); }},
    {"a block marked bad, then a save",
     [] {
         EXPECT_EQ(nand_mark_block_bad(1), NAND_OK);
         mount_now();
         save_files();
     }},
};

struct Outcome {
    Mounted mounted;
    u64 writes = 0;
};

Outcome run_on(Chip& chip, const Scenario& s)
{
    system_reset();
    chip.use();
    Outcome o;
    mount_now();
    s.run();
    o.writes = nand_writes_made();
    o.mounted = mount_now();
    return o;
}

class BothDevices : public ::testing::Test {
protected:
    void TearDown() override
    {
        nand_restore_power();
        nand_set_write_hook(nullptr);
        nand_set_device(nullptr);
        system_reset();
    }
};

// Each scenario on both devices: the same writes, every page of the chip
// the same bytes, the same mount.
TEST_F(BothDevices, SameOperationsLeaveTheSameBytes)
{
    for (const Scenario& s : SCENARIOS) {
        SCOPED_TRACE(s.name);
        Chip file(Kind::File), sparse(Kind::Sparse);
        const Outcome on_file = run_on(file, s);
        const Outcome on_sparse = run_on(sparse, s);
        EXPECT_GT(on_file.writes, 0u);
        EXPECT_EQ(on_file.writes, on_sparse.writes);
        EXPECT_TRUE(on_file.mounted == on_sparse.mounted);
        u32 differing = 0, written = 0;
        for (u32 b = 0; b < PAGES / BLOCK_PAGES; ++b) {
            const std::vector<u8> f = file.block(b);
            if (f != sparse.block(b)) ++differing;
            if (f != std::vector<u8>(f.size(), 0xFF)) ++written;
        }
        EXPECT_EQ(differing, 0u);
        EXPECT_GT(written, 0u);
        // The sparse chip holds no page of a block erased since.
        for (const auto& [page, bytes] : sparse.sparse().pages()) {
            EXPECT_EQ(bytes.size(), STRIDE);
            EXPECT_LT(page, PAGES);
        }
    }
}

// The block of a file written over (a rewrite of its 64 pages) after the
// power was cut after each number of writes of the rewrite, with the block
// put back as it was before each cut.
std::vector<std::vector<u8>> rewrite_cut_at_every_write(Chip& chip, u64* writes)
{
    system_reset();
    chip.use();
    mount_now();
    save_files();
    mount_now();
    const int reading = dir_find_type(FILE_TYPE_VIBROMETER);
    EXPECT_GE(reading, 0);
    FileHandle h;
    EXPECT_EQ(fs_open(&h, dir_id(reading), FS_READ | FS_WRITE), FS_OK);
    const u32 block = h.first / BLOCK_PAGES;
    std::vector<std::vector<u8>> pages(BLOCK_PAGES);
    for (u32 k = 0; k < BLOCK_PAGES; ++k) {
        pages[k].resize(STRIDE);
        EXPECT_EQ(nand_read_raw(block * BLOCK_PAGES + k, pages[k].data(), 0, STRIDE), NAND_OK);
    }
    const std::vector<u32> table(nand_info.page_table, nand_info.page_table + nand_info.total_pages);
    const std::vector<u8> over = pattern(40, 9);
    std::vector<std::vector<u8>> after;
    *writes = 0;
    for (u64 cut = 0; cut <= BLOCK_PAGES + 1; ++cut) {
        for (u32 k = 0; k < BLOCK_PAGES; ++k)
            EXPECT_EQ(nand_write_raw(block * BLOCK_PAGES + k, pages[k].data(), 0, STRIDE), NAND_OK);
        std::copy(table.begin(), table.end(), nand_info.page_table);
        nand_info.cached_block = -1;
        const u64 before = nand_writes_made();
        nand_cut_power_at(before + cut);
        testing::internal::CaptureStdout();  // the bad-block line
        fs_write(&h, over.data(), 10, static_cast<u32>(over.size()));
        testing::internal::GetCapturedStdout();
        nand_restore_power();
        *writes += nand_writes_made() - before;
        after.push_back(chip.block(block));
    }
    return after;
}

// A power cut after every write of a block rewrite: the same writes and the
// same bytes on both devices each time, every page either as before or as
// after the rewrite.
TEST_F(BothDevices, PowerCutInsideARewriteLeavesTheSameBytes)
{
    Chip file(Kind::File), sparse(Kind::Sparse);
    u64 file_writes = 0, sparse_writes = 0;
    const std::vector<std::vector<u8>> on_file = rewrite_cut_at_every_write(file, &file_writes);
    const std::vector<std::vector<u8>> on_sparse = rewrite_cut_at_every_write(sparse, &sparse_writes);
    EXPECT_EQ(file_writes, sparse_writes);
    ASSERT_EQ(on_file.size(), on_sparse.size());
    const std::vector<u8>& old_block = on_file.front();  // cut before the first write
    const std::vector<u8>& new_block = on_file.back();   // not cut
    ASSERT_NE(old_block, new_block);
    for (size_t cut = 0; cut < on_file.size(); ++cut) {
        EXPECT_TRUE(on_file[cut] == on_sparse[cut]) << "cut after " << cut << " writes";
        for (u32 k = 0; k < BLOCK_PAGES; ++k) {
            const auto at = static_cast<std::ptrdiff_t>(k * STRIDE);
            const auto page = on_file[cut].begin() + at;
            const bool is_old = std::equal(page, page + STRIDE, old_block.begin() + at);
            const bool is_new = std::equal(page, page + STRIDE, new_block.begin() + at);
            EXPECT_TRUE(is_old || is_new) << "cut after " << cut << " writes, page " << k;
        }
    }
}

// The persist hook's record of a sparse chip: each page written and each
// block erased, in order.
struct Persisted {
    std::map<u32, std::vector<u8>> pages;
    std::set<u32> told;  // pages told written or erased
};

Persisted g_persisted;
std::set<u32> g_raw_writes;

const NandPersistHook PERSIST = {
    &g_persisted,
    [](void* context, u32 page, const u8* bytes, u32 length) {
        auto* p = static_cast<Persisted*>(context);
        p->pages[page].assign(bytes, bytes + length);
        p->told.insert(page);
    },
    [](void* context, u32 block) {
        auto* p = static_cast<Persisted*>(context);
        for (u32 k = 0; k < BLOCK_PAGES; ++k) {
            p->pages.erase(block * BLOCK_PAGES + k);
            p->told.insert(block * BLOCK_PAGES + k);
        }
    },
};

// What the hook kept is the chip: pages put back from it into a new sparse
// chip (before the chip is known, as a front end does at start) mount as
// the chip they came from, and read as it does.
TEST_F(BothDevices, PersistHookKeepsExactlyTheWrittenPages)
{
    for (const Scenario& s : SCENARIOS) {
        SCOPED_TRACE(s.name);
        g_persisted = {};
        g_raw_writes.clear();
        Chip chip(Kind::Sparse);
        chip.sparse().set_persist_hook(&PERSIST);
        system_reset();
        chip.use();
        mount_now();
        nand_set_write_hook([](u32 page, u32, const void*, u32) { g_raw_writes.insert(page); });
        s.run();
        nand_set_write_hook(nullptr);
        const Mounted before = mount_now();
        EXPECT_FALSE(g_raw_writes.empty());
        EXPECT_EQ(g_persisted.told, g_raw_writes);
        EXPECT_TRUE(g_persisted.pages == chip.sparse().pages());

        NandSparseChip again;
        for (const auto& [page, bytes] : g_persisted.pages)
            ASSERT_EQ(again.restore(page, bytes.data(), static_cast<u32>(bytes.size())), NAND_OK);
        system_reset();
        nand_set_device(again.device());
        EXPECT_TRUE(mount_now() == before);
        EXPECT_TRUE(again.pages() == chip.sparse().pages());
        nand_set_device(nullptr);
    }
}

// An image file built by the archive's own saves, its written pages put
// into a sparse chip: both mount the same and read the same files.
TEST_F(BothDevices, SparseChipMountsAsTheFileItCameFrom)
{
    TempDir dir;
    const std::string path = dir.file("flash.dat");
    ImageSpec spec;
    spec.objects = 5;
    spec.files_per_object = 4;
    spec.file_size = 6000;
    spec.routes = 2;
    ASSERT_EQ(image_build(path.c_str(), spec), 5 + 20 + 2);
    system_reset();
    Mounted from_file;
    NandSparseChip sparse;
    {
        FlashFile flash(path);
        from_file = mount_now();
        for (u32 p = 0; p < PAGES; ++p) {
            const std::vector<u8> bytes = flash.read(flash_offset(p, 0), STRIDE);
            if (bytes.size() == STRIDE && bytes != std::vector<u8>(STRIDE, 0xFF)) {
                ASSERT_EQ(sparse.restore(p, bytes.data(), STRIDE), NAND_OK);
            }
        }
    }
    ASSERT_EQ(from_file.entries.size(), 5u + 20u + 2u);
    system_reset();
    nand_set_device(sparse.device());
    EXPECT_TRUE(mount_now() == from_file);
    for (const DirEntry& e : from_file.entries) {
        if (e.type != FILE_TYPE_VIBROMETER) continue;
        FileHandle h;
        ASSERT_EQ(fs_open(&h, e.id, FS_READ), FS_OK);
        std::vector<u8> back(spec.file_size);
        ASSERT_EQ(fs_read(&h, back.data(), 0, spec.file_size), spec.file_size);
        for (u32 i = 0; i < spec.file_size; i += 997) {
            EXPECT_EQ(back[i], image_file_byte(spec.seed, e.id, i)) << "file " << e.id << " byte " << i;
        }
    }
}

// The sparse chip itself: unwritten pages read erased, a program stores
// just its bytes, an erase forgets the block, pages put back before the
// chip is known are fitted to it.
TEST_F(BothDevices, SparseChipReadsUnwrittenPagesErased)
{
    NandSparseChip chip;
    const u8 kept[3] = {1, 2, 3};
    ASSERT_EQ(chip.restore(70, kept, 3), NAND_OK);         // fitted at nand_init
    ASSERT_EQ(chip.restore(PAGES + 5, kept, 3), NAND_OK);  // beyond the chip: left out then
    std::vector<u8> too_long(STRIDE + 1, 0);
    ASSERT_EQ(chip.restore(71, too_long.data(), STRIDE + 1), NAND_OK);  // longer than a page: left out
    system_reset();
    nand_set_device(chip.device());
    ASSERT_EQ(nand_present(), NAND_OK);
    ASSERT_EQ(fs_init(), FS_OK);
    EXPECT_EQ(chip.page_bytes(), STRIDE);
    EXPECT_EQ(chip.pages().size(), 1u);
    std::vector<u8> page(STRIDE);
    ASSERT_EQ(nand_read_raw(70, page.data(), 0, STRIDE), NAND_OK);
    std::vector<u8> want(STRIDE, 0xFF);
    std::memcpy(want.data(), kept, 3);
    EXPECT_EQ(page, want);
    ASSERT_EQ(nand_read_raw(5000, page.data(), 0, STRIDE), NAND_OK);
    EXPECT_EQ(page, std::vector<u8>(STRIDE, 0xFF));
    EXPECT_EQ(chip.restore(PAGES, kept, 3), NAND_ERR_RANGE);
    EXPECT_EQ(chip.restore(72, too_long.data(), STRIDE + 1), NAND_ERR_RANGE);

    const u8 bytes[2] = {0x12, 0x34};
    ASSERT_EQ(nand_write_raw(130, bytes, 2049, 2), NAND_OK);
    ASSERT_NE(chip.page(130), nullptr);
    EXPECT_EQ(chip.page(130)[2049], 0x12);
    EXPECT_EQ(chip.page(130)[2050], 0x34);
    EXPECT_EQ(chip.page(130)[0], 0xFF);
    EXPECT_EQ(chip.pages().size(), 2u);
    ASSERT_EQ(nand_erase_block(2, 1), NAND_OK);
    EXPECT_EQ(chip.page(130), nullptr);
    EXPECT_EQ(chip.pages().size(), 1u);
    ASSERT_EQ(nand_read_raw(130, page.data(), 0, STRIDE), NAND_OK);
    EXPECT_EQ(page, std::vector<u8>(STRIDE, 0xFF));
    nand_set_device(nullptr);
}

}  // namespace
