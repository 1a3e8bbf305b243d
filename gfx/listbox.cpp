#include "gfx/listbox.h"

#include <algorithm>
#include <cstring>

#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"

namespace {

constexpr i32 CHECK_IMAGE_SIZE = 24;
constexpr i32 CHECK_TEXT_SHIFT = 15;  // the text starts this far right of the margin when checkable
constexpr i32 FULL_LAYOUT_ROWS = 3;   // from this many rows on: frame, margins and scroll-bar column

bool full_layout(const ListBox* l)
{
    return l->rows >= FULL_LAYOUT_ROWS;
}

// Pixels between the frame and the first row.
i32 margin(const ListBox* l)
{
    return full_layout(l) ? 2 : 0;
}

// Copies s into a buffer of n bytes, cut to fit and always terminated.
void copy_text(char* dst, const char* s, size_t n)
{
    if (!s) s = "";
    const size_t len = std::min(std::strlen(s), n - 1);
    std::memcpy(dst, s, len);
    dst[len] = '\0';
}

// a * num / den rounded to the nearest integer, an exact half rounded down
// (all non-negative).
i32 scale_round(i32 a, i32 num, i32 den)
{
    const i64 p = static_cast<i64>(a) * num;
    i64 q = p / den;
    if (2 * (p % den) > den) ++q;
    return static_cast<i32>(q);
}

// Column range of the scroll bar (full layout).
i32 column_left(const ListBox* l)
{
    return l->x + l->width - font_width - (font_width & 1) - 1;
}
i32 column_right(const ListBox* l)
{
    return l->x + l->width - 1;
}
// Bottom line of the list frame (full layout).
i32 frame_bottom(const ListBox* l)
{
    return l->y + l->rows * font_height + 3;
}
// x of the right-edge line of a short list.
i32 edge_line_x(const ListBox* l)
{
    return l->x + l->width - font_width / 2;
}

// The top row of the thumb for the current selection (font selected).
i32 thumb_top(const ListBox* l)
{
    const i32 h = font_height;
    const i32 n = l->count - 1;
    const i32 sel = std::clamp(l->sel, 0, std::max(n, 0));
    if (full_layout(l)) return l->y + h + (n < 1 ? 0 : scale_round(l->rows * h + 4 - 3 * h, sel, n));
    return l->y + (n < 1 ? 0 : scale_round((l->rows - 1) * h, sel, n));
}

// Rectangle the thumb occupies with its top at `top`.
void thumb_rect(const ListBox* l, i32 top, i32* x0, i32* x1, i32* y1)
{
    if (full_layout(l)) {
        *x0 = column_left(l);
        *x1 = *x0 + font_width;
        *y1 = top + font_height;
    } else {
        *x0 = edge_line_x(l) - font_width / 4;
        *x1 = *x0 + font_width / 2;
        *y1 = top + font_height - 1;
    }
}

void draw_column_frames(const ListBox* l)
{
    const i32 h = font_height;
    const i32 cx0 = column_left(l);
    const i32 cx1 = column_right(l);
    const i32 bottom = frame_bottom(l);
    draw_rect(cx0, l->y, cx1, bottom, fg_color);
    draw_rect(cx0, l->y + h, cx1, bottom + 1 - h, fg_color);
}

void draw_edge_line(const ListBox* l)
{
    const i32 lx = edge_line_x(l);
    draw_line(lx, l->y, lx, l->y + l->rows * font_height - 1);
}

void draw_thumb(const ListBox* l, i32 top)
{
    i32 x0, x1, y1;
    thumb_rect(l, top, &x0, &x1, &y1);
    draw_etched_frame(x0, top, x1, y1, 0);
}

// Clears the thumb at `top` and mends what lay under it.
void erase_thumb(const ListBox* l, i32 top)
{
    i32 x0, x1, y1;
    thumb_rect(l, top, &x0, &x1, &y1);
    clear_rect(x0, top, x1, y1);
    if (full_layout(l))
        draw_column_frames(l);
    else
        draw_edge_line(l);
}

// The two triangles of the scroll bar, half a cell wide, centred in the
// column's top and bottom cells.
void draw_arrows(const ListBox* l)
{
    const i32 h = font_height;
    const i32 cx0 = column_left(l);
    const i32 mid = cx0 + (column_right(l) - cx0) / 2;
    const i32 a = font_width / 4;
    const i32 up_apex = l->y + (h - a) / 2;
    draw_line(mid - a, up_apex + a, mid, up_apex);
    draw_line(mid, up_apex, mid + a, up_apex + a);
    draw_line(mid - a, up_apex + a, mid + a, up_apex + a);
    const i32 cell = frame_bottom(l) + 1 - h;
    const i32 down_apex = cell + h - (h - a) / 2;
    draw_line(mid - a, down_apex - a, mid, down_apex);
    draw_line(mid, down_apex, mid + a, down_apex - a);
    draw_line(mid - a, down_apex - a, mid + a, down_apex - a);
}

u8 item_is_checked(const ListBox* l, i32 i)
{
    if (l->virtual_) return l->checked_of ? l->checked_of(i) : 0;
    return i < LIST_MAX_ITEMS ? l->item_checked[i] : 0;
}

void draw_item(const ListBox* l, i32 i)
{
    if (i < l->top || i >= l->count || i >= l->top + l->rows || i < 0) return;
    font_select(l->font);
    image_mode = 0;
    const i32 h = font_height;
    const i32 m = margin(l);
    const i32 row_y = l->y + m + (i - l->top) * h;
    if (l->checkable) {
        const u16* img = image_set[item_is_checked(l, i) ? IMG_CHECK_TICKED : IMG_CHECK_EMPTY];
        image_draw(l->x + m, row_y + (h - CHECK_IMAGE_SIZE) / 2, img);
    }
    char text[LIST_DRAW_TEXT_BYTES];
    if (l->virtual_)
        copy_text(text, l->text_of ? l->text_of(i) : nullptr, sizeof text);
    else
        copy_text(text, i < LIST_MAX_ITEMS ? l->item_text[i] : nullptr, sizeof text);
    text_draw(l->x + m + CHECK_TEXT_SHIFT * (l->checkable ? 1 : 0), row_y, text,
              i == l->sel ? static_cast<u32>(TF_INVERSE) : 0u);
}

}  // namespace

