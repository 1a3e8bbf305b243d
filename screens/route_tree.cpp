#include "screens/route_tree.h"

#include <cstdio>
#include <cstring>

#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/route.h"
#include "data/images.h"

namespace {

// The text of the last line asked for: a name, " #NNN", the time and date.
char g_text[ROUTE_NAME_SIZE + 48];

constexpr i32 NAME_LAST = ROUTE_NAME_SIZE - 1;

bool valid(int i)
{
    return route_item(i) != nullptr;
}

RouteItem& item(int i)
{
    return *route_item(i);
}

bool ignored(const RouteItem& it)
{
    return (it.state & ROUTE_STATE_IGNORED_BIT) != 0;
}

bool can_have_children(const RouteItem& it)
{
    return it.node_kind >= ROUTE_NODE_GROUP;
}

bool node_expanded(const TreeNode* n)
{
    if (!valid(n->index) || ignored(item(n->index))) return false;
    const RouteItem& it = item(n->index);
    return !can_have_children(it) || it.expanded != 0;
}

void node_toggle(const TreeNode* n)
{
    if (!valid(n->index) || ignored(item(n->index))) return;
    RouteItem& it = item(n->index);
    it.expanded = can_have_children(it) ? (it.expanded == 0 ? 1 : 0) : 1;
}

bool node_has_children(const TreeNode* n)
{
    return valid(n->index) && !ignored(item(n->index)) && can_have_children(item(n->index));
}

bool node_parent(const TreeNode* n, TreeNode* out)
{
    if (!valid(n->index) || ignored(item(n->index)) || item(n->index).level == 0) return false;
    return route_tree_node(item(n->index).parent, out);
}

bool node_first_child(const TreeNode* n, TreeNode* out)
{
    const int i = n->index;
    if (!node_has_children(n)) return false;
    const u32 level = item(i).level + 1;
    for (int j = i + 1; valid(j) && item(j).level >= level; ++j)
        if (item(j).level == level && item(j).parent == i && !ignored(item(j))) return route_tree_node(j, out);
    return false;
}

bool node_prev_sibling(const TreeNode* n, TreeNode* out)
{
    const int i = n->index;
    if (!valid(i) || ignored(item(i))) return false;
    const i32 parent = item(i).parent;
    for (int j = i - 1; j > parent && j >= 0; --j)
        if (item(j).parent == parent && !ignored(item(j))) return route_tree_node(j, out);
    return false;
}

bool node_next_sibling(const TreeNode* n, TreeNode* out)
{
    const int i = n->index;
    if (!valid(i) || ignored(item(i))) return false;
    const i32 parent = item(i).parent;
    const u32 level = item(i).level;
    // Siblings lie inside the parent's subtree, which ends at a smaller level.
    for (int j = i + 1; valid(j) && item(j).level >= level; ++j)
        if (item(j).parent == parent && !ignored(item(j))) return route_tree_node(j, out);
    return false;
}

const char* node_text(const TreeNode* n, int)
{
    return route_item_text(n->index);
}

int node_icon(const TreeNode* n)
{
    return route_item_icon(n->index);
}

const char* no_text(const TreeNode*, int)
{
    return "";
}

}  // namespace

const char* route_item_text(int i)
{
    g_text[0] = 0;
    if (!valid(i) || ignored(item(i))) return g_text;
    const RouteItem& it = item(i);
    int n = std::snprintf(g_text, sizeof g_text, "%.*s", static_cast<int>(NAME_LAST), it.name);
    if (!route_is_point(i) || !route_is_measured(i) || !route_link_valid(i) || !archive_wait()) return g_text;
    MeasHeader hd;
    if (meas_read_header(static_cast<u32>(it.measurement), &hd) != MEAS_OK) return g_text;
    std::snprintf(g_text + n, sizeof g_text - n, " #%03u %02u:%02u:%02u %02u.%02u.%02u", hd.number, hd.hour, hd.minute,
                  hd.second, hd.day, hd.month, hd.year);
    return g_text;
}

int route_item_icon(int i)
{
    if (!valid(i)) return 0;
    if (i == 0) return IMG_TREE_ROUTE;
    const RouteItem& it = item(i);
    if (!route_is_point(i)) return IMG_TREE_OBJECT;
    const bool spectrum = it.spectrum == ROUTE_SPECTRUM;
    if (route_is_measured(i) && route_link_valid(i)) return spectrum ? IMG_TREE_SPECTRUM : IMG_TREE_SIGNAL;
    return spectrum ? IMG_TREE_SPECTRUM_TODO : IMG_TREE_SIGNAL_TODO;
}

void route_tree_root(TreeNode* out)
{
    if (route_tree_node(0, out)) {
        out->parent = nullptr;
        out->prev_sibling = nullptr;
        out->next_sibling = nullptr;
        out->toggle = nullptr;
        return;
    }
    // No route: one empty line.
    std::memset(out, 0, sizeof *out);
    out->text = no_text;
}

bool route_tree_node(int i, TreeNode* out)
{
    if (!valid(i) || ignored(item(i))) return false;
    TreeNode n{};
    n.level = static_cast<u8>(item(i).level > ROUTE_MAX_LEVEL ? ROUTE_MAX_LEVEL : item(i).level);
    n.index = i;
    n.is_expanded = node_expanded;
    n.toggle = node_toggle;
    n.has_children = node_has_children;
    n.parent = node_parent;
    n.text = node_text;
    n.icon = node_icon;
    n.prev_sibling = node_prev_sibling;
    n.next_sibling = node_next_sibling;
    n.first_child = node_first_child;
    *out = n;
    return true;
}

void route_tree_reset()
{
    g_text[0] = 0;
}
