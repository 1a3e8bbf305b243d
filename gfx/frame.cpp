#include "gfx/frame.h"

#include <cmath>
#include <cstring>

#include "base/text.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"

namespace {

bool has_text(const char* s)
{
    return s && *s;
}

i32 slot_x(i32 pos)
{
    const i32 k = pos < 0 ? -pos : pos;
    return 64 * (k - 1) + 2;
}

// Slot 1..5 of a pos (pos < 0), or 0 when pos is no slot.
int slot_of(i32 pos)
{
    return (pos <= -1 && pos >= -5) ? -pos : 0;
}

}  // namespace

void frame_title(const char* title)
{
    image_draw(0, 0, image_set[IMG_TITLE_BAR]);
    fg_color = COLOR_DARK_BLUE;
    bg_color = COLOR_BACKGROUND;
    outline_color = COLOR_WHITE;
    if (has_text(title)) {
        const u8 font = font_current;
        font_select(3);
        text_draw(16, 7, title, TF_OUTLINE | TF_TRANSPARENT);
        font_select(font);
    }
    frame_status();
}

void screen_enter(const char* title)
{
    keys_reset();
    screen_frame(title);
}

void screen_frame(const char* title)
{
    outline_color = COLOR_WHITE;
    bg_color = COLOR_BACKGROUND;
    fg_color = COLOR_BLACK;
    lcd_clear();
    frame_title(title);
    frame_bottom();
}

void frame_status()
{
    const u8 font = font_current;
    font_select(3);
    fg_color = COLOR_BLUE;
    bg_color = COLOR_BACKGROUND;
    char text[16];
    format_time(pack_now(), text);
    text_draw(screen_width - 81, 7, text, TF_HCENTER);
    battery_draw(screen_width - 37, 3);
    font_select(font);
}

i32 battery_draw(i32 x, i32 y)
{
    if (ticks_now() < 32) return 100;
    const i32 level = BATTERY_LEVEL;
    const int index = static_cast<int>(std::lround(level * 5 * 0.01));
    image_draw(x, y, image_set[IMG_BATTERY_0 + index]);
    return level;
}

void frame_bottom()
{
    image_draw(0, BOTTOM_BAR_Y, image_set[IMG_BOTTOM_BAR]);
}

i32 softkey_draw(i32 pos, const char* text)
{
    i32 x = slot_x(pos);
    const i32 y = BOTTOM_BAR_Y;
    if (pos < 0) {
        if (slot_of(pos)) image_draw(x, y, image_set[IMG_SOFTKEY_PLAIN + slot_of(pos)]);
        x += 8;
    } else {
        image_draw(x, y, image_set[IMG_SOFTKEY_PLAIN]);
    }
    if (has_text(text)) {
        const u8 font = font_current;
        fg_color = COLOR_WHITE;
        outline_color = COLOR_BLACK;
        font_select(8);
        const i32 cx = x + 30 - (std::strlen(text) >= 5 ? 1 : 0);
        text_draw(cx, y + 5, text, TF_OUTLINE | TF_TRANSPARENT | TF_HCENTER);
        font_select(font);
    }
    return 8;
}

void softkey_clear(i32 pos)
{
    if (pos < 0) image_draw(slot_x(pos), BOTTOM_BAR_Y, image_set[IMG_SOFTKEY_BLANK]);
}

void softbar_init(SoftKeyBar* bar, u32 mod_key)
{
    std::memset(bar, 0, sizeof *bar);
    bar->mod_key = mod_key;
    bar->dirty = 1;
}

void softbar_set(SoftKeyBar* bar, i32 pos, const char* text, const char* shift_text)
{
    const int slot = pos < 0 ? -pos : pos;
    if (slot < 1 || slot > 5) return;
    const int i = slot - 1;
    bar->slot_pos[i] = pos;
    bar->show[i] = has_text(text);
    bar->show_shift[i] = has_text(shift_text);
    bar->text[i] = text;
    bar->shift_text[i] = shift_text;
    bar->dirty = 1;
}

void softbar_show(SoftKeyBar* bar, i32 pos, u8 show, u8 show_shift)
{
    const int slot = pos < 0 ? -pos : pos;
    if (slot < 1 || slot > 5) return;
    const int i = slot - 1;
    if (bar->show[i] != show || bar->show_shift[i] != show_shift) bar->dirty = 1;
    bar->show[i] = show;
    bar->show_shift[i] = show_shift;
}

void softbar_invalidate(SoftKeyBar* bar)
{
    bar->dirty = 1;
}

void softbar_set_shift(SoftKeyBar* bar, u8 shifted)
{
    if (shifted != bar->shifted) {
        bar->shifted = shifted;
        bar->dirty = 1;
    }
}

void softbar_update(SoftKeyBar* bar)
{
    if (bar->mod_key != 0) softbar_set_shift(bar, key_held(bar->mod_key) ? 1 : 0);
    if (!bar->dirty) return;
    for (int i = 0; i < 5; ++i) {
        const i32 pos = bar->slot_pos[i];
        if (pos == 0) continue;
        const bool show = bar->shifted ? bar->show_shift[i] : bar->show[i];
        const char* text = bar->shifted ? bar->shift_text[i] : bar->text[i];
        if (show && text)
            softkey_draw(pos, text);
        else
            softkey_clear(pos);
    }
    bar->dirty = 0;
}
