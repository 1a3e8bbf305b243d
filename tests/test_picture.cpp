// Picture files: PNG and 16-bit BMP of the LCD picture.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "front/common/picture.h"
#include "gfx/framebuffer.h"
#include "tests/support/support.h"

namespace {

std::vector<u16> sample_picture()
{
    std::vector<u16> px(LCD_PIXELS);
    for (int i = 0; i < LCD_PIXELS; ++i) px[i] = static_cast<u16>(i * 2654435761u >> 7);
    px[0] = 0xFFFF;
    px[1] = 0x0000;
    px[2] = 0xF800;
    return px;
}

TEST(Picture, PngDecodesBackToTheSamePixels)
{
    const auto px = sample_picture();
    TempDir dir;
    std::string err;
    ASSERT_TRUE(picture_save(dir.file("a.png"), px.data(), LCD_WIDTH, LCD_HEIGHT, -1, &err)) << err;
    const auto back = load_screenshot(dir.file("a.png"));
    ASSERT_EQ(back.size(), px.size());
    EXPECT_EQ(back, px);
    // The widening repeats the top bits: white stays white.
    u8 rgb[3];
    rgb565_to_rgb888(0xFFFF, rgb);
    EXPECT_EQ(rgb[0], 255);
    EXPECT_EQ(rgb[1], 255);
    EXPECT_EQ(rgb[2], 255);
}

TEST(Picture, BmpIsRgb565BitfieldsBottomUp)
{
    const auto px = sample_picture();
    TempDir dir;
    ASSERT_TRUE(picture_save(dir.file("a.bmp"), px.data(), LCD_WIDTH, LCD_HEIGHT, -1, nullptr));
    const auto f = read_file_bytes(dir.file("a.bmp"));
    ASSERT_EQ(f.size(), 66u + 320u * 240u * 2u);
    auto le32 = [&](size_t o) { return f[o] | (f[o + 1] << 8) | (f[o + 2] << 16) | (u32(f[o + 3]) << 24); };
    auto le16 = [&](size_t o) { return static_cast<u16>(f[o] | (f[o + 1] << 8)); };
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(le32(2), f.size());
    EXPECT_EQ(le32(10), 66u);
    EXPECT_EQ(le32(18), 320u);
    EXPECT_EQ(le32(22), 240u);
    EXPECT_EQ(le16(28), 16);
    EXPECT_EQ(le32(30), 3u);  // BI_BITFIELDS
    EXPECT_EQ(le32(54), 0xF800u);
    EXPECT_EQ(le32(58), 0x07E0u);
    EXPECT_EQ(le32(62), 0x001Fu);
    for (int y = 0; y < LCD_HEIGHT; ++y)
        for (int x = 0; x < LCD_WIDTH; ++x)
            ASSERT_EQ(le16(66 + ((239 - y) * 320 + x) * 2), px[y * 320 + x]) << x << "," << y;
}

TEST(Picture, ExplicitFormatOverridesTheExtensionAndErrorsNameTheFile)
{
    const auto px = sample_picture();
    TempDir dir;
    ASSERT_TRUE(picture_save(dir.file("pic.png"), px.data(), LCD_WIDTH, LCD_HEIGHT, 1, nullptr));
    EXPECT_EQ(read_file_bytes(dir.file("pic.png"))[0], 'B');
    std::string err;
    EXPECT_FALSE(picture_save(dir.file("no/such/dir.png"), px.data(), LCD_WIDTH, LCD_HEIGHT, -1, &err));
    EXPECT_NE(err.find("no/such/dir.png"), std::string::npos) << err;
}

TEST(Picture, SaveTargetFollowsATypedExtensionElseTheFilter)
{
    struct Case {
        const char* chosen;
        int filter;  // 1 PNG, 2 BMP
        const char* path;
        bool bmp;
    };
    const std::vector<Case> cases = {
        {"/d/shot", 1, "/d/shot.png", false},
        {"/d/shot", 2, "/d/shot.bmp", true},
        {"/d/shot.png", 2, "/d/shot.png", false},
        {"/d/shot.bmp", 1, "/d/shot.bmp", true},
        {"/d/Shot.PNG", 2, "/d/Shot.PNG", false},
        {"/d/Shot.Bmp", 1, "/d/Shot.Bmp", true},
        {"/d/shot.jpg", 2, "/d/shot.jpg.bmp", true},
        {"/d/shot.jpg", 1, "/d/shot.jpg.png", false},
        {"/d/shot.", 2, "/d/shot.bmp", true},
        {"/d/my.pics/shot", 2, "/d/my.pics/shot.bmp", true},  // a dot in a folder name is no extension
        {"/d/my.png/shot", 2, "/d/my.png/shot.bmp", true},
        {"shot", 2, "shot.bmp", true},
        {"/d/shot.pngx", 1, "/d/shot.pngx.png", false},
        {"/d/shot", 3, "/d/shot.png", false},  // any index but 2 is PNG
    };
    for (const auto& c : cases) {
        const PictureTarget t = picture_target(c.chosen, c.filter);
        EXPECT_EQ(t.path, c.path) << c.chosen << " filter " << c.filter;
        EXPECT_EQ(t.bmp, c.bmp) << c.chosen << " filter " << c.filter;
    }
}

TEST(Picture, FreshNameSkipsNumbersUsedByEitherFormat)
{
    TempDir dir;
    EXPECT_EQ(picture_fresh_name(dir.path(), false), "tarvik2-0001.png");
    EXPECT_EQ(picture_fresh_name(dir.path(), true), "tarvik2-0001.bmp");
    write_file_bytes(dir.file("tarvik2-0001.png"), {1});
    write_file_bytes(dir.file("tarvik2-0002.bmp"), {1});
    write_file_bytes(dir.file("tarvik2-0004.png"), {1});
    EXPECT_EQ(picture_fresh_name(dir.path(), false), "tarvik2-0003.png");
    EXPECT_EQ(picture_fresh_name(dir.path(), true), "tarvik2-0003.bmp");
}

TEST(Picture, NumberedSavesTakeTheNextFreeNumberAndReplaceNothing)
{
    TempDir dir;
    const auto px = sample_picture();
    const std::vector<u8> mine = {1, 2, 3};
    write_file_bytes(dir.file("tarvik2-0001.png"), mine);
    write_file_bytes(dir.file("tarvik2-0002.bmp"), mine);
    write_file_bytes(dir.file("tarvik2-0004.png"), mine);
    std::string err;
    const char* expected[] = {"tarvik2-0003.png", "tarvik2-0005.png", "tarvik2-0006.png"};
    for (const char* name : expected) {
        EXPECT_EQ(picture_save_numbered(dir.path(), "tarvik2", px.data(), LCD_WIDTH, LCD_HEIGHT, &err), dir.file(name))
            << err;
        EXPECT_EQ(load_screenshot(dir.file(name)), px) << name;
    }
    // The files that were there are as they were.
    for (const char* name : {"tarvik2-0001.png", "tarvik2-0002.bmp", "tarvik2-0004.png"})
        EXPECT_EQ(read_file_bytes(dir.file(name)), mine) << name;
    EXPECT_FALSE(std::filesystem::exists(dir.file("tarvik2-0002.png")));
    // Another prefix counts on its own.
    EXPECT_EQ(picture_save_numbered(dir.path(), "tarvik2-rec", px.data(), LCD_WIDTH, LCD_HEIGHT, &err),
              dir.file("tarvik2-rec-0001.png"));
}

TEST(Picture, NumberedSaveIntoAMissingFolderNamesIt)
{
    const auto px = sample_picture();
    std::string err;
    EXPECT_EQ(picture_save_numbered("/nonexistent-folder", "tarvik2", px.data(), LCD_WIDTH, LCD_HEIGHT, &err), "");
    EXPECT_NE(err.find("/nonexistent-folder/tarvik2-0001.png"), std::string::npos) << err;
}

TEST(Picture, DecoderRefusesDamagedFiles)
{
    const auto px = sample_picture();
    auto png = picture_encode_png(px.data(), LCD_WIDTH, LCD_HEIGHT);
    int w, h;
    std::vector<u8> rgb;
    std::string err;
    auto cut = png;
    cut.resize(png.size() / 2);
    EXPECT_FALSE(picture_decode_png(cut, &w, &h, &rgb, &err));
    auto bad = png;
    bad[1] = 'X';
    EXPECT_FALSE(picture_decode_png(bad, &w, &h, &rgb, &err));
    EXPECT_FALSE(picture_decode_png({}, &w, &h, &rgb, &err));
}

}  // namespace
