#include "screens/archive_tree.h"

#include <cstring>

#include "archive/measurement.h"
#include "archive/objects.h"
#include "data/images.h"
#include "storage/dir.h"
#include "storage/fs.h"

// How the directory becomes lines:
// - the first level under the root holds every shown entry without a listed
//   parent: the objects, and measurements whose object is gone (shown as
//   measurements, at the object level); its lines follow each other in
//   directory order;
// - an object's lines are the later shown measurements whose parent is the
//   object, in directory order (newest first);
// - an object whose parent is listed (never made by the instrument) gives no
//   line, so every line is reached by one path only and the walks through
//   the tree always come to an end.

namespace {

constexpr int MAX_LEVEL = 255;  // a level is a u8
constexpr u8 MASK_TYPES = 32;   // types the shown-type mask has bits for
constexpr u8 FIRST_LEVEL = 1;

u32 g_shown = ARCHIVE_SHOWN_TYPES;
// The text of the last line asked for.
char g_text[OBJ_NAME_SIZE];

bool valid(int i)
{
    return i >= 0 && static_cast<u32>(i) < dir_count();
}

bool is_measurement_type(u8 type)
{
    return type == FILE_TYPE_SIGNAL || type == FILE_TYPE_VIBROMETER || type == FILE_TYPE_RMS_TABLE;
}

// Passes the mask and gives a line by its type.
bool shown(int i)
{
    const u8 type = dir_type(i);
    const bool let_through = type >= MASK_TYPES || ((g_shown >> type) & 1u) != 0;
    return let_through && (type == FILE_TYPE_OBJECT || is_measurement_type(type));
}

// Whether a parent id names a listed entry; remembers the last answer, since
// the entries a search passes mostly share their parent.
struct ParentLookup {
    u32 id = 0;
    bool listed = false;
    bool known = false;

    bool operator()(u32 parent)
    {
        if (!known || parent != id) {
            id = parent;
            listed = dir_find_id(parent) >= 0;
            known = true;
        }
        return listed;
    }
};

// An entry without a listed parent: a line of the first level.
bool top_level(int i, ParentLookup& lookup)
{
    const u32 parent = dir_parent(i);
    return parent == 0 || !lookup(parent);
}

u8 level_of(int i)
{
    const int depth = dir_depth(i);
    return static_cast<u8>(depth > MAX_LEVEL ? MAX_LEVEL : depth);
}

// The root.

bool root_expanded(const TreeNode*)
{
    return true;
}

// The first shown line of the first level at or after `from` (forward) or
// at or before it (backward).
bool first_level_line(int from, int dir, TreeNode* out)
{
    ParentLookup lookup;
    for (int j = from; valid(j); j += dir)
        if (shown(j) && top_level(j, lookup) && archive_tree_node(j, out)) return true;
    return false;
}

bool root_first_child(const TreeNode*, TreeNode* out)
{
    return first_level_line(0, 1, out);
}

bool root_has_children(const TreeNode* node)
{
    TreeNode child;
    return root_first_child(node, &child);
}

const char* root_text(const TreeNode*, int)
{
    return ARCHIVE_ROOT_TEXT;
}

// Objects.

bool object_expanded(const TreeNode* node)
{
    return (dir_flags(node->index) & DIR_FLAG_EXPANDED) != 0;
}

void object_toggle(const TreeNode* node)
{
    dir_flags_toggle(node->index, DIR_FLAG_EXPANDED);
}

bool object_current(const TreeNode* node)
{
    return valid(node->index) && dir_id(node->index) == settings_current_object();
}

bool object_first_child(const TreeNode* node, TreeNode* out)
{
    const u32 id = dir_id(node->index);
    if (id == 0) return false;
    for (int j = node->index + 1; valid(j); ++j)
        if (dir_parent(j) == id && shown(j) && is_measurement_type(dir_type(j)) && archive_tree_node(j, out))
            return true;
    return false;
}

bool object_has_children(const TreeNode* node)
{
    TreeNode child;
    return object_first_child(node, &child);
}

bool to_root(const TreeNode*, TreeNode* out)
{
    archive_tree_root(out);
    return true;
}

const char* object_text(const TreeNode* node, int)
{
    if (obj_get_name(node->index, g_text) != OBJ_OK) g_text[0] = 0;
    return g_text;
}

int object_icon(const TreeNode*)
{
    return IMG_TREE_OBJECT;
}

bool first_level_prev(const TreeNode* node, TreeNode* out)
{
    return first_level_line(node->index - 1, -1, out);
}

bool first_level_next(const TreeNode* node, TreeNode* out)
{
    return first_level_line(node->index + 1, 1, out);
}

// Measurements.

bool measurement_orphan(const TreeNode* node)
{
    ParentLookup lookup;
    return top_level(node->index, lookup);
}

bool measurement_parent(const TreeNode* node, TreeNode* out)
{
    if (measurement_orphan(node)) return to_root(node, out);
    // The object it hangs under precedes it.
    const u32 parent = dir_parent(node->index);
    ParentLookup lookup;
    for (int j = node->index - 1; valid(j); --j)
        if (dir_id(j) == parent)
            return dir_type(j) == FILE_TYPE_OBJECT && top_level(j, lookup) && archive_tree_node(j, out);
    return false;
}

// The nearest shown measurement before or after with the same parent.
bool same_parent_line(const TreeNode* node, int dir, TreeNode* out)
{
    const u32 parent = dir_parent(node->index);
    for (int j = node->index + dir; valid(j); j += dir)
        if (dir_parent(j) == parent && shown(j) && is_measurement_type(dir_type(j)) && archive_tree_node(j, out))
            return true;
    return false;
}

bool measurement_prev(const TreeNode* node, TreeNode* out)
{
    return measurement_orphan(node) ? first_level_prev(node, out) : same_parent_line(node, -1, out);
}

bool measurement_next(const TreeNode* node, TreeNode* out)
{
    return measurement_orphan(node) ? first_level_next(node, out) : same_parent_line(node, 1, out);
}

const char* measurement_text(const TreeNode* node, int)
{
    static_assert(MEAS_LABEL_SIZE <= sizeof g_text);
    return meas_label(node->index, g_text);
}

int measurement_icon(const TreeNode* node)
{
    return meas_kind_icon(dir_attr(node->index));
}

bool is_entry(const TreeNode* node, const void* context)
{
    const u32 id = *static_cast<const u32*>(context);
    return id == 0 ? node->index < 0 : node->index >= 0 && dir_id(node->index) == id;
}

}  // namespace

