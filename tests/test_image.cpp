// Pictures: unpacking, the image set and the drawing modes.
#include <zlib.h>

#include <gtest/gtest.h>

#include <vector>

#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "tests/support/support.h"

namespace {

constexpr u16 PAPER = 0x1111;

// An unpacked picture of w x h with the given pixels.
std::vector<u16> picture(u32 w, u32 h, const std::vector<u16>& px)
{
    std::vector<u16> img = {static_cast<u16>(h & 255), static_cast<u16>((h >> 8) & 15), static_cast<u16>(w & 255),
                            static_cast<u16>(w >> 8)};
    img.insert(img.end(), px.begin(), px.end());
    return img;
}

// The packed form of the same picture, padded to the general input limit.
std::vector<u8> packed(u32 w, u32 h, const std::vector<u16>& px)
{
    std::vector<u8> raw(px.size() * 2);
    for (size_t i = 0; i < px.size(); ++i) {
        raw[2 * i] = static_cast<u8>(px[i]);
        raw[2 * i + 1] = static_cast<u8>(px[i] >> 8);
    }
    uLongf n = compressBound(static_cast<uLong>(raw.size()));
    std::vector<u8> out(4 + n);
    compress(out.data() + 4, &n, raw.data(), static_cast<uLong>(raw.size()));
    out.resize(4 + n);
    out[0] = static_cast<u8>(h & 255);
    out[1] = static_cast<u8>(0x40 | ((h >> 8) & 63));
    out[2] = static_cast<u8>(w & 255);
    out[3] = static_cast<u8>(w >> 8);
    out.resize(IMAGE_INPUT_LIMIT + 4, 0);
    return out;
}

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        framebuffer_reset();
        bg_color = PAPER;
        lcd_clear();
    }
    u16 at(int x, int y) const { return framebuffer[y * LCD_WIDTH + x]; }
};

TEST_F(ImageTest, ModesRecolourOrKeyPixels)
{
    // One row: white, black, the foreground colour, something else.
    const auto img = picture(4, 1, {0xFFFF, 0x0000, 0x0700, 0x1234});
    struct Case {
        u8 mode;
        std::vector<u16> expected;
    };
    fg_color = 0x0700;
    bg_color = 0x0042;
    const std::vector<Case> cases = {
        {0, {0xFFFF, 0x0000, 0x0700, 0x1234}}, {1, {0x0042, 0x0000, 0x0700, 0x1234}},
        {2, {0x0042, 0x0700, 0x0700, 0x0700}}, {3, {PAPER, 0x0000, 0x0700, 0x1234}},
        {4, {PAPER, 0x0700, PAPER, PAPER}},    {5, {0xFFFF, 0x0000, PAPER, 0x1234}},
        {6, {0xFFFF, 0x0000, 0x0700, 0x1234}},
    };
    for (const auto& c : cases) {
        std::fill_n(framebuffer, LCD_PIXELS, PAPER);
        image_mode = c.mode;
        image_draw(10, 5, img.data());
        for (int i = 0; i < 4; ++i) EXPECT_EQ(at(10 + i, 5), c.expected[i]) << "mode " << int(c.mode) << " px " << i;
        EXPECT_EQ(at(14, 5), PAPER);
    }
}

TEST_F(ImageTest, AllWhitePictureInModes3And2)
{
    const auto white = picture(3, 2, std::vector<u16>(6, 0xFFFF));
    image_mode = 3;
    image_draw(0, 0, white.data());
    EXPECT_EQ(at(0, 0), PAPER);
    EXPECT_EQ(at(2, 1), PAPER);
    bg_color = 0x00AA;
    image_mode = 2;
    image_draw(0, 0, white.data());
    EXPECT_EQ(at(0, 0), 0x00AA);
    EXPECT_EQ(at(2, 1), 0x00AA);
    EXPECT_EQ(at(3, 1), PAPER);
}

TEST_F(ImageTest, ClippingAtTheRightAndBottomInPixelModes)
{
    const auto img = picture(40, 4, std::vector<u16>(160, 0x2222));
    image_mode = 1;
    image_draw(300, 237, img.data());
    EXPECT_EQ(at(300, 237), 0x2222);
    EXPECT_EQ(at(319, 239), 0x2222);
    // Nothing wrapped into the next rows' first columns.
    EXPECT_EQ(at(0, 238), PAPER);
    EXPECT_EQ(at(19, 239), PAPER);
}

