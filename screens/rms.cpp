#include "screens/rms.h"

#include <bit>
#include <cstring>

#include "analysis/format.h"
#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/signal.h"
#include "archive/mount.h"
#include "base/cp1251.h"
#include "base/text.h"
#include "gfx/dialog.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/status.h"

RmsState rms;

const char* const RMS_DIRECTION_NAMES[RMS_DIRECTIONS] = {"В"_cp, "П"_cp, "О"_cp};

namespace {

static_assert(RMS_REQUEST == (REQ_VIBRATION | REQ_TEMPERATURE | REQ_PROCESS));
constexpr u32 GROUP = RMS_TABLE_GROUP;
constexpr u32 QUANTITY_COUNT_RMS = 3;
constexpr u32 QUANTITY_DEFAULT = 1;
constexpr u32 VELOCITY = 1;
constexpr u32 LAST_POINT = RMS_POINTS - 1, LAST_DIR = RMS_DIRECTIONS - 1;
constexpr u8 DIR_BITS = (1u << RMS_DIRECTIONS) - 1;
constexpr u32 VIEW_NO_ICON = 4;  // status-line kind without a mode icon
constexpr float FORGOTTEN = -1.0f;

// Table drawing.
constexpr u8 TABLE_FONT = 8;
constexpr i32 DIR_X0 = 3, DIR_X1 = 18, DIR_TEXT_X = 12, DIR_TEXT_DY = 1;
constexpr i32 HEAD_Y0 = 154, HEAD_Y1 = 164, HEAD_TEXT_Y = 153;
constexpr i32 WIDE_TEXT_DX = 20, NARROW_TEXT_DX = 5;
constexpr i32 CELL_FILL_DY0 = 1, CELL_FILL_DY1 = 13, CELL_TEXT_DX = 4;
constexpr i32 SQUARE_DX0 = 3, SQUARE_DX1 = 6, SQUARE_DY0 = 3, SQUARE_DY1 = 11;
constexpr u16 SELECTED_FILL = COLOR_DARK_BLUE, SELECTED_OUTLINE = COLOR_BLUE, SELECTED_TEXT = COLOR_WHITE;
constexpr u16 PLAIN_FILL = COLOR_BACKGROUND, PLAIN_TEXT = COLOR_DARK_BLUE, PLAIN_OUTLINE = COLOR_WHITE;
constexpr u16 CELL_RIM = COLOR_GREY;
// Values in their grade colours stand out in white on either fill.
constexpr u16 VALUE_OUTLINE = COLOR_WHITE;
constexpr u32 LABEL_FLAGS = TF_OUTLINE | TF_TRANSPARENT | TF_HCENTER;
constexpr u32 VALUE_FLAGS = TF_OUTLINE | TF_TRANSPARENT;

// Soft-key slots and the arrow glyphs of their labels.
constexpr i32 SLOT_ENTER = -1, SLOT_UP = -2, SLOT_DOWN = -3, SLOT_LEFT = -4, SLOT_RIGHT = -5;
constexpr const char* ARROW_UP = "\x18";
constexpr const char* ARROW_DOWN = "\x19";
constexpr const char* ARROW_RIGHT = "\x1A";
constexpr const char* ARROW_LEFT = "\x1B";

SoftKeyBar g_keys;
bool g_viewing = false;  // the archive view is on screen

float cell_value(u32 p, u32 d, u32 q)
{
    return rms.record->values[p][d][q];
}

bool cell_filled(u32 p, u32 d)
{
    return (rms.record->filled[p] >> d) & 1;
}

u16 cell_grade_colour(u32 p, u32 d)
{
    return grade_colour(static_cast<u32>(grade_value(cell_value(p, d, VELOCITY), rms.warn_idx, rms.alarm_idx)));
}

bool is_wide(u32 p)
{
    return p >= rms.first_point && p < rms.first_point + RMS_WIDE_POINTS;
}

i32 row_y(u32 d)
{
    return RMS_ROW_Y + RMS_ROW_PITCH * static_cast<i32>(d);
}

// Everything drawn is drawn again: values, bar graph and table.
void forget_drawn()
{
    meter_forget(&rms.meter);
    rms.last_cell_value = FORGOTTEN;
    rms.table_redraw = 1;
}

void load_settings()
{
    rms.quantity = settings.plot_quantity >= QUANTITY_COUNT_RMS ? QUANTITY_DEFAULT : settings.plot_quantity;
    meter_limits_from_settings(&rms.warn_idx, &rms.alarm_idx);
}

void store_settings()
{
    settings.plot_quantity = rms.quantity;
    settings.warn_idx = rms.warn_idx;
    settings.alarm_idx = rms.alarm_idx;
}

// ------------------------------------------------------------ selection

void select_point(u32 p)
{
    rms.cur_point = p;
    if (p < rms.first_point) rms.first_point = p;
    if (p >= rms.first_point + RMS_WIDE_POINTS) rms.first_point = p - (RMS_WIDE_POINTS - 1);
    forget_drawn();
}

void select_dir(u32 d)
{
    rms.cur_dir = d;
    forget_drawn();
}

void previous_cell()
{
    if (rms.cur_dir > 0) {
        select_dir(rms.cur_dir - 1);
    } else if (rms.cur_point > 0) {
        rms.cur_dir = LAST_DIR;
        select_point(rms.cur_point - 1);
    }
}

void next_cell()
{
    if (rms.cur_dir < LAST_DIR) {
        select_dir(rms.cur_dir + 1);
    } else if (rms.cur_point < LAST_POINT) {
        rms.cur_dir = 0;
        select_point(rms.cur_point + 1);
    }
}

// Moves the selection for an arrow key: true when the key was one.
bool navigate(u32 key)
{
    switch (key) {
    case KEY_UP: previous_cell(); return true;
    case KEY_DOWN: next_cell(); return true;
    case KEY_LEFT:
        if (rms.cur_point > 0) select_point(rms.cur_point - 1);
        return true;
    case KEY_RIGHT:
        if (rms.cur_point < LAST_POINT) select_point(rms.cur_point + 1);
        return true;
    default: return false;
    }
}

// ------------------------------------------------------------ the table

// Outlined labels: the selected header white on dark blue, the others dark
// blue on the background.
void header_colours(bool selected)
{
    fg_color = selected ? SELECTED_TEXT : PLAIN_TEXT;
    outline_color = selected ? SELECTED_OUTLINE : PLAIN_OUTLINE;
}

void draw_dir_header(u32 d)
{
    const bool selected = d == rms.cur_dir;
    const i32 y = row_y(d);
    fill_rect(DIR_X0, y, DIR_X1, y + RMS_ROW_PITCH - 2, selected ? SELECTED_FILL : PLAIN_FILL);
    header_colours(selected);
    text_draw(DIR_TEXT_X, y + DIR_TEXT_DY, RMS_DIRECTION_NAMES[d], LABEL_FLAGS);
}

void draw_point_header(u32 p)
{
    const bool selected = p == rms.cur_point;
    const bool wide = is_wide(p);
    const i32 x = rms_point_x(p, rms.first_point);
    const i32 w = wide ? RMS_WIDE_W : RMS_NARROW_W;
    fill_rect(x, HEAD_Y0, x + w - 1, HEAD_Y1, selected ? SELECTED_FILL : PLAIN_FILL);
    header_colours(selected);
    char label[8];
    int_to_text(static_cast<i32>(p + 1), 0, label);
    // A narrow column has room for the last digit only.
    const char* text = wide ? label : label + std::strlen(label) - 1;
    text_draw(x + (wide ? WIDE_TEXT_DX : NARROW_TEXT_DX), HEAD_TEXT_Y, text, LABEL_FLAGS);
}

void draw_cell(u32 p, u32 d)
{
    const bool selected = p == rms.cur_point && d == rms.cur_dir;
    const bool wide = is_wide(p);
    const i32 x = rms_point_x(p, rms.first_point);
    const i32 y = row_y(d);
    const i32 w = wide ? RMS_WIDE_W : RMS_NARROW_W;
    fill_rect(x + 1, y + CELL_FILL_DY0, x + w - 2, y + CELL_FILL_DY1, selected ? SELECTED_FILL : PLAIN_FILL);
    if (cell_filled(p, d)) {
        const u16 colour = cell_grade_colour(p, d);
        if (wide) {
            float v = cell_value(p, d, rms.quantity);
            if (v < 0) v = 0;
            char text[32];
            format_quantity(text, static_cast<int>(rms.quantity), v);
            fg_color = colour;
            outline_color = VALUE_OUTLINE;
            text_draw(x + CELL_TEXT_DX, y + CELL_FILL_DY0, text, VALUE_FLAGS);
        } else {
            fill_rect(x + SQUARE_DX0, y + SQUARE_DY0, x + SQUARE_DX1, y + SQUARE_DY1, colour);
        }
    }
    draw_rect(x, y, x + w - 1, y + RMS_ROW_PITCH - 2, CELL_RIM);
}

// Runs `draw` in the table's font and puts the drawing state back.
template <class Draw>
void table_drawing(Draw draw)
{
    const u16 fg = fg_color, bg = bg_color, outline = outline_color;
    const u8 font = font_current;
    font_select(TABLE_FONT);
    draw();
    fg_color = fg;
    bg_color = bg;
    outline_color = outline;
    font_select(font);
}

void draw_table()
{
    if (!rms.table_redraw) return;
    rms.table_redraw = 0;
    table_drawing([] {
        for (u32 d = 0; d < RMS_DIRECTIONS; ++d) draw_dir_header(d);
        for (u32 p = 0; p < RMS_POINTS; ++p) draw_point_header(p);
        for (u32 p = 0; p < RMS_POINTS; ++p)
            if (!is_wide(p))
                for (u32 d = 0; d < RMS_DIRECTIONS; ++d) draw_cell(p, d);
        for (u32 p = rms.first_point; p < rms.first_point + RMS_WIDE_POINTS; ++p)
            for (u32 d = 0; d < RMS_DIRECTIONS; ++d) draw_cell(p, d);
    });
    rms.last_cell_value = cell_value(rms.cur_point, rms.cur_dir, rms.quantity);
}

// Redraws the selected cell when its value differs from the one shown.
void update_selected_cell()
{
    const float v = cell_value(rms.cur_point, rms.cur_dir, rms.quantity);
    if (v == rms.last_cell_value) return;
    rms.last_cell_value = v;
    table_drawing([] { draw_cell(rms.cur_point, rms.cur_dir); });
}

// ------------------------------------------------------------ the screen

void update_key_visibility()
{
    if (g_viewing) return;
    const u8 stopped = rms.running ? 0 : 1;
    softbar_show(&g_keys, SLOT_ENTER, 1, rms.has_data);
    softbar_show(&g_keys, SLOT_UP, stopped, 1);
    softbar_show(&g_keys, SLOT_DOWN, stopped, 1);
    softbar_show(&g_keys, SLOT_LEFT, stopped, 1);
    softbar_show(&g_keys, SLOT_RIGHT, stopped, rms.has_data);
}

void set_running(bool on)
{
    rms.running = on ? 1 : 0;
    meas_set_running(rms.running);
    meter_draw_run_lamps(rms.running);
    softbar_set(&g_keys, SLOT_ENTER, rms.running ? "Стоп"_cp : "Пуск"_cp, "Зап"_cp);
    update_key_visibility();
    if (!on) busy_release();
}

float selected_velocity()
{
    return cell_value(rms.cur_point, rms.cur_dir, VELOCITY);
}

void full_redraw(bool allow_data)
{
    meter_draw_panels();
    rms.has_data = allow_data && rms.record->valid != 0;
    forget_drawn();
    meter_draw_bar(&rms.meter, selected_velocity(), rms.warn_idx, rms.alarm_idx);
    meter_draw_caption(rms.quantity);
    meter_draw_run_lamps(rms.running);
    update_key_visibility();
    status_mode_icons(VIEW_NO_ICON, rms.quantity);
}

void draw_values()
{
    const u32 p = rms.cur_point, d = rms.cur_dir;
    meter_draw_bar(&rms.meter, selected_velocity(), rms.warn_idx, rms.alarm_idx);
    draw_table();
    meter_draw_value(&rms.meter, cell_value(p, d, rms.quantity), rms.quantity, selected_velocity(), rms.warn_idx,
                     rms.alarm_idx);
    meter_draw_temperature(&rms.meter, rms.record->temperature[p][d]);
}

// The shifted keys that change what is shown: true when the key was one.
bool display_key(u32 key, bool allow_data)
{
    switch (key) {
    case KEY_SHIFT | KEY_LEFT: rms.quantity = (rms.quantity + 1) % QUANTITY_COUNT_RMS; break;
    case KEY_SHIFT | KEY_UP:
        if (rms.alarm_idx >= ALARM_LIMIT_MAX) return true;
        ++rms.warn_idx;
        ++rms.alarm_idx;
        break;
    case KEY_SHIFT | KEY_DOWN:
        if (rms.alarm_idx <= 1) return true;
        --rms.warn_idx;
        --rms.alarm_idx;
        break;
    default: return false;
    }
    full_redraw(allow_data);
    return true;
}

// Fills the selected cell from the latest band values and temperature.
void fill_selected_cell()
{
    RmsTableRecord& r = *rms.record;
    const u32 p = rms.cur_point, d = rms.cur_dir;
    r.valid = static_cast<u16>(results.valid);
    r.format = RECORD_FORMAT;
    r.group = GROUP;
    for (u32 q = 0; q < RMS_QUANTITIES; ++q) r.values[p][d][q] = meas_band_value(GROUP, q);
    r.temperature[p][d] = meas_temperature();
    r.filled[p] |= static_cast<u8>(1u << d);
}

void select_first_cell()
{
    rms.cur_point = rms.cur_dir = rms.first_point = 0;
    forget_drawn();
}

void clear_table()
{
    set_running(false);
    results_reset();
    std::memset(rms.record, 0, sizeof *rms.record);
    rms.has_data = 0;
    select_first_cell();
    update_key_visibility();
}

void enter_screen_frame()
{
    screen_enter(""_cp);
    font_select(4);
    softbar_init(&g_keys, KEY_MOD);
}

}  // namespace

