#include "gfx/dialog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/cp1251.h"
#include "base/stamp.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"

u32 editor_keys[EDITOR_KEY_COUNT];

namespace {

constexpr u32 DEFAULT_EDITOR_KEYS[EDITOR_KEY_COUNT] = {KEY_ENTER, KEY_ESC,  KEY_LEFT, KEY_RIGHT, KEY_UP,   KEY_DOWN,
                                                       KEY_NONE,  KEY_NONE, KEY_NONE, KEY_NONE,  KEY_NONE, KEY_NONE,
                                                       KEY_NONE,  KEY_NONE, KEY_NONE, KEY_NONE};

enum { EK_ACCEPT, EK_CANCEL, EK_LEFT, EK_RIGHT, EK_UP, EK_DOWN, EK_DIGIT0 };

constexpr i32 LINE_PITCH = 23;
constexpr i32 ICON_COLUMN = 56;

bool has_text(const char* s)
{
    return s && *s;
}

i32 len(const char* s)
{
    return s ? static_cast<i32>(std::strlen(s)) : 0;
}

// Which editor key k is (EK_*), or -1.
int editor_key(u32 k)
{
    for (int i = 0; i < EDITOR_KEY_COUNT; ++i)
        if (editor_keys[i] != KEY_NONE && editor_keys[i] == k) return i;
    return -1;
}

struct MsgButtons {
    bool ok, cancel;
    int focus;  // 0 OK, 1 Cancel
    i32 top, bottom;
};

void draw_buttons(const MsgButtons& b)
{
    struct Face {
        bool shown;
        i32 x0, x1;
        const char* label;
    };
    Face faces[2];
    if (b.ok && b.cancel) {
        faces[0] = {true, 52, 150, "OK(Ent)"};
        faces[1] = {true, 170, 268, "Отмена(Esc)"_cp};
    } else {
        faces[0] = {b.ok, 111, 209, "OK(Ent)"};
        faces[1] = {b.cancel, 111, 209, "Отмена(Esc)"_cp};
    }
    for (int i = 0; i < 2; ++i) {
        if (!faces[i].shown || faces[i].x0 <= 0) continue;
        button_draw(faces[i].x0, b.top, faces[i].x1, b.bottom, faces[i].label);
        if (b.ok && b.cancel) {
            const u16 frame = i == b.focus ? COLOR_BLACK : COLOR_LIGHT_GREY;
            draw_rect(faces[i].x0 - 1, b.top - 1, faces[i].x1 + 1, b.bottom + 1, frame);
        }
    }
}

// Draws one line of an editor with the cursor cell underlined.
void draw_field(i32 x, i32 y, const char* text, int cursor)
{
    text_draw(x, y, text, 0);
    const i32 cx = x + cursor * font_width;
    const i32 cy = y + font_height - 1;
    draw_line(cx, cy, cx + font_width - 1, cy);
}

// The cursor movement of the time and date editors: eight characters with
// separators at 2 and 5.
int field_move(int cursor, int step)
{
    do {
        cursor = (cursor + step + 8) % 8;
    } while (cursor == 2 || cursor == 5);
    return cursor;
}

int pair_at(const char* t, int at)
{
    return (t[at] - '0') * 10 + (t[at + 1] - '0');
}

// Shared loop of the time and date editors. `valid` decides whether Enter
// is taken; returns 1 when it was (values stored by the caller), 0 on Esc.
template <typename Valid>
int digit_editor(i32 x, i32 y, char* text, u32* last_key, bool* entered, Valid valid)
{
    int cursor = 0;
    for (;;) {
        draw_field(x, y, text, cursor);
        idle_yield();
        const u32 k = key_wait();
        if (last_key) *last_key = k;
        const int e = editor_key(k);
        if (e == EK_RIGHT) {
            cursor = field_move(cursor, 1);
        } else if (e == EK_LEFT) {
            cursor = field_move(cursor, -1);
        } else if (e == EK_UP) {
            text[cursor] = text[cursor] == '9' ? '0' : static_cast<char>(text[cursor] + 1);
        } else if (e == EK_DOWN) {
            text[cursor] = text[cursor] == '0' ? '9' : static_cast<char>(text[cursor] - 1);
        } else if (e >= EK_DIGIT0) {
            text[cursor] = static_cast<char>('0' + (e - EK_DIGIT0));
            cursor = field_move(cursor, 1);
        } else if (e == EK_ACCEPT) {
            if (entered) *entered = true;
            if (valid(text)) return 1;
        } else if (e == EK_CANCEL) {
            return 0;
        }
    }
}

}  // namespace

