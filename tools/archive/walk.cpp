#include "tools/archive/walk.h"

#include <cstring>

#include "archive/measurement.h"
#include "archive/route.h"
#include "gfx/tree_view.h"
#include "screens/archive_tree.h"
#include "screens/route_tree.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"

namespace {

// The tree view's area of the archive browser; only its font matters here.
constexpr i32 AREA_X0 = 1, AREA_Y0 = 22, AREA_X1 = 318, AREA_Y1 = 214;
// Characters asked of a line's text: more than any line holds.
constexpr int ALL_CHARS = 1024;

std::string text_of(const TreeNode& n)
{
    const char* t = n.text ? n.text(&n, ALL_CHARS) : nullptr;
    return t ? std::string(t) : std::string();
}

}  // namespace

const char* kind_name(u32 kind)
{
    switch (kind) {
    case MEAS_KIND_SIGNAL: return "signal";
    case MEAS_KIND_SPECTRUM: return "spectrum";
    case MEAS_KIND_SHOCK_SIGNAL: return "shock-pulse signal";
    case MEAS_KIND_SHOCK_SPECTRUM: return "shock-pulse spectrum";
    case MEAS_KIND_VIBROMETER: return "vibrometer";
    case MEAS_KIND_RMS_TABLE: return "RMS table";
    default: return "unknown";
    }
}

std::vector<ArchiveLine> archive_lines()
{
    std::vector<ArchiveLine> out;
    // Every line opened; the expanded bits live in memory only.
    for (u32 i = 0; i < dir_count(); ++i) dir_flags_set(static_cast<int>(i), DIR_FLAG_EXPANDED);
    archive_tree_set_shown(ARCHIVE_SHOWN_TYPES);
    TreeView view;
    tree_init(&view, AREA_X0, AREA_Y0, AREA_X1, AREA_Y1, archive_tree_root);
    TreeNode n = view.root;
    if (n.is_expanded && !n.is_expanded(&n) && n.toggle) n.toggle(&n);
    for (u32 guard = 0; guard <= DIR_CAPACITY + 1; ++guard) {
        ArchiveLine line;
        line.level = n.level;
        line.index = n.index;
        line.id = archive_node_id(&n);
        line.measurement = archive_node_kind(&n) == ARCHIVE_NODE_MEASUREMENT;
        line.kind = line.measurement && n.index >= 0 ? dir_attr(n.index) : 0;
        line.text = text_of(n);
        out.push_back(line);
        if (!tree_next_visible(&view, &n)) break;
    }
    return out;
}

bool is_measurement_entry(int index)
{
    const u8 t = dir_type(index);
    return t == FILE_TYPE_SIGNAL || t == FILE_TYPE_VIBROMETER || t == FILE_TYPE_RMS_TABLE;
}

std::vector<int> orphan_entries(const std::vector<ArchiveLine>& lines)
{
    std::vector<bool> shown(dir_count(), false);
    for (const ArchiveLine& l : lines)
        if (l.index >= 0 && static_cast<u32>(l.index) < dir_count()) shown[static_cast<size_t>(l.index)] = true;
    std::vector<int> out;
    for (u32 i = 0; i < dir_count(); ++i)
        if (!shown[i] && is_measurement_entry(static_cast<int>(i))) out.push_back(static_cast<int>(i));
    return out;
}

std::vector<int> route_entries()
{
    std::vector<int> out;
    for (u32 i = 0; i < dir_count(); ++i)
        if (dir_type(static_cast<int>(i)) == FILE_TYPE_ROUTE) out.push_back(static_cast<int>(i));
    return out;
}

std::vector<RouteLine> route_lines(u32 id, std::string* name)
{
    std::vector<RouteLine> out;
    if (route_load(id, &route_current) != id) return out;
    if (name) *name = route_current.header.name;
    const u32 count = route_current.header.count;
    for (u32 i = 0; i < count; ++i) {
        const int k = static_cast<int>(i);
        const RouteItem& it = route_current.items[i];
        RouteLine line;
        line.item = k;
        line.level = static_cast<int>(it.level);
        line.point = route_is_point(k);
        line.ignored = route_is_hidden(k);
        line.measurement = it.measurement;
        line.measured = line.point && !line.ignored && route_link_valid(k) && route_is_measured(k);
        line.text = line.ignored ? std::string(it.name, strnlen(it.name, sizeof it.name)) : route_item_text(k);
        out.push_back(line);
    }
    return out;
}

u32 bad_blocks()
{
    const u32 ppb = nand_info.pages_per_block;
    if (ppb == 0) return 0;
    u32 bad = nand_block_is_good(0) ? 0 : 1;
    for (u32 b = fs_state.first_page / ppb; b * ppb < fs_state.end_page; ++b)
        if (pt_state(fs_table(b * ppb)) == PAGE_BAD) ++bad;
    return bad;
}
