#include "gfx/tree_view.h"

#include <cstring>

#include "data/images.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"

namespace {

// Parents followed from one line: a level is a u8, so a sound model never
// needs more; a model whose parents run in a circle stops here.
constexpr int MAX_CLIMB = 256;
// Lines passed in one move or search: more than any model holds, so that a
// model whose lines lead in a circle cannot hang the widget.
constexpr int MAX_WALK = 65536;

// Connector geometry, relative to the line's indent x.
constexpr i32 CONNECTOR_DX = 15;                           // the vertical connector of a level
constexpr i32 BOX_LEFT = 12, BOX_RIGHT = 4, BOX_HALF = 4;  // the expand box
constexpr i32 BOX_BAR_DX = 8;                              // the plus sign's vertical bar
constexpr i32 CONNECTOR_TOP_MARGIN = 4;                    // a connector starting closer to the top starts at the top
constexpr i32 HIDDEN_CHILDREN_DX = 10;                     // the line towards children below the area
constexpr i32 HIDDEN_CHILDREN_DY = 16;
constexpr i32 CURRENT_FRAME_RIGHT = 32;  // the dotted frame's right edge beyond the text
constexpr i32 CURRENT_FRAME_BOTTOM = 19;

constexpr u8 ICON_MODE_OBJECT = 1;  // white is the background
constexpr u8 ICON_MODE_OTHERS = 0;
constexpr int ICON_OBJECT = 1;

// Room for a line's text: more characters than the screen is wide.
constexpr int LINE_CHARS = LCD_WIDTH;

bool ask(TreeQuery q, const TreeNode& n)
{
    return q && q(&n);
}

bool step(TreeStep s, const TreeNode& n, TreeNode* out)
{
    return s && s(&n, out);
}

bool clip_span(i32* a, i32* b, i32 limit)
{
    if (*a > *b) {
        const i32 t = *a;
        *a = *b;
        *b = t;
    }
    if (*a < 0) *a = 0;
    if (*b > limit - 1) *b = limit - 1;
    return *a <= *b;
}

// Lines, boxes and fills clipped to the screen.
void vline(i32 x, i32 ya, i32 yb, u16 color)
{
    if (x < 0 || x >= LCD_WIDTH || !clip_span(&ya, &yb, LCD_HEIGHT)) return;
    draw_vline(x, ya, yb, color);
}

void hline(i32 xa, i32 xb, i32 y, u16 color)
{
    if (y < 0 || y >= LCD_HEIGHT || !clip_span(&xa, &xb, LCD_WIDTH)) return;
    draw_hline(xa, xb, y, color);
}

void fill(i32 xa, i32 ya, i32 xb, i32 yb, u16 color)
{
    if (!clip_span(&xa, &xb, LCD_WIDTH) || !clip_span(&ya, &yb, LCD_HEIGHT)) return;
    fill_rect(xa, ya, xb, yb, color);
}

void box(i32 xa, i32 ya, i32 xb, i32 yb, u16 color)
{
    hline(xa, xb, ya, color);
    hline(xa, xb, yb, color);
    vline(xa, ya, yb, color);
    vline(xb, ya, yb, color);
}

// A rectangle of every other pixel in the foreground colour.
void dotted_box(i32 xa, i32 ya, i32 xb, i32 yb)
{
    i32 cx0 = xa, cx1 = xb, cy0 = ya, cy1 = yb;
    if (!clip_span(&cx0, &cx1, LCD_WIDTH) || !clip_span(&cy0, &cy1, LCD_HEIGHT)) return;
    if (ya >= 0 && ya < LCD_HEIGHT) draw_dotted_hline(cx0, cx1, ya);
    if (yb >= 0 && yb < LCD_HEIGHT) draw_dotted_hline(cx0, cx1, yb);
    if (xa >= 0 && xa < LCD_WIDTH) draw_dotted_vline(xa, cy0, cy1);
    if (xb >= 0 && xb < LCD_WIDTH) draw_dotted_vline(xb, cy0, cy1);
}

i32 icon_offset(const TreeView* v)
{
    return (IMG_TREE_ICON_H - v->font_height) / 2;
}

// Draws icon n of the strip with its top-left corner at (x, y), if the
// strip has it and it lies wholly on the screen.
void draw_icon(int n, i32 x, i32 y)
{
    const u16* strip = image_set[IMG_TREE_ICONS];
    if (!strip || n < 1 || n * IMG_TREE_ICON_W > static_cast<int>(image_width(strip))) return;
    if (x < 0 || y < 0 || x + IMG_TREE_ICON_W > LCD_WIDTH || y + IMG_TREE_ICON_H > LCD_HEIGHT) return;
    image_mode = n == ICON_OBJECT ? ICON_MODE_OBJECT : ICON_MODE_OTHERS;
    image_draw_part(x, y, (n - 1) * IMG_TREE_ICON_W, 0, IMG_TREE_ICON_W, IMG_TREE_ICON_H, strip);
}

// Moves the cursor one line up or down (the line `to`): the two lines are
// redrawn when the cursor row stays inside the area, else the view scrolls.
void move_cursor(TreeView* v, const TreeNode& to, i32 dy, bool inside, bool* redraw)
{
    if (inside) {
        tree_draw_row(v, &v->current, v->cursor_y, false);
        v->current = to;
        v->cursor_y += dy;
        tree_draw_row(v, &v->current, v->cursor_y, true);
    } else {
        v->current = to;
        *redraw = true;
    }
}

bool room_above(const TreeView* v)
{
    return v->cursor_y - v->row_height > v->y0;
}

bool room_below(const TreeView* v)
{
    return v->cursor_y + 2 * v->row_height < v->y1;
}

void line_up(TreeView* v, bool* redraw)
{
    TreeNode p = v->current;
    if (tree_prev_visible(v, &p)) move_cursor(v, p, -v->row_height, room_above(v), redraw);
}

void line_down(TreeView* v, bool* redraw)
{
    TreeNode n = v->current;
    if (tree_next_visible(v, &n)) move_cursor(v, n, v->row_height, room_below(v), redraw);
}

// Moves by a page: the cursor row follows as far as the area allows.
void page(TreeView* v, bool up)
{
    const i32 rows = tree_rows_per_page(v);
    for (i32 i = 0; i < rows; ++i) {
        TreeNode n = v->current;
        if (!(up ? tree_prev_visible(v, &n) : tree_next_visible(v, &n))) break;
        v->current = n;
        if (up && room_above(v)) v->cursor_y -= v->row_height;
        if (!up && room_below(v)) v->cursor_y += v->row_height;
    }
}

// Left on a line without open children: up line by line to the first line
// of a smaller level.
void climb_left(TreeView* v)
{
    const u8 start = v->current.level;
    TreeNode n = v->current;
    for (int k = 0; k < MAX_WALK; ++k) {
        if (!tree_prev_visible(v, &n)) break;
        v->current = n;
        if (room_above(v)) v->cursor_y -= v->row_height;
        if (n.level < start) break;
    }
}

struct ColourState {
    u16 fg, bg;
    u8 mode;
    ColourState() : fg(fg_color), bg(bg_color), mode(image_mode) {}
    ~ColourState()
    {
        fg_color = fg;
        bg_color = bg;
        image_mode = mode;
    }
};

}  // namespace

