// Screen frame: soft keys, the soft-key bar, battery and clock.
#include <gtest/gtest.h>

#include <vector>

#include "base/cp1251.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "tests/support/support.h"

namespace {

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        images_unpack_all();
        bg_color = COLOR_BACKGROUND;
        lcd_clear();
        frame_bottom();
    }
    static std::vector<u16> screen() { return std::vector<u16>(framebuffer, framebuffer + LCD_PIXELS); }
    // The same key drawn by hand: picture, then the label centred on cx.
    static std::vector<u16> expected_key(int picture, i32 x, const char* label, i32 cx)
    {
        const std::vector<u16> saved = screen();
        image_draw(x, 216, image_set[picture]);
        fg_color = COLOR_WHITE;
        outline_color = COLOR_BLACK;
        font_select(8);
        text_draw(cx, 221, label, TF_OUTLINE | TF_TRANSPARENT | TF_HCENTER);
        font_select(3);
        std::vector<u16> out = screen();
        std::copy(saved.begin(), saved.end(), framebuffer);
        return out;
    }
    VirtualHostScope scope;
};

TEST_F(FrameTest, SoftKeysSitInTheirSlotsWithCentredLabels)
{
    struct Case {
        i32 pos;
        const char* label;
        int picture;
        i32 x, cx;
    };
    const std::vector<Case> cases = {
        {-3, CP("Зап"), IMG_SOFTKEY_DOWN, 130, 168},
        {-1, "Ok", IMG_SOFTKEY_ENT, 2, 40},
        {-5, CP("Гром+"), IMG_SOFTKEY_RIGHT, 258, 295},  // five characters: one pixel further left
        {2, CP("Пуск"), IMG_SOFTKEY_PLAIN, 66, 96},      // a plain key at position 2
    };
    for (const auto& c : cases) {
        SetUp();
        const auto want = expected_key(c.picture, c.x, c.label, c.cx);
        EXPECT_EQ(softkey_draw(c.pos, c.label), 8);
        EXPECT_EQ(screen(), want) << c.pos;
        EXPECT_EQ(font_current, 3) << "font restored";
    }
    softkey_clear(-2);
    EXPECT_TRUE(region_is_image(screen(), 66, 216, image_set[IMG_SOFTKEY_BLANK]));
    const auto before = screen();
    softkey_clear(4);  // positive positions are not cleared
    EXPECT_EQ(screen(), before);
}

TEST_F(FrameTest, SoftBarRedrawsOnlyWhenSomethingChangedAndFollowsMod)
{
    SoftKeyBar bar;
    softbar_init(&bar, KEY_MOD);
    softbar_set(&bar, -1, "Пуск"_cp, "Зап"_cp);
    softbar_set(&bar, -4, "Гром-"_cp, nullptr);
    softbar_update(&bar);
    const auto drawn = screen();
    EXPECT_EQ(bar.dirty, 0);

    fill_rect(0, 216, 319, 239, COLOR_MAGENTA);
    softbar_update(&bar);
    for (int x = 0; x < LCD_WIDTH; ++x) ASSERT_EQ(framebuffer[230 * LCD_WIDTH + x], COLOR_MAGENTA) << x;

    // Mod held: slot 1 takes its shifted label, slot 4 has none and is blank.
    frame_bottom();
    scope.host.set_mod_toggle(true);
    softbar_update(&bar);
    const auto shifted = screen();
    EXPECT_EQ(shifted, [&] {
        SetUp();
        softkey_draw(-1, "Зап"_cp);
        softkey_clear(-4);
        return screen();
    }());
    scope.host.set_mod_toggle(false);
    std::copy(shifted.begin(), shifted.end(), framebuffer);
    softbar_update(&bar);
    EXPECT_EQ(screen(), drawn);

    // Hiding a label that is already hidden changes nothing.
    softbar_show(&bar, -4, 1, 0);
    EXPECT_EQ(bar.dirty, 0);
    softbar_show(&bar, -4, 0, 0);
    EXPECT_EQ(bar.dirty, 1);
}

TEST_F(FrameTest, BatteryAppearsAfterTheFirst32Ticks)
{
    tick_counter = 31;
    const auto before = screen();
    EXPECT_EQ(battery_draw(283, 3), 100);
    EXPECT_EQ(screen(), before);
    tick_counter = 32;
    EXPECT_EQ(battery_draw(283, 3), 60);
    EXPECT_TRUE(region_is_image(screen(), 283, 3, image_set[IMG_BATTERY_3]));
}

TEST_F(FrameTest, TitleAndStatusShowTheClockCentredOn239)
{
    std::time_t t;
    ASSERT_TRUE(parse_clock("2026-12-10T09:08:07", &t));
    scope.host.set_clock(t);
    font_select(5);
    frame_title("Главное меню"_cp);
    EXPECT_EQ(font_current, 5);
    EXPECT_TRUE(region_has_text(screen(), 239, 7, "09:08:07", 3, TF_HCENTER, COLOR_BLUE, COLOR_BACKGROUND));
    EXPECT_FALSE(region_has_text(screen(), 239, 7, "09:08:08", 3, TF_HCENTER, COLOR_BLUE, COLOR_BACKGROUND));
}

}  // namespace
