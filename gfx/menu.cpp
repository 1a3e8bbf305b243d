#include "gfx/menu.h"

#include <algorithm>
#include <cstring>

#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"

namespace {

i32 item_width(const IconMenuItem& it)
{
    return static_cast<i32>(image_width(it.icon_sel));
}

void draw_item(IconMenu* m, int i)
{
    IconMenuItem& it = m->items[i];
    if (i != m->sel) {
        if (it.icon) {
            image_draw(it.x, it.y, it.icon);
        } else {
            bg_color = COLOR_BACKGROUND;
            clear_image_area(it.x, it.y, static_cast<const u16*>(it.icon_sel));
        }
        return;
    }
    image_draw(it.x, it.y, it.icon_sel);
    if (m->caption_font != 0) {
        font_select(m->caption_font);
        bg_color = COLOR_BACKGROUND;
        fg_color = COLOR_BLACK;
        outline_color = COLOR_WHITE;
        if (m->caption_draw)
            m->caption_draw(m->caption_x, m->caption_y, it.text);
        else
            text_draw(m->caption_x, m->caption_y, it.text, TF_OUTLINE);
    }
}

void move_to(IconMenu* m, int next)
{
    const int old = m->sel;
    m->sel = static_cast<u8>(next);
    draw_item(m, old);
    draw_item(m, next);
}

}  // namespace

void menu_init(IconMenu* menu)
{
    std::memset(menu, 0, sizeof *menu);
    menu->key_accept = KEY_ENTER;
    menu->key_accept2 = KEY_NONE;
    menu->rows = 1;
}

void menu_caption(IconMenu* menu, i32 x, i32 y, u8 font, void (*caption_draw)(i32, i32, const char*))
{
    menu->caption_x = x;
    menu->caption_y = y;
    menu->caption_font = font;
    menu->caption_draw = caption_draw;
}

void menu_add(IconMenu* menu, const void* icon_sel, const void* icon, const char* text, u32 hot_key)
{
    if (menu->count >= MENU_MAX_ITEMS || !icon_sel) return;
    IconMenuItem& it = menu->items[menu->count++];
    it.icon_sel = icon_sel;
    it.icon = icon;
    it.text = text;
    it.x = it.y = 0;
    it.hot_key = hot_key;
}

void menu_select(IconMenu* menu, u32 n)
{
    if (n >= 1 && n <= menu->count) menu->sel = static_cast<u8>(n - 1);
}

void menu_layout_draw(IconMenu* m)
{
    m->rows = 1;
    m->first_row = 0;
    i32 s = 0;
    for (int i = 0; i < m->count && m->rows == 1; ++i) {
        const i32 w = item_width(m->items[i]);
        if (s + w > screen_width) {
            m->rows = 2;
            break;
        }
        s += w;
        m->first_row += 1;
    }
    i32 size = 0;
    for (int i = 0; i < m->count; ++i) size = std::max(size, item_width(m->items[i]));
    if (m->rows == 2) size *= 2;
    i32 x = 160 - s / 2;
    i32 y = 120 - size / 2 + 14;
    for (int i = 0; i < m->count; ++i) {
        if (i == m->first_row) {
            x = 160 - s / 2;
            y = 120;
        }
        m->items[i].x = x;
        m->items[i].y = y;
        x += item_width(m->items[i]);
        draw_item(m, i);
    }
}

i32 menu_poll(IconMenu* m, u32* other_key)
{
    if (m->count == 0) return POLL_ESC;
    const u32 k = key_poll();
    if (k == KEY_NONE) return POLL_NOTHING;
    if (k == KEY_ESC) return POLL_ESC;
    if (k == m->key_accept || k == m->key_accept2) return m->sel + 1;
    const int n = m->count;
    int sel = m->sel;
    switch (k) {
    case KEY_LEFT: move_to(m, sel == 0 ? n - 1 : sel - 1); return POLL_NOTHING;
    case KEY_RIGHT: move_to(m, sel == n - 1 ? 0 : sel + 1); return POLL_NOTHING;
    case KEY_UP:
    case KEY_DOWN:
        if (m->rows == 1) {
            if (k == KEY_UP)
                move_to(m, sel == 0 ? n - 1 : sel - 1);
            else
                move_to(m, sel == n - 1 ? 0 : sel + 1);
        } else {
            int next = sel >= m->first_row ? sel - m->first_row : sel + m->first_row;
            next = std::clamp(next, 0, n - 1);
            move_to(m, next);
        }
        return POLL_NOTHING;
    default: break;
    }
    for (int i = 0; i < n; ++i) {
        if (m->items[i].hot_key != KEY_NONE && m->items[i].hot_key == k) {
            move_to(m, i);
            return i + 1;
        }
    }
    if (other_key) *other_key = k;
    return POLL_NOTHING;
}

void menu_caption_drawer(i32 x, i32 y, const char* text)
{
    frame_bottom();
    const u8 font = font_current;
    fg_color = COLOR_DARK_BLUE;
    bg_color = COLOR_LIGHT_GREY;
    outline_color = COLOR_LIGHT_GREY;
    font_select(5);
    text_draw(x, y, text, TF_OUTLINE | TF_TRANSPARENT);
    font_select(font);
}
