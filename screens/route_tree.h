// The current route as a model of the tree view: the route item is the
// root, groups and points below it, each line its name with the time of a
// point's measurement, and an icon by kind and state. Ignored items and
// everything below them give no line.
#pragma once
#include "gfx/tree_view.h"

// The tree model of the current route: the route item is the root.
void route_tree_root(TreeNode* out);
// Builds the node of item `i` into `out`: false for an index outside the
// route or an ignored item.
bool route_tree_node(int i, TreeNode* out);
// The line of item `i`: its name, and for a measured point with a readable
// measurement " #NNN hh:mm:ss dd.mm.yy"; empty for an ignored item or an
// index outside the route. The text stays until the next call.
const char* route_item_text(int i);
// Tree icon of item `i`: the route, a group, or a waveform or spectrum point
// measured or still to measure; 0 outside the route.
int route_item_icon(int i);
// No line text kept (state at power-on).
void route_tree_reset();