void dialog_reset()
{
    editor_keys_set(DEFAULT_EDITOR_KEYS);
}

void editor_keys_set(const u32 keys[EDITOR_KEY_COUNT])
{
    std::memcpy(editor_keys, keys, sizeof editor_keys);
}

u16 msg_box(const char* title, const char* line1, const char* line2, const char* line3, bool ok, bool cancel)
{
    keys_reset();
    const u16 fg = fg_color, bg = bg_color;
    const u8 mode = image_mode, font = font_current;
    font_select(4);
    const char* lines[3] = {line1, line2, line3};

    i32 longest = len(title);
    for (const char* l : lines) longest = std::max(longest, len(l));
    const i32 t = 8 * longest;
    i32 icon = ICON_COLUMN;
    const bool any_button = ok || cancel;
    const i32 w = (ok && cancel && t + 2 * icon < 256) ? 256 : t;
    i32 h = has_text(title) ? 44 : 10;
    if (any_button) h += LINE_PITCH + 20;
    for (const char* l : lines)
        if (has_text(l)) h += LINE_PITCH;
    h = std::max(h, 90);

    const i32 top = (240 - h) / 2;
    i32 left = 160 - w / 2 - icon;
    if (left < 0) left = 1;
    i32 right = 160 + w / 2 + icon;
    if (right >= 320) right = 318;
    const i32 bottom = top + h;

    draw_rect(left, top, right, bottom, COLOR_BLACK);
    bg_color = COLOR_BACKGROUND;
    clear_rect(left + 1, top + 1, right - 1, bottom - 1);

    i32 y = top + 8;
    if (has_text(title)) {
        image_mode = 1;
        if (std::strcmp(title, "Ошибка !"_cp) == 0)
            image_draw(left + 20, top + 50, img_error_icon);
        else if (std::strcmp(title, "Внимание !"_cp) == 0)
            image_draw(left + 20, top + 50, image_set[IMG_ICON_WARNING]);
        else
            icon = 0;
        bg_color = COLOR_BLUE;
        clear_rect(left + 4, top + 4, right - 4, top + 27);
        fg_color = COLOR_WHITE;
        text_draw_span(left, y, right - left, title, 0);
        y = static_cast<i32>(y + 34.5);
    } else {
        icon = 0;
    }
    for (const char* l : lines) {
        if (!has_text(l)) continue;
        bg_color = COLOR_BACKGROUND;
        fg_color = COLOR_BLACK;
        const i32 x = std::max(160 - 4 * len(l), icon + 4);
        text_draw(x, y, l, 0);
        y += LINE_PITCH;
    }
    MsgButtons b{ok, cancel, 0, y + 4, y + 37};
    draw_buttons(b);
    idle_yield();

    u16 result = MSG_DRAWN;
    for (;;) {
        frame_status();
        idle_yield();
        if (!any_button) break;
        const u32 k = key_poll();
        if (ok && cancel && (k == KEY_LEFT || k == KEY_RIGHT)) {
            b.focus ^= 1;
            draw_buttons(b);
            continue;
        }
        if (k == KEY_ESC) {
            result = MSG_CANCELLED;
            break;
        }
        if (k == KEY_ENTER) {
            result = (ok && cancel && b.focus == 1) || (!ok && cancel) ? MSG_CANCELLED : MSG_CONFIRMED;
            break;
        }
    }
    fg_color = fg;
    bg_color = bg;
    image_mode = mode;
    font_select(font);
    return result;
}

u8 button_draw(i32 x0, i32 y0, i32 x1, i32 y1, const char* label)
{
    const u8 font = font_current;
    const u16 fg = fg_color, bg = bg_color, outline = outline_color;
    bg_color = COLOR_BACKGROUND;
    clear_rect(x0, y0, x1, y1);
    draw_hline(x0, x1, y0, COLOR_WHITE);
    draw_vline(x0, y0, y1, COLOR_WHITE);
    draw_hline(x0, x1, y1, COLOR_DARK_GREY);
    draw_vline(x1, y0, y1, COLOR_DARK_GREY);
    draw_hline(x0 + 1, x1 - 1, y1 - 1, COLOR_GREY);
    draw_vline(x1 - 1, y0 + 1, y1 - 1, COLOR_GREY);
    u8 used = 6;
    if (label) {
        bg_color = COLOR_LIGHT_GREY;
        fg_color = COLOR_BLACK;
        outline_color = COLOR_WHITE;
        const i32 w = x1 - x0, n = len(label);
        const u8 fit = 16 * n < w ? 6 : 12 * n < w ? 5 : 8 * n < w ? 4 : 2;
        used = std::min(font, fit);
        font_select(used);
        text_draw((x0 + x1) / 2, (y0 + y1) / 2 + 1, label, TF_OUTLINE | TF_TRANSPARENT | TF_HCENTER | TF_VCENTER);
    }
    font_select(font);
    fg_color = fg;
    bg_color = bg;
    outline_color = outline;
    return used;
}