void list_init(ListBox* list, i32 x, i32 y, i32 width, i32 rows, u8 font, u8 checkable)
{
    std::memset(list, 0, sizeof *list);
    list->x = x;
    list->y = y;
    list->width = width;
    list->rows = rows;
    list->font = font;
    list->checkable = checkable;
    list_set_keys(list, KEY_UP, KEY_DOWN, KEY_ENTER, KEY_SHIFT + KEY_UP, KEY_SHIFT + KEY_DOWN);
}

void list_set_virtual(ListBox* list, i32 count, const char* (*text_of)(i32), u8 (*checked_of)(i32))
{
    list->virtual_ = 1;
    list->count = std::max(count, 0);
    list->text_of = text_of;
    list->checked_of = checked_of;
    // A selection left over from a longer list would point past the items.
    if (list->sel >= list->count) list->sel = std::max(list->count - 1, 0);
    if (list->top > list->sel) list->top = list->sel;
    if (list->sel >= list->top + list->rows) list->top = std::max(list->sel - list->rows + 1, 0);
}

void list_set_keys(ListBox* list, u32 up, u32 down, u32 toggle, u32 page_up, u32 page_down)
{
    list->key_up = up;
    list->key_down = down;
    list->key_toggle = toggle;
    list->key_page_up = page_up;
    list->key_page_down = page_down;
}

i32 list_append(ListBox* list, const char* text, i32 value)
{
    if (list->count >= LIST_MAX_ITEMS) return LIST_APPEND_FULL;
    const i32 i = list->count;
    copy_text(list->item_text[i], text, LIST_TEXT_BYTES);
    list->item_checked[i] = 0;
    list->value[i] = value;
    ++list->count;
    return i;
}

void list_select(ListBox* list, i32 i)
{
    if (i >= list->count || i < 0) return;
    list->sel = i;
    if (i < list->top || i >= list->top + list->rows) list->top = std::max(i - list->rows + 1, 0);
}

void list_draw(ListBox* list)
{
    font_select(list->font);
    const i32 h = font_height;
    const i32 x = list->x;
    const i32 y = list->y;
    clear_rect(x, y, x + list->width, y + list->rows * h + (full_layout(list) ? 4 : 0));
    for (i32 i = list->top; i < list->top + list->rows && i < list->count; ++i) draw_item(list, i);
    font_select(list->font);
    if (full_layout(list)) {
        draw_rect(x, y, x + list->width - 1, frame_bottom(list), fg_color);
        draw_column_frames(list);
        draw_arrows(list);
    } else {
        draw_edge_line(list);
    }
    draw_thumb(list, thumb_top(list));
    idle_yield();
}

void list_key(ListBox* list, u32 key, i32* redraw_all)
{
    *redraw_all = 0;
    const i32 last = list->count - 1;
    if (key == list->key_up || key == list->key_down) {
        const bool up = key == list->key_up;
        if (up ? list->sel <= 0 : list->sel >= last) return;
        font_select(list->font);
        const i32 old_thumb = thumb_top(list);
        const i32 old = list->sel;
        list->sel += up ? -1 : 1;
        if (list->sel < list->top) {
            list->top = list->sel;
            *redraw_all = 1;
            return;
        }
        if (list->sel >= list->top + list->rows) {
            list->top = list->sel - list->rows + 1;
            *redraw_all = 1;
            return;
        }
        draw_item(list, old);
        draw_item(list, list->sel);
        font_select(list->font);
        erase_thumb(list, old_thumb);
        draw_thumb(list, thumb_top(list));
        idle_yield();
        return;
    }
    if (key == list->key_toggle) {
        if (!list->checkable) return;
        if (!list->virtual_ && list->sel >= 0 && list->sel < list->count && list->sel < LIST_MAX_ITEMS)
            list->item_checked[list->sel] ^= 1;
        *redraw_all = 1;
        return;
    }
    if (key == list->key_page_up) {
        if (list->sel == 0) return;
        if (list->top < list->rows) {
            list->top = 0;
            list->sel = 0;
        } else {
            list->top -= list->rows;
            list->sel -= list->rows;
        }
        *redraw_all = 1;
        return;
    }
    if (key == list->key_page_down) {
        if (list->sel >= last) return;
        if (list->top + 2 * list->rows >= last) {
            list->top = std::max(list->count - list->rows, 0);
            list->sel = last;
        } else {
            list->top += list->rows;
            list->sel += list->rows;
        }
        *redraw_all = 1;
    }
}