void tree_init(TreeView* v, i32 x0, i32 y0, i32 x1, i32 y1, TreeRootBuilder root_builder)
{
    std::memset(v, 0, sizeof *v);
    v->x0 = x0;
    v->y0 = y0;
    v->x1 = x1;
    v->y1 = y1;
    if (root_builder) root_builder(&v->root);
    v->current = v->root;
    v->cursor_y = y0 + TREE_FIRST_ROW;
    v->font_height = font_height;
    v->row_height = font_height + TREE_ROW_EXTRA;
    v->page_up_key = KEY_NONE;
    v->page_down_key = KEY_NONE;
}

i32 tree_rows_per_page(const TreeView* v)
{
    return v->row_height > 0 ? (v->y1 - v->y0) / v->row_height : 0;
}

void tree_draw(TreeView* v)
{
    ColourState keep;
    bg_color = TREE_BACKGROUND;
    fill(v->x0, v->y0, v->x1, v->y1, TREE_BACKGROUND);
    box(v->x0 - 1, v->y0 - 1, v->x1, v->y1, TREE_FRAME);
    if (!v->current.text || v->row_height <= 0) return;
    tree_draw_row(v, &v->current, v->cursor_y, true);
    TreeNode n = v->current;
    for (i32 y = v->cursor_y + v->row_height; y + v->row_height < v->y1; y += v->row_height) {
        if (!tree_next_visible(v, &n)) break;
        tree_draw_row(v, &n, y, false);
    }
    n = v->current;
    for (i32 y = v->cursor_y - v->row_height; y > v->y0; y -= v->row_height) {
        if (!tree_prev_visible(v, &n)) break;
        tree_draw_row(v, &n, y, false);
    }
}