int time_edit(i32 x, i32 y, u16* hours, u16* minutes, u16* seconds, u32* last_key)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", *hours % 100u, *minutes % 100u, *seconds % 100u);
    const int r = digit_editor(x, y, text, last_key, nullptr, [](const char* t) {
        return t[0] < '3' && t[3] < '6' && t[6] < '6' && (t[1] < '4' || t[0] < '2');
    });
    if (r == 1) {
        *hours = static_cast<u16>(pair_at(text, 0));
        *minutes = static_cast<u16>(pair_at(text, 3));
        *seconds = static_cast<u16>(pair_at(text, 6));
    }
    return r;
}

int date_edit(i32 x, i32 y, u16* day, u16* month, u16* year, u32* last_key)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02u.%02u.%02u", *day % 100u, *month % 100u, *year % 100u);
    bool entered = false;
    const int r = digit_editor(x, y, text, last_key, &entered, [](const char* t) {
        const int d = pair_at(t, 0), m = pair_at(t, 3), yy = pair_at(t, 6);
        return m >= 1 && m <= 12 && d >= 1 && d <= days_in_month(2000 + yy, m);
    });
    if (r == 1) {
        *day = static_cast<u16>(pair_at(text, 0));
        *month = static_cast<u16>(pair_at(text, 3));
        *year = static_cast<u16>(pair_at(text, 6));
    }
    return entered ? 1 : 0;
}

u8 text_edit_next(u8 c, bool full_charset)
{
    if (full_charset) return c >= 255 ? 1 : static_cast<u8>(c + 1);
    if (c == ' ') return '0';
    if (c >= '0' && c < '9') return static_cast<u8>(c + 1);
    if (c == '9') return 'A';
    if (c >= 'A' && c < 'Z') return static_cast<u8>(c + 1);
    if (c == 'Z') return 'a';
    if (c >= 'a' && c < 'z') return static_cast<u8>(c + 1);
    if (c == 'z') return 192;
    if (c >= 192 && c < 255) return static_cast<u8>(c + 1);
    if (c == 255) return ' ';
    // Characters outside the sequence continue with the next one above them.
    for (int n = c + 1; n <= 255; ++n)
        if ((n >= '0' && n <= '9') || (n >= 'A' && n <= 'Z') || (n >= 'a' && n <= 'z') || n >= 192)
            return static_cast<u8>(n);
    return ' ';
}

u8 text_edit_prev(u8 c, bool full_charset)
{
    if (full_charset) return c <= 1 ? 255 : static_cast<u8>(c - 1);
    if (c == ' ') return 255;
    if (c == '0') return ' ';
    if (c > '0' && c <= '9') return static_cast<u8>(c - 1);
    if (c == 'A') return '9';
    if (c > 'A' && c <= 'Z') return static_cast<u8>(c - 1);
    if (c == 'a') return 'Z';
    if (c > 'a' && c <= 'z') return static_cast<u8>(c - 1);
    if (c == 192) return 'z';
    if (c > 192) return static_cast<u8>(c - 1);
    for (int n = c - 1; n > ' '; --n)
        if ((n >= '0' && n <= '9') || (n >= 'A' && n <= 'Z') || (n >= 'a' && n <= 'z')) return static_cast<u8>(n);
    return ' ';
}

