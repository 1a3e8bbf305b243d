// Power cuts inside a block rewrite. A block shared by several objects,
// their measurements, a route and a deleted file is rewritten (an object
// renamed, the rebuild purging the deleted file); the power is cut after
// every possible number of writes of that rewrite. Each time the image must
// mount again as at start-up, every page of the block must hold either its
// bytes from before or its bytes from after the rewrite, and every other
// live file of the block must read back whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "archive/objects.h"
#include "base/cp1251.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tests/image/test_image.h"
#include "tests/support/flash_image.h"
#include "tests/support/support.h"

namespace {

constexpr u32 STRIDE = 2112;
constexpr u32 BLOCK_PAGES = 64;
// Everything of the small archive lies in block 1 (pages 64..127).
constexpr u32 FIRST_PAGE = 64;
constexpr u64 BLOCK_AT = flash_offset(FIRST_PAGE, 0);
constexpr size_t BLOCK_BYTES = BLOCK_PAGES * STRIDE;
constexpr u32 SEED = 11;
constexpr u32 FILE_SIZE = 5000;

// Four objects with three measurements of three pages each, and a route:
// 41 pages of block 1.
ImageSpec shared_block()
{
    ImageSpec spec;
    spec.objects = 4;
    spec.files_per_object = 3;
    spec.file_size = FILE_SIZE;
    spec.routes = 1;
    spec.seed = SEED;
    return spec;
}

// The mount of the start-up: device, directory scan step by step, finish,
// current object.
void mount_as_at_start()
{
    settings_set_current_object(0);
    storage_error_flags = 0;
    ASSERT_EQ(fs_init(), FS_OK);
    ASSERT_EQ(fs_dir_reset(), FS_OK);
    int steps = 0;
    while (fs_scan_step() == FS_SCAN_MORE) ASSERT_LT(++steps, 100);
    fs_mount_finish();
    ASSERT_NE(obj_after_mount(), OBJ_FAILED);
}

struct Entry {
    u32 id, stamp, parent;
    u8 type;
    std::string name;  // objects only
};

std::string object_name(int index)
{
    char name[OBJ_NAME_SIZE] = {};
    if (obj_get_name(index, name) != OBJ_OK) return "<unreadable>";
    return name;
}

class PowerCut : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("flash.dat");
    std::vector<Entry> live;    // the directory before the rewrite
    std::vector<u8> old_block;  // block 1 before the rewrite
    std::vector<u8> new_block;  // block 1 after a rewrite without a cut
    u32 dead_id = 0;            // a deleted measurement inside the block

    void SetUp() override
    {
        ASSERT_EQ(image_build(path.c_str(), shared_block()), 4 + 12 + 1);
        FlashFile flash(path);
        mount_as_at_start();
        // Delete the second measurement of the third object: dead pages
        // between live files.
        const int object = dir_find_id(obj_find_by_name("Объект 0003"_cp));
        ASSERT_GE(object, 0);
        ASSERT_EQ(dir_parent(object + 2), dir_id(object));
        dead_id = dir_id(object + 2);
        ASSERT_EQ(dir_delete(object + 2), FS_OK);
        for (u32 i = 0; i < dir_count(); ++i) {
            const int at = static_cast<int>(i);
            ASSERT_LT(dir_id(at), FIRST_PAGE + BLOCK_PAGES);
            live.push_back({dir_id(at), dir_stamp(at), dir_parent(at), dir_type(at),
                            dir_type(at) == FILE_TYPE_OBJECT ? object_name(at) : ""});
        }
        old_block = flash.read(BLOCK_AT, BLOCK_BYTES);
    }

    // Puts block 1 back as it was before the rewrite, mounts the image as at
    // start-up and runs `op` with the power cut after `cut` writes (never
    // cut when `cut` is negative). Returns the writes made.
    u64 run(const std::function<void()>& op, i64 cut)
    {
        FlashFile flash(path);
        flash.write(BLOCK_AT, old_block);
        mount_as_at_start();
        const u64 before = nand_writes_made();
        if (cut >= 0) nand_cut_power_at(before + static_cast<u64>(cut));
        testing::internal::CaptureStdout();  // the rebuild's and bad-block lines
        op();
        testing::internal::GetCapturedStdout();
        nand_restore_power();
        return nand_writes_made() - before;
    }