void tree_draw_row(TreeView* v, const TreeNode* node, i32 y, bool selected)
{
    ColourState keep;
    const i32 fh = v->font_height, rh = v->row_height;
    const i32 off = icon_offset(v);
    const i32 x = node->level * TREE_INDENT + v->x0 + 2;

    // The connectors of the ancestors that have further siblings below.
    TreeNode a = *node;
    i32 xa = x;
    for (int k = 0; k < MAX_CLIMB; ++k) {
        TreeNode p;
        if (!step(a.parent, a, &p) || p.level == 0) break;
        xa -= TREE_INDENT;
        TreeNode s;
        if (step(p.next_sibling, p, &s)) vline(xa - CONNECTOR_DX, y - v->y0 < rh ? v->y0 : y, y + rh, TREE_LINES);
        a = p;
    }

    bg_color = TREE_BACKGROUND;
    fill(x - 1, y - 1, v->x1 - 1, y + fh - 1, TREE_BACKGROUND);

    if (node->level != 0) {
        const i32 ym = y + fh / 2 - 1;
        hline(x - CONNECTOR_DX, x, ym, TREE_LINES);
        i32 top = y - off - 3;
        if (top < v->y0 + CONNECTOR_TOP_MARGIN) top = v->y0;
        TreeNode s;
        vline(x - CONNECTOR_DX, top, step(node->next_sibling, *node, &s) ? y + rh : ym, TREE_LINES);
        if (ask(node->has_children, *node)) {
            box(x - BOX_LEFT, ym - BOX_HALF, x - BOX_RIGHT, ym + BOX_HALF, TREE_LINES);
            if (!ask(node->is_expanded, *node))
                vline(x - BOX_BAR_DX, ym - BOX_HALF, ym + BOX_HALF, TREE_LINES);
            else if (v->y1 - (y + HIDDEN_CHILDREN_DY) < rh)
                vline(x + HIDDEN_CHILDREN_DX, v->y1 - 1, y + HIDDEN_CHILDREN_DY, TREE_LINES);
        }
    }

    const int icon = node->icon ? node->icon(node) : 0;
    i32 tx = x;
    if (icon != 0) {
        draw_icon(icon, x, y - off);
        tx = x + TREE_TEXT_AFTER_ICON;
    }

    const i32 cw = font_width > 0 ? font_width : 1;
    i32 max_chars = (v->x1 - tx - 1) / cw;
    if (max_chars < 0) max_chars = 0;
    if (max_chars > LINE_CHARS) max_chars = LINE_CHARS;
    char line[LINE_CHARS + 1];
    const char* text = node->text ? node->text(node, max_chars) : nullptr;
    const size_t len = text ? strnlen(text, static_cast<size_t>(max_chars)) : 0;
    std::memcpy(line, text ? text : "", len);
    line[len] = 0;
    const i32 text_right = tx + static_cast<i32>(len) * cw;
    if (tx < v->x1) {
        if (selected) {
            fill(tx - 1, y - 1, text_right, y + fh - 1, TREE_TEXT);
            fg_color = TREE_BACKGROUND;
            bg_color = TREE_TEXT;
        } else {
            fg_color = TREE_TEXT;
            bg_color = TREE_BACKGROUND;
        }
        if (len > 0) text_draw(tx, y, line, 0);
    }

    if (ask(node->is_current, *node)) {
        fg_color = TREE_TEXT;
        dotted_box(x - 2, y - off - 2, x + CURRENT_FRAME_RIGHT + static_cast<i32>(len) * cw, y + CURRENT_FRAME_BOTTOM);
    }
}

