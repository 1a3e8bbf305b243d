// The scrolling list: storing, selection, keys, the scroll-bar thumb and
// the drawing of rows, stored and from callbacks.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/cp1251.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/listbox.h"
#include "gfx/text.h"
#include "host/device.h"
#include "tests/support/support.h"

namespace {

constexpr i32 LX = 20, LY = 30, LW = 200;

class ListBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        images_unpack_all();
        fg_color = COLOR_BLACK;
        bg_color = COLOR_BACKGROUND;
        lcd_clear();
    }
    // A stored list of n items "Item 0" ... at (LX, LY).
    void make(int n, i32 rows, u8 font = 3, u8 checkable = 0)
    {
        list_init(list.get(), LX, LY, LW, rows, font, checkable);
        for (int i = 0; i < n; ++i) list_append(list.get(), ("Item " + std::to_string(i)).c_str(), 100 + i);
    }
    i32 press(u32 key)
    {
        i32 redraw = -1;
        list_key(list.get(), key, &redraw);
        return redraw;
    }
    static std::vector<u16> screen() { return {framebuffer, framebuffer + LCD_PIXELS}; }
    VirtualHostScope scope;
    std::unique_ptr<ListBox> list = std::make_unique<ListBox>();
};

TEST_F(ListBoxTest, InitGivesAnEmptyStoredListWithTheDefaultKeys)
{
    std::memset(list.get(), 0x5A, sizeof(ListBox));
    list_init(list.get(), 5, 6, 100, 4, 2, 1);
    EXPECT_EQ(list->sel, 0);
    EXPECT_EQ(list->top, 0);
    EXPECT_EQ(list->count, 0);
    EXPECT_EQ(list->virtual_, 0);
    EXPECT_EQ(list->key_up, 4u);
    EXPECT_EQ(list->key_down, 5u);
    EXPECT_EQ(list->key_toggle, 3u);
    EXPECT_EQ(list->key_page_up, 132u);
    EXPECT_EQ(list->key_page_down, 133u);
    EXPECT_EQ(list->x, 5);
    EXPECT_EQ(list->y, 6);
    EXPECT_EQ(list->width, 100);
    EXPECT_EQ(list->rows, 4);
    EXPECT_EQ(list->font, 2);
    EXPECT_EQ(list->checkable, 1);
}

TEST_F(ListBoxTest, AppendStoresTwoHundredItemsAndRefusesTheNext)
{
    list_init(list.get(), LX, LY, LW, 6, 3, 1);
    for (int i = 0; i < LIST_MAX_ITEMS; ++i) {
        ASSERT_EQ(list_append(list.get(), ("N" + std::to_string(i)).c_str(), -i), i);
    }
    EXPECT_EQ(list_append(list.get(), "one too many", 777), LIST_APPEND_FULL);
    EXPECT_EQ(LIST_APPEND_FULL, -1);
    EXPECT_EQ(list->count, 200);
    EXPECT_STREQ(list->item_text[199], "N199");
    EXPECT_EQ(list->value[199], -199);
    EXPECT_EQ(list->value[57], -57);
    EXPECT_EQ(list->item_checked[57], 0);
}

TEST_F(ListBoxTest, AppendCutsAnOverlongTextToFiftyNineCharacters)
{
    make(0, 6);
    const std::string longer(80, 'x');
    list->item_text[1][0] = 'q';  // the next field must stay untouched
    ASSERT_EQ(list_append(list.get(), longer.c_str(), 1), 0);
    EXPECT_EQ(std::string(list->item_text[0]), std::string(59, 'x'));
    EXPECT_EQ(list->item_text[1][0], 'q');
}

TEST_F(ListBoxTest, SelectIgnoresIndicesOutsideTheItemsAndScrollsIntoView)
{
    make(25, 6);
    struct Case {
        i32 index;
        i32 sel, top;
    };
    const Case cases[] = {
        {3, 3, 0},     // visible: top stays
        {24, 24, 19},  // last item: scrolled to the bottom
        {25, 24, 19},  // one past the end: ignored
        {-1, 24, 19},  // negative: ignored
        {20, 20, 19},  // visible again
        {2, 2, 0},     // above the window: max(2 - 6 + 1, 0)
        {10, 10, 5},
    };
    for (const Case& c : cases) {
        list_select(list.get(), c.index);
        EXPECT_EQ(list->sel, c.sel) << c.index;
        EXPECT_EQ(list->top, c.top) << c.index;
    }
}

struct KeyStep {
    u32 key;
    i32 sel, top, redraw;
};

