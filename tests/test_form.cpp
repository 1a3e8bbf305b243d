// Settings forms: choice boxes, option bars, focus moves and poll results.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "base/cp1251.h"
#include "gfx/form.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "tests/support/support.h"

namespace {

constexpr u16 SENTINEL = 0x1234;

std::vector<u16> screen()
{
    return std::vector<u16>(framebuffer, framebuffer + LCD_PIXELS);
}

u16 at(int x, int y)
{
    return framebuffer[y * LCD_WIDTH + x];
}

// Every pixel of the w x h area at (x, y) has colour c.
bool area_is(int x, int y, int w, int h, u16 c)
{
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i)
            if (at(i, j) != c) return false;
    return true;
}

class FormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        images_unpack_all();
        image_mode = 0;
        fg_color = COLOR_FORM_TEXT;
        bg_color = COLOR_BACKGROUND;
        outline_color = COLOR_WHITE;
        std::fill_n(framebuffer, LCD_PIXELS, SENTINEL);
    }
    VirtualHostScope scope;
};

// ---- Option bar -------------------------------------------------------------

TEST_F(FormTest, OptionBarCellsFollowTheWidestTextAndTheMinimum)
{
    struct Case {
        u8 font;
        u32 min_chars;
        std::vector<const char*> texts;
        i32 cells, w;
    };
    const Case cases[] = {
        // Three options, the widest of 6 characters in font 4 (8 wide): (48 - 10) / 15 + 1 = 3.
        {4, 0, {"нет"_cp, "10 мин"_cp, "30 мин"_cp}, 3, 225},
        {4, 0, {}, 1, 45},                          // nothing added yet: 15 x 3
        {4, 6, {}, 3, 45},                          // the minimum alone sets the cells
        {4, 9, {"ab"}, 5, 15 * 7},                  // (72 - 10) / 15 + 1 = 5 beats the text
        {4, 1, {"a"}, 1, 15 * 3},                   // (8 - 10) / 15 + 1 = 1
        {6, 0, {"abc", "abcdefg"}, 7, 15 * 9 * 2},  // 16 wide: (112 - 10) / 15 + 1 = 7
        {1, 0, {""}, 1, 15 * 3},                    // an empty text still gets one segment
    };
    for (const auto& c : cases) {
        OptionBar bar;
        option_init(&bar, 2, 28, c.font, c.min_chars, KEY_LEFT, KEY_RIGHT);
        for (const char* t : c.texts) option_add(&bar, t);
        EXPECT_EQ(bar.cells, c.cells) << "font " << int(c.font) << " min " << c.min_chars;
        EXPECT_EQ(bar.w, c.w) << "font " << int(c.font) << " min " << c.min_chars;
        EXPECT_EQ(bar.h, OPTION_BAR_H);
        EXPECT_EQ(bar.current, 1);
        EXPECT_EQ(bar.count, static_cast<u8>(c.texts.size()));
    }
    EXPECT_EQ(font_current, 3) << "the bar's font does not stay selected";
}

TEST_F(FormTest, OptionBarTakesNineOptionsAtMost)
{
    OptionBar bar;
    option_init(&bar, 0, 0, 1, 0, KEY_LEFT, KEY_RIGHT);
    for (int i = 1; i <= 9; ++i) EXPECT_EQ(option_add(&bar, "x"), i);
    EXPECT_EQ(option_add(&bar, "a long tenth text"), 9);
    EXPECT_EQ(bar.cells, 1) << "the ignored text does not widen the bar";
}

TEST_F(FormTest, OptionBarKeysWrapRoundAndOthersAreNotTaken)
{
    OptionBar bar;
    option_init(&bar, 2, 28, 4, 0, KEY_LEFT, KEY_RIGHT);
    for (const char* t : {"a", "b", "c"}) option_add(&bar, t);
    struct Step {
        u32 key;
        int handled;
        int current;
    };
    const Step steps[] = {
        {KEY_LEFT, 1, 3}, {KEY_LEFT, 1, 2},  {KEY_RIGHT, 1, 3}, {KEY_RIGHT, 1, 1},
        {KEY_UP, 0, 1},   {KEY_ENTER, 0, 1}, {KEY_RIGHT, 1, 2},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(option_key(&bar, s.key), s.handled) << "key " << s.key;
        EXPECT_EQ(bar.current, s.current) << "key " << s.key;
    }

    // Without options both keys are taken and nothing is drawn.
    OptionBar empty;
    option_init(&empty, 2, 100, 4, 0, KEY_LEFT, KEY_RIGHT);
    std::fill_n(framebuffer, LCD_PIXELS, SENTINEL);
    EXPECT_EQ(option_key(&empty, KEY_LEFT), 1);
    EXPECT_EQ(option_key(&empty, KEY_RIGHT), 1);
    EXPECT_EQ(empty.current, 1);
    EXPECT_TRUE(area_is(0, 0, LCD_WIDTH, LCD_HEIGHT, SENTINEL));
}

