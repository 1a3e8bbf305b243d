// Damaged images: truncated, longer than the chip, random bytes, wild links
// and loops, bad-block markers anywhere, and a seeded random corruption
// loop. Mounting and every operation must end with the storage's own codes,
// and nothing may be written outside the chip's pages.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "archive/objects.h"
#include "base/cp1251.h"
#include "host/device.h"
#include "host/session.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "tests/image/test_image.h"
#include "tests/support/flash_image.h"
#include "tests/support/support.h"

namespace {

constexpr u32 STRIDE = 2112;

ImageSpec small_archive()
{
    ImageSpec spec;
    spec.objects = 4;
    spec.files_per_object = 6;
    spec.file_size = 5000;
    spec.routes = 2;
    spec.seed = 7;
    return spec;
}

// Mounts and runs every kind of operation over whatever the directory holds.
void exercise()
{
    ASSERT_EQ(fs_init(), FS_OK);
    ASSERT_EQ(fs_mount(), FS_OK);
    obj_after_mount();
    static u8 buffer[32 * 2048];
    const u32 n = dir_count();
    for (u32 i = 0; i < n; ++i) {
        const int index = static_cast<int>(i);
        FileHandle h;
        const int r = fs_open(&h, dir_id(index), FS_READ);
        EXPECT_TRUE(r == 1 || r == -3 || r == -4 || r == -7 || r == -8 || r == -9) << r;
        if (r == 1) {
            const u32 want = h.pages > 32 ? 32 * 2048 : h.pages * 2048u;
            EXPECT_LE(fs_read(&h, buffer, 0, want), want);
            fs_close(&h);
        }
        char name[OBJ_NAME_SIZE];
        if (dir_type(index) == FILE_TYPE_OBJECT) obj_get_name(index, name);
        dir_depth(index);
        dir_has_children(index);
    }
    const u32 made = obj_create("Новый"_cp);
    if (made != 0) {
        FileHandle h;
        if (fs_create(&h, FILE_TYPE_VIBROMETER, made, 0, 6000) == FS_OK) {
            std::vector<u8> data(6000, 0x3C);
            EXPECT_EQ(fs_write(&h, data.data(), 0, 6000), 6000u);
            EXPECT_EQ(fs_close(&h), FS_OK);
            std::vector<u8> back(6000);
            FileHandle r;
            ASSERT_EQ(fs_open(&r, h.first, FS_READ), FS_OK);
            EXPECT_EQ(fs_read(&r, back.data(), 0, 6000), 6000u);
            EXPECT_EQ(back, data);
        }
    }
    for (int k = 0; k < 3 && dir_count() > 0; ++k) {
        const int at = static_cast<int>(dir_count() / 2);
        if (dir_type(at) == FILE_TYPE_OBJECT)
            obj_delete(at);
        else
            dir_delete(at);
    }
    EXPECT_LE(fs_free_bytes(), fs_total_bytes());
    ASSERT_EQ(fs_mount(), FS_OK);
}

class Damaged : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("flash.dat");
    void SetUp() override { ASSERT_EQ(image_build(path.c_str(), small_archive()), 4 + 24 + 2); }
};

TEST_F(Damaged, TruncatedImageIsLengthenedToTheChip)
{
    // Cut inside the data of the second object's files.
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(80 * STRIDE + 1000)), 0);
    FlashFile flash(path);
    exercise();
    // Lengthened in 1024-byte pieces from the cut, as far as the last
    // header read, never past the chip.
    EXPECT_LE(flash.size(), FLASH_FILE_SIZE);
    EXPECT_GE(flash.size(), flash_offset(131071, 2065));
    EXPECT_EQ((flash.size() - (80 * STRIDE + 1000)) % 1024, 0u);
    // The files wholly before the cut are still there.
    EXPECT_GE(dir_count(), 3u);
}

TEST_F(Damaged, BytesBeyondTheChipAreNeverTouched)
{
    const std::vector<u8> tail(5000, 0x5A);
    {
        FlashFile flash(path);
        flash.write(FLASH_FILE_SIZE, tail);
        exercise();
        ASSERT_EQ(fs_format(), FS_OK);
        ASSERT_EQ(fs_mount(), FS_OK);
        EXPECT_EQ(flash.size(), FLASH_FILE_SIZE + tail.size());
        EXPECT_EQ(flash.read(FLASH_FILE_SIZE, tail.size()), tail);
    }
}

TEST_F(Damaged, RandomBytesWildLinksAndBadMarkers)
{
    FlashFile flash(path);
    rand_seed(1234);
    // Random spare areas over block 1..3, random whole pages in block 4.
    for (u32 p = 64; p < 256; ++p) {
        std::vector<u8> spare(64);
        for (u8& b : spare) b = static_cast<u8>(rand_next());
        spare[0] = 0xFF;  // keep most markers good so the headers count
        if (p % 17 == 0) spare[0] = static_cast<u8>(rand_next());
        flash.write(flash_offset(p, 2048), spare);
    }
    std::vector<u8> junk(64 * STRIDE);
    for (u8& b : junk) b = static_cast<u8>(rand_next());
    flash.write(flash_offset(256, 0), junk);
    // Heads with links into each other, to themselves, beyond the chip.
    struct Wild {
        u32 page, next, parent;
        u8 state;
    } wild[] = {{400, 401, 0, 254},    {401, 400, 400, 252},  {402, 402, 0, 254},        {403, 0xFFFFFFFF, 0, 240},
                {404, 131071, 0, 254}, {405, 64, 12345, 254}, {406, 0x7FFFFFFF, 0, 254}, {407, 406, 0x40000, 254}};
    for (const Wild& w : wild) {
        std::vector<u8> h(16, 0xFF);
        h[0] = w.state;
        h[7] = 9;
        std::memcpy(&h[8], &w.next, 4);
        std::memcpy(&h[12], &w.parent, 4);
        flash.write(flash_offset(w.page, 2049), h);
    }
    // Bad markers inside files and in the middle of the chip.
    flash.write_byte(flash_offset(70, 2048), 0x00);
    flash.write_byte(flash_offset(90000, 2048), 0x7F);
    exercise();
    EXPECT_EQ(flash.size(), FLASH_FILE_SIZE);
    EXPECT_EQ(pt_state(fs_table(90000)), PAGE_BAD);
}

TEST_F(Damaged, SeededRandomCorruption)
{
    FlashFile flash(path);
    // The archive lives in the first blocks; each round starts from it.
    const u64 region = 16ull * 64 * STRIDE;
    const std::vector<u8> pristine = flash.read(0, region);
    rand_seed(20240601);
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        flash.write(0, pristine);
        const int hits = 20 + rand_next() % 200;
        for (int k = 0; k < hits; ++k) {
            const u32 page = 64 + static_cast<u32>(rand_next()) % 256;
            // Mostly page headers and markers, sometimes data.
            const u32 column =
                rand_next() % 4 == 0 ? static_cast<u32>(rand_next()) % 2048 : 2048 + static_cast<u32>(rand_next()) % 20;
            flash.write_byte(flash_offset(page, column), static_cast<u8>(rand_next()));
        }
        exercise();
        EXPECT_EQ(flash.size(), FLASH_FILE_SIZE);
    }
}

}  // namespace