TEST_F(ListBoxTest, KeysMoveThePageAndTheSelectionWithinBounds)
{
    make(25, 6);
    const KeyStep steps[] = {
        {KEY_UP, 0, 0, 0},                  // first item: nothing
        {KEY_SHIFT + KEY_UP, 0, 0, 0},      // page up on the first item: nothing
        {KEY_SHIFT + KEY_DOWN, 6, 6, 1},    // one page
        {KEY_SHIFT + KEY_DOWN, 12, 12, 1},  // 12 + 12 < 24
        {KEY_SHIFT + KEY_DOWN, 24, 19, 1},  // near the end: straight to the last item
        {KEY_DOWN, 24, 19, 0},              // last item: nothing
        {KEY_SHIFT + KEY_DOWN, 24, 19, 0},
        {KEY_UP, 23, 19, 0},  // inside the window: incremental
        {KEY_SHIFT + KEY_UP, 17, 13, 1},
        {KEY_UP, 16, 13, 0},
        {KEY_UP, 15, 13, 0},
        {KEY_UP, 14, 13, 0},
        {KEY_UP, 13, 13, 0},
        {KEY_UP, 12, 12, 1},  // above the window: top follows
        {KEY_DOWN, 13, 12, 0},
        {KEY_DOWN, 14, 12, 0},
        {KEY_DOWN, 15, 12, 0},
        {KEY_DOWN, 16, 12, 0},
        {KEY_DOWN, 17, 12, 0},
        {KEY_DOWN, 18, 13, 1},  // below the window: top = sel - rows + 1
        {KEY_SHIFT + KEY_UP, 12, 7, 1},
        {KEY_SHIFT + KEY_UP, 6, 1, 1},
        {KEY_SHIFT + KEY_UP, 0, 0, 1},  // top < rows: to the first item
        {KEY_LEFT, 0, 0, 0},            // not a list key
    };
    for (const KeyStep& s : steps) {
        EXPECT_EQ(press(s.key), s.redraw) << "key " << s.key << " to sel " << s.sel;
        EXPECT_EQ(list->sel, s.sel) << "key " << s.key;
        EXPECT_EQ(list->top, s.top) << "key " << s.key;
    }
}

TEST_F(ListBoxTest, PageDownOnAShortListGoesToTheLastItemWithTopZero)
{
    make(4, 6);
    EXPECT_EQ(press(KEY_SHIFT + KEY_DOWN), 1);
    EXPECT_EQ(list->sel, 3);
    EXPECT_EQ(list->top, 0);
    make(0, 6);
    EXPECT_EQ(press(KEY_SHIFT + KEY_DOWN), 0);
    EXPECT_EQ(press(KEY_DOWN), 0);
    EXPECT_EQ(press(KEY_UP), 0);
    EXPECT_EQ(list->sel, 0);
}

TEST_F(ListBoxTest, ChosenKeysReplaceTheDefaults)
{
    make(10, 4);
    list_set_keys(list.get(), KEY_LEFT, KEY_RIGHT, KEY_MOD, KEY_ESC, KEY_ENTER);
    EXPECT_EQ(press(KEY_DOWN), 0);
    EXPECT_EQ(list->sel, 0);
    EXPECT_EQ(press(KEY_RIGHT), 0);
    EXPECT_EQ(list->sel, 1);
    EXPECT_EQ(press(KEY_ENTER), 1);  // page down now
    EXPECT_EQ(list->sel, 5);
    EXPECT_EQ(press(KEY_LEFT), 0);
    EXPECT_EQ(list->sel, 4);
}