// Three options of the given texts at (2, 28) in font 4, the second current.
void make_bar(OptionBar* bar, const char* a, const char* b, const char* c)
{
    option_init(bar, 2, 28, 4, 0, KEY_LEFT, KEY_RIGHT);
    option_add(bar, a);
    option_add(bar, b);
    option_add(bar, c);
    bar->current = 2;
}

TEST_F(FormTest, OptionBarPiecesEndsAndJoints)
{
    OptionBar bar;
    make_bar(&bar, "   ", "      ", "      ");  // blanks: the pieces alone show
    ASSERT_EQ(bar.cells, 3);
    option_draw(&bar);
    const auto px = screen();
    const u16* mid = image_set[IMG_OPTION_MID];
    const u16* mid_sel = image_set[IMG_OPTION_MID_SEL];
    struct Piece {
        int x;
        const u16* img;
    };
    const Piece pieces[] = {
        // option 1: outer end, three middles, joint
        {2, img_option_first},
        {17, mid},
        {32, mid},
        {47, mid},
        {62, image_set[IMG_OPTION_JOINT]},
        // option 2, current: joints highlighted on the side of its middles
        {77, image_set[IMG_OPTION_JOINT_SEL_RIGHT]},
        {92, mid_sel},
        {107, mid_sel},
        {122, mid_sel},
        {137, image_set[IMG_OPTION_JOINT_SEL_LEFT]},
        // option 3: joint, three middles, outer end
        {152, image_set[IMG_OPTION_JOINT]},
        {167, mid},
        {182, mid},
        {197, mid},
        {212, img_option_last},
    };
    for (const auto& p : pieces) EXPECT_TRUE(region_is_image(px, p.x, 28, p.img)) << "x " << p.x;
    // Nothing outside the bar's 225 x 28 box is touched.
    EXPECT_EQ(at(227, 30), SENTINEL);
    EXPECT_EQ(at(100, 27), SENTINEL);
    EXPECT_EQ(at(100, 56), SENTINEL);

    // The outer ends take their highlighted pictures when their option is current.
    bar.current = 1;
    option_draw(&bar);
    EXPECT_TRUE(region_is_image(screen(), 2, 28, img_option_first_sel));
    EXPECT_TRUE(region_is_image(screen(), 62, 28, image_set[IMG_OPTION_JOINT_SEL_LEFT]));
    EXPECT_TRUE(region_is_image(screen(), 77, 28, image_set[IMG_OPTION_JOINT]));
    bar.current = 3;
    option_draw(&bar);
    EXPECT_TRUE(region_is_image(screen(), 212, 28, img_option_last_sel));
    EXPECT_TRUE(region_is_image(screen(), 152, 28, image_set[IMG_OPTION_JOINT_SEL_RIGHT]));
}

TEST_F(FormTest, OptionBarTextsAreCentredOutlinedOrShadowed)
{
    const char* a = "нет"_cp;
    const char* b = "10 мин"_cp;
    const char* c = "30 мин"_cp;
    // The expected picture: the pieces (blank texts) and each text where it belongs.
    OptionBar blank;
    make_bar(&blank, "   ", "      ", "      ");
    option_draw(&blank);
    font_select(4);
    text_draw(2 + 75 / 2 + 2, 28 + 14, a, 20520);    // first: 2 right, shadowed
    text_draw(77 + 75 / 2, 28 + 14, b, 53288);       // current: outlined
    text_draw(152 + 75 / 2 - 2, 28 + 14, c, 20520);  // last: 2 left
    font_select(3);
    const auto expected = screen();

    std::fill_n(framebuffer, LCD_PIXELS, SENTINEL);
    OptionBar bar;
    make_bar(&bar, a, b, c);
    option_draw(&bar);
    EXPECT_EQ(screen(), expected);
    EXPECT_EQ(font_current, 3);
}

// ---- Choice box -------------------------------------------------------------

class ChoiceTest : public FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        choice_init(&box, 10, 50, 4);
        for (const char* t : {"ab", "abcde", "abc"}) choice_add(&box, t);
    }
    ChoiceBox box;
};

