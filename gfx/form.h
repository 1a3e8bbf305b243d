// Settings forms: a column of fields with one focused, moved with Up and
// Down; a field is a plain item, a choice box (Left/Right step through up to
// nine texts in one box) or an option bar (Left/Right move the highlight
// along up to nine segments side by side).
#pragma once
#include "base/types.h"
#include "gfx/menu.h"  // POLL_ESC, POLL_FOCUS_MOVED, POLL_CHANGED, POLL_NOTHING

constexpr int CHOICE_MAX_TEXTS = 9;
constexpr int OPTION_MAX_TEXTS = 9;
constexpr int FORM_MAX_FIELDS = 13;

// Option-bar pieces: every piece is this wide and the bar this high.
constexpr i32 OPTION_PIECE_W = 15;
constexpr i32 OPTION_BAR_H = 28;
// Choice-box pieces: left cap, filler strip and right cap widths.
constexpr i32 CHOICE_LEFT_W = 22;
constexpr i32 CHOICE_FILLER_W = 16;
constexpr i32 CHOICE_RIGHT_W = 8;

// Field types of a form.
enum : u8 {
    FIELD_PLAIN = 0,   // Enter selects it
    FIELD_CHOICE = 1,  // widget is a ChoiceBox
    FIELD_OPTION = 4,  // widget is an OptionBar
};

struct ChoiceBox {
    i32 x, y;
    i32 w, h;  // grow to the widest and highest text
    u8 font;
    u8 plain;    // 1: only the text on a cleared box; 0: the framed box
    u8 current;  // 1-based
    u8 count;
    u32 key_prev;  // Left
    u32 key_next;  // Right
    u32 key_up;    // Up; kept with the box, not handled by it
    u32 key_down;  // Down; likewise
    const char* texts[CHOICE_MAX_TEXTS];
};

struct OptionBar {
    i32 x, y;
    i32 cells;  // middle segments per option, at least 1
    i32 w, h;   // total width and height
    u8 font;
    u8 current;  // 1-based
    u8 count;
    u32 key_prev, key_next;
    const char* texts[OPTION_MAX_TEXTS];
};

struct FormField {
    u8 type;  // FIELD_PLAIN, FIELD_CHOICE or FIELD_OPTION
    void* widget;
    const void* focus_image;
    const void* normal_image;
    const char* caption;
    i32 x, y;     // of the field marker
    u32 hot_key;  // 65535 = none
    u8 enabled;
};

struct FormWidget {
    u8 sel;  // 1-based focused field
    u8 count;
    u32 key_prev, key_next, key_prev2, key_next2;
    u32 key_select;
    u32 key_select2;  // 65535 = none
    i32 caption_x, caption_y;
    u8 caption_font;  // 0 = no caption
    FormField fields[FORM_MAX_FIELDS];
};

// Empties the box at (x, y) in `font`: current 1, keys Left/Right (Up/Down).
void choice_init(ChoiceBox* box, i32 x, i32 y, u8 font);
// Appends a text (ignored beyond nine) and grows the box to it; returns the new count.
u8 choice_add(ChoiceBox* box, const char* text);
// Draws the current text, framed or plain; draws nothing without one.
void choice_draw(const ChoiceBox* box, bool enabled);
// Steps to the previous text, wrapping from the first to the last, and redraws.
void choice_prev(ChoiceBox* box);
// Steps to the next text, wrapping from the last to the first, and redraws.
void choice_next(ChoiceBox* box);
// Returns 1 when the key was the box's previous or next key (handled), else 0.
int choice_key(ChoiceBox* box, u32 key);
// Returns the current text's 1-based number.
u8 choice_get(const ChoiceBox* box);
// Makes text i current when 1 <= i <= count; does nothing otherwise.
void choice_set(ChoiceBox* box, u8 i);

// Empties the bar at (x, y) in `font`, each option at least min_chars wide
// (0: one middle segment).
void option_init(OptionBar* bar, i32 x, i32 y, u8 font, u32 min_chars, u32 key_prev, u32 key_next);
// Appends an option (ignored beyond nine) and widens the bar; returns the new count.
u8 option_add(OptionBar* bar, const char* text);
// Draws the whole bar with the current option highlighted.
void option_draw(const OptionBar* bar);
// Returns 1 when the key was the bar's previous or next key (handled, the
// highlight moved with wrap-around and the bar redrawn), else 0.
int option_key(OptionBar* bar, u32 key);

// Empties the form: focus on field 1, the given keys, no second select key, no caption.
void form_init(FormWidget* form, u32 key_prev, u32 key_next, u32 key_prev2, u32 key_next2, u32 key_select);
// Appends an enabled field (ignored when the form is full).
void form_add(FormWidget* form, i32 x, i32 y, const void* focus_image, const void* normal_image, const char* caption,
              u8 type, void* widget, u32 hot_key);
// Enables (flag != 0) or disables field `number` (1-based); other numbers are ignored.
void form_enable(FormWidget* form, int number, int flag);
// Draws every choice box (grey when disabled) and option bar of the form.
void form_draw_widgets(const FormWidget* form);
// Draws every field's marker, the focused one with its focus picture and caption.
void form_draw_focus(const FormWidget* form);
// Takes one key (stored in *key unless null) and returns POLL_ESC,
// POLL_NOTHING, POLL_FOCUS_MOVED, POLL_CHANGED or a field's 1-based number.
i32 form_poll(FormWidget* form, u32* key);
