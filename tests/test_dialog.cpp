// Message box, button face and the value editors, driven by scripted keys.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/cp1251.h"
#include "gfx/dialog.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "tests/support/support.h"

namespace {

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        images_unpack_all();
        bg_color = COLOR_WHITE;
        lcd_clear();
    }
    void keys(std::vector<u32> k) { script_keys(scope.host, std::move(k)); }
    static u16 at(int x, int y) { return framebuffer[y * LCD_WIDTH + x]; }
    // The box's black outline runs along row `top` from left to right.
    static bool outline(int left, int top, int right, int bottom)
    {
        for (int x = left; x <= right; ++x)
            if (at(x, top) != COLOR_BLACK || at(x, bottom) != COLOR_BLACK) return false;
        for (int y = top; y <= bottom; ++y)
            if (at(left, y) != COLOR_BLACK || at(right, y) != COLOR_BLACK) return false;
        return at(left - 1, top) != COLOR_BLACK && at(right + 1, bottom) != COLOR_BLACK;
    }
    VirtualHostScope scope;
};

TEST_F(DialogTest, MessageBoxGeometry)
{
    // Empty title, one line, OK only: 10 + 43 + 23 = 76, raised to 90.
    keys({KEY_ENTER});
    EXPECT_EQ(msg_box("", "Привет"_cp, nullptr, nullptr, true, false), MSG_CONFIRMED);
    EXPECT_TRUE(outline(160 - 24 - 56, 75, 160 + 24 + 56, 165));

    // Both buttons and short lines: 256 wide, clamped to x 1..318.
    SetUp();
    keys({KEY_ESC});
    EXPECT_EQ(msg_box("Внимание !"_cp, "Да?"_cp, nullptr, nullptr, true, true), MSG_CANCELLED);
    const int h = 44 + 43 + 23, top = (240 - h) / 2;
    EXPECT_TRUE(outline(1, top, 318, top + h));
    EXPECT_EQ(at(10, top + 10), COLOR_BLUE);  // the title band
    // The warning icon keyed onto the box background (image mode 1); its
    // last column lies under the OK button's focus frame.
    const u16* icon = image_set[IMG_ICON_WARNING];
    for (int i = 0; i < 31 * 32; ++i) {
        if (i % 31 == 30) continue;
        const u16 want = icon[4 + i] == COLOR_WHITE ? u16{COLOR_BACKGROUND} : icon[4 + i];
        ASSERT_EQ(at(1 + 20 + i % 31, top + 50 + i / 31), want) << i;
    }
    // The focused OK button has a black frame, Cancel a light grey one.
    EXPECT_EQ(at(51, top + 8 + 34 + 23 + 4 + 10), COLOR_BLACK);
    EXPECT_EQ(at(169, top + 8 + 34 + 23 + 4 + 10), COLOR_LIGHT_GREY);

    // An error box: title, three lines, OK; the error icon on the left.
    SetUp();
    keys({KEY_ENTER});
    EXPECT_EQ(msg_box("Ошибка !"_cp, "Ошибка инициализации"_cp, "flash памяти прибора"_cp,
                      "Обратитесь к производителю !"_cp, true, false),
              MSG_CONFIRMED);
    // The longest line has 28 characters: 160 -/+ (112 + 56) reaches past
    // both edges and is clamped to 1 and 318.
    const int h3 = 44 + 43 + 3 * 23, top3 = (240 - h3) / 2;
    EXPECT_TRUE(outline(1, top3, 318, top3 + h3));
    std::vector<u16> px(framebuffer, framebuffer + LCD_PIXELS);
    EXPECT_TRUE(
        region_has_text(px, 160 - 4 * 20, top3 + 42, "Ошибка инициализации"_cp, 4, 0, COLOR_BLACK, COLOR_BACKGROUND));
}