int text_edit(i32 x, i32 y, char* buffer, u32 max_len, u8 font, bool full_charset)
{
    const u8 old_font = font_current;
    font_select(font);
    const u32 limit = font == 6 ? 27 : (font == 3 || font == 4) ? 57 : font == 5 ? 37 : 77;
    const u32 n = std::min(max_len, limit);
    char line[80];
    std::memset(line, ' ', sizeof line);
    line[n] = '\0';
    const size_t have = std::min<size_t>(std::strlen(buffer), n);
    std::memcpy(line, buffer, have);
    u32 cursor = 0;
    int result = 0;
    for (;;) {
        if (n == 0) break;
        text_draw(x, y, line, 0);
        if (ticks_now() & 8) {
            const char cell[2] = {line[cursor], '\0'};
            text_draw(x + static_cast<i32>(cursor) * font_width, y, cell, TF_INVERSE);
        }
        idle_yield();
        const u32 k = key_poll();
        if (k == KEY_NONE) continue;
        const int e = editor_key(k);
        u8 c = static_cast<u8>(line[cursor]);
        if (e == EK_UP) {
            line[cursor] = static_cast<char>(text_edit_next(c, full_charset));
        } else if (e == EK_DOWN) {
            line[cursor] = static_cast<char>(text_edit_prev(c, full_charset));
        } else if (e == EK_LEFT) {
            cursor = cursor == 0 ? n - 1 : cursor - 1;
        } else if (e == EK_RIGHT) {
            cursor = cursor == n - 1 ? 0 : cursor + 1;
        } else if (e == EK_ACCEPT) {
            u32 end = n;
            while (end > 0 && line[end - 1] == ' ') --end;
            std::memcpy(buffer, line, end);
            buffer[end] = '\0';
            result = 1;
            break;
        } else if (e == EK_CANCEL) {
            break;
        }
    }
    text_draw(x, y, buffer, 0);
    font_select(old_font);
    return result;
}

int text_entry_dialog(const char* prompt, u32 max_len, char* buffer)
{
    i32 t = std::max(8 * len(prompt), 112);
    t = std::max(t, static_cast<i32>(12 * max_len));
    const i32 left = std::max(160 - t / 2 - 15, 0);
    const i32 right = std::min(160 + t / 2 + 15, 319);
    bg_color = COLOR_BACKGROUND;
    clear_rect(left + 2, 44, right - 2, 111);
    panel_draw(left, 42, right, 112, 40980, COLOR_WHITE, COLOR_MAGENTA, 64, COLOR_BACKGROUND);
    const u8 font = font_current;
    font_select(4);
    fg_color = COLOR_DARK_BLUE;
    text_draw_span(left, 52, right - left, prompt, 0);
    font_select(font);
    fg_color = COLOR_DARK_BLUE;
    bg_color = COLOR_WHITE;
    return text_edit(160 - 4 * static_cast<i32>(max_len), 84, buffer, max_len, 4, false);
}

void panel_draw(i32 x0, i32 y0, i32 x1, i32 y1, u16 outer_light, u16 inner_light, u16 inner_dark, u16 outer_dark,
                u16 fill)
{
    if (fill != 0) {
        draw_round_rect(x0, y0, x1, y1, outer_light);
        fill_inside(x0, y0, x1, y1, fill);
    }
    draw_hline(x0 + 5, x1 - 5, y0, outer_light);
    draw_vline(x0, y0 + 5, y1 - 5, outer_light);
    draw_hline(x0 + 5, x1 - 5, y1, outer_dark);
    draw_vline(x1, y0 + 5, y1 - 5, outer_dark);
    draw_hline(x0 + 5, x1 - 5, y0 + 1, inner_light);
    draw_vline(x0 + 1, y0 + 5, y1 - 5, inner_light);
    draw_hline(x0 + 5, x1 - 5, y1 - 1, inner_dark);
    draw_vline(x1 - 1, y0 + 5, y1 - 5, inner_dark);
    // Corner arcs, two pixels wide: the outer arc and the one inside it.
    static const i32 outer[5][2] = {{1, 4}, {1, 3}, {2, 2}, {3, 1}, {4, 1}};
    static const i32 inner[5][2] = {{2, 4}, {2, 3}, {3, 2}, {3, 3}, {4, 2}};
    for (int i = 0; i < 5; ++i) {
        put_pixel(x0 + outer[i][0], y0 + outer[i][1], outer_light);
        put_pixel(x1 - outer[i][0], y0 + outer[i][1], outer_light);
        put_pixel(x0 + outer[i][0], y1 - outer[i][1], outer_dark);
        put_pixel(x1 - outer[i][0], y1 - outer[i][1], outer_dark);
        put_pixel(x0 + inner[i][0], y0 + inner[i][1], inner_light);
        put_pixel(x1 - inner[i][0], y0 + inner[i][1], inner_light);
        put_pixel(x0 + inner[i][0], y1 - inner[i][1], inner_dark);
        put_pixel(x1 - inner[i][0], y1 - inner[i][1], inner_dark);
    }
}
