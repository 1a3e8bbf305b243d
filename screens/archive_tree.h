// The archive as a tree for the tree view: the instrument at the root, the
// objects under it, each object's measurements under the object. Nodes are
// built from the flash directory on every step; nothing is kept besides the
// directory itself (its entries hold the expanded bits).
#pragma once
#include "base/types.h"
#include "gfx/tree_view.h"

// Text of the root line.
constexpr const char* ARCHIVE_ROOT_TEXT = "Tarvik-2";
// Shown file types of the archive browser: signal/spectrum (0), object (9),
// vibrometer (19) and RMS table (22); routes (5) are hidden.
constexpr u32 ARCHIVE_SHOWN_TYPES = 0x480201;

// What a line of the archive tree stands for.
enum ArchiveNodeKind : int {
    ARCHIVE_NODE_ROOT = 0,
    ARCHIVE_NODE_OBJECT = 1,
    ARCHIVE_NODE_MEASUREMENT = 2,
};

// The root node (the root builder of tree_init).
void archive_tree_root(TreeNode* out);
// Builds the node of directory entry `index` by its type; false when the
// entry gives no line (hidden type, unknown type, or an object nested under
// another entry).
bool archive_tree_node(int index, TreeNode* out);
// The kind of a line, taken from its directory entry (not from its icon).
ArchiveNodeKind archive_node_kind(const TreeNode* node);
// Id of the directory entry of a line (0 for the root or a stale index).
u32 archive_node_id(const TreeNode* node);

// Sets the shown-type mask: bit t shows files of type t; types above 31 are
// always let through (and then give no line).
void archive_tree_set_shown(u32 mask);
// The shown-type mask.
u32 archive_tree_shown();

// Shows the entry `id` in `view`: sets the expanded bit of each of its
// ancestors and makes its line the cursor. Id 0 selects the root. Returns
// whether the line was found.
bool tree_show_id(TreeView* view, u32 id);

// The browser's mask again (state at power-on).
void archive_tree_reset();