TEST_F(DialogTest, MessageBoxResultsAndRestoredState)
{
    struct Case {
        const char* name;
        bool ok, cancel;
        std::vector<u32> keys;
        u16 result;
    };
    const std::vector<Case> cases = {
        {"Enter on OK", true, true, {KEY_ENTER}, MSG_CONFIRMED},
        {"Right then Enter on Cancel", true, true, {KEY_RIGHT, KEY_ENTER}, MSG_CANCELLED},
        {"Right, Left, Enter on OK", true, true, {KEY_RIGHT, KEY_LEFT, KEY_ENTER}, MSG_CONFIRMED},
        {"Esc in an OK box", true, false, {KEY_ESC}, MSG_CANCELLED},
        {"other keys ignored", true, false, {KEY_UP, KEY_MOD, KEY_ENTER}, MSG_CONFIRMED},
    };
    for (const auto& c : cases) {
        keys(c.keys);
        fg_color = 123;
        bg_color = 456;
        image_mode = 5;
        font_select(7);
        EXPECT_EQ(msg_box("Внимание !"_cp, "Удалить?"_cp, nullptr, nullptr, c.ok, c.cancel), c.result) << c.name;
        EXPECT_EQ(fg_color, 123) << c.name;
        EXPECT_EQ(bg_color, 456) << c.name;
        EXPECT_EQ(image_mode, 5) << c.name;
        EXPECT_EQ(font_current, 7) << c.name;
    }
    // Without buttons the box is only drawn: no key is read.
    image_mode = 0;
    key_post(KEY_ENTER);
    scope.host.set_on_pump(nullptr);
    EXPECT_EQ(msg_box("Внимание !"_cp, "Поиск и загрузка файлов..."_cp, nullptr, nullptr, false, false), MSG_DRAWN);
    // keys_reset at the start dropped the key posted before.
    EXPECT_EQ(pending_key, KEY_NONE);
    // At power-off a box answers as if cancelled.
    power_off_flag = 1;
    EXPECT_EQ(msg_box("", "x", nullptr, nullptr, true, true), MSG_CANCELLED);
}

TEST_F(DialogTest, TimeEditor)
{
    struct Case {
        const char* name;
        u16 h, m, s;
        std::vector<u32> keys;
        int result;
        u16 rh, rm, rs;
    };
    const std::vector<Case> cases = {
        {"23:59:59 accepted", 23, 59, 58, {KEY_LEFT, KEY_UP, KEY_ENTER}, 1, 23, 59, 59},
        {"24:00:00 refused", 24, 0, 0, {KEY_ENTER, KEY_ESC}, 0, 24, 0, 0},
        {"Right from the last digit to the first", 0, 0, 0, {KEY_LEFT, KEY_RIGHT, KEY_UP, KEY_ENTER}, 1, 10, 0, 0},
        {"digits wrap; separators skipped",
         9,
         0,
         0,
         {KEY_RIGHT, KEY_UP, KEY_RIGHT, KEY_DOWN, KEY_UP, KEY_ENTER},
         1,
         0,
         0,
         0},
        {"minute tens of 6 refused", 1, 50, 0, {KEY_RIGHT, KEY_RIGHT, KEY_UP, KEY_ENTER, KEY_ESC}, 0, 1, 50, 0},
    };
    for (const auto& c : cases) {
        keys(c.keys);
        u16 h = c.h, m = c.m, s = c.s;
        u32 last = 0;
        EXPECT_EQ(time_edit(10, 40, &h, &m, &s, &last), c.result) << c.name;
        EXPECT_EQ(h, c.rh) << c.name;
        EXPECT_EQ(m, c.rm) << c.name;
        EXPECT_EQ(s, c.rs) << c.name;
        EXPECT_EQ(last, c.keys.back()) << c.name;
    }
}

