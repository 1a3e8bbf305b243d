#include "screens/route_choice.h"

#include <cstdio>
#include <cstring>

#include "archive/mount.h"
#include "archive/route.h"
#include "base/cp1251.h"
#include "gfx/dialog.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/listbox.h"
#include "gfx/text.h"
#include "host/device.h"
#include "storage/dir.h"
#include "storage/fs.h"

namespace {

constexpr u32 KEY_DELETE_ROUTE = KEY_SHIFT | KEY_LEFT, KEY_CLEAR_ROUTE = KEY_SHIFT | KEY_RIGHT;
// Soft-key slots of the arrow keys and Enter.
constexpr i32 SLOT_ENTER = -1, SLOT_UP = -2, SLOT_DOWN = -3, SLOT_LEFT = -4, SLOT_RIGHT = -5;

constexpr i32 LIST_X = 1, LIST_Y = 23, LIST_WIDTH = 318, LIST_ROWS = 9;
constexpr u8 LIST_FONT = 4;
constexpr i32 COUNTS_X0 = 1, COUNTS_Y0 = 172, COUNTS_X1 = 319, COUNTS_Y1 = 213;
constexpr i32 COUNTS_X = 32, COUNTS_Y[2] = {176, 195};
constexpr int LIST_NO_ROW = -1;
constexpr int CLEAR_INSIDE = 1;  // draw_etched_frame: clear the inside first

const char* const TITLE_CHOICE = "Выберите маршрут"_cp;
const char* const TITLE_CONFIRM = "Потверждение"_cp;

ListBox g_list;

// The routes of the archive into the list, the row of `file` selected.
void fill_list(u32 file, int keep_row)
{
    list_init(&g_list, LIST_X, LIST_Y, LIST_WIDTH, LIST_ROWS, LIST_FONT, 0);
    list_set_keys(&g_list, KEY_UP, KEY_DOWN, KEY_ENTER, KEY_LEFT, KEY_RIGHT);
    for (u32 k = 0; k < dir_count(); ++k) {
        const int at = static_cast<int>(k);
        if (dir_type(at) != FILE_TYPE_ROUTE) continue;
        RouteHeader header;
        if (!route_read_header(dir_id(at), &header)) continue;
        header.name[ROUTE_NAME_SIZE - 1] = 0;
        if (list_append(&g_list, header.name, static_cast<i32>(dir_id(at))) == LIST_APPEND_FULL) break;
    }
    int row = keep_row < g_list.count ? keep_row : g_list.count - 1;
    for (int r = 0; r < g_list.count; ++r)
        if (static_cast<u32>(g_list.value[r]) == file) row = r;
    if (row >= 0) list_select(&g_list, row);
}

void draw_counts(int row)
{
    draw_etched_frame(COUNTS_X0, COUNTS_Y0, COUNTS_X1, COUNTS_Y1, CLEAR_INSIDE);
    if (row < 0 || row >= g_list.count) return;
    route_load(static_cast<u32>(g_list.value[row]), &route_other);
    const RouteCounts c = route_point_counts(&route_other);
    const u8 font = font_current;
    const u16 fg = fg_color, outline = outline_color;
    font_select(ROUTE_PANEL_FONT);
    fg_color = COLOR_DARK_BLUE;
    outline_color = COLOR_WHITE;
    char line[32];
    std::snprintf(line, sizeof line, "Замеров  : %3d"_cp, c.points);
    text_draw(COUNTS_X, COUNTS_Y[0], line, TF_OUTLINE | TF_TRANSPARENT);
    std::snprintf(line, sizeof line, "Измерено : %3d"_cp, c.measured);
    text_draw(COUNTS_X, COUNTS_Y[1], line, TF_OUTLINE | TF_TRANSPARENT);
    font_select(font);
    fg_color = fg;
    outline_color = outline;
}

void draw_choice(SoftKeyBar* keys)
{
    screen_frame(TITLE_CHOICE);
    font_select(LIST_FONT);
    list_draw(&g_list);
    softbar_invalidate(keys);
}

}  // namespace

bool route_select_screen(u32* file, bool* changed)
{
    if (!archive_wait()) return false;
    fill_list(*file, 0);
    screen_enter(TITLE_CHOICE);
    if (g_list.count == 0) {
        msg_box("Внимание !"_cp, "В прибор не загружено"_cp, "ни одного маршрута"_cp, nullptr, true, false);
        return false;
    }
    SoftKeyBar keys;
    softbar_init(&keys, KEY_MOD);
    softbar_set(&keys, SLOT_ENTER, "Ok", nullptr);
    softbar_set(&keys, SLOT_UP, "\x18", nullptr);
    softbar_set(&keys, SLOT_DOWN, "\x19", nullptr);
    softbar_set(&keys, SLOT_LEFT, "Стр\x18"_cp, "Удал"_cp);
    softbar_set(&keys, SLOT_RIGHT, "Стр\x19"_cp, "Очист"_cp);
    draw_choice(&keys);
    int shown = LIST_NO_ROW - 1;
    for (;;) {
        frame_status();
        const u32 key = key_poll();  // Esc at power-off
        if (key == KEY_ESC) return false;
        const bool row = g_list.count > 0;
        if (key == KEY_ENTER) {
            *changed = true;
            if (!row) {
                *file = 0;
                return false;
            }
            *file = static_cast<u32>(g_list.value[g_list.sel]);
            return true;
        }
        if (row && (key == KEY_DELETE_ROUTE || key == KEY_CLEAR_ROUTE)) {
            const u32 chosen = static_cast<u32>(g_list.value[g_list.sel]);
            screen_save();
            const bool del = key == KEY_DELETE_ROUTE;
            const u16 answer =
                del ? msg_box(TITLE_CONFIRM, "Удалить все замеры из маршрута"_cp, "и сам маршрут ?"_cp, nullptr, true,
                              true)
                    : msg_box(TITLE_CONFIRM, "Удалить все замеры из маршрута ?"_cp, nullptr, nullptr, true, true);
            if (answer == MSG_CONFIRMED) {
                if (chosen == *file) {
                    *changed = true;
                    if (del) *file = 0;
                }
                if (del)
                    route_delete(chosen);
                else
                    route_clear_measurements(chosen);
                fill_list(del ? 0 : chosen, g_list.sel);
                draw_choice(&keys);
                shown = LIST_NO_ROW - 1;
            } else {
                screen_restore();
            }
        } else if (key != KEY_NONE) {
            i32 all = 0;
            font_select(LIST_FONT);
            list_key(&g_list, key, &all);
            if (all) list_draw(&g_list);
        }
        const int sel = g_list.count > 0 ? g_list.sel : LIST_NO_ROW;
        if (sel != shown) {
            shown = sel;
            draw_counts(sel);
        }
        softbar_update(&keys);
        idle_yield();
    }
}

void route_choice_reset()
{
    std::memset(&g_list, 0, sizeof g_list);
}