TEST_F(ChoiceTest, InitAndGrowth)
{
    EXPECT_EQ(box.count, 3);
    EXPECT_EQ(box.current, 1);
    EXPECT_EQ(box.plain, 0);
    EXPECT_EQ(box.w, 40) << "the widest text, 5 cells of 8";
    EXPECT_EQ(box.h, 16);
    EXPECT_EQ(box.key_prev, KEY_LEFT);
    EXPECT_EQ(box.key_next, KEY_RIGHT);
    EXPECT_EQ(font_current, 3);
    for (int i = 4; i <= 9; ++i) EXPECT_EQ(choice_add(&box, "x"), i);
    EXPECT_EQ(choice_add(&box, "a much longer tenth"), 9);
    EXPECT_EQ(box.w, 40);
}

TEST_F(ChoiceTest, StepsWrapAndSetKeepsItsRange)
{
    struct Step {
        u32 key;
        int handled;
        int current;
    };
    const Step steps[] = {
        {KEY_RIGHT, 1, 2}, {KEY_RIGHT, 1, 3}, {KEY_RIGHT, 1, 1},  // the last wraps to the first
        {KEY_LEFT, 1, 3},                                         // and back
        {KEY_UP, 0, 3},    {KEY_DOWN, 0, 3},  {KEY_ENTER, 0, 3},  // not the box's keys
    };
    for (const auto& s : steps) {
        EXPECT_EQ(choice_key(&box, s.key), s.handled) << "key " << s.key;
        EXPECT_EQ(choice_get(&box), s.current) << "key " << s.key;
    }
    choice_set(&box, 2);
    EXPECT_EQ(choice_get(&box), 2);
    choice_set(&box, 0);
    EXPECT_EQ(choice_get(&box), 2);
    choice_set(&box, 4);
    EXPECT_EQ(choice_get(&box), 2);
    choice_set(&box, 3);
    EXPECT_EQ(choice_get(&box), 3);
    choice_next(&box);
    EXPECT_EQ(choice_get(&box), 1);
    choice_prev(&box);
    EXPECT_EQ(choice_get(&box), 3);
}

TEST_F(ChoiceTest, FramedBoxCapsFillerAndText)
{
    // Blanks show the pieces alone: caps at 10 and, after the fillers at 32,
    // 48 and 64 (below 10 + 40 + 16 = 66), the right cap at 80.
    ChoiceBox blank;
    choice_init(&blank, 10, 50, 4);
    choice_add(&blank, "     ");
    choice_draw(&blank, true);
    auto px = screen();
    EXPECT_TRUE(region_is_image(px, 10, 50, img_choice_left_focus));
    for (int x : {32, 48, 64}) EXPECT_TRUE(region_is_image(px, x, 50, image_set[IMG_CHOICE_FILLER])) << x;
    EXPECT_TRUE(region_is_image(px, 80, 50, img_choice_right));
    EXPECT_EQ(at(88, 55), SENTINEL);
    EXPECT_EQ(at(50, 70), SENTINEL);
    choice_draw(&blank, false);
    EXPECT_TRUE(region_is_image(screen(), 10, 50, img_choice_left));

    // The text: outlined and transparent at (x + 2 cw + 8, y + 3).
    choice_draw(&blank, true);
    font_select(4);
    text_draw(10 + 16 + 8, 53, "abcde", 53248);
    font_select(3);
    const auto expected = screen();
    std::fill_n(framebuffer, LCD_PIXELS, SENTINEL);
    box.current = 2;
    choice_draw(&box, true);
    EXPECT_EQ(screen(), expected);
}

TEST_F(ChoiceTest, PlainBoxClearsItsAreaAndDrawsTheTextOpaque)
{
    box.plain = 1;
    box.current = 1;
    choice_draw(&box, true);
    const auto px = screen();
    EXPECT_TRUE(region_has_text(px, 10, 50, "ab", 4, 0, COLOR_FORM_TEXT, COLOR_BACKGROUND));
    EXPECT_TRUE(area_is(26, 50, 24, 16, COLOR_BACKGROUND)) << "the rest of the 40 x 16 box is cleared";
    EXPECT_EQ(at(50, 50), SENTINEL);
    EXPECT_EQ(at(10, 66), SENTINEL);
}

