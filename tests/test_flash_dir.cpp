// Directory and mount: the scan, the full-directory rule, the mount order
// of objects, their measurements and routes, and the directory operations.
#include <gtest/gtest.h>

#include <vector>

#include "archive/objects.h"
#include "base/cp1251.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "tests/support/flash_image.h"

namespace {

class Dir : public ::testing::Test, public MountedFlash {
protected:
    u32 file(u8 type, u32 parent, u32 stamp, u32 size = 100)
    {
        FileHandle h;
        EXPECT_EQ(fs_create(&h, type, parent, 0, size, &stamp), FS_OK);
        EXPECT_EQ(fs_close(&h), FS_OK);
        return h.first;
    }
    std::vector<u32> ids() const
    {
        std::vector<u32> v;
        for (u32 i = 0; i < dir_count(); ++i) v.push_back(dir_id(static_cast<int>(i)));
        return v;
    }
};

TEST_F(Dir, ScanRunsInStepsOf4096PagesAndSkipsBadBlocks)
{
    const u32 a = file(19, 0, 100);
    flash->write_byte(flash_offset(64 * 7 + 3, 2048), 0x00);
    ASSERT_EQ(fs_init(), FS_OK);
    ASSERT_EQ(fs_dir_reset(), FS_OK);
    int steps = 1;
    while (fs_scan_step()) ++steps;
    EXPECT_EQ(steps, 32);  // 131008 pages
    EXPECT_FALSE(fs_mounted());
    fs_mount_finish();
    EXPECT_TRUE(fs_mounted());
    EXPECT_EQ(ids(), std::vector<u32>{a});
    for (u32 k = 0; k < 64; ++k) EXPECT_EQ(pt_state(fs_table(64 * 7 + k)), PAGE_BAD);
    EXPECT_EQ(pt_state(fs_table(64 * 8)), PAGE_FREE);
}

TEST_F(Dir, FullDirectoryKeepsTheNewestFiles)
{
    const u32 old_file = file(19, 0, 500);
    const u32 newer = file(19, 0, 1500);
    const u32 newest = file(19, 0, 2500);
    ASSERT_EQ(fs_dir_reset(), FS_OK);
    for (u32 i = 0; i < DIR_CAPACITY; ++i) ASSERT_EQ(dir_append(200000 + i, 1000 + i, 0, 19, 0), DIR_OK);
    EXPECT_TRUE(dir_full());
    EXPECT_EQ(dir_append(1, 1, 0, 0, 0), 0);
    while (fs_scan_step()) {
    }
    EXPECT_EQ(dir_count(), DIR_CAPACITY);
    EXPECT_EQ(dir_find_id(old_file), -1);
    EXPECT_EQ(dir_id(0), newer);   // replaced the entry stamped 1000
    EXPECT_EQ(dir_id(1), newest);  // then the one stamped 1001
    EXPECT_EQ(dir_stamp(1), 2500u);
    EXPECT_EQ(dir_id(2), 200002u);
}

TEST_F(Dir, MountPutsObjectsByNameWithTheirMeasurementsNewestFirst)
{
    const u32 v = obj_create("В"_cp);
    const u32 a = obj_create("А"_cp);
    ASSERT_NE(v, 0u);
    ASSERT_NE(a, 0u);
    const u32 v1 = file(19, v, 1000);
    const u32 a1 = file(19, a, 1100);
    const u32 route = file(5, 0, 5000);
    const u32 v2 = file(0, v, 1200);
    const u32 a2 = file(22, a, 900);
    const u32 stray = file(19, 99999, 3000);  // parent not listed
    remount();
    EXPECT_EQ(ids(), (std::vector<u32>{a, a1, a2, v, v2, v1, route, stray}));
    EXPECT_TRUE(dir_has_children(0));
    EXPECT_FALSE(dir_has_children(2));
    EXPECT_EQ(dir_depth(0), 1);
    EXPECT_EQ(dir_depth(1), 2);
    EXPECT_EQ(dir_depth(6), 1);
    EXPECT_EQ(dir_depth(7), 1);
    EXPECT_EQ(dir_type(3), FILE_TYPE_OBJECT);
    EXPECT_EQ(dir_parent(4), v);
}

TEST_F(Dir, ObjectBeyondPage65535KeepsItsMeasurements)
{
    // An object at page 64 and one at page 65600, whose low 16 bits are 64.
    const u32 low = obj_create("Низ"_cp);
    ASSERT_EQ(low, 64u);
    FileHandle filler;
    ASSERT_EQ(fs_create(&filler, 0, 0, 0, 65535u * 2048), FS_OK);
    const u32 high = obj_create("Верх"_cp);
    ASSERT_EQ(high, 65600u);
    const u32 m1 = file(19, high, 1000);
    const u32 m2 = file(19, high, 2000);
    const u32 m3 = file(19, low, 1500);
    remount();
    EXPECT_EQ(ids(), (std::vector<u32>{high, m2, m1, low, m3, filler.first}));
    EXPECT_EQ(dir_parent(1), high);
    EXPECT_TRUE(dir_has_children(0));
    EXPECT_EQ(dir_depth(2), 2);
    // Deleting the low object leaves the high object's measurements alone.
    ASSERT_EQ(obj_delete(3), OBJ_OK);
    EXPECT_EQ(ids(), (std::vector<u32>{high, m2, m1, filler.first}));
}

TEST(DirOps, EditsKeepTheOrderAndRefuseBadIndices)
{
    MountedFlash m;
    ASSERT_EQ(dir_append(100, 1, 0, 9, 0), DIR_OK);
    ASSERT_EQ(dir_append(300, 3, 0, 9, 0), DIR_OK);
    ASSERT_EQ(dir_insert_at(1, 200, 2, 0, 9, 0), DIR_OK);
    ASSERT_EQ(dir_insert_after(2, 400, 4, 300, 19, 5), DIR_OK);  // after the last: appended
    ASSERT_EQ(dir_insert_after(0, 150, 5, 100, 19, 6), DIR_OK);
    std::vector<u32> order;
    for (int i = 0; i < static_cast<int>(dir_count()); ++i) order.push_back(dir_id(i));
    EXPECT_EQ(order, (std::vector<u32>{100, 150, 200, 300, 400}));
    EXPECT_EQ(dir_attr(1), 6);
    EXPECT_EQ(dir_insert_at(5, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(dir_insert_at(-1, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(dir_set(7, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(dir_id(-1), 0u);
    EXPECT_EQ(dir_id(5), 0u);
    EXPECT_EQ(dir_find_id(0), -1);
    EXPECT_EQ(dir_find_id(300), 3);
    EXPECT_EQ(dir_find_type(19), 1);
    EXPECT_EQ(dir_find_type(5), -1);
    EXPECT_EQ(dir_depth(5), 0);
    ASSERT_EQ(dir_remove(2), DIR_OK);
    EXPECT_EQ(dir_id(2), 300u);
    EXPECT_EQ(dir_count(), 4u);
    EXPECT_EQ(dir_remove(4), 0);
    // A parent loop ends.
    ASSERT_EQ(dir_set(0, 100, 1, 300, 9, 0), DIR_OK);
    ASSERT_EQ(dir_set(2, 300, 3, 100, 9, 0), DIR_OK);
    EXPECT_GT(dir_depth(0), 1);
    EXPECT_LE(dir_depth(0), 64);
    // Flags.
    dir_flags_set(1, DIR_FLAG_EXPANDED | 1);
    dir_flags_toggle(1, 1);
    EXPECT_EQ(dir_flags(1), DIR_FLAG_EXPANDED);
    dir_flags_set(3, DIR_FLAG_EXPANDED);
    dir_flags_clear(3, DIR_FLAG_EXPANDED);
    EXPECT_EQ(dir_flags(3), 0);
    dir_flags_set(2, DIR_FLAG_EXPANDED);
    dir_flags_clear_all(DIR_FLAG_EXPANDED);
    EXPECT_EQ(dir_flags(1), 0);
    EXPECT_EQ(dir_flags(2), 0);
    // An entry whose file cannot be deleted stays.
    EXPECT_EQ(dir_delete(1), 0);
    EXPECT_EQ(dir_id(1), 150u);
}

}  // namespace
