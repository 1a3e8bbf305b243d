// The screen frame: title bar with clock and battery, bottom bar, soft keys.
#pragma once
#include "base/types.h"

constexpr i32 BOTTOM_BAR_Y = 216;
constexpr i32 BATTERY_LEVEL = 60;  // the emulated instrument has no battery

void frame_title(const char* title);
// What every screen does on entry: keys reset, the usual colours (outline
// white, background 54938, foreground black), a cleared screen, the title
// bar with `title` and the bottom bar.
void screen_enter(const char* title);
// The same without the keys reset: a full redraw of a screen's frame.
void screen_frame(const char* title);
void frame_status();
// The charge level drawn (BATTERY_LEVEL), 100 during the first second,
// when nothing is drawn.
i32 battery_draw(i32 x, i32 y);
void frame_bottom();
// pos -1..-5: the key of slot 1..5 (Ent, up, down, left, right); pos > 0: a
// plain key at slot position pos. Returns 8.
i32 softkey_draw(i32 pos, const char* text);
void softkey_clear(i32 pos);

// The soft-key labels of a screen, switched to their shifted variants while
// the Mod key is held.
struct SoftKeyBar {
    u8 dirty;
    u8 shifted;
    u32 mod_key;
    i32 slot_pos[5];
    u8 show[5];
    u8 show_shift[5];
    const char* text[5];
    const char* shift_text[5];
};

void softbar_init(SoftKeyBar* bar, u32 mod_key);
void softbar_set(SoftKeyBar* bar, i32 pos, const char* text, const char* shift_text);
void softbar_show(SoftKeyBar* bar, i32 pos, u8 show, u8 show_shift);
void softbar_invalidate(SoftKeyBar* bar);
void softbar_set_shift(SoftKeyBar* bar, u8 shifted);
void softbar_update(SoftKeyBar* bar);