TEST_F(ChoiceTest, NothingIsDrawnWithoutACurrentText)
{
    ChoiceBox empty;
    choice_init(&empty, 10, 50, 4);
    choice_draw(&empty, true);
    choice_next(&empty);
    choice_prev(&empty);
    EXPECT_EQ(choice_get(&empty), 1);
    box.texts[0] = nullptr;
    choice_draw(&box, true);
    EXPECT_TRUE(area_is(0, 0, LCD_WIDTH, LCD_HEIGHT, SENTINEL));
}

// ---- Form -------------------------------------------------------------------

// Four fields: 1 plain at (20, 30), 2 a choice box, 3 an option bar, 4 plain
// with the hot key Mod; Up/Down move, Enter selects.
class FormWidgetTest : public FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        choice_init(&box, 60, 70, 4);
        for (const char* t : {"one", "two", "three"}) choice_add(&box, t);
        option_init(&bar, 60, 100, 4, 0, KEY_LEFT, KEY_RIGHT);
        for (const char* t : {"a", "b"}) option_add(&bar, t);
        form_init(&form, KEY_UP, KEY_DOWN, KEY_NONE, KEY_NONE, KEY_ENTER);
        add(20, 30, "first", FIELD_PLAIN, nullptr, KEY_NONE);
        add(20, 70, "second", FIELD_CHOICE, &box, KEY_NONE);
        add(20, 100, "third", FIELD_OPTION, &bar, KEY_NONE);
        add(20, 140, "fourth", FIELD_PLAIN, nullptr, KEY_MOD);
    }
    void add(i32 x, i32 y, const char* caption, u8 type, void* widget, u32 hot_key)
    {
        form_add(&form, x, y, image_set[IMG_FIELD_MARK_FOCUS], image_set[IMG_FIELD_MARK], caption, type, widget,
                 hot_key);
    }
    i32 press(u32 key, u32* taken = nullptr)
    {
        key_post(key);
        return form_poll(&form, taken);
    }
    ChoiceBox box;
    OptionBar bar;
    FormWidget form;
};

