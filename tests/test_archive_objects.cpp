// Objects of the archive: creation in name order, names, renaming,
// deletion with their measurements, and the current object after mount.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/objects.h"
#include "base/cp1251.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "tests/support/flash_image.h"

namespace {

class Objects : public ::testing::Test, public MountedFlash {
protected:
    u32 measurement(u32 object, u32 stamp)
    {
        FileHandle h;
        EXPECT_EQ(fs_create(&h, FILE_TYPE_VIBROMETER, object, 0, 3000, &stamp), FS_OK);
        EXPECT_EQ(fs_close(&h), FS_OK);
        EXPECT_EQ(dir_insert_after(dir_find_id(object), h.first, stamp, object, FILE_TYPE_VIBROMETER, 0), DIR_OK);
        return h.first;
    }
    std::string name_at(int index)
    {
        char name[OBJ_NAME_SIZE];
        if (!obj_get_name(index, name)) return "<unreadable>";
        return name;
    }
    std::vector<u32> ids() const
    {
        std::vector<u32> v;
        for (u32 i = 0; i < dir_count(); ++i) v.push_back(dir_id(static_cast<int>(i)));
        return v;
    }
};

TEST_F(Objects, EmptyArchiveGetsOneCurrentObjectStoredOnFlash)
{
    EXPECT_EQ(obj_after_mount(), OBJ_CHOSEN);
    ASSERT_EQ(dir_count(), 1u);
    const u32 id = dir_id(0);
    EXPECT_EQ(id, 64u);
    EXPECT_EQ(settings_current_object(), id);
    EXPECT_EQ(name_at(0), std::string("Объект"_cp));
    // On the image: a head of type 9, parent 0, and the 200-byte record.
    const std::vector<u8> hd = flash->read(flash_offset(id, 2049), 16);
    EXPECT_EQ(hd[0], 254);
    EXPECT_EQ(hd[6], 0);
    EXPECT_EQ(hd[7], 9);
    EXPECT_EQ(std::vector<u8>(hd.begin() + 8, hd.end()), (std::vector<u8>{0xFF, 0xFF, 0x0F, 0, 0, 0, 0, 0}));
    const std::vector<u8> rec = flash->read(flash_offset(id, 0), 200);
    const char* expect = "Объект"_cp;
    EXPECT_EQ(std::memcmp(rec.data(), expect, 7), 0);
    for (size_t i = 6; i < 198; ++i) ASSERT_EQ(rec[i], 0) << i;
    EXPECT_EQ(rec[198] | (rec[199] << 8), reference_checksum(rec.data(), 200, 198));
    // Mounting again keeps the one object.
    remount();
    EXPECT_EQ(obj_after_mount(), OBJ_OK);
    EXPECT_EQ(ids(), std::vector<u32>{id});
}

TEST_F(Objects, CreateInsertsInNameOrder)
{
    const u32 a = obj_create("А"_cp);
    const u32 v = obj_create("В"_cp);
    const u32 a1 = measurement(a, 100);
    ASSERT_EQ(dir_append(99999, 5, 0, FILE_TYPE_ROUTE, 0), DIR_OK);
    const u32 b = obj_create("Б"_cp);
    EXPECT_EQ(ids(), (std::vector<u32>{a, a1, b, v, 99999}));
    const u32 z = obj_create("Я"_cp);  // after all objects: appended
    EXPECT_EQ(ids(), (std::vector<u32>{a, a1, b, v, 99999, z}));
    EXPECT_EQ(obj_find_by_name("Б"_cp), b);
    EXPECT_EQ(obj_find_by_name("Ю"_cp), 0u);
    EXPECT_EQ(obj_name_taken("В"_cp, -1), OBJ_NAME_TAKEN);
    EXPECT_EQ(obj_name_taken("В"_cp, dir_find_id(v)), OBJ_NAME_FREE);
    EXPECT_EQ(obj_name_taken("Г"_cp, -1), OBJ_NAME_FREE);
}

TEST_F(Objects, FirstObjectGoesBeforeRoutes)
{
    ASSERT_EQ(dir_append(99999, 5, 0, FILE_TYPE_ROUTE, 0), DIR_OK);
    const u32 a = obj_create("А"_cp);
    EXPECT_EQ(ids(), (std::vector<u32>{a, 99999}));
}

TEST_F(Objects, RenameRewritesTheRecord)
{
    const u32 a = obj_create("Насос"_cp);
    obj_create("Вентилятор"_cp);
    const int at = dir_find_id(a);
    EXPECT_EQ(obj_name_taken("Насос"_cp, at), OBJ_NAME_FREE);  // its own name is allowed
    EXPECT_EQ(obj_name_taken("Вентилятор"_cp, at), OBJ_NAME_TAKEN);
    ASSERT_EQ(obj_rename(at, "Нас"_cp), OBJ_OK);
    EXPECT_EQ(name_at(at), std::string("Нас"_cp));
    // Bytes after the new terminator keep the old name's tail.
    const std::vector<u8> rec = flash->read(flash_offset(a, 0), 200);
    EXPECT_EQ(rec[3], 0);
    EXPECT_EQ(rec[4], static_cast<u8>("Насос"_cp[4]));
    EXPECT_EQ(rec[198] | (rec[199] << 8), reference_checksum(rec.data(), 200, 198));
    // A damaged record is rebuilt from zeros.
    flash->write_byte(flash_offset(a, 10), 0x77);
    remount();
    const int again = dir_find_id(a);
    storage_error_flags = 0;
    EXPECT_EQ(name_at(again), "<unreadable>");
    EXPECT_EQ(storage_error_flags, STORAGE_ERR_READ);
    ASSERT_EQ(obj_rename(again, "Мотор"_cp), OBJ_OK);
    EXPECT_EQ(name_at(again), std::string("Мотор"_cp));
    const std::vector<u8> fixed = flash->read(flash_offset(a, 0), 200);
    for (size_t i = 5; i < 198; ++i) ASSERT_EQ(fixed[i], 0) << i;
    EXPECT_EQ(obj_rename(-1, "x"), OBJ_FAILED);
}

TEST_F(Objects, DeletingAnObjectRemovesItAndItsMeasurements)
{
    const u32 a = obj_create("А"_cp);
    const u32 b = obj_create("Б"_cp);
    const u32 m[3] = {measurement(a, 10), measurement(a, 20), measurement(a, 30)};
    const u32 other = measurement(b, 40);
    ASSERT_EQ(dir_count(), 6u);
    EXPECT_EQ(obj_delete(dir_find_id(b) + 1), OBJ_FAILED);  // not an object
    ASSERT_EQ(obj_delete(dir_find_id(a)), OBJ_OK);
    EXPECT_EQ(ids(), (std::vector<u32>{b, other}));
    EXPECT_EQ(flash->byte_at(flash_offset(a, 2049)), 0);
    for (u32 id : m) {
        EXPECT_EQ(flash->byte_at(flash_offset(id, 2049)), 0);
        EXPECT_EQ(flash->byte_at(flash_offset(id + 1, 2049)), 0);
    }
    remount();
    EXPECT_EQ(ids(), (std::vector<u32>{b, other}));
}

TEST_F(Objects, UndeletableMeasurementIsPassedOverAndReported)
{
    const u32 a = obj_create("А"_cp);
    const u32 m1 = measurement(a, 10);
    const u32 m2 = measurement(a, 20);
    const u32 m3 = measurement(a, 30);
    // m2's head no longer reads as a head.
    flash->write_byte(flash_offset(m2, 2049), 0x00);
    PageHeader h;
    fs_read_header(m2, &h);
    storage_error_flags = 0;
    EXPECT_EQ(obj_delete_measurements(dir_find_id(a)), OBJ_SOME_LEFT);
    EXPECT_EQ(ids(), (std::vector<u32>{a, m2}));
    EXPECT_EQ(storage_error_flags & STORAGE_ERR_WRITE, STORAGE_ERR_WRITE);
    EXPECT_EQ(obj_delete(0), OBJ_FAILED);
    EXPECT_EQ(ids(), (std::vector<u32>{a, m2}));
    (void)m1;
    (void)m3;
}

TEST_F(Objects, CurrentObjectIsKeptOrReplaced)
{
    const u32 a = obj_create("А"_cp);
    const u32 b = obj_create("Б"_cp);
    const u32 m = measurement(b, 10);
    settings_set_current_object(b);
    EXPECT_EQ(obj_after_mount(), OBJ_OK);
    EXPECT_EQ(settings_current_object(), b);
    EXPECT_EQ(obj_select(a), OBJ_OK);
    EXPECT_EQ(settings_current_object(), a);
    EXPECT_EQ(obj_select(m), OBJ_FAILED);
    EXPECT_EQ(obj_select(123456), OBJ_FAILED);
    EXPECT_EQ(settings_current_object(), a);
    // A current id that now names a measurement, or nothing: the first object.
    for (u32 stale : {m, 777u}) {
        settings_set_current_object(stale);
        EXPECT_EQ(obj_ensure_current(), OBJ_CHOSEN);
        EXPECT_EQ(settings_current_object(), a);
    }
    ASSERT_EQ(obj_delete(dir_find_id(a)), OBJ_OK);
    EXPECT_EQ(obj_after_mount(), OBJ_CHOSEN);
    EXPECT_EQ(settings_current_object(), b);
}

TEST_F(Objects, FullDirectoryRefusesANewObjectWithoutTouchingFlash)
{
    for (u32 i = 0; dir_count() < DIR_CAPACITY; ++i) ASSERT_EQ(dir_append(200000 + i, 1, 0, 19, 0), DIR_OK);
    EXPECT_EQ(obj_create("А"_cp), 0u);
    EXPECT_EQ(flash->byte_at(flash_offset(64, 2049)), 0xFF);
}

}  // namespace