TEST_F(DialogTest, DateEditor)
{
    // 29.02.25 is refused (2025 is no leap year); Enter was still pressed.
    keys({KEY_ENTER, KEY_ESC});
    u16 d = 29, mo = 2, y = 25;
    u32 last = 0;
    EXPECT_EQ(date_edit(10, 40, &d, &mo, &y, &last), 1);
    EXPECT_EQ(last, KEY_ESC);
    EXPECT_EQ(y, 25);
    // 29.02.24 is accepted: year 25 -> 24 with Down on the last digit.
    keys({KEY_LEFT, KEY_DOWN, KEY_ENTER});
    EXPECT_EQ(date_edit(10, 40, &d, &mo, &y, &last), 1);
    EXPECT_EQ(last, KEY_ENTER);
    EXPECT_EQ(d, 29);
    EXPECT_EQ(mo, 2);
    EXPECT_EQ(y, 24);
    // Esc at once: no Enter, nothing changed.
    keys({KEY_ESC});
    EXPECT_EQ(date_edit(10, 40, &d, &mo, &y, &last), 0);
    // The text shows day, month and year with full stops.
    std::vector<u16> px(framebuffer, framebuffer + LCD_PIXELS);
    EXPECT_TRUE(region_has_text(px, 10, 40, "29.02.24", font_current, 0, fg_color, bg_color));
}

TEST_F(DialogTest, TextEditor)
{
    struct Case {
        const char* name;
        std::string start;
        u32 max_len;
        std::vector<u32> keys;
        int result;
        std::string end;
    };
    const std::vector<Case> cases = {
        {"Up from z gives the first Cyrillic letter", "z", 4, {KEY_UP, KEY_ENTER}, 1, "\xC0"},
        {"Down from 0 gives a blank, trailing blanks dropped", "0", 4, {KEY_DOWN, KEY_ENTER}, 1, ""},
        {"A, B and two blanks store two letters", "AB", 4, {KEY_ENTER}, 1, "AB"},
        {"Left from the first cell edits the last", "AB", 4, {KEY_LEFT, KEY_UP, KEY_ENTER}, 1, "AB 0"},
        {"Right wraps to the first", "AB", 3, {KEY_RIGHT, KEY_RIGHT, KEY_RIGHT, KEY_UP, KEY_ENTER}, 1, "BB"},
        {"Esc keeps the buffer", "Hi", 4, {KEY_UP, KEY_ESC}, 0, "Hi"},
    };
    for (const auto& c : cases) {
        keys(c.keys);
        char buffer[80];
        std::strcpy(buffer, c.start.c_str());
        EXPECT_EQ(text_edit(10, 40, buffer, c.max_len, 4, false), c.result) << c.name;
        EXPECT_EQ(std::string(buffer), c.end) << c.name;
    }
}

TEST(TextEditSequence, LettersDigitsAndCyrillicInOrder)
{
    const struct {
        u8 from, next, prev;
    } steps[] = {
        {' ', '0', 255}, {'0', '1', ' '}, {'9', 'A', '8'}, {'A', 'B', '9'}, {'Z', 'a', 'Y'},
        {'a', 'b', 'Z'}, {'z', 192, 'y'}, {192, 193, 'z'}, {255, ' ', 254},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(text_edit_next(s.from, false), s.next) << int(s.from);
        EXPECT_EQ(text_edit_prev(s.from, false), s.prev) << int(s.from);
    }
    EXPECT_EQ(text_edit_next(255, true), 1);
    EXPECT_EQ(text_edit_prev(1, true), 255);
    EXPECT_EQ(text_edit_next('-', true), '-' + 1);
}

TEST_F(DialogTest, ButtonFaceAndLabelFont)
{
    font_select(6);
    EXPECT_EQ(button_draw(10, 10, 110, 40, "OK"), 6);              // 16 x 2 < 100
    EXPECT_EQ(button_draw(10, 10, 110, 40, "Отмена(Esc)"_cp), 4);  // 8 x 11 < 100
    EXPECT_EQ(button_draw(10, 10, 60, 40, "Отмена(Esc)"_cp), 2);
    EXPECT_EQ(button_draw(10, 10, 60, 40, nullptr), 6);
    EXPECT_EQ(font_current, 6);
    EXPECT_EQ(at(10, 10), COLOR_WHITE);
    EXPECT_EQ(at(60, 40), COLOR_DARK_GREY);
    EXPECT_EQ(at(59, 39), COLOR_GREY);
    EXPECT_EQ(at(30, 20), COLOR_BACKGROUND);
}

}  // namespace
