// Route files as the route screens read them: the input is a route file's
// bytes, taken by the rules of route_load into the current route of a small
// archive that holds one object with a signal, a spectrum and a vibrometer
// measurement. Then the whole tree is walked as the route screen shows it
// (every line's node, text and icon), each group's next open point is
// looked for and the counts are taken. Input: a flags byte (1: seal the
// header's checksum, so that the items are read; 2: point each measured
// item at one of the archive's measurements, chosen by its own measurement
// field), then the file's bytes.
#include "screens/route_tree.h"

#include <cstring>
#include <vector>

#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "base/checksum.h"
#include "base/cp1251.h"
#include "flash_sandbox.h"
#include "fuzz.h"
#include "gfx/tree_view.h"
#include "storage/dir.h"

namespace {

enum : u8 { SEAL_HEADER = 1, LINK_ARCHIVE = 2 };
constexpr u32 MAX_FILE = ROUTE_HEADER_SIZE + ROUTE_MAX_ITEMS * ROUTE_ITEM_SIZE;
constexpr u32 LINKED_KINDS[] = {MEAS_KIND_SIGNAL, MEAS_KIND_SPECTRUM, MEAS_KIND_VIBROMETER};
constexpr u32 LINKED_COUNT = sizeof LINKED_KINDS / sizeof LINKED_KINDS[0];
// Lines of the route tree view (the route screen's area).
constexpr i32 TREE_X0 = 1, TREE_Y0 = 22, TREE_X1 = 318, TREE_Y1 = 123;

u32 g_linked[LINKED_COUNT];

// What the starting archive holds besides its object: one measurement of
// each linked kind.
void add_measurements()
{
    archive_state = ARCHIVE_MOUNTED;
    obj_select(dir_id(dir_find_type(FILE_TYPE_OBJECT)));
    for (u32 k = 0; k < LINKED_COUNT; ++k) {
        SpectraRecord r{};
        r.type = 1;
        r.kind = LINKED_KINDS[k];
        g_linked[k] = meas_save(LINKED_KINDS[k], 0, &r, sizeof r, nullptr, 0, nullptr, 0, true);
        FUZZ_CHECK(g_linked[k] != 0);
    }
}

// Every item that the tree shows, in display order, with the route opened
// out: the walk must end within the route's items.
void walk_tree(u32 count)
{
    for (u32 i = 0; i < count; ++i) route_expand_path(static_cast<int>(i));
    TreeView view;
    tree_init(&view, TREE_X0, TREE_Y0, TREE_X1, TREE_Y1, route_tree_root);
    TreeNode n = view.root;
    u32 lines = 1;
    while (tree_next_visible(&view, &n)) {
        FUZZ_CHECK(++lines <= count);
        FUZZ_CHECK(n.index > 0 && static_cast<u32>(n.index) < count);
        FUZZ_CHECK(!route_is_hidden(n.index));
    }
    while (tree_prev_visible(&view, &n)) FUZZ_CHECK(lines-- > 1);
    tree_draw(&view);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_quiet_instrument();
    flash_prepare_archive(add_measurements);
    flash_sandbox_begin();
    FUZZ_CHECK(flash_mount());
    obj_after_mount();
    archive_state = ARCHIVE_MOUNTED;  // the route code waits for the archive
    FuzzInput in{data, size};
    const u8 flags = in.byte();
    size_t length = 0;
    const u8* bytes = in.take(MAX_FILE, &length);
    std::vector<u8> file(bytes, bytes + length);
    if ((flags & SEAL_HEADER) && file.size() >= ROUTE_HEADER_SIZE)
        checksum_store(file.data(), ROUTE_HEADER_SIZE, ROUTE_HEADER_CHECKSUM_AT);

    RouteBuffer& r = route_current;
    if (!route_from_bytes(file.data(), file.size(), &r)) {
        // A refused file leaves the buffer cleared.
        FUZZ_CHECK(r.header.count == 0);
        return 0;
    }
    const u32 count = r.header.count;
    FUZZ_CHECK(count >= 1 && count <= ROUTE_MAX_ITEMS);
    FUZZ_CHECK(ROUTE_HEADER_SIZE + static_cast<size_t>(count) * ROUTE_ITEM_SIZE <= file.size());
    FUZZ_CHECK(route_check(&r));
    if (flags & LINK_ARCHIVE)
        for (u32 i = 0; i < count; ++i)
            r.items[i].measurement =
                static_cast<i32>(g_linked[static_cast<u32>(r.items[i].measurement) % LINKED_COUNT]);

    for (u32 i = 0; i < count; ++i) {
        const int k = static_cast<int>(i);
        route_link_valid(k);
        FUZZ_CHECK(std::strlen(route_item_text(k)) < ROUTE_NAME_SIZE + 32);
        route_item_icon(k);
        TreeNode node;
        // Every visible item has its node (one under an ignored group may
        // too: the walk never reaches it).
        const bool built = route_tree_node(k, &node);
        FUZZ_CHECK(built || route_is_hidden(k));
    }
    const RouteCounts all = route_subtree_counts(0);
    FUZZ_CHECK(all.measured <= all.points && all.points <= static_cast<int>(count));
    const RouteCounts listed = route_point_counts(&r);
    FUZZ_CHECK(listed.measured <= listed.points);
    for (u32 i = 0; i < count; ++i) {
        if (route_is_point(static_cast<int>(i)) || route_is_hidden(static_cast<int>(i))) continue;
        const int next = route_next_open_point(static_cast<int>(i));
        FUZZ_CHECK(next >= static_cast<int>(i) && next < static_cast<int>(count));
    }
    walk_tree(count);
    return 0;
}