TEST_F(ListBoxTest, ToggleFlipsTheStoredCheckOnlyOfACheckableList)
{
    make(5, 4, 3, 1);
    list_select(list.get(), 2);
    EXPECT_EQ(press(KEY_ENTER), 1);
    EXPECT_EQ(list->item_checked[2], 1);
    EXPECT_EQ(press(KEY_ENTER), 1);
    EXPECT_EQ(list->item_checked[2], 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(list->item_checked[i], 0) << i;

    make(5, 4, 3, 0);
    EXPECT_EQ(press(KEY_ENTER), 0);
    EXPECT_EQ(list->item_checked[0], 0);
}

// The topmost row of the thumb found in the picture: its grey top line.
i32 thumb_seen_at(const ListBox& l, i32 column_x)
{
    for (i32 y = l.y; y < l.y + l.rows * 16 + 8; ++y)
        if (framebuffer[y * LCD_WIDTH + column_x] == COLOR_GREY) return y;
    return -1;
}

TEST_F(ListBoxTest, ThumbPositionRoundsToTheNearestPixelAndAHalfDown)
{
    // Font 3: 8 x 8 cells. Six rows: the thumb's top runs over 6*8 + 4 - 24
    // = 28 pixels below y + 8. Two rows: over (2 - 1) * 8 = 8 pixels from y.
    struct Case {
        i32 rows, count, sel, offset;
    };
    const Case cases[] = {
        {6, 1, 0, 8},                                           // a single item: f = 0
        {6, 9, 1, 8 + 3},    {6, 9, 3, 8 + 10},                 // 3.5 and 10.5: halves go down
        {6, 9, 5, 8 + 17},   {6, 9, 8, 8 + 28},                 // 17.5; the last item at the bottom
        {6, 4, 1, 8 + 9},    {6, 4, 2, 8 + 19},                 // 9.33 down, 18.67 up
        {6, 57, 1, 8 + 0},   {6, 57, 3, 8 + 1},                 // 0.5 down, 1.5 down
        {6, 25, 17, 8 + 20},                                    // 19.83 up
        {2, 17, 1, 0},       {2, 17, 3, 1},     {2, 17, 5, 2},  // 0.5, 1.5, 2.5 down
        {2, 4, 2, 5},        {2, 4, 3, 8},                      // 5.33, the last item
    };
    for (const Case& c : cases) {
        make(c.count, c.rows);
        list_select(list.get(), c.sel);
        lcd_clear();
        list_draw(list.get());
        // Inside the scroll-bar column, or at the left end of the small thumb.
        const i32 column_x = c.rows >= 3 ? LX + LW - 8 - 1 + 2 : LX + LW - 4 - 2;
        EXPECT_EQ(thumb_seen_at(*list, column_x), LY + c.offset)
            << "rows " << c.rows << " count " << c.count << " sel " << c.sel;
    }
}

TEST_F(ListBoxTest, FullDrawingFramesTheListAndInvertsTheSelection)
{
    make(25, 6);
    list_select(list.get(), 9);  // top 4
    list_draw(list.get());
    const std::vector<u16> px = screen();
    for (int i = 4; i < 10; ++i) {
        const std::string text = "Item " + std::to_string(i);
        EXPECT_TRUE(region_has_text(px, LX + 2, LY + 2 + (i - 4) * 8, text.c_str(), 3,
                                    i == 9 ? static_cast<u32>(TF_INVERSE) : 0u, COLOR_BLACK, COLOR_BACKGROUND))
            << i;
    }
    const auto at = [&](int x, int y) { return px[y * LCD_WIDTH + x]; };
    const i32 bottom = LY + 6 * 8 + 3;
    EXPECT_EQ(at(LX, LY), COLOR_BLACK);  // the outer frame
    EXPECT_EQ(at(LX, bottom), COLOR_BLACK);
    EXPECT_EQ(at(LX + LW - 1, LY + 10), COLOR_BLACK);
    EXPECT_EQ(at(LX + 1, LY + 1), COLOR_BACKGROUND);
    const i32 cx0 = LX + LW - 9;                                                      // the column: one cell and a line
    for (int y = LY; y <= bottom; ++y) EXPECT_NE(at(cx0, y), COLOR_BACKGROUND) << y;  // line or thumb
    EXPECT_EQ(at(cx0 + 3, LY + 8), COLOR_BLACK);                                      // the inner frame's top
    EXPECT_EQ(at(cx0 + 3, bottom + 1 - 8), COLOR_BLACK);                              // and bottom
    EXPECT_EQ(at(cx0 - 1, LY + 20), COLOR_BACKGROUND);                                // nothing left of the column
    EXPECT_EQ(at(LX + LW, LY + 20), COLOR_BACKGROUND);                                // nor right of the list
    // Triangles: apex pixels in the middle of the top and bottom cells.
    int up = 0, down = 0;
    for (int y = LY + 1; y < LY + 8; ++y) up += at(cx0 + 4, y) == COLOR_BLACK;
    for (int y = bottom + 1 - 8 + 1; y < bottom; ++y) down += at(cx0 + 4, y) == COLOR_BLACK;
    EXPECT_GE(up, 2);
    EXPECT_GE(down, 2);
}

// Virtual mode: texts and checks from the callbacks.
u8 g_checks[300];
const char* virtual_text(i32 i)
{
    static std::string s;
    s = "Подшипник "_cp + std::to_string(i * 7);
    return s.c_str();
}
u8 virtual_checked(i32 i)
{
    return g_checks[i];
}

// The left columns of a check box that the item's text leaves visible, down
// to the list's bottom frame line.
bool check_box_left_is(const std::vector<u16>& px, int x, int y, const u16* image)
{
    const u32 w = image_width(image);
    const u16* p = image + 4;
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 15; ++c)
            if (px[(y + r) * LCD_WIDTH + x + c] != p[r * w + c]) return false;
    return true;
}