bool tree_prev_visible(const TreeView*, TreeNode* node)
{
    TreeNode p;
    if (step(node->prev_sibling, *node, &p)) {
        // The last line of the sibling's open subtree.
        int budget = MAX_WALK;
        while (ask(p.has_children, p) && ask(p.is_expanded, p)) {
            TreeNode c;
            if (--budget < 0 || !step(p.first_child, p, &c)) return false;
            p = c;
            TreeNode s;
            while (budget-- > 0 && step(p.next_sibling, p, &s)) p = s;
        }
        *node = p;
        return true;
    }
    if (step(node->parent, *node, &p)) {
        *node = p;
        return true;
    }
    return false;
}

bool tree_next_visible(const TreeView*, TreeNode* node)
{
    TreeNode n;
    if (ask(node->is_expanded, *node) && ask(node->has_children, *node) && step(node->first_child, *node, &n)) {
        *node = n;
        return true;
    }
    if (step(node->next_sibling, *node, &n)) {
        *node = n;
        return true;
    }
    TreeNode p = *node;
    for (int k = 0; k < MAX_CLIMB; ++k) {
        TreeNode q;
        if (!step(p.parent, p, &q)) return false;
        p = q;
        if (step(p.next_sibling, p, &n)) {
            *node = n;
            return true;
        }
    }
    return false;
}

bool tree_key(TreeView* v, u32* key, bool* redraw)
{
    const u32 k = *key;
    const TreeNode& c = v->current;
    bool used = true;
    if (k == KEY_UP) {
        line_up(v, redraw);
    } else if (k == KEY_DOWN) {
        line_down(v, redraw);
    } else if (k == KEY_LEFT) {
        if (ask(c.has_children, c) && ask(c.is_expanded, c) && c.toggle) {
            c.toggle(&c);
            *redraw = true;
        } else if (c.level != 0) {
            climb_left(v);
            *redraw = true;
        } else {
            used = false;  // the root cannot close: the key is the caller's
        }
    } else if (k == KEY_RIGHT) {
        if (!ask(c.has_children, c)) {
            used = false;
        } else if (!ask(c.is_expanded, c)) {
            if (c.toggle) c.toggle(&c);
            *redraw = true;
        } else {
            line_down(v, redraw);
        }
    } else if (k != KEY_NONE && k == v->page_up_key) {
        page(v, true);
        *redraw = true;
    } else if (k != KEY_NONE && k == v->page_down_key) {
        page(v, false);
        *redraw = true;
    } else {
        used = false;
    }
    if (used) *key = KEY_NONE;
    return used;
}

bool tree_select(TreeView* v, TreePredicate pred, const void* context)
{
    if (!pred || !v->root.text) return false;
    TreeNode n = v->root;
    for (i32 count = 0; count < MAX_WALK; ++count) {
        if (pred(&n, context)) {
            const i32 rows = tree_rows_per_page(v);
            const i32 row = count >= rows ? rows - 1 : count;
            v->current = n;
            v->cursor_y = v->y0 + TREE_FIRST_ROW + (row > 0 ? row : 0) * v->row_height;
            return true;
        }
        if (!tree_next_visible(v, &n)) return false;
    }
    return false;
}

bool tree_step_away(TreeView* v)
{
    const TreeNode c = v->current;
    TreeNode s;
    if (step(c.next_sibling, c, &s)) {
        v->current = s;
        return true;
    }
    if (step(c.prev_sibling, c, &s)) {
        v->current = s;
        if (v->cursor_y - 2 * v->row_height > v->y0) v->cursor_y -= v->row_height;
        return true;
    }
    if (step(c.parent, c, &s)) {
        v->current = s;
        if (room_above(v)) v->cursor_y -= v->row_height;
        return true;
    }
    return false;
}