void archive_tree_root(TreeNode* out)
{
    std::memset(out, 0, sizeof *out);
    out->level = 0;
    out->index = -1;
    out->is_expanded = root_expanded;
    out->has_children = root_has_children;
    out->text = root_text;
    out->first_child = root_first_child;
}

bool archive_tree_node(int index, TreeNode* out)
{
    if (!valid(index) || !shown(index)) return false;
    TreeNode n{};
    n.index = index;
    n.level = level_of(index);
    if (dir_type(index) == FILE_TYPE_OBJECT) {
        if (n.level != FIRST_LEVEL) return false;  // nested under another entry
        n.is_expanded = object_expanded;
        n.toggle = object_toggle;
        n.is_current = object_current;
        n.has_children = object_has_children;
        n.parent = to_root;
        n.text = object_text;
        n.icon = object_icon;
        n.prev_sibling = first_level_prev;
        n.next_sibling = first_level_next;
        n.first_child = object_first_child;
    } else {
        n.parent = measurement_parent;
        n.text = measurement_text;
        n.icon = measurement_icon;
        n.prev_sibling = measurement_prev;
        n.next_sibling = measurement_next;
    }
    *out = n;
    return true;
}

ArchiveNodeKind archive_node_kind(const TreeNode* node)
{
    if (node->index < 0) return ARCHIVE_NODE_ROOT;
    return dir_type(node->index) == FILE_TYPE_OBJECT ? ARCHIVE_NODE_OBJECT : ARCHIVE_NODE_MEASUREMENT;
}

u32 archive_node_id(const TreeNode* node)
{
    return node->index >= 0 ? dir_id(node->index) : 0;
}

void archive_tree_set_shown(u32 mask)
{
    g_shown = mask;
}

u32 archive_tree_shown()
{
    return g_shown;
}

bool tree_show_id(TreeView* view, u32 id)
{
    if (id != 0) {
        const int at = dir_find_id(id);
        if (at < 0) return false;
        // Every ancestor opened; a parent chain that runs in a circle ends
        // after as many steps as the directory has entries.
        u32 parent = dir_parent(at);
        for (u32 k = 0; parent != 0 && k < dir_count(); ++k) {
            const int p = dir_find_id(parent);
            if (p < 0) break;
            dir_flags_set(p, DIR_FLAG_EXPANDED);
            parent = dir_parent(p);
        }
    }
    return tree_select(view, is_entry, &id);
}

void archive_tree_reset()
{
    g_shown = ARCHIVE_SHOWN_TYPES;
    g_text[0] = 0;
}
