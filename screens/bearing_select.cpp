#include "screens/bearing_select.h"

#include <cstring>

#include "analysis/format.h"
#include "base/cp1251.h"
#include "data/images.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/listbox.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/bearings.h"

namespace {

constexpr u16 TEXT_COLOR = 12;
constexpr u16 VALUE_OUTLINE = 0xFFE0;
constexpr u8 LIST_FONT = 4, LABEL_FONT = 4, DIMENSION_FONT = 6, FACTOR_FONT = 4;

// Soft-key slots.
constexpr i32 SLOT_ENTER = -1, SLOT_UP = -2, SLOT_DOWN = -3, SLOT_LEFT = -4, SLOT_RIGHT = -5;

// The list on the left, the two panels on the right.
constexpr i32 LIST_X = 1, LIST_Y = 23, LIST_WIDTH = 200, LIST_ROWS = 11;
constexpr i32 PANEL_X0 = 203, PANEL_X1 = 318;
constexpr i32 UPPER_Y0 = 23, UPPER_Y1 = 146, LOWER_Y0 = 148, LOWER_Y1 = 213;
// The section of a bearing with the captions of the dimension values; it
// ends left of the values' column, which every row change clears.
constexpr int BEARING_IMAGE = IMG_BEARING_DRAWING;
constexpr i32 IMAGE_X = 206, IMAGE_Y = 30;
constexpr i32 LABEL_X = 210;
constexpr i32 VALUE_X = 252;
constexpr i32 VALUES_X0 = 251, VALUES_X1 = 316;
constexpr i32 UPPER_VALUES_Y0 = 25, UPPER_VALUES_Y1 = 144, LOWER_VALUES_Y0 = 150, LOWER_VALUES_Y1 = 211;
constexpr i32 OUTER_Y = 33, BORE_Y = 56, ELEMENTS_Y = 79, ELEMENT_DIAMETER_Y = 102, ANGLE_Y = 125;
constexpr i32 FACTOR_Y[4] = {152, 167, 182, 197};  // FTF, BPFO, BPFI, BSF
constexpr int DIMENSION_CHARS = 4, ELEMENTS_CHARS = 3, FACTOR_CHARS = 5;
constexpr i32 NO_ROW = -2;  // nothing drawn yet

const char* row_name(i32 i)
{
    const BearingRecord* r = bearing_at(i);
    return r ? r->name : "";
}

void value_at(i32 y, double value, int chars, u8 font)
{
    char text[32];
    font_select(font);
    text_draw(VALUE_X, y, format_sig(value, chars, text), TF_OUTLINE);
}

void draw_labels()
{
    static const char* const labels[4] = {"FTF", "BPFO", "BPFI", "BSF"};
    fg_color = COLOR_DARK_BLUE;
    font_select(LABEL_FONT);
    for (int i = 0; i < 4; ++i) text_draw(LABEL_X, FACTOR_Y[i], labels[i], 0);
}

void draw_values(const BearingRecord* r)
{
    fill_rect(VALUES_X0, UPPER_VALUES_Y0, VALUES_X1, UPPER_VALUES_Y1, bg_color);
    fill_rect(VALUES_X0, LOWER_VALUES_Y0, VALUES_X1, LOWER_VALUES_Y1, bg_color);
    if (!r) return;
    const u16 outline = outline_color;
    fg_color = COLOR_DARK_BLUE;
    outline_color = VALUE_OUTLINE;
    if (r->outer > 0) value_at(OUTER_Y, r->outer, DIMENSION_CHARS, DIMENSION_FONT);
    if (r->bore > 0) value_at(BORE_Y, r->bore, DIMENSION_CHARS, DIMENSION_FONT);
    if (r->elements > 0) value_at(ELEMENTS_Y, r->elements, ELEMENTS_CHARS, DIMENSION_FONT);
    if (r->element_diameter > 0) value_at(ELEMENT_DIAMETER_Y, r->element_diameter, DIMENSION_CHARS, DIMENSION_FONT);
    if (r->contact_angle > 0) value_at(ANGLE_Y, r->contact_angle, DIMENSION_CHARS, DIMENSION_FONT);
    const float factors[4] = {r->ftf, r->bpfo, r->bpfi, r->bsf};
    for (int i = 0; i < 4; ++i) value_at(FACTOR_Y[i], factors[i], FACTOR_CHARS, FACTOR_FONT);
    outline_color = outline;
}

}  // namespace

int bearing_select_screen()
{
    keys_reset();
    fg_color = TEXT_COLOR;
    bg_color = COLOR_BACKGROUND;
    outline_color = COLOR_WHITE;
    lcd_clear();
    font_select(4);
    frame_title("Параметры подшипника"_cp);
    frame_bottom();

    SoftKeyBar keys;
    softbar_init(&keys, 0);
    softbar_set(&keys, SLOT_ENTER, "Ok", nullptr);
    softbar_set(&keys, SLOT_UP, "\x18", nullptr);
    softbar_set(&keys, SLOT_DOWN, "\x19", nullptr);
    softbar_set(&keys, SLOT_LEFT, "Стр\x18"_cp, nullptr);
    softbar_set(&keys, SLOT_RIGHT, "Стр\x19"_cp, nullptr);

    ListBox list;
    list_init(&list, LIST_X, LIST_Y, LIST_WIDTH, LIST_ROWS, LIST_FONT, 0);
    list_set_keys(&list, KEY_UP, KEY_DOWN, KEY_ENTER, KEY_LEFT, KEY_RIGHT);
    list_set_virtual(&list, static_cast<i32>(bearing_catalogue.count), row_name, nullptr);
    if (settings.bearing_name[0] != 0) {
        const int found = bearing_find(settings.bearing_name);
        if (found >= 0) list_select(&list, found);
    }

    draw_etched_frame(PANEL_X0, UPPER_Y0, PANEL_X1, UPPER_Y1, 0);
    draw_etched_frame(PANEL_X0, LOWER_Y0, PANEL_X1, LOWER_Y1, 0);
    image_draw(IMAGE_X, IMAGE_Y, image_set[BEARING_IMAGE]);
    draw_labels();

    i32 shown = NO_ROW;
    i32 redraw_list = 1;
    for (;;) {
        frame_status();
        const u32 key = key_poll();
        // A power-off makes every poll answer Esc; that Esc is no cancel
        // (the flag returns below).
        if (key == KEY_ESC && !power_off_flag) return BEARING_SELECT_CANCELLED;
        if (key == KEY_ENTER) {
            const BearingRecord* r = bearing_at(list.sel);
            if (!r) return BEARING_SELECT_DONE;
            std::memcpy(settings.bearing_name, r->name, sizeof settings.bearing_name);
            settings.bearing_name[sizeof settings.bearing_name - 1] = 0;
            settings_save();
            return BEARING_SELECT_DONE;
        }
        if (key != KEY_NONE && !power_off_flag) {
            i32 all = 0;
            list_key(&list, key, &all);
            if (all) redraw_list = 1;
        }
        if (list.sel != shown) {
            shown = list.sel;
            draw_values(bearing_at(shown));
        }
        if (power_off_flag) return BEARING_SELECT_DONE;
        if (redraw_list) {
            list_draw(&list);
            redraw_list = 0;
        }
        softbar_update(&keys);
        idle_yield();
    }
}