TEST_F(ImageTest, DrawPartCutsToThePicture)
{
    std::vector<u16> px(5 * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<u16>(100 + i);
    const auto img = picture(5, 4, px);
    image_mode = 0;
    image_draw_part(50, 60, 3, 2, 10, 10, img.data());  // 2 x 2 remain
    EXPECT_EQ(at(50, 60), 100 + 2 * 5 + 3);
    EXPECT_EQ(at(51, 61), 100 + 3 * 5 + 4);
    EXPECT_EQ(at(52, 60), PAPER);
    EXPECT_EQ(at(50, 62), PAPER);
}

TEST_F(ImageTest, PackedPicturesUnpackAndDrawLikeUnpackedOnes)
{
    std::vector<u16> px(300 * 3);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<u16>(i * 37);
    const auto p = packed(300, 3, px);
    EXPECT_TRUE(image_is_packed(p.data()));
    EXPECT_EQ(packed_width(p.data()), 300u);
    EXPECT_EQ(packed_height(p.data()), 3u);
    std::vector<u16> dst(4 + px.size());
    ASSERT_EQ(image_unpack(p.data(), dst.data()), dst.data());
    EXPECT_EQ(dst, picture(300, 3, px));
    EXPECT_EQ(image_width(dst.data()), 300u);
    EXPECT_EQ(image_height(dst.data()), 3u);
    EXPECT_EQ(image_bytes(dst.data()), 1800u);
    // Drawn directly through the scratch buffer.
    image_mode = 0;
    image_draw(10, 20, p.data());
    EXPECT_EQ(at(10, 20), px[0]);
    EXPECT_EQ(at(309, 22), px[3 * 300 - 1]);
}

TEST_F(ImageTest, DamagedStreamIsReturnedAsTheSourceAndDrawsNothing)
{
    std::vector<u16> px(20 * 10, 0x5555);
    auto p = packed(20, 10, px);
    for (size_t i = 6; i < 30; ++i) p[i] ^= 0x5A;
    std::vector<u16> dst(4 + px.size());
    EXPECT_EQ(image_unpack(p.data(), dst.data()), p.data());
    image_mode = 0;
    image_draw(0, 0, p.data());
    image_draw(0, 0, nullptr);
    for (int i = 0; i < LCD_PIXELS; ++i) ASSERT_EQ(framebuffer[i], PAPER) << i;
    EXPECT_EQ(image_width(nullptr), 0u);
    EXPECT_EQ(packed_height(nullptr), 0u);
}

TEST_F(ImageTest, EveryPictureOfTheSetUnpacksToItsSize)
{
    images_unpack_all();
    int count = 0;
    for (int i = 0; i < IMAGE_COUNT; ++i) {
        if (!image_packed[i]) {
            EXPECT_EQ(image_set[i], nullptr) << i;
            continue;
        }
        ++count;
        ASSERT_NE(image_set[i], nullptr) << i;
        EXPECT_EQ(image_width(image_set[i]), image_set_width[i]) << i;
        EXPECT_EQ(image_height(image_set[i]), image_set_height[i]) << i;
        EXPECT_GT(image_width(image_set[i]), 0u) << i;
    }
    // The sizes the screens rely on.
    const struct {
        int index;
        u32 w, h;
    } sizes[] = {{IMG_SOFTKEY_PLAIN, 60, 24},    {IMG_SOFTKEY_DOWN, 60, 23},
                 {IMG_ICON_WARNING, 31, 32},     {IMG_MENU_VIBROMETER_SEL, 90, 77},
                 {IMG_MENU_SETTINGS, 90, 77},    {IMG_TITLE_BAR, 320, 20},
                 {IMG_BOTTOM_BAR, 320, 24},      {IMG_LOGO, 172, 32},
                 {IMG_BATTERY_3, 33, 15},        {IMG_VOLUME_PANEL, 172, 37},
                 {IMG_FIELD_MARK_FOCUS, 25, 25}, {IMG_OPTION_MID, 15, 28}};
    for (const auto& s : sizes) {
        EXPECT_EQ(image_width(image_set[s.index]), s.w) << s.index;
        EXPECT_EQ(image_height(image_set[s.index]), s.h) << s.index;
    }
    EXPECT_GE(count, 50);
    // Highlighted and normal icons differ.
    EXPECT_NE(std::vector<u16>(image_set[IMG_MENU_ROUTE_SEL], image_set[IMG_MENU_ROUTE_SEL] + 4 + 90 * 77),
              std::vector<u16>(image_set[IMG_MENU_ROUTE], image_set[IMG_MENU_ROUTE] + 4 + 90 * 77));
    EXPECT_EQ(image_width(img_error_icon), 31u);
    EXPECT_EQ(image_height(img_slider_mark), 17u);
}

}  // namespace
