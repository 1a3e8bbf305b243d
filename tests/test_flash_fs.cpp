// Flash file system on an image: space, creation, chains, reads, writes,
// close, delete and rebuild, open errors, format.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tests/support/flash_image.h"

namespace {

std::vector<u8> pattern(size_t n, u8 seed)
{
    std::vector<u8> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<u8>(seed + i * 13 + (i >> 8));
    return v;
}

// Writes a 16-byte page header straight into the image.
void put_header(const FlashFile& f, u32 page, u8 state, u32 next, u32 parent, u8 type = 19)
{
    std::vector<u8> h(16, 0xFF);
    h[0] = state;
    std::memset(&h[1], 0x10, 4);
    h[6] = 0;
    h[7] = type;
    std::memcpy(&h[8], &next, 4);
    std::memcpy(&h[12], &parent, 4);
    f.write(flash_offset(page, 2049), h);
}

class Fs : public ::testing::Test, public MountedFlash {};

TEST_F(Fs, EmptyImageMountsEmptyWithAllSpaceFree)
{
    EXPECT_EQ(flash->size(), 276824064u);
    EXPECT_EQ(dir_count(), 0u);
    EXPECT_EQ(fs_free_bytes(), 268304384u);
    EXPECT_EQ(fs_total_bytes(), 268304384u);
    EXPECT_EQ(fs_state.free, 131008u);
    EXPECT_EQ(+fs_state.first_page, 64u);
    EXPECT_EQ(fs_state.end_page, 131072u);
}

TEST_F(Fs, CreateAllocatesWholePagesAndWritesTheHeadHeader)
{
    struct Case {
        u32 size;
        u16 pages;
    } cases[] = {{0, 1}, {2048, 1}, {2049, 2}, {10000, 5}};
    u32 expected_first = 64;
    for (const Case& c : cases) {
        FileHandle h;
        const u32 stamp = 123456789;
        ASSERT_EQ(fs_create(&h, 19, 0x12345, 7, c.size, &stamp), FS_OK) << c.size;
        EXPECT_EQ(+h.pages, c.pages) << c.size;
        EXPECT_EQ(+h.first, expected_first);
        EXPECT_EQ(+h.mode, 7);
        EXPECT_EQ(+h.stamp, stamp);
        expected_first += c.pages;
    }
    fs_count_pages();
    EXPECT_EQ(fs_state.used, 4u);
    EXPECT_EQ(fs_state.chained, 1u + 4u);
    // The last file (pages 68..72) on the image: head 254, stamp, FF, attr,
    // type, next = 69, parent; body 252 ... next 70, previous 68.
    const std::vector<u8> hd = flash->read(flash_offset(68, 2049), 16);
    EXPECT_EQ(hd, (std::vector<u8>{254, 0x15, 0xCD, 0x5B, 0x07, 0xFF, 7, 19, 69, 0, 0, 0, 0x45, 0x23, 0x01, 0}));
    const std::vector<u8> body = flash->read(flash_offset(69, 2049), 16);
    EXPECT_EQ(body, (std::vector<u8>{252, 0x15, 0xCD, 0x5B, 0x07, 0xFF, 7, 19, 70, 0, 0, 0, 68, 0, 0, 0}));
    const std::vector<u8> last = flash->read(flash_offset(72, 2049), 16);
    EXPECT_EQ(last, (std::vector<u8>{252, 0x15, 0xCD, 0x5B, 0x07, 0xFF, 7, 19, 0xFF, 0xFF, 0x0F, 0, 71, 0, 0, 0}));
}

TEST_F(Fs, CloseMarksTheLastPageOnlyOfLongerFiles)
{
    FileHandle one, two;
    ASSERT_EQ(fs_create(&one, 19, 0, 0, 10), FS_OK);
    ASSERT_EQ(fs_create(&two, 19, 0, 0, 4000), FS_OK);
    EXPECT_EQ(fs_close(&one), FS_OK);
    EXPECT_EQ(fs_close(&two), FS_OK);
    EXPECT_EQ(flash->byte_at(flash_offset(one.first, 2049)), 254);
    EXPECT_EQ(flash->byte_at(flash_offset(two.first, 2049)), 254);
    EXPECT_EQ(flash->byte_at(flash_offset(two.first + 1, 2049)), 248);
    EXPECT_EQ(fs_close(&two), FS_OK);  // already closed
    remount();
    FileHandle again;
    ASSERT_EQ(fs_open(&again, two.first, FS_READ), FS_OK);
    EXPECT_EQ(+again.pages, 2);
}

TEST_F(Fs, ChainReadsAndWritesAcrossPages)
{
    FileHandle h;
    ASSERT_EQ(fs_create(&h, 0, 0, 0, 4096), FS_OK);
    const std::vector<u8> data = pattern(4096, 3);
    ASSERT_EQ(fs_write(&h, data.data(), 0, 4096), 4096u);
    ASSERT_EQ(fs_close(&h), FS_OK);
    // The bytes lie in the data areas of the two pages.
    EXPECT_EQ(flash->read(flash_offset(h.first, 0), 2048), std::vector<u8>(data.begin(), data.begin() + 2048));
    EXPECT_EQ(flash->read(flash_offset(h.first + 1, 0), 2048), std::vector<u8>(data.begin() + 2048, data.end()));

    FileHandle r;
    ASSERT_EQ(fs_open(&r, h.first, FS_READ), FS_OK);
    struct Case {
        u32 offset, length, moved;
    } cases[] = {
        {2000, 100, 100},                // 48 bytes from the first page, 52 from the second
        {4000, 500, 96},                 // cut at the end of the last page
        {0, 4096, 4096},  {4096, 1, 0},  // starts beyond the file
        {5000, 10, 0},    {10, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<u8> buf(c.length + 1, 0xEE);
        EXPECT_EQ(fs_read(&r, buf.data(), c.offset, c.length), c.moved) << c.offset;
        for (u32 i = 0; i < c.moved; ++i) ASSERT_EQ(buf[i], data[c.offset + i]) << c.offset << "+" << i;
        EXPECT_EQ(buf[c.moved], 0xEE);
    }
    // Without the read bit nothing is read.
    FileHandle w;
    ASSERT_EQ(fs_open(&w, h.first, FS_WRITE), FS_OK);
    u8 b;
    EXPECT_EQ(fs_read(&w, &b, 0, 1), 0u);
}

TEST_F(Fs, WriteGrowsTheFileAndRewritesBytes)
{
    FileHandle h;
    ASSERT_EQ(fs_create(&h, 0, 0, 0, 0), FS_OK);
    const std::vector<u8> data = pattern(5000, 9);
    ASSERT_EQ(fs_write(&h, data.data(), 0, 5000), 5000u);
    EXPECT_EQ(+h.pages, 3);
    // Rewriting written bytes (a block rewrite) keeps the others.
    const u8 patch[3] = {1, 2, 3};
    ASSERT_EQ(fs_write(&h, patch, 2047, 3), 3u);
    ASSERT_EQ(fs_close(&h), FS_OK);
    std::vector<u8> expect = data;
    expect[2047] = 1;
    expect[2048] = 2;
    expect[2049] = 3;
    FileHandle r;
    ASSERT_EQ(fs_open(&r, h.first, FS_READ), FS_OK);
    std::vector<u8> back(5000);
    ASSERT_EQ(fs_read(&r, back.data(), 0, 5000), 5000u);
    EXPECT_EQ(back, expect);
    // A handle without the grow bit cannot write beyond its pages.
    FileHandle fixed;
    ASSERT_EQ(fs_open(&fixed, h.first, FS_READ | FS_WRITE), FS_OK);
    EXPECT_EQ(fs_write(&fixed, patch, 6143, 3), 0u);
    EXPECT_EQ(fs_write(&r, patch, 0, 1), 0u);  // no write bit
}

TEST_F(Fs, OpenReportsEveryBrokenChain)
{
    // Hand-made chains in block 10 (pages 640...).
    put_header(*flash, 640, 254, 0x30000, 0);  // head link beyond the chip
    put_header(*flash, 641, 254, 642, 0);
    put_header(*flash, 642, 254, FS_LINK_NONE, 0);  // later page is a head
    put_header(*flash, 643, 254, 644, 0);
    put_header(*flash, 644, 252, 0x20000, 643);  // later link beyond the chip
    put_header(*flash, 645, 254, 646, 0);
    put_header(*flash, 646, 252, 647, 645);
    put_header(*flash, 647, 252, 646, 646);           // a loop: 646 names 645 before it, not 647
    put_header(*flash, 648, 240, 649, 0);             // alternative head state
    put_header(*flash, 649, 252, FS_LINK_NONE, 648);  // last page still open
    put_header(*flash, 650, 254, 651, 0);             // chain ends early
    remount();
    struct Case {
        u32 page;
        u8 mode;
        int result;
    } cases[] = {{640, FS_READ, -4}, {641, FS_READ, -7},    {643, FS_READ, -8}, {645, FS_READ, -7},
                 {648, FS_READ, 1},  {650, FS_READ, -7},    {649, FS_READ, -3}, {0, FS_READ, -3},
                 {648, 0, -1},       {0x40000, FS_READ, -3}};
    for (const Case& c : cases) {
        FileHandle h;
        EXPECT_EQ(fs_open(&h, c.page, c.mode), c.result) << c.page;
    }
    // Deleting the loop ends, and marks the pages it counted.
    EXPECT_EQ(fs_delete(645), FS_OK);
    EXPECT_EQ(flash->byte_at(flash_offset(645, 2049)), 0);
    EXPECT_EQ(flash->byte_at(flash_offset(646, 2049)), 0);
    EXPECT_EQ(flash->byte_at(flash_offset(647, 2049)), 0);
    EXPECT_EQ(fs_delete(649), 0);  // not a head
    EXPECT_EQ(fs_delete(0), 0);
}

TEST_F(Fs, DeletedPagesAreReclaimedByTheRebuild)
{
    FileHandle a, b, c;
    ASSERT_EQ(fs_create(&a, 0, 0, 0, 65535u * 2048), FS_OK);
    ASSERT_EQ(fs_create(&b, 0, 0, 0, (131008u - 65535) * 2048), FS_OK);
    EXPECT_EQ(fs_free_bytes(), 0u);
    EXPECT_EQ(fs_create(&c, 0, 0, 0, 1), -2);
    ASSERT_EQ(fs_delete(a.first), FS_OK);
    EXPECT_EQ(fs_free_bytes(), 65535u * 2048);
    EXPECT_EQ(fs_state.deleted, 65535u);
    testing::internal::CaptureStdout();
    ASSERT_EQ(fs_create(&c, 0, 0, 0, 3000), FS_OK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "запускаю ребилд блоков\n");
    EXPECT_EQ(+c.first, 64u);
    EXPECT_EQ(+c.pages, 2);
    fs_count_pages();
    EXPECT_EQ(fs_state.deleted, 0u);
    EXPECT_EQ(fs_state.free, 65533u);
    // The other file survived the rewrites of the blocks it shares.
    FileHandle r;
    EXPECT_EQ(fs_open(&r, b.first, FS_READ), FS_OK);
    EXPECT_EQ(+r.pages, 131008 - 65535);
}

TEST_F(Fs, BadMarkerKeepsItsBlockOutOfUse)
{
    flash->write_byte(flash_offset(64 + 5, 2048), 0x00);
    remount();
    fs_count_pages();
    EXPECT_EQ(fs_state.bad, 64u);
    FileHandle h;
    ASSERT_EQ(fs_create(&h, 0, 0, 0, 100), FS_OK);
    EXPECT_EQ(+h.first, 128u);
    EXPECT_EQ(fs_free_bytes(), 268304384u - 65u * 2048);
}

TEST_F(Fs, FormatEmptiesTheChip)
{
    FileHandle h;
    ASSERT_EQ(fs_create(&h, 0, 0, 0, 9000), FS_OK);
    flash->write_byte(flash_offset(200, 2048), 0x00);  // block 3 is bad
    ASSERT_EQ(fs_format(), FS_OK);
    ASSERT_EQ(fs_mount(), FS_OK);
    EXPECT_EQ(dir_count(), 0u);
    EXPECT_EQ(fs_state.bad, 64u);
    EXPECT_EQ(fs_free_bytes(), 268304384u - 64u * 2048);
    EXPECT_EQ(flash->byte_at(flash_offset(64, 2049)), 0xFF);
    EXPECT_EQ(flash->byte_at(flash_offset(200, 2048)), 0x00);
}

TEST(FsUnmounted, EverythingRefusesBeforeTheMount)
{
    fs_init();  // no file: not ready
    FileHandle h{};
    u8 b = 0;
    EXPECT_EQ(fs_create(&h, 0, 0, 0, 10), -1);
    EXPECT_EQ(fs_open(&h, 64, FS_READ), 0);
    EXPECT_EQ(fs_read(&h, &b, 0, 1), 0u);
    EXPECT_EQ(fs_write(&h, &b, 0, 1), 0u);
    EXPECT_EQ(fs_close(&h), 0);
    EXPECT_EQ(fs_delete(64), 0);
    EXPECT_EQ(fs_free_bytes(), 0u);
    EXPECT_EQ(fs_total_bytes(), 0u);
    EXPECT_EQ(fs_mount(), 0);
    EXPECT_EQ(fs_dir_reset(), 0);
}

}  // namespace