i32 rms_point_x(u32 p, u32 first)
{
    const i32 pi = static_cast<i32>(p), fi = static_cast<i32>(first);
    if (p < first) return RMS_NARROW_W * pi + RMS_TABLE_X;
    if (p < first + RMS_WIDE_POINTS) return RMS_NARROW_W * fi + RMS_WIDE_W * (pi - fi) + RMS_TABLE_X;
    return RMS_NARROW_W * (pi - static_cast<i32>(RMS_WIDE_POINTS)) + RMS_WIDE_W * static_cast<i32>(RMS_WIDE_POINTS) +
           RMS_TABLE_X;
}

void rms_reset()
{
    std::memset(&rms.live, 0, sizeof rms.live);
    rms.record = nullptr;
    rms.cur_point = rms.cur_dir = rms.first_point = 0;
    rms.quantity = QUANTITY_DEFAULT;
    rms.warn_idx = WARN_DEFAULT;
    rms.alarm_idx = ALARM_DEFAULT;
    rms.running = 0;
    rms.has_data = 0;
    meter_forget(&rms.meter);
    rms.last_cell_value = FORGOTTEN;
    rms.table_redraw = 1;
    g_viewing = false;
}

void rms_screen()
{
    if (rms.record == nullptr) {
        rms.record = &rms.live;
        std::memset(rms.record, 0, sizeof *rms.record);
    }
    load_settings();

    enter_screen_frame();
    softbar_set(&g_keys, SLOT_ENTER, "Пуск"_cp, "Зап"_cp);
    softbar_set(&g_keys, SLOT_UP, ARROW_UP, "Норм+"_cp);
    softbar_set(&g_keys, SLOT_DOWN, ARROW_DOWN, "Норм-"_cp);
    softbar_set(&g_keys, SLOT_LEFT, ARROW_LEFT, "Един"_cp);
    softbar_set(&g_keys, SLOT_RIGHT, ARROW_RIGHT, "Очист"_cp);
    set_running(false);
    full_redraw(true);
    meas_start(RMS_REQUEST);

    for (;;) {
        frame_status();
        u32 key = key_poll();
        // While stopped the arrows move the selection at once, without a
        // redraw between held keys.
        while (!rms.running && navigate(key)) key = key_poll();
        if (key == KEY_ESC || power_off_flag) {
            set_running(false);
            break;
        }
        switch (key) {
        case KEY_ENTER:
            set_running(!rms.running);
            forget_drawn();
            if (rms.running)
                band_history_count = 0;  // a new mean of up to 4 band values
            else
                next_cell();
            break;
        case KEY_SHIFT | KEY_RIGHT:
            if (rms.has_data) clear_table();
            break;
        case KEY_SHIFT | KEY_ENTER:
            if (rms.has_data) {
                set_running(false);
                rms_save();
            }
            break;
        default: display_key(key, true); break;
        }

        meas_step();
        if (rms.running) {
            busy_mark();
            rms.has_data = static_cast<u8>(results.valid & 0xFF) != 0;
            // Only band values of this measurement go into the cell: none
            // before its first record.
            if (rms.has_data && band_history_count > 0) fill_selected_cell();
            update_selected_cell();
            update_key_visibility();
        } else {
            busy_release();
        }

        softbar_update(&g_keys);
        draw_values();
        idle_yield();
    }
    store_settings();
    busy_release();
}

