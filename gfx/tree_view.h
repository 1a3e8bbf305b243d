// A scrolling tree: a root line, its children and theirs, with connector
// lines, expand boxes, icons and a highlighted cursor line. The widget knows
// nothing of what it shows: every node carries its own operations, so any
// model can be shown (the archive, the routes).
#pragma once
#include "base/types.h"

struct TreeNode;

// Operations of a node; any of them may be absent (nullptr), except text.
// An absent question answers false, an absent action does nothing.
using TreeQuery = bool (*)(const TreeNode* node);
using TreeAction = void (*)(const TreeNode* node);
using TreeStep = bool (*)(const TreeNode* node, TreeNode* out);
using TreeText = const char* (*)(const TreeNode* node, int max_chars);
using TreeIcon = int (*)(const TreeNode* node);

// One line of the tree, a small value that is copied freely.
struct TreeNode {
    u8 level;   // 0 for the root, 1 for its children, and so on
    i32 index;  // position in the model (the archive: directory index; -1 for the root)
    TreeQuery is_expanded;
    TreeAction toggle;     // flips the expansion
    TreeQuery is_current;  // the model's current item
    TreeQuery has_children;
    TreeStep parent;
    TreeText text;  // required: the line's text, at most max_chars characters
    TreeIcon icon;  // icon number 1..22 of the tree icon strip, 0 = none
    TreeStep prev_sibling;
    TreeStep next_sibling;
    TreeStep first_child;
};

// Builds the root node of a model into `out`.
using TreeRootBuilder = void (*)(TreeNode* out);
// A test on a line; `context` is the caller's.
using TreePredicate = bool (*)(const TreeNode* node, const void* context);

struct TreeView {
    i32 x0, y0, x1, y1;  // the area, inclusive corners
    u8 font_height;      // of the text font at initialisation
    i32 row_height;      // font height + 7
    i32 cursor_y;        // top of the cursor line
    u32 page_up_key;     // KEY_NONE = none
    u32 page_down_key;
    TreeNode current;  // the cursor
    TreeNode root;
};

// Drawing of the tree.
enum : u16 {
    TREE_BACKGROUND = 59164,
    TREE_FRAME = 33808,
    TREE_TEXT = 16,
    TREE_LINES = 0,
};
constexpr i32 TREE_INDENT = 25;           // pixels per level
constexpr i32 TREE_TEXT_AFTER_ICON = 30;  // text start right of the indent when there is an icon
constexpr i32 TREE_FIRST_ROW = 8;         // first row below the top of the area
constexpr i32 TREE_ROW_EXTRA = 7;         // row height = font height + this

// Stores the area, takes the root from `root_builder` and makes it the
// cursor on the first row; row height from the current font; no page keys.
void tree_init(TreeView* view, i32 x0, i32 y0, i32 x1, i32 y1, TreeRootBuilder root_builder);
// Whole rows that fit in the area.
i32 tree_rows_per_page(const TreeView* view);
// Full redraw: the cursor line, then the lines after and before it.
void tree_draw(TreeView* view);
// Draws one line at row top y, inverted when selected.
void tree_draw_row(TreeView* view, const TreeNode* node, i32 y, bool selected);
// Moves `node` to the previous line in display order: false at the top
// (the node is then left as it was).
bool tree_prev_visible(const TreeView* view, TreeNode* node);
// Moves `node` to the next line in display order: false at the end.
bool tree_next_visible(const TreeView* view, TreeNode* node);
// Handles the cursor keys: *key becomes KEY_NONE when the tree used it, and
// *redraw is set when a full redraw is needed. Returns whether it used the key.
bool tree_key(TreeView* view, u32* key, bool* redraw);
// Makes the first line in display order for which `pred` holds the cursor
// and places the cursor row; true when a line matched (else nothing changes).
bool tree_select(TreeView* view, TreePredicate pred, const void* context);
// Moves the cursor off its line before that item is deleted: to the next
// sibling, else the previous one, else the parent. False when there is none.
bool tree_step_away(TreeView* view);
