// NAND device on flash.dat: identification, raw access and lengthening,
// NAND programming rules, erase, block access and purge.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "host/session.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "storage/nand_internal.h"
#include "tests/support/flash_image.h"
#include "tests/support/support.h"

namespace {

struct ChipCase {
    u8 id[5];
    u32 page, spare, ppb, blocks;
    u16 marker, status;
    const char* printed;
};

class ChipId : public ::testing::TestWithParam<ChipCase> {
protected:
    void TearDown() override { std::memcpy(nand_chip_id, NAND_EMULATED_ID, 5); }
};

TEST_P(ChipId, DecodesGeometryAndPrintsItsLine)
{
    const ChipCase& c = GetParam();
    TempDir dir;
    FlashFile flash(dir.file("flash.dat"));
    std::memcpy(nand_chip_id, c.id, 5);
    testing::internal::CaptureStdout();
    const int need = nand_init();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_EQ(nand_info.page_size, c.page);
    EXPECT_EQ(nand_info.spare_size, c.spare);
    EXPECT_EQ(nand_info.pages_per_block, c.ppb);
    EXPECT_EQ(nand_info.block_count, c.blocks);
    EXPECT_EQ(nand_info.total_pages, c.blocks * c.ppb);
    EXPECT_EQ(nand_info.block_bytes, c.page * c.ppb);
    EXPECT_EQ(nand_info.marker_column, c.marker);
    EXPECT_EQ(nand_info.status_column, c.status);
    EXPECT_EQ(nand_info.cached_block, -1);
    EXPECT_EQ(need, static_cast<int>(c.blocks * c.ppb * 4 + c.page * c.ppb + c.ppb * c.spare));
}

INSTANTIATE_TEST_SUITE_P(Table, ChipId,
                         ::testing::Values(
                             // The emulated chip.
                             ChipCase{{0xEC, 0xDA, 0x10, 0x95, 0x44}, 2048, 64, 64, 2048, 2048, 2049, ""},
                             ChipCase{
                                 {0x20, 0xAA, 0x00, 0x15, 0x44}, 2048, 64, 64, 2048, 2048, 2049, "NAND02GR3B2D \n"},
                             ChipCase{{0xEC, 0x76, 0xA5, 0x00, 0x00}, 512, 16, 32, 4096, 517, 512, "K9F1208U0M\n"},
                             ChipCase{{0xEC, 0x76, 0x5A, 0x00, 0x00}, 512, 16, 32, 4096, 517, 512, "K9F1208U0C\n"},
                             ChipCase{{0xEC, 0x76, 0x11, 0x00, 0x00}, 512, 16, 32, 4096, 517, 512, ""},
                             // Fourth byte: page 1 KiB, 8 spare bytes per 512, 64 KiB blocks.
                             ChipCase{{0xEC, 0xDA, 0x00, 0x00, 0x00}, 1024, 16, 64, 2048, 1024, 1025, ""},
                             // Page 8 KiB, 16 spare bytes per 512, 512 KiB blocks.
                             ChipCase{{0xEC, 0xDA, 0x00, 0x37, 0x00}, 8192, 256, 64, 2048, 8192, 8193, ""}));

TEST(Nand, UnknownChipOrClosedFileIsRefused)
{
    TempDir dir;
    {
        FlashFile flash(dir.file("flash.dat"));
        const u8 unknown[5] = {0x20, 0xAA, 0x00, 0x16, 0x44};
        std::memcpy(nand_chip_id, unknown, 5);
        EXPECT_EQ(nand_init(), NAND_ERR_NO_DEVICE);
        // A chip whose work area exceeds the file system's own.
        const u8 big[5] = {0xEC, 0xDA, 0x00, 0x37, 0x00};
        std::memcpy(nand_chip_id, big, 5);
        EXPECT_EQ(fs_init(), FS_INIT_AREA_TOO_SMALL);
        EXPECT_FALSE(fs_ready());
        std::memcpy(nand_chip_id, NAND_EMULATED_ID, 5);
        EXPECT_EQ(nand_init(), 659456);
        static u8 area[659456];
        EXPECT_EQ(nand_attach(area, sizeof area - 1), NAND_ERR_NO_DEVICE);
        EXPECT_EQ(nand_attach(area, sizeof area), NAND_OK);
    }
    ASSERT_EQ(flash_handle, 0);
    EXPECT_EQ(nand_present(), NAND_FAILED);
    EXPECT_EQ(nand_init(), NAND_ERR_NO_DEVICE);
    u8 b;
    EXPECT_EQ(nand_read_raw(70, &b, 0, 1), NAND_FAILED);
    EXPECT_EQ(fs_init(), FS_INIT_NO_DEVICE);
}

// A device on an empty (zero-length) image with the file system's work area.
class NandDevice : public ::testing::Test {
protected:
    TempDir dir;
    FlashFile flash{dir.file("flash.dat")};
    void SetUp() override { ASSERT_EQ(fs_init(), FS_OK); }
    // Writes the first `blocks` blocks as erased bytes.
    void erase_start(u32 blocks) { flash.write(0, std::vector<u8>(blocks * 64 * 2112, 0xFF)); }
};

TEST_F(NandDevice, ShortFileIsLengthenedWithErasedBytes)
{
    flash.write(0, {1, 2, 3});
    u8 buf[16];
    ASSERT_EQ(nand_read_raw(3, buf, 100, 16), NAND_OK);
    for (u8 v : buf) EXPECT_EQ(v, 0xFF);
    // Lengthened in 1024-byte pieces from the old end, covering the access.
    EXPECT_EQ(flash.size(), 3 + 7 * 1024u);
    EXPECT_EQ(flash.byte_at(0), 1);
    EXPECT_EQ(flash.byte_at(3), 0xFF);
    // A read that starts exactly at the end of the file still succeeds.
    const u64 end = flash.size();
    EXPECT_EQ(nand_read_raw(static_cast<u32>(end / 2112), buf, static_cast<u32>(end % 2112), 1), NAND_OK);
    EXPECT_EQ(buf[0], 0xFF);
}

TEST_F(NandDevice, LengtheningStopsAtTheEndOfTheChip)
{
    // A file whose end lies a few bytes before the last page's marker.
    const u64 last_marker = flash_offset(131071, 2048);
    flash.write(last_marker - 5, {0xFF});
    EXPECT_EQ(nand_read_marker(131071), 0xFF);
    EXPECT_EQ(flash.size(), FLASH_FILE_SIZE);
    u8 b = 0;
    EXPECT_EQ(nand_read_raw(131072, &b, 0, 1), NAND_FAILED);
    EXPECT_EQ(nand_write_raw(131072, &b, 0, 1), NAND_FAILED);
    EXPECT_EQ(nand_write_raw(5, &b, 2112, 1), NAND_FAILED);
    EXPECT_EQ(flash.size(), FLASH_FILE_SIZE);
}

int g_changed_told = 0;

TEST_F(NandDevice, AnImageCutShortUnderItIsWrittenNoMore)
{
    erase_start(4);
    u8 b = 0;
    ASSERT_EQ(nand_read_raw(255, &b, 0, 1), NAND_OK);  // the file is known to reach block 3
    const u8 bytes[3] = {1, 2, 3};
    ASSERT_EQ(nand_write_raw(10, bytes, 0, 3), NAND_OK);
    EXPECT_FALSE(nand_image_changed());

    g_changed_told = 0;
    nand_set_changed_hook([] { ++g_changed_told; });
    // Another program cuts the file short; each way of writing that the file
    // system uses finds it so.
    const struct {
        const char* name;
        int (*write)(const u8* bytes);
    } ways[] = {
        {"program", [](const u8* b) { return nand_program(20, b, 0, 3); }},
        {"erase", [](const u8*) { return nand_erase_block(1, 1); }},
        {"purge", [](const u8*) { return nand_purge_block(2); }},
    };
    for (const auto& w : ways) {
        nand_reset();
        ASSERT_EQ(fs_init(), FS_OK);
        erase_start(4);
        ASSERT_EQ(nand_read_raw(255, &b, 0, 1), NAND_OK);
        g_changed_told = 0;
        nand_set_changed_hook([] { ++g_changed_told; });
        ASSERT_EQ(truncate(dir.file("flash.dat").c_str(), 1000), 0);
        EXPECT_LT(w.write(bytes), 0) << w.name;
        EXPECT_TRUE(nand_image_changed()) << w.name;
        // Nothing more reaches the file, by any way of writing.
        EXPECT_EQ(nand_write_raw(0, bytes, 0, 3), NAND_FAILED) << w.name;
        EXPECT_LT(nand_program(30, bytes, 0, 3), 0) << w.name;
        EXPECT_LT(nand_erase_block(3, 1), 0) << w.name;
        EXPECT_EQ(flash.size(), 1000u) << w.name;
        EXPECT_EQ(g_changed_told, 1) << w.name;  // told once
        nand_set_changed_hook(nullptr);
    }
    nand_set_changed_hook(nullptr);

    // Power-on forgets it.
    nand_reset();
    ASSERT_EQ(fs_init(), FS_OK);
    EXPECT_FALSE(nand_image_changed());
    EXPECT_EQ(nand_write_raw(0, bytes, 0, 3), NAND_OK);
}

TEST_F(NandDevice, PageAndColumnAddressTheFile)
{
    EXPECT_EQ(nand_file_offset(1000, 2049), 2114049u);
    const u8 bytes[3] = {0x11, 0x22, 0x33};
    ASSERT_EQ(nand_write_raw(1000, bytes, 2049, 3), NAND_OK);
    EXPECT_EQ(flash.read(2114049, 3), (std::vector<u8>{0x11, 0x22, 0x33}));
    u8 back[3];
    EXPECT_EQ(nand_read_page(1000, back, 2049, 3), 3);
    EXPECT_EQ(std::memcmp(back, bytes, 3), 0);
}

// Whether a program rewrote the whole block is seen on a byte of another
// page that was changed behind the cache's back: a rewrite puts the cached
// value back.
class Programming : public NandDevice {
protected:
    static constexpr u32 PAGE = 130;  // block 2, page 2
    static constexpr u64 WITNESS = flash_offset(129, 10);
    void SetUp() override
    {
        NandDevice::SetUp();
        ASSERT_EQ(nand_load_block(2), NAND_OK);
        flash.write_byte(WITNESS, 0x5A);
    }
    bool rewritten() const { return flash.byte_at(WITNESS) == 0xFF; }
};

TEST_F(Programming, DataBytesProgramOnceThenNeedARewrite)
{
    const u8 data[4] = {1, 2, 3, 4};
    ASSERT_EQ(nand_program(PAGE, data, 100, 4), 4);
    EXPECT_FALSE(rewritten());
    EXPECT_EQ(flash.read(flash_offset(PAGE, 100), 4), (std::vector<u8>{1, 2, 3, 4}));
    // The same values again: the bytes are no longer erased.
    ASSERT_EQ(nand_program(PAGE, data, 100, 4), 4);
    EXPECT_TRUE(rewritten());
    EXPECT_EQ(flash.read(flash_offset(PAGE, 100), 4), (std::vector<u8>{1, 2, 3, 4}));
    EXPECT_EQ(nand_info.cached_block, 2);
}

TEST_F(Programming, SpareBytesFollowTheBitRule)
{
    const u8 fe = 0xFE, fc = 0xFC, f8 = 0xF8;
    ASSERT_EQ(nand_program(PAGE, &fe, 2060, 1), 1);
    ASSERT_EQ(nand_program(PAGE, &fc, 2060, 1), 1);  // FE -> FC only clears a bit
    EXPECT_FALSE(rewritten());
    ASSERT_EQ(nand_program(PAGE, &f8, 2060, 1), 1);
    EXPECT_FALSE(rewritten());
    ASSERT_EQ(nand_program(PAGE, &fc, 2060, 1), 1);  // F8 -> FC sets a bit
    EXPECT_TRUE(rewritten());
    EXPECT_EQ(flash.byte_at(flash_offset(PAGE, 2060)), 0xFC);
}

TEST_F(Programming, ColumnPlusLengthUpToTheWholePage)
{
    std::vector<u8> page(2113, 0x42);
    page[2048] = 0xFF;  // the marker stays "good"
    EXPECT_EQ(nand_program(PAGE, page.data(), 0, 2113), NAND_ERR_RANGE);
    EXPECT_EQ(nand_program(PAGE, page.data(), 1, 2112), NAND_ERR_RANGE);
    ASSERT_EQ(nand_program(PAGE, page.data(), 0, 2112), 2112);
    EXPECT_EQ(flash.read(flash_offset(PAGE, 0), 2112), std::vector<u8>(page.begin(), page.begin() + 2112));
    // The next page's bytes are untouched, in the file and in the cache.
    EXPECT_EQ(flash.byte_at(flash_offset(PAGE + 1, 0)), 0xFF);
    EXPECT_EQ(nand_info.cache_data[3 * 2048], 0xFF);
    EXPECT_EQ(nand_info.cache_spare[2 * 64 + 63], 0x42);
    EXPECT_EQ(nand_info.cache_spare[2 * 64], 0xFF);
    // Across the data/spare border again: now a rewrite.
    std::vector<u8> other(20, 0x40);
    ASSERT_EQ(nand_program(PAGE, other.data(), 2040, 20), 20);
    EXPECT_TRUE(rewritten());
    EXPECT_EQ(flash.read(flash_offset(PAGE, 2038), 24),
              (std::vector<u8>{0x42, 0x42, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40,
                               0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x42, 0x42}));
    EXPECT_EQ(flash.byte_at(flash_offset(PAGE, 2048)), 0x40);
}

TEST_F(NandDevice, EraseRespectsBadMarkersUnlessForced)
{
    erase_start(4);
    flash.write(flash_offset(200, 0), std::vector<u8>(2112, 0x00));
    flash.write_byte(flash_offset(200, 2048), 0xFF);
    nand_mark_page_bad(3 * 64 + 17);
    EXPECT_EQ(flash.byte_at(flash_offset(3 * 64 + 17, 2048)), 0x00);
    EXPECT_FALSE(nand_block_is_good(3));
    EXPECT_EQ(nand_erase_block(3, 0), NAND_ERR_BAD_BLOCK);
    EXPECT_EQ(flash.byte_at(flash_offset(200, 5)), 0x00);
    EXPECT_EQ(nand_erase_block(3, 1), NAND_OK);
    EXPECT_EQ(flash.read(flash_offset(192, 0), 64 * 2112), std::vector<u8>(64 * 2112, 0xFF));
    EXPECT_TRUE(nand_block_is_good(3));
    EXPECT_EQ(nand_mark_block_bad(3), NAND_OK);
    for (u32 k = 0; k < 64; ++k) EXPECT_EQ(nand_read_marker(192 + k), 0);
}

TEST_F(NandDevice, BlockIoCrossesPages)
{
    std::vector<u8> src(5000);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<u8>(i * 7);
    ASSERT_EQ(nand_block_io(NAND_IO_WRITE, 4, src.data(), 1000, 5000), 5000u);
    // 1048 bytes in page 256 from column 1000, 2048 in page 257, 1904 in 258.
    EXPECT_EQ(flash.read(flash_offset(256, 1000), 1048), std::vector<u8>(src.begin(), src.begin() + 1048));
    EXPECT_EQ(flash.read(flash_offset(257, 0), 2048), std::vector<u8>(src.begin() + 1048, src.begin() + 3096));
    EXPECT_EQ(flash.read(flash_offset(258, 0), 1904), std::vector<u8>(src.begin() + 3096, src.end()));
    EXPECT_EQ(flash.byte_at(flash_offset(256, 2048)), 0xFF);
    std::vector<u8> back(5000);
    ASSERT_EQ(nand_block_io(NAND_IO_READ, 4, back.data(), 1000, 5000), 5000u);
    EXPECT_EQ(back, src);
}

TEST_F(NandDevice, PurgeErasesDeadPagesOnly)
{
    erase_start(8);
    // Page 320 dead (state 0), 321 alive (state 254) with data.
    flash.write(flash_offset(320, 0), std::vector<u8>(100, 0x11));
    flash.write_byte(flash_offset(320, 2049), 0x00);
    flash.write(flash_offset(321, 0), std::vector<u8>(100, 0x22));
    flash.write_byte(flash_offset(321, 2049), 0xFE);
    EXPECT_EQ(nand_purge_block(6), 0);  // block 6 holds pages 384..447: nothing dead
    EXPECT_EQ(nand_purge_block(5), 0);  // the rewrite with no new bytes
    EXPECT_EQ(flash.read(flash_offset(320, 0), 2112), std::vector<u8>(2112, 0xFF));
    EXPECT_EQ(flash.read(flash_offset(321, 0), 100), std::vector<u8>(100, 0x22));
    EXPECT_EQ(flash.byte_at(flash_offset(321, 2049)), 0xFE);
    EXPECT_EQ(nand_purge_block(2048), NAND_ERR_RANGE);
    nand_mark_page_bad(7 * 64);
    EXPECT_EQ(nand_purge_block(7), NAND_ERR_BAD_BLOCK);
}

constexpr u32 STRIDE = 2112;

// Page k of block 2 in a copy of blocks 1..3.
u8* page_in(std::vector<u8>& blocks, u32 k)
{
    return &blocks[(64 + k) * STRIDE];
}
const u8* page_in(const std::vector<u8>& blocks, u32 k)
{
    return &blocks[(64 + k) * STRIDE];
}

// Blocks 1..3 hold patterned pages: data, a page-header state (pages whose
// number leaves 3 divided by 7 are dead), and the unused spare bytes, which a rewrite keeps as well.
class BlockRewrite : public NandDevice {
protected:
    static constexpr u32 BLOCK = 2;
    static constexpr u64 AT = flash_offset(1 * 64, 0);  // blocks 1..3
    static constexpr size_t BYTES = 3 * 64 * STRIDE;
    std::vector<u8> before;
    void SetUp() override
    {
        NandDevice::SetUp();
        erase_start(1);
        before.resize(BYTES);
        for (u32 p = 0; p < 3 * 64; ++p) {
            u8* page = &before[p * STRIDE];
            for (u32 c = 0; c < STRIDE; ++c) page[c] = static_cast<u8>(p * 131 + c * 7 + (c >> 8));
            page[2048] = 0xFF;                             // good marker
            page[2049] = (64 + p) % 7 == 3 ? 0x00 : 0xFC;  // dead or a file's page
            page[2070] = 0x5A;
        }
        flash.write(AT, before);
        ASSERT_EQ(nand_load_block(BLOCK), NAND_OK);
    }
};

struct RewriteCase {
    const char* name;
    int (*op)();
    int result;
    void (*expect)(std::vector<u8>& blocks);  // the expected pages
};

const RewriteCase REWRITES[] = {
    {"data bytes",
     [] {
         const std::vector<u8> v(16, 0x3C);
         return nand_program(130, v.data(), 100, 16);
     },
     16, [](std::vector<u8>& b) { std::memset(page_in(b, 2) + 100, 0x3C, 16); }},
    {"a spare bit set again",
     [] {
         const u8 v = 0xA5;
         return nand_program(131, &v, 2070, 1);
     },
     1, [](std::vector<u8>& b) { page_in(b, 3)[2070] = 0xA5; }},
    {"across the data and spare areas",
     [] {
         std::vector<u8> v(40, 0x11);
         v[18] = 0xFF;  // the marker column stays good
         return nand_program(190, v.data(), 2030, 40);
     },
     40,
     [](std::vector<u8>& b) {
         std::memset(page_in(b, 62) + 2030, 0x11, 40);
         page_in(b, 62)[2048] = 0xFF;
     }},
    {"purge of dead pages", [] { return nand_purge_block(2); }, 0,
     [](std::vector<u8>& b) {
         for (u32 k = 0; k < 64; ++k)
             if ((128 + k) % 7 == 3) std::memset(page_in(b, k), 0xFF, STRIDE);
     }},
};

// A rewrite leaves the file exactly as an erase of the block followed by a
// write-back of the patched cache: the expected pages, nothing else touched,
// the cache and reads through the device agreeing with the file.
TEST_F(BlockRewrite, EndsAsEraseAndWriteBackOfTheCache)
{
    for (const RewriteCase& c : REWRITES) {
        SCOPED_TRACE(c.name);
        flash.write(AT, before);
        nand_info.cached_block = -1;
        ASSERT_EQ(nand_load_block(BLOCK), NAND_OK);
        std::vector<u8> expected = before;
        c.expect(expected);
        ASSERT_NE(expected, before);
        EXPECT_EQ(c.op(), c.result);
        EXPECT_TRUE(flash.read(AT, BYTES) == expected);
        EXPECT_EQ(nand_info.cached_block, static_cast<i32>(BLOCK));
        std::vector<u8> page(STRIDE);
        for (u32 k = 0; k < 64; ++k) {
            const u8* want = page_in(expected, k);
            EXPECT_EQ(std::memcmp(nand_info.cache_data + k * 2048, want, 2048), 0) << "cache, page " << k;
            EXPECT_EQ(std::memcmp(nand_info.cache_spare + k * 64, want + 2048, 64), 0) << "cache, page " << k;
            ASSERT_EQ(nand_read_raw(128 + k, page.data(), 0, STRIDE), NAND_OK);
            EXPECT_EQ(std::memcmp(page.data(), want, STRIDE), 0) << "read, page " << k;
        }
    }
}

// A power cut after five writes of a rewrite: those pages are new, the
// others old, none blank; the failed rewrite is reported as a failed erase
// and the cache is forgotten. With the power back the rewrite completes.
TEST_F(BlockRewrite, PowerCutLeavesEveryPageOldOrNew)
{
    const RewriteCase& c = REWRITES[0];
    std::vector<u8> expected = before;
    c.expect(expected);
    nand_cut_power_at(nand_writes_made() + 5);
    testing::internal::CaptureStdout();
    const int r = c.op();
    const std::string printed = testing::internal::GetCapturedStdout();
    nand_restore_power();
    EXPECT_EQ(r, NAND_ERR_ERASE);
    EXPECT_EQ(printed, "помечаю плохой блок: 2\n");
    EXPECT_EQ(nand_info.cached_block, -1);
    const std::vector<u8> after = flash.read(AT, BYTES);
    for (u32 k = 0; k < 64; ++k) {
        const std::vector<u8>& want = k < 5 ? expected : before;
        EXPECT_EQ(std::memcmp(page_in(after, k), page_in(want, k), STRIDE), 0) << "page " << k;
    }
    EXPECT_TRUE(nand_block_is_good(BLOCK));
    EXPECT_EQ(c.op(), c.result);
    EXPECT_TRUE(flash.read(AT, BYTES) == expected);
}

}  // namespace