TEST_F(ListBoxTest, VirtualListDrawsTheCallbackTexts)
{
    list_init(list.get(), LX, LY, LW, 5, 4, 0);  // font 4: 8 x 16
    list_set_virtual(list.get(), 300, virtual_text, virtual_checked);
    list_select(list.get(), 250);  // top 246
    list_draw(list.get());
    const std::vector<u16> px = screen();
    for (int i = 246; i <= 250; ++i) {
        EXPECT_TRUE(region_has_text(px, LX + 2, LY + 2 + (i - 246) * 16, virtual_text(i), 4,
                                    i == 250 ? static_cast<u32>(TF_INVERSE) : 0u, COLOR_BLACK, COLOR_BACKGROUND))
            << i;
    }
}

TEST_F(ListBoxTest, VirtualCheckBoxesFollowTheCallbackAndToggleStoresNothing)
{
    std::memset(g_checks, 0, sizeof g_checks);
    list_init(list.get(), LX, LY, LW, 5, 4, 1);
    list_set_virtual(list.get(), 300, virtual_text, virtual_checked);
    list_select(list.get(), 250);
    g_checks[250] = 1;
    list_draw(list.get());
    // The last row: its text beside the box, the box 4 pixels above the row.
    const i32 last_row = LY + 2 + 4 * 16;
    std::vector<u16> px = screen();
    EXPECT_TRUE(
        region_has_text(px, LX + 2 + 15, last_row, virtual_text(250), 4, TF_INVERSE, COLOR_BLACK, COLOR_BACKGROUND));
    EXPECT_TRUE(check_box_left_is(px, LX + 2, last_row - 4, image_set[IMG_CHECK_TICKED]));

    EXPECT_EQ(press(KEY_ENTER), 1);
    EXPECT_EQ(list->item_checked[0], 0);
    g_checks[250] = 0;
    list_draw(list.get());
    px = screen();
    EXPECT_TRUE(check_box_left_is(px, LX + 2, last_row - 4, image_set[IMG_CHECK_EMPTY]));
}

TEST_F(ListBoxTest, VirtualCountBelowTheSelectionPullsItBack)
{
    make(25, 6);
    list_select(list.get(), 24);
    list_set_virtual(list.get(), 10, virtual_text, virtual_checked);
    EXPECT_EQ(list->sel, 9);
    EXPECT_LE(list->top, 9);
    EXPECT_GT(list->top + list->rows, 9);
}

// A step that stays inside the window redraws the two rows and the thumb
// only, and leaves the same picture as a full drawing.
TEST_F(ListBoxTest, StepInsideTheWindowRedrawsOnlyTheTwoRowsAndTheThumb)
{
    struct Config {
        i32 rows;
        u8 font;
        i32 count, from;
        u32 key;
    };
    const Config configs[] = {
        {6, 3, 11, 2, KEY_DOWN}, {6, 3, 11, 3, KEY_UP},  {11, 4, 40, 0, KEY_DOWN},
        {6, 1, 30, 4, KEY_UP},   {2, 3, 9, 0, KEY_DOWN}, {2, 4, 9, 4, KEY_UP},
    };
    for (const Config& c : configs) {
        SCOPED_TRACE("rows " + std::to_string(c.rows) + " font " + std::to_string(c.font));
        make(c.count, c.rows, c.font);
        list_select(list.get(), c.from);
        fill_rect(0, 0, LCD_WIDTH - 1, LCD_HEIGHT - 1, COLOR_MAGENTA);
        list_draw(list.get());
        const std::vector<u16> before = screen();
        ASSERT_EQ(press(c.key), 0);
        const std::vector<u16> after = screen();

        font_select(c.font);
        const i32 h = font_height, cw = font_width;
        const i32 m = c.rows >= 3 ? 2 : 0;
        const i32 lo = std::min(c.from, list->sel) - list->top;
        const i32 row0 = LY + m + lo * h, row1 = row0 + 2 * h - 1;
        const i32 bar_x = c.rows >= 3 ? LX + LW - cw - (cw & 1) - 1 : LX + LW - cw / 2 - cw / 4;
        int changed = 0;
        for (int y = 0; y < LCD_HEIGHT; ++y)
            for (int x = 0; x < LCD_WIDTH; ++x) {
                const int i = y * LCD_WIDTH + x;
                if (before[i] == after[i]) continue;
                ++changed;
                const bool in_rows = y >= row0 && y <= row1 && x < bar_x;
                const bool in_bar = x >= bar_x && x < LX + LW;
                ASSERT_TRUE(in_rows || in_bar) << "pixel " << x << "," << y;
            }
        EXPECT_GT(changed, 0);

        fill_rect(0, 0, LCD_WIDTH - 1, LCD_HEIGHT - 1, COLOR_MAGENTA);
        list_draw(list.get());
        EXPECT_TRUE(screen() == after);
    }
}

}  // namespace