TEST_F(FormWidgetTest, InitAndAdd)
{
    EXPECT_EQ(form.sel, 1);
    EXPECT_EQ(form.count, 4);
    EXPECT_EQ(form.key_select2, KEY_NONE);
    EXPECT_EQ(form.caption_font, 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(form.fields[i].enabled, 1);
    EXPECT_EQ(form.fields[1].widget, &box);
    EXPECT_EQ(form.fields[3].hot_key, KEY_MOD);
    for (int i = 5; i <= 13; ++i) add(0, 0, "", FIELD_PLAIN, nullptr, KEY_NONE);
    EXPECT_EQ(form.count, 13);
    add(0, 0, "", FIELD_PLAIN, nullptr, KEY_NONE);
    EXPECT_EQ(form.count, 13) << "a fourteenth field is ignored";
}

TEST_F(FormWidgetTest, PollResults)
{
    struct Case {
        const char* what;
        u8 sel_before;
        u32 key;  // KEY_NONE: nothing pressed
        i32 result;
        u8 sel_after;
    };
    const Case cases[] = {
        {"no key", 1, KEY_NONE, POLL_NOTHING, 1},
        {"Esc", 2, KEY_ESC, POLL_ESC, 2},
        {"Down", 1, KEY_DOWN, POLL_FOCUS_MOVED, 2},
        {"Up wraps from the first", 1, KEY_UP, POLL_FOCUS_MOVED, 4},
        {"Down wraps from the last", 4, KEY_DOWN, POLL_FOCUS_MOVED, 1},
        {"Up on a choice box moves the focus", 2, KEY_UP, POLL_FOCUS_MOVED, 1},
        {"Right on a choice box", 2, KEY_RIGHT, POLL_CHANGED, 2},
        {"Left on an option bar", 3, KEY_LEFT, POLL_CHANGED, 3},
        {"Right on a plain field", 1, KEY_RIGHT, POLL_NOTHING, 1},
        {"Enter", 3, KEY_ENTER, 3, 3},
        {"hot key: no focus move", 1, KEY_MOD, 4, 1},
        {"unknown key", 2, KEY_SHIFT | KEY_ENTER, POLL_NOTHING, 2},
    };
    for (const auto& c : cases) {
        form.sel = c.sel_before;
        u32 taken = 0;
        const i32 r = c.key == KEY_NONE ? form_poll(&form, &taken) : press(c.key, &taken);
        EXPECT_EQ(r, c.result) << c.what;
        EXPECT_EQ(form.sel, c.sel_after) << c.what;
        EXPECT_EQ(taken, c.key) << c.what;
    }
    EXPECT_EQ(choice_get(&box), 2) << "one Right";
    EXPECT_EQ(bar.current, 2) << "one Left from 1 wraps to 2";
}

TEST_F(FormWidgetTest, SecondKeysMoveAndSelectToo)
{
    form_init(&form, KEY_UP, KEY_DOWN, KEY_LEFT, KEY_RIGHT, KEY_ENTER);
    form.key_select2 = KEY_SHIFT | KEY_ENTER;
    for (int i = 0; i < 4; ++i) add(20, 30 + 30 * i, "", FIELD_PLAIN, nullptr, KEY_NONE);
    EXPECT_EQ(press(KEY_RIGHT), POLL_FOCUS_MOVED);
    EXPECT_EQ(form.sel, 2);
    EXPECT_EQ(press(KEY_LEFT), POLL_FOCUS_MOVED);
    EXPECT_EQ(form.sel, 1);
    EXPECT_EQ(press(KEY_SHIFT | KEY_ENTER), 1);
}

TEST_F(FormWidgetTest, WidgetTakesItsKeysBeforeTheForm)
{
    // A form that moves with Left/Right: on a choice box those keys change the value.
    form.key_prev2 = KEY_LEFT;
    form.key_next2 = KEY_RIGHT;
    form.sel = 2;
    EXPECT_EQ(press(KEY_RIGHT), POLL_CHANGED);
    EXPECT_EQ(form.sel, 2);
    form.sel = 1;
    EXPECT_EQ(press(KEY_RIGHT), POLL_FOCUS_MOVED);
    EXPECT_EQ(form.sel, 2);
}

TEST_F(FormWidgetTest, EmptyFormAnswersEscOrNothing)
{
    FormWidget empty;
    form_init(&empty, KEY_UP, KEY_DOWN, KEY_NONE, KEY_NONE, KEY_ENTER);
    key_post(KEY_ESC);
    EXPECT_EQ(form_poll(&empty, nullptr), POLL_ESC);
    for (u32 k : {KEY_ENTER, KEY_DOWN, KEY_UP}) {
        key_post(k);
        EXPECT_EQ(form_poll(&empty, nullptr), POLL_NOTHING) << k;
    }
    EXPECT_EQ(empty.sel, 1);
}

TEST_F(FormWidgetTest, FocusSkipsDisabledFields)
{
    form_enable(&form, 2, 0);
    form_enable(&form, 3, 0);
    struct Step {
        u32 key;
        u8 sel;
    };
    const Step steps[] = {{KEY_DOWN, 4}, {KEY_DOWN, 1}, {KEY_UP, 4}, {KEY_UP, 1}};
    for (const auto& s : steps) {
        EXPECT_EQ(press(s.key), POLL_FOCUS_MOVED);
        EXPECT_EQ(form.sel, s.sel) << "key " << s.key;
    }
    form_enable(&form, 3, 1);
    EXPECT_EQ(press(KEY_DOWN), POLL_FOCUS_MOVED);
    EXPECT_EQ(form.sel, 3);
    // Numbers outside 1..count change nothing.
    form_enable(&form, 0, 0);
    form_enable(&form, 5, 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(form.fields[i].enabled, i == 1 ? 0 : 1) << i;
}

TEST_F(FormWidgetTest, FocusStaysWhenNoOtherFieldIsEnabled)
{
    for (int n : {1, 2, 4}) form_enable(&form, n, 0);
    form.sel = 3;
    EXPECT_EQ(press(KEY_DOWN), POLL_FOCUS_MOVED);
    EXPECT_EQ(form.sel, 3);
    EXPECT_EQ(press(KEY_UP), POLL_FOCUS_MOVED);
    EXPECT_EQ(form.sel, 3);
}

TEST_F(FormWidgetTest, DisabledFieldsTakeNeitherValuesNorHotKeys)
{
    form.sel = 2;
    form_enable(&form, 2, 0);
    EXPECT_EQ(press(KEY_RIGHT), POLL_NOTHING);
    EXPECT_EQ(choice_get(&box), 1);
    form_enable(&form, 4, 0);
    EXPECT_EQ(press(KEY_MOD), POLL_NOTHING);
    EXPECT_EQ(form.sel, 2);
}

TEST_F(FormWidgetTest, FocusMarkersAndCaption)
{
    form.caption_font = 4;
    form.caption_x = 24;
    form.caption_y = 220;
    form_draw_focus(&form);
    auto px = screen();
    EXPECT_TRUE(region_is_image(px, 20, 30, image_set[IMG_FIELD_MARK_FOCUS]));
    for (int y : {70, 100, 140}) EXPECT_TRUE(region_is_image(px, 20, y, image_set[IMG_FIELD_MARK])) << y;
    EXPECT_TRUE(region_has_text(px, 24, 220, "first", 4, 0, COLOR_FORM_TEXT, COLOR_BACKGROUND));
    EXPECT_EQ(font_current, 3);

    // The poll draws the field it leaves unfocused; the screen then draws the new focus.
    EXPECT_EQ(press(KEY_DOWN), POLL_FOCUS_MOVED);
    px = screen();
    EXPECT_TRUE(region_is_image(px, 20, 30, image_set[IMG_FIELD_MARK]));
    EXPECT_TRUE(region_is_image(px, 20, 70, image_set[IMG_FIELD_MARK]));
    form_draw_focus(&form);
    px = screen();
    EXPECT_TRUE(region_is_image(px, 20, 70, image_set[IMG_FIELD_MARK_FOCUS]));
    EXPECT_TRUE(region_has_text(px, 24, 220, "second", 4, 0, COLOR_FORM_TEXT, COLOR_BACKGROUND));
}

TEST_F(FormWidgetTest, FieldWithoutNormalPictureIsClearedWhenUnfocused)
{
    form.fields[0].normal_image = nullptr;
    form_draw_focus(&form);
    EXPECT_TRUE(region_is_image(screen(), 20, 30, image_set[IMG_FIELD_MARK_FOCUS]));
    EXPECT_EQ(press(KEY_DOWN), POLL_FOCUS_MOVED);
    EXPECT_TRUE(area_is(20, 30, 25, 25, COLOR_BACKGROUND));
    EXPECT_EQ(at(45, 30), SENTINEL);
    EXPECT_EQ(at(20, 55), SENTINEL);
}

TEST_F(FormWidgetTest, WidgetsDrawDisabledBoxesGrey)
{
    form_draw_widgets(&form);
    const auto enabled = screen();
    EXPECT_TRUE(region_is_image(enabled, 60, 70, img_choice_left_focus));
    EXPECT_TRUE(region_is_image(enabled, 60, 100, img_option_first_sel));

    // The expected disabled box: the same drawing in grey with the disabled cap.
    std::fill_n(framebuffer, LCD_PIXELS, SENTINEL);
    option_draw(&bar);
    fg_color = COLOR_GREY;
    choice_draw(&box, false);
    fg_color = COLOR_FORM_TEXT;
    const auto expected = screen();

    std::fill_n(framebuffer, LCD_PIXELS, SENTINEL);
    form_enable(&form, 2, 0);
    form_draw_widgets(&form);
    EXPECT_EQ(screen(), expected);
    EXPECT_NE(screen(), enabled);
    EXPECT_EQ(fg_color, COLOR_FORM_TEXT) << "the foreground is put back";
}

// A settings screen's loop: the user moves down, steps the box, moves down,
// steps the bar and selects the field.
TEST_F(FormWidgetTest, ScreenLoopWithScriptedKeys)
{
    script_keys(scope.host, {KEY_DOWN, KEY_RIGHT, KEY_RIGHT, KEY_DOWN, KEY_RIGHT, KEY_ENTER});
    form_draw_widgets(&form);
    form_draw_focus(&form);
    std::vector<i32> results;
    i32 r = POLL_NOTHING;
    while (!power_off_flag) {
        r = form_poll(&form, nullptr);
        if (r == POLL_NOTHING) {
            idle_yield();
            continue;
        }
        results.push_back(r);
        if (r == POLL_FOCUS_MOVED) form_draw_focus(&form);
        if (r != POLL_FOCUS_MOVED && r != POLL_CHANGED) break;
    }
    const std::vector<i32> want = {POLL_FOCUS_MOVED, POLL_CHANGED, POLL_CHANGED, POLL_FOCUS_MOVED, POLL_CHANGED, 3};
    EXPECT_EQ(results, want);
    EXPECT_EQ(choice_get(&box), 3);
    EXPECT_EQ(bar.current, 2);
    const auto px = screen();
    EXPECT_TRUE(region_is_image(px, 20, 100, image_set[IMG_FIELD_MARK_FOCUS]));
    EXPECT_TRUE(region_is_image(px, 60 + 45, 100, image_set[IMG_OPTION_JOINT_SEL_RIGHT])) << "the bar shows option 2";
}

}  // namespace
