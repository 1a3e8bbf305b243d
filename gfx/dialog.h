// Message box, button face, value editors and the bevelled panel.
#pragma once
#include "base/types.h"

// Editor keys: accept, cancel, left, right, up, down, then the direct keys
// of the digits 0..9 (65535 = none).
constexpr int EDITOR_KEY_COUNT = 16;
extern u32 editor_keys[EDITOR_KEY_COUNT];
void editor_keys_set(const u32 keys[EDITOR_KEY_COUNT]);
// Back to the default editor keys (Enter, Esc, Left, Right, Up, Down).
void dialog_reset();

// Message box results.
enum : u16 { MSG_CONFIRMED = 3, MSG_CANCELLED = 2, MSG_DRAWN = 65535 };

// MSG_CONFIRMED (Enter on OK), MSG_CANCELLED (Esc, or Enter on Cancel), or
// MSG_DRAWN at once when the box has no button.
u16 msg_box(const char* title, const char* line1, const char* line2, const char* line3, bool ok, bool cancel);
// The font the label was drawn in (the current one or a smaller that fits),
// 6 without a label.
u8 button_draw(i32 x0, i32 y0, i32 x1, i32 y1, const char* label);
// 1 when a valid time was entered (stored in the values), 0 on Esc.
int time_edit(i32 x, i32 y, u16* hours, u16* minutes, u16* seconds, u32* last_key);
// 1 when Enter was pressed at all (the values change only on a valid date;
// Esc after an invalid one still gives 1), 0 when Esc came before any Enter.
int date_edit(i32 x, i32 y, u16* day, u16* month, u16* year, u32* last_key);
// `buffer` holds max_len + 1 bytes. 1 when Enter stored the text (trailing
// blanks cut), 0 on Esc (the buffer as it was).
int text_edit(i32 x, i32 y, char* buffer, u32 max_len, u8 font, bool full_charset);
// The text_edit result in a panel under `prompt`: 1 entered, 0 Esc.
int text_entry_dialog(const char* prompt, u32 max_len, char* buffer);
void panel_draw(i32 x0, i32 y0, i32 x1, i32 y1, u16 outer_light, u16 inner_light, u16 inner_dark, u16 outer_dark,
                u16 fill);

// Next and previous character of the editor's letters-digits-Cyrillic
// sequence (or of all codes 1..255 with full_charset).
u8 text_edit_next(u8 c, bool full_charset);
u8 text_edit_prev(u8 c, bool full_charset);
