// Icon menus: layout, movement and poll results.
#include <gtest/gtest.h>

#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/menu.h"
#include "host/device.h"
#include "tests/support/support.h"

namespace {

class MenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        images_unpack_all();
        menu_init(&menu);
    }
    void add(int n)
    {
        for (int i = 0; i < n; ++i)
            menu_add(&menu, image_set[IMG_MENU_VIBROMETER_SEL + 2 * (i % 6)],
                     image_set[IMG_MENU_VIBROMETER + 2 * (i % 6)], "item", KEY_NONE);
    }
    i32 press(u32 key, u32* other = nullptr)
    {
        key_post(key);
        return menu_poll(&menu, other);
    }
    VirtualHostScope scope;
    IconMenu menu;
};

TEST_F(MenuTest, OneItemIsCentredInOneRow)
{
    add(1);
    menu_layout_draw(&menu);
    EXPECT_EQ(menu.rows, 1);
    EXPECT_EQ(menu.first_row, 1);
    EXPECT_EQ(menu.items[0].x, 115);
    EXPECT_EQ(menu.items[0].y, 120 - 45 + 14);
    std::vector<u16> px(framebuffer, framebuffer + LCD_PIXELS);
    EXPECT_TRUE(region_is_image(px, 115, 89, image_set[IMG_MENU_VIBROMETER_SEL]));
}

TEST_F(MenuTest, SixItemsMakeTwoRowsOfThree)
{
    add(6);
    menu_layout_draw(&menu);
    EXPECT_EQ(menu.rows, 2);
    EXPECT_EQ(menu.first_row, 3);
    const int xs[3] = {25, 115, 205};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(menu.items[i].x, xs[i % 3]) << i;
        EXPECT_EQ(menu.items[i].y, i < 3 ? 44 : 120) << i;
    }
}

TEST_F(MenuTest, MovementWrapsAndSwitchesRows)
{
    add(6);
    menu_layout_draw(&menu);
    struct Step {
        u32 key;
        int sel_after;
    };
    const Step steps[] = {
        {KEY_LEFT, 5},   // from the first to the last
        {KEY_RIGHT, 0},  // and back round
        {KEY_RIGHT, 1}, {KEY_RIGHT, 2}, {KEY_RIGHT, 3},
        {KEY_RIGHT, 4}, {KEY_DOWN, 1},  // index 4 of the second row to index 1
        {KEY_RIGHT, 2}, {KEY_UP, 5},    // index 2 to 5
    };
    for (const auto& s : steps) {
        EXPECT_EQ(press(s.key), POLL_NOTHING);
        EXPECT_EQ(menu.sel, s.sel_after) << "key " << s.key;
    }
    // The highlighted picture follows the selection.
    std::vector<u16> px(framebuffer, framebuffer + LCD_PIXELS);
    EXPECT_TRUE(region_is_image(px, 205, 120, image_set[IMG_MENU_SETTINGS_SEL]));
    EXPECT_TRUE(region_is_image(px, 205, 44, image_set[IMG_MENU_ROUTE]));
}

TEST_F(MenuTest, OneRowUpAndDownActLikeLeftAndRight)
{
    add(3);
    menu_layout_draw(&menu);
    EXPECT_EQ(menu.rows, 1);
    press(KEY_UP);
    EXPECT_EQ(menu.sel, 2);
    press(KEY_DOWN);
    EXPECT_EQ(menu.sel, 0);
}

TEST_F(MenuTest, PollResults)
{
    EXPECT_EQ(press(KEY_ENTER), POLL_ESC);  // an empty menu answers Esc without reading a key
    EXPECT_EQ(pending_key, KEY_ENTER);
    keys_reset();
    add(4);
    menu.items[2].hot_key = 131;
    menu_layout_draw(&menu);
    EXPECT_EQ(menu_poll(&menu, nullptr), POLL_NOTHING);  // no key
    menu_select(&menu, 2);
    EXPECT_EQ(press(KEY_ENTER), 2);
    menu_select(&menu, 204);  // out of range: unchanged
    EXPECT_EQ(menu.sel, 1);
    EXPECT_EQ(press(KEY_ESC), POLL_ESC);
    EXPECT_EQ(press(131), 3);
    EXPECT_EQ(menu.sel, 2);
    u32 other = 0;
    EXPECT_EQ(press(KEY_MOD, &other), POLL_NOTHING);
    EXPECT_EQ(other, KEY_MOD);
    menu.key_accept2 = KEY_RIGHT | KEY_SHIFT;
    EXPECT_EQ(press(KEY_RIGHT | KEY_SHIFT), 3);
}

TEST_F(MenuTest, AddIgnoresMissingPicturesAndAFullMenu)
{
    menu_add(&menu, nullptr, image_set[IMG_MENU_ROUTE], "x", KEY_NONE);
    EXPECT_EQ(menu.count, 0);
    add(15);
    EXPECT_EQ(menu.count, MENU_MAX_ITEMS);
}

}  // namespace
