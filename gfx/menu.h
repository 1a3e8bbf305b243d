// Icon menus: 90 x 77 icons in one or two centred rows, the highlighted
// item's name in the bottom bar.
#pragma once
#include "base/types.h"

constexpr int MENU_MAX_ITEMS = 13;

// Widget poll results shared by all widgets.
enum : i32 {
    POLL_ESC = 0,
    POLL_FOCUS_MOVED = 202,
    POLL_CHANGED = 203,
    POLL_NOTHING = 204,
};

struct IconMenuItem {
    const void* icon_sel;  // drawn when highlighted
    const void* icon;      // drawn otherwise; may be null
    const char* text;      // name
    i32 x, y;              // placed by the layout
    u32 hot_key;           // 65535 = none
};

struct IconMenu {
    u8 sel;
    u8 count;
    u32 key_accept;
    u32 key_accept2;
    i32 caption_x, caption_y;
    u8 caption_font;
    IconMenuItem items[MENU_MAX_ITEMS];
    i32 rows;
    i32 first_row;
    void (*caption_draw)(i32 x, i32 y, const char* text);
};

void menu_init(IconMenu* menu);
void menu_caption(IconMenu* menu, i32 x, i32 y, u8 font, void (*caption_draw)(i32, i32, const char*));
void menu_add(IconMenu* menu, const void* icon_sel, const void* icon, const char* text, u32 hot_key);
void menu_select(IconMenu* menu, u32 n);
void menu_layout_draw(IconMenu* menu);
// Takes one key: POLL_ESC (Esc, or an empty menu), the 1-based item accepted
// or hot-keyed, or POLL_NOTHING (no key, a move, or another key, which is
// then stored in *other_key unless null).
i32 menu_poll(IconMenu* menu, u32* other_key);

// The caption drawer of the instrument's menus: the name on the bottom bar.
void menu_caption_drawer(i32 x, i32 y, const char* text);