    // Problems found on the image (the open flash file) mounted again after a
    // rewrite: pages that are neither old nor new, live files other than
    // `skip` missing or damaged, entries that were not there before.
    std::string damage(const FlashFile& flash, u32 skip)
    {
        std::ostringstream out;
        const std::vector<u8> block = flash.read(BLOCK_AT, BLOCK_BYTES);
        for (u32 k = 0; k < BLOCK_PAGES; ++k) {
            const auto at = static_cast<std::ptrdiff_t>(k * STRIDE);
            const bool is_old = std::equal(block.begin() + at, block.begin() + at + STRIDE, old_block.begin() + at);
            const bool is_new = std::equal(block.begin() + at, block.begin() + at + STRIDE, new_block.begin() + at);
            if (!is_old && !is_new) out << " page " << FIRST_PAGE + k << " torn;";
        }
        mount_as_at_start();
        if (dir_count() != live.size()) out << " " << dir_count() << " entries;";
        std::vector<u8> back(FILE_SIZE);
        for (const Entry& e : live) {
            if (e.id == skip) continue;
            const int at = dir_find_id(e.id);
            if (at < 0) {
                out << " file " << e.id << " lost;";
                continue;
            }
            if (dir_stamp(at) != e.stamp || dir_parent(at) != e.parent || dir_type(at) != e.type)
                out << " entry " << e.id << " changed;";
            if (e.type == FILE_TYPE_OBJECT) {
                if (object_name(at) != e.name) out << " object " << e.id << " name lost;";
                continue;
            }
            FileHandle h;
            bool whole = fs_open(&h, e.id, FS_READ) == FS_OK && h.pages == 3 &&
                         fs_read(&h, back.data(), 0, FILE_SIZE) == FILE_SIZE;
            for (u32 i = 0; whole && i < FILE_SIZE; ++i)
                if (back[i] != image_file_byte(SEED, e.id, i)) whole = false;
            if (!whole) out << " file " << e.id << " damaged;";
        }
        return out.str();
    }

    // The rewrite once without a cut, then cut after 0, step, 2 step, ...
    // of its writes and just before its last write; after each, the image
    // is opened and mounted again, checked, and `check_target` looks at the
    // file the rewrite is about. Each cut costs two mounts of the whole chip.
    void cut_everywhere(const std::function<void()>& op, u32 target,
                        const std::function<void(const FlashFile& flash, i64 cut)>& check_target, i64 step = 1)
    {
        const u64 writes = run(op, -1);
        ASSERT_GT(writes, 0u);
        {
            FlashFile flash(path);
            new_block = flash.read(BLOCK_AT, BLOCK_BYTES);
        }
        EXPECT_NE(new_block, old_block);
        const i64 last = static_cast<i64>(writes) - 1;
        std::vector<i64> cuts{-1};  // -1: the rewrite that completed
        for (i64 k = 0; k < last; k += step) cuts.push_back(k);
        cuts.push_back(last);
        for (const i64 k : cuts) {
            if (k >= 0) run(op, k);
            FlashFile flash(path);
            EXPECT_EQ(damage(flash, target), "") << "power cut after " << k << " of " << writes << " writes";
            check_target(flash, k);
        }
    }
};

TEST_F(PowerCut, RenamingAnObjectKeepsTheBlockAndEndsWithOneOfTheNames)
{
    const std::string old_name = "Объект 0002"_cp;
    u32 object = 0;
    for (const Entry& e : live)
        if (e.name == old_name) object = e.id;
    ASSERT_NE(object, 0u);
    const std::string new_name = "Насос 7"_cp;
    int saw_old = 0, saw_new = 0;
    cut_everywhere([&] { obj_rename(dir_find_id(object), new_name.c_str()); }, object,
                   [&](const FlashFile&, i64 cut) {
                       SCOPED_TRACE("power cut after " + std::to_string(cut) + " writes");
                       const int at = dir_find_id(object);
                       ASSERT_GE(at, 0);
                       const std::string name = object_name(at);
                       EXPECT_TRUE(name == old_name || name == new_name) << name;
                       if (cut < 0) {
                           EXPECT_EQ(name, new_name);
                       }
                       saw_old += name == old_name;
                       saw_new += name == new_name;
                       // The image stays usable: the rename done again completes.
                       ASSERT_EQ(obj_rename(at, new_name.c_str()), OBJ_OK);
                       EXPECT_EQ(object_name(at), new_name);
                   });
    // Cut points fall before and after the object's page.
    EXPECT_GT(saw_old, 0);
    EXPECT_GT(saw_new, 1);
}

TEST_F(PowerCut, PurgingDeadPagesKeepsTheBlock)
{
    const u32 dead = dead_id;
    cut_everywhere([] { fs_rebuild(); }, dead,
                   [&](const FlashFile& flash, i64 cut) {
                       SCOPED_TRACE("power cut after " + std::to_string(cut) + " writes");
                       EXPECT_EQ(dir_find_id(dead), -1);
                       // The dead file's pages are still dead or wholly erased.
                       u32 erased = 0;
                       for (u32 p = dead; p < dead + 3; ++p) {
                           const std::vector<u8> page = flash.read(flash_offset(p, 0), STRIDE);
                           if (page == std::vector<u8>(STRIDE, 0xFF))
                               ++erased;
                           else
                               EXPECT_EQ(page[2049], 0) << "page " << p;
                       }
                       if (cut < 0) {
                           EXPECT_EQ(erased, 3u);
                       }
                       // The image stays usable: the rebuild done again completes.
                       testing::internal::CaptureStdout();
                       fs_rebuild();
                       testing::internal::GetCapturedStdout();
                       for (u32 p = dead; p < dead + 3; ++p)
                           EXPECT_EQ(flash.read(flash_offset(p, 0), STRIDE), std::vector<u8>(STRIDE, 0xFF))
                               << "page " << p;
                   },
                   5);
}

}  // namespace