bool rms_save()
{
    RmsTableRecord* r = rms.record;
    if (!rms.has_data || r == nullptr || r->valid == 0) return false;
    if (!archive_wait()) return false;
    r->format = RECORD_FORMAT;
    r->stamp = results.stamp;
    u32 count = 0;
    for (u32 p = 0; p < RMS_POINTS; ++p)
        count += static_cast<u32>(std::popcount(static_cast<u8>(r->filled[p] & DIR_BITS)));
    r->filled_count = static_cast<u8>(count);
    rms_table_seal(r);
    return meas_save(MEAS_KIND_RMS_TABLE, r->stamp, r, sizeof(RmsTableRecord), nullptr, 0, nullptr, 0, false) != 0;
}

void rms_view(RmsTableRecord* loaded)
{
    if (!rms_table_verify(loaded)) {
        msg_box("Ошибка !"_cp, "Ошибка в файле замера !"_cp, nullptr, nullptr, true, false);
        return;
    }
    if (loaded->valid == 0) return;
    // The live table keeps its selection for when its screen is entered again.
    const u32 point = rms.cur_point, dir = rms.cur_dir, first = rms.first_point;
    rms.record = loaded;
    load_settings();
    select_first_cell();

    enter_screen_frame();
    g_viewing = true;
    softbar_set(&g_keys, SLOT_ENTER, "Закр"_cp, nullptr);
    softbar_set(&g_keys, SLOT_UP, ARROW_UP, "Норм+"_cp);
    softbar_set(&g_keys, SLOT_DOWN, ARROW_DOWN, "Норм-"_cp);
    softbar_set(&g_keys, SLOT_LEFT, ARROW_LEFT, "Един"_cp);
    softbar_set(&g_keys, SLOT_RIGHT, ARROW_RIGHT, nullptr);
    full_redraw(false);

    for (;;) {
        frame_status();
        const u16 key = key_poll();
        if (key == KEY_ESC || key == KEY_ENTER || power_off_flag) break;
        if (!navigate(key)) display_key(key, false);
        softbar_update(&g_keys);
        draw_values();
        idle_yield();
    }
    g_viewing = false;
    rms.record = &rms.live;
    rms.cur_point = point;
    rms.cur_dir = dir;
    rms.first_point = first;
    forget_drawn();
}
