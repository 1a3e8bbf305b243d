// The scrolling list: one-line items in a framed rectangle, the selected
// item inverted, optional check boxes and a scroll bar whose thumb shows
// where the selection lies. Items are stored in the list (up to 200) or
// supplied by the screen through callbacks (virtual mode).
#pragma once
#include "base/types.h"

constexpr i32 LIST_MAX_ITEMS = 200;
constexpr i32 LIST_TEXT_BYTES = 60;       // a stored text: 59 characters and the terminator
constexpr i32 LIST_DRAW_TEXT_BYTES = 64;  // the buffer a text is copied into for drawing
constexpr i32 LIST_APPEND_FULL = -1;      // list_append: the list already holds 200 items

struct ListBox {
    i32 sel;    // selected item, 0-based
    i32 count;  // number of items
    i32 width;  // width of the list rectangle in pixels
    i32 rows;   // visible rows
    i32 x, y;   // top-left corner
    i32 top;    // first visible item
    u8 checkable;
    u8 font;
    u32 key_up, key_down, key_toggle, key_page_up, key_page_down;
    u8 virtual_;                        // texts and check states come from the callbacks
    const char* (*text_of)(i32 index);  // virtual mode: the text of an item
    u8 (*checked_of)(i32 index);        // virtual mode: the check state of an item
    i32 value[LIST_MAX_ITEMS];          // the caller's value per item
    char item_text[LIST_MAX_ITEMS][LIST_TEXT_BYTES];
    u8 item_checked[LIST_MAX_ITEMS];
};

// Returns nothing; an empty stored list at (x, y) with the default keys.
void list_init(ListBox* list, i32 x, i32 y, i32 width, i32 rows, u8 font, u8 checkable);
// Returns nothing; switches to callbacks for `count` items (the selection is kept inside them).
void list_set_virtual(ListBox* list, i32 count, const char* (*text_of)(i32), u8 (*checked_of)(i32));
// Returns nothing; sets the five key codes the list answers.
void list_set_keys(ListBox* list, u32 up, u32 down, u32 toggle, u32 page_up, u32 page_down);
// Returns the new item's index, or LIST_APPEND_FULL when 200 items are present.
i32 list_append(ListBox* list, const char* text, i32 value);
// Returns nothing; selects item i (ignored outside the items) and scrolls it into view.
void list_select(ListBox* list, i32 i);
// Returns nothing; draws the whole list: frame, items, scroll bar and thumb.
void list_draw(ListBox* list);
// Returns nothing; handles one key, sets *redraw_all to 1 when the caller must call list_draw, else 0.
void list_key(ListBox* list, u32 key, i32* redraw_all);
