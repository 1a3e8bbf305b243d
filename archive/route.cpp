#include "archive/route.h"

#include <cstdio>
#include <cstring>

#include "archive/changes.h"
#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "base/checksum.h"
#include "base/cp1251.h"
#include "storage/dir.h"
#include "storage/fs.h"

RouteBuffer route_current;
RouteBuffer route_other;

const char* const ROUTE_TEST_NAME = "Маршрут 1"_cp;

// How a route file becomes a tree:
// - route_load takes only items that form a tree in depth-first order
//   (each parent earlier, one level up, its subtree contiguous), so every
//   walk over parents or along the array comes to an end, and each line of
//   the tree is reached by one path only;
// - an ignored item and everything below it are hidden: the model's steps
//   pass over ignored items, so their subtrees are never reached.

namespace {

u32 g_current_file = 0;
constexpr i32 NAME_LAST = ROUTE_NAME_SIZE - 1;

bool in_route(const RouteBuffer& buf, int i)
{
    return i >= 0 && static_cast<u32>(i) < buf.header.count && buf.header.count <= ROUTE_MAX_ITEMS;
}

bool valid(int i)
{
    return in_route(route_current, i);
}

RouteItem& item(int i)
{
    return route_current.items[i];
}

bool ignored(const RouteItem& it)
{
    return (it.state & ROUTE_STATE_IGNORED_BIT) != 0;
}

bool measured(const RouteItem& it)
{
    return (it.state & (ROUTE_STATE_IGNORED_BIT | ROUTE_STATE_UNMEASURED_BIT)) == 0;
}

bool is_point(const RouteItem& it)
{
    return it.point_type != 0;
}

u32 file_size(u32 count)
{
    return ROUTE_HEADER_SIZE + ROUTE_ITEM_SIZE * count;
}

u32 items_offset(int i)
{
    return ROUTE_HEADER_SIZE + ROUTE_ITEM_SIZE * static_cast<u32>(i);
}

bool header_sound(RouteHeader* h)
{
    return checksum_verify(h, ROUTE_HEADER_SIZE, ROUTE_HEADER_CHECKSUM_AT) && h->format == ROUTE_FORMAT;
}

// Whether item i of `buf` or one of its parents is ignored (or i lies
// outside the route).
bool hidden_in(const RouteBuffer& buf, int i)
{
    for (u32 steps = 0; steps <= ROUTE_MAX_ITEMS; ++steps) {
        if (!in_route(buf, i) || ignored(buf.items[i])) return true;
        const i32 p = buf.items[i].parent;
        if (p < 0 || p >= i) return false;
        i = p;
    }
    return true;
}

bool same_name(const char* stored, const char* name)
{
    const size_t n = strnlen(stored, ROUTE_NAME_SIZE);
    return n == std::strlen(name) && std::memcmp(stored, name, n) == 0;
}

// Whether measurement `id` can be a point's own of a route named `route`:
// a time signal or a spectrum of the archive saved into the object named
// after the route, as the route screen saves them. An id whose measurement
// was deleted and whose pages a later file took is never one.
bool owned_by(const char* route, i32 id)
{
    if (id <= 0) return false;
    const int at = dir_find_id(static_cast<u32>(id));
    if (at < 0 || dir_type(at) != FILE_TYPE_SIGNAL ||
        (dir_attr(at) != MEAS_KIND_SIGNAL && dir_attr(at) != MEAS_KIND_SPECTRUM))
        return false;
    const int object_at = dir_find_id(dir_parent(at));
    char name[OBJ_NAME_SIZE];
    return object_at >= 0 && dir_type(object_at) == FILE_TYPE_OBJECT &&
           obj_read_name(dir_id(object_at), name) == OBJ_OK && same_name(route, name);
}

// Whether item `it` of route `buf` is a measured point that links its own
// measurement.
bool links_own(const RouteBuffer& buf, const RouteItem& it)
{
    return is_point(it) && measured(it) && owned_by(buf.header.name, it.measurement);
}

// The end of the subtree of item i: the first later item not below it.
int subtree_end(const RouteBuffer& buf, int i)
{
    int j = i + 1;
    while (in_route(buf, j) && buf.items[j].level > buf.items[i].level) ++j;
    return j;
}

void fill_item(RouteItem* it, const char* name, u32 level, i32 parent, u32 kind, u32 expanded)
{
    std::memset(it, 0, sizeof *it);
    it->state = ROUTE_STATE_NOT_MEASURED;
    it->measurement = ROUTE_NO_MEASUREMENT;
    std::strncpy(it->name, name, NAME_LAST);
    it->level = level;
    it->parent = parent;
    it->node_kind = kind;
    it->expanded = expanded;
}

}  // namespace

u32 route_current_file()
{
    return g_current_file;
}

void route_clear(RouteBuffer* buf)
{
    std::memset(buf, 0, sizeof *buf);
    for (RouteItem& it : buf->items) {
        it.state = ROUTE_STATE_EMPTY;
        it.measurement = ROUTE_NO_MEASUREMENT;
    }
}

bool route_read_header(u32 file, RouteHeader* h)
{
    FileHandle f{};
    return fs_open(&f, file, FS_READ) == FS_OK && fs_read(&f, h, 0, ROUTE_HEADER_SIZE) == ROUTE_HEADER_SIZE &&
           header_sound(h);
}

u32 route_find(const char* name)
{
    if (!archive_wait() || name == nullptr) return 0;
    for (u32 k = 0; k < dir_count(); ++k) {
        const int i = static_cast<int>(k);
        if (dir_type(i) != FILE_TYPE_ROUTE) continue;
        RouteHeader h;
        if (route_read_header(dir_id(i), &h) && same_name(h.name, name)) return dir_id(i);
    }
    return 0;
}

bool route_check(RouteBuffer* buf)
{
    const u32 count = buf->header.count;
    if (count < 1 || count > ROUTE_MAX_ITEMS) return false;
    const RouteItem* items = buf->items;
    if (items[0].level != 0 || items[0].parent != ROUTE_NO_PARENT || ignored(items[0])) return false;
    for (u32 k = 1; k < count; ++k) {
        const i32 i = static_cast<i32>(k);
        const i32 p = items[i].parent;
        if (p < 0 || p >= i) return false;
        if (items[i].level != items[p].level + 1 || items[i].level > ROUTE_MAX_LEVEL) return false;
        // Depth-first order: the parent is the item before or one of its
        // ancestors, so each subtree is contiguous.
        i32 a = i - 1;
        while (a != p) {
            if (items[a].level <= items[p].level) return false;
            a = items[a].parent;
        }
    }
    return true;
}

namespace {

// The header in `buf` is sound and names a number of items a route can
// have.
bool header_takes(RouteBuffer* buf)
{
    return header_sound(&buf->header) && buf->header.count >= 1 && buf->header.count <= ROUTE_MAX_ITEMS;
}

// The items read into `buf` after its header: the route is taken when they
// form a tree; names are cut to their fields and the slots past the route
// emptied. Otherwise `buf` is cleared. Returns whether it was taken.
bool take(RouteBuffer* buf, bool whole)
{
    if (!whole || !route_check(buf)) {
        route_clear(buf);
        return false;
    }
    const u32 count = buf->header.count;
    // Names are shown and compared as texts: each ends inside its field.
    buf->header.name[NAME_LAST] = 0;
    for (u32 k = 0; k < count; ++k) buf->items[k].name[NAME_LAST] = 0;
    for (u32 k = count; k < ROUTE_MAX_ITEMS; ++k) {
        std::memset(&buf->items[k], 0, sizeof buf->items[k]);
        buf->items[k].state = ROUTE_STATE_EMPTY;
        buf->items[k].measurement = ROUTE_NO_MEASUREMENT;
    }
    return true;
}

}  // namespace

u32 route_load(u32 file, RouteBuffer* buf)
{
    FileHandle h{};
    bool whole = file != 0 && archive_wait() && fs_open(&h, file, FS_READ) == FS_OK &&
                 fs_read(&h, &buf->header, 0, ROUTE_HEADER_SIZE) == ROUTE_HEADER_SIZE && header_takes(buf);
    const u32 items_bytes = whole ? ROUTE_ITEM_SIZE * buf->header.count : 0;
    whole = whole && fs_read(&h, buf->items, ROUTE_HEADER_SIZE, items_bytes) == items_bytes;
    if (!take(buf, whole)) return 0;
    if (buf == &route_current) g_current_file = file;
    return file;
}

bool route_from_bytes(const void* bytes, size_t size, RouteBuffer* buf)
{
    const u8* b = static_cast<const u8*>(bytes);
    bool whole = b != nullptr && size >= ROUTE_HEADER_SIZE;
    if (whole) std::memcpy(&buf->header, b, ROUTE_HEADER_SIZE);
    whole = whole && header_takes(buf);
    const size_t items_bytes = whole ? size_t{ROUTE_ITEM_SIZE} * buf->header.count : 0;
    whole = whole && size - ROUTE_HEADER_SIZE >= items_bytes;
    if (whole) std::memcpy(buf->items, b + ROUTE_HEADER_SIZE, items_bytes);
    return take(buf, whole);
}

u32 route_save(u32 file, RouteBuffer* buf)
{
    if (!archive_wait()) return 0;
    const u32 count = buf->header.count;
    if (count < 1 || count > ROUTE_MAX_ITEMS) return 0;
    buf->header.format = ROUTE_FORMAT;
    checksum_store(&buf->header, ROUTE_HEADER_SIZE, ROUTE_HEADER_CHECKSUM_AT);
    const u32 items_bytes = ROUTE_ITEM_SIZE * count;

    FileHandle h{};
    if (file >= 1) {
        const int at = dir_find_id(file);
        if (at < 0 || dir_type(at) != FILE_TYPE_ROUTE || fs_open(&h, file, FS_READ | FS_WRITE) != FS_OK) return 0;
        // Items first: a write cut short leaves the old header, which still
        // describes as many items.
        const bool ok = fs_write(&h, buf->items, ROUTE_HEADER_SIZE, items_bytes) == items_bytes &&
                        fs_write(&h, &buf->header, 0, ROUTE_HEADER_SIZE) == ROUTE_HEADER_SIZE;
        if (!ok) return 0;
    } else {
        if (dir_full()) return 0;
        // The head reaches the flash last, at the close: a power cut before
        // leaves no file (the next mount reclaims its pages), never a route
        // entry that cannot be loaded.
        if (fs_create_pending(&h, FILE_TYPE_ROUTE, 0, 0, file_size(count)) != FS_OK) {
            if (h.first != 0) fs_delete(h.first);
            return 0;
        }
        const bool ok = fs_write(&h, buf->items, ROUTE_HEADER_SIZE, items_bytes) == items_bytes &&
                        fs_write(&h, &buf->header, 0, ROUTE_HEADER_SIZE) == ROUTE_HEADER_SIZE &&
                        fs_close(&h) == FS_OK && dir_append(h.first, h.stamp, 0, FILE_TYPE_ROUTE, 0);
        if (!ok) {
            fs_delete(h.first);
            return 0;
        }
        file = h.first;
    }
    if (buf == &route_current) g_current_file = file;
    return file;
}

bool route_store_item_state(int i)
{
    if (!valid(i) || g_current_file == 0 || !archive_wait()) return false;
    FileHandle h{};
    if (fs_open(&h, g_current_file, FS_READ | FS_WRITE) != FS_OK) return false;
    u8 stored[ROUTE_STATE_BYTES];
    const u32 at = items_offset(i);
    if (fs_read(&h, stored, at, ROUTE_STATE_BYTES) == ROUTE_STATE_BYTES &&
        std::memcmp(stored, &item(i), ROUTE_STATE_BYTES) == 0)
        return true;
    return fs_write(&h, &item(i), at, ROUTE_STATE_BYTES) == ROUTE_STATE_BYTES;
}

RouteItem* route_item(int i)
{
    return valid(i) ? &item(i) : nullptr;
}

bool route_is_point(int i)
{
    return valid(i) && is_point(item(i));
}

bool route_is_measured(int i)
{
    return valid(i) && measured(item(i));
}

bool route_is_hidden(int i)
{
    return hidden_in(route_current, i);
}

bool route_link_valid(int i)
{
    // Before the archive is mounted its directory is incomplete: no link
    // can be judged, and none is dropped.
    if (!valid(i) || archive_state != ARCHIVE_MOUNTED) return false;
    RouteItem& it = item(i);
    if (ignored(it)) return false;
    if (owned_by(route_current.header.name, it.measurement)) return true;
    // A stale link is dropped for good: the file keeps no link that a later
    // measurement could take over (unless the archive is only looked at).
    if (it.state == ROUTE_STATE_NOT_MEASURED && it.measurement == ROUTE_NO_MEASUREMENT) return false;
    it.state = ROUTE_STATE_NOT_MEASURED;
    it.measurement = ROUTE_NO_MEASUREMENT;
    if (!fs_read_only()) route_store_item_state(i);
    return false;
}

bool route_remove_measurement(u32 id)
{
    const int at = dir_find_id(id);
    if (at < 0) return false;
    archive_changed(ARCHIVE_CHANGE_REMOVING, id);
    return dir_delete(at) == FS_OK;
}

bool route_set_measurement(int i, u32 id)
{
    if (!valid(i) || ignored(item(i))) return false;
    RouteItem& it = item(i);
    const u32 old = measured(it) && route_link_valid(i) ? static_cast<u32>(it.measurement) : 0;
    it.state = ROUTE_STATE_MEASURED;
    it.measurement = static_cast<i32>(id);
    const bool stored = route_store_item_state(i);
    if (old != 0 && old != id) route_remove_measurement(old);
    return stored;
}

namespace {

// Before measurements go: every item of the archive's routes that is
// measured and links a measurement `doomed` names becomes not measured, in
// its file and, for the current route, in memory. Its id is then free for a
// later file without any route claiming that file.
template <typename Doomed>
void unlink_where(Doomed doomed)
{
    if (!archive_wait()) return;
    static const i32 reset[2] = {ROUTE_STATE_NOT_MEASURED, ROUTE_NO_MEASUREMENT};
    static_assert(sizeof reset == ROUTE_STATE_BYTES);
    for (u32 k = 0; k < dir_count(); ++k) {
        const int at = static_cast<int>(k);
        if (dir_type(at) != FILE_TYPE_ROUTE) continue;
        const u32 file = dir_id(at);
        RouteHeader h;
        FileHandle f{};
        if (!route_read_header(file, &h) || h.count > ROUTE_MAX_ITEMS || fs_open(&f, file, FS_READ | FS_WRITE) != FS_OK)
            continue;
        for (u32 i = 0; i < h.count; ++i) {
            RouteItem it;
            if (fs_read(&f, &it, items_offset(static_cast<int>(i)), ROUTE_ITEM_SIZE) != ROUTE_ITEM_SIZE) break;
            if (!measured(it) || it.measurement <= 0 || !doomed(static_cast<u32>(it.measurement))) continue;
            fs_write(&f, reset, items_offset(static_cast<int>(i)), ROUTE_STATE_BYTES);
            RouteItem& mem = route_current.items[i];
            if (file == g_current_file && valid(static_cast<int>(i)) && mem.measurement == it.measurement) {
                mem.state = ROUTE_STATE_NOT_MEASURED;
                mem.measurement = ROUTE_NO_MEASUREMENT;
            }
        }
    }
}

}  // namespace

void route_unlink_measurement(u32 id)
{
    if (id == 0) return;
    unlink_where([id](u32 linked) { return linked == id; });
}

void route_unlink_object(u32 object)
{
    if (object == 0) return;
    unlink_where([object](u32 linked) {
        const int at = dir_find_id(linked);
        return at >= 0 && dir_parent(at) == object;
    });
}

int route_drop_stale_links(RouteBuffer* buf)
{
    int dropped = 0;
    for (int i = 0; in_route(*buf, i); ++i) {
        RouteItem& it = buf->items[i];
        if (!is_point(it) || ignored(it) || links_own(*buf, it)) continue;
        if (it.state == ROUTE_STATE_NOT_MEASURED && it.measurement == ROUTE_NO_MEASUREMENT) continue;
        it.state = ROUTE_STATE_NOT_MEASURED;
        it.measurement = ROUTE_NO_MEASUREMENT;
        ++dropped;
    }
    return dropped;
}

void drop_measurements(RouteBuffer* buf)
{
    const u32 count = buf->header.count <= ROUTE_MAX_ITEMS ? buf->header.count : ROUTE_MAX_ITEMS;
    for (u32 k = 0; k < count; ++k) {
        RouteItem& it = buf->items[k];
        // Only the route's own measurements go: a number that now names an
        // object, a route, another kind of file or a measurement of another
        // object is left alone.
        if (links_own(*buf, it)) route_remove_measurement(static_cast<u32>(it.measurement));
        if (!ignored(it)) {
            it.state = ROUTE_STATE_NOT_MEASURED;
            it.measurement = ROUTE_NO_MEASUREMENT;
        }
        checksum_store(&it, ROUTE_ITEM_SIZE, ROUTE_ITEM_CHECKSUM_AT);
    }
}

u32 route_clear_measurements(u32 file)
{
    if (route_load(file, &route_other) == 0) return 0;
    drop_measurements(&route_other);
    return route_save(file, &route_other);
}

bool route_delete(u32 file)
{
    if (!archive_wait()) return false;
    const int at = dir_find_id(file);
    if (at < 0 || dir_type(at) != FILE_TYPE_ROUTE) return false;
    if (route_load(file, &route_other) != 0) drop_measurements(&route_other);
    if (file == g_current_file) g_current_file = 0;
    // The measurements may have moved the route's entry.
    return dir_delete(dir_find_id(file)) == FS_OK;
}

u32 route_make_test()
{
    struct Row {
        const char* name;
        u32 level;
        i32 parent;
        u32 kind;
        u32 expanded;
        u32 point_type, spectrum, quantity;
        i32 lines, fmin, fmax, averages;
    };
    static const Row rows[ROUTE_TEST_ITEMS] = {
        {"Маршрут 1"_cp, 0, -1, ROUTE_NODE_ROUTE, 1, 0, 0, 0, 0, 0, 0, 0},
        {"Цех"_cp, 1, 0, ROUTE_NODE_GROUP, 1, 0, 0, 0, 0, 0, 0, 0},
        {"Н-528"_cp, 2, 1, ROUTE_NODE_GROUP, 1, 0, 0, 0, 0, 0, 0, 0},
        {"1В"_cp, 3, 2, ROUTE_NODE_POINT, 0, 1, 0, 1, 1600, 10, 400, 1},
        {"1П"_cp, 3, 2, ROUTE_NODE_POINT, 0, 2, 0, 1, 400, 10, 4000, 1},
        {"1О"_cp, 3, 2, ROUTE_NODE_POINT, 0, 3, 1, 2, 1600, 10, 4000, 4},
        {"Н-529"_cp, 2, 1, ROUTE_NODE_GROUP, 1, 0, 0, 0, 0, 0, 0, 0},
        {"1В"_cp, 3, 6, ROUTE_NODE_POINT, 0, 1, 0, 1, 1600, 10, 400, 1},
        {"ТЭЦ-9"_cp, 1, 0, ROUTE_NODE_GROUP, 1, 0, 0, 0, 0, 0, 0, 0},
        {"Насос-12"_cp, 2, 8, ROUTE_NODE_GROUP, 0, 0, 0, 0, 0, 0, 0, 0},
        {"1В"_cp, 3, 9, ROUTE_NODE_POINT, 0, 1, 0, 1, 400, 10, 1000, 1},
        {"2В"_cp, 3, 9, ROUTE_NODE_POINT, 0, 1, 0, 1, 400, 10, 1000, 1},
    };
    RouteBuffer* buf = &route_other;
    route_clear(buf);
    std::strncpy(buf->header.name, ROUTE_TEST_NAME, NAME_LAST);
    buf->header.count = ROUTE_TEST_ITEMS;
    for (u32 k = 0; k < ROUTE_TEST_ITEMS; ++k) {
        const Row& r = rows[k];
        RouteItem& it = buf->items[k];
        fill_item(&it, r.name, r.level, r.parent, r.kind, r.expanded);
        it.point_type = r.point_type;
        it.spectrum = r.spectrum;
        it.quantity = r.quantity;
        it.lines = r.lines;
        it.fmin = r.fmin;
        it.fmax = r.fmax;
        it.averages = r.averages;
        checksum_store(&it, ROUTE_ITEM_SIZE, ROUTE_ITEM_CHECKSUM_AT);
    }
    return route_save(0, buf);
}

void route_expand_path(int i)
{
    for (u32 steps = 0; steps <= ROUTE_MAX_ITEMS && valid(i); ++steps) {
        item(i).expanded = 1;
        const i32 p = item(i).parent;
        if (p < 0 || p >= i) break;
        i = p;
    }
}

int route_next_open_point(int g)
{
    if (!valid(g)) return g;
    item(g).expanded = 1;
    const u32 level = item(g).level;
    int last = g;
    for (int j = g + 1; valid(j) && item(j).level > level; ++j) {
        const bool hidden = route_is_hidden(j);
        if (!hidden && is_point(item(j)) && !measured(item(j))) return j;
        item(j).expanded = 1;
        if (!hidden) last = j;
    }
    return last;
}

RouteCounts route_subtree_counts(int i)
{
    RouteCounts c{0, 0, 0};
    if (!valid(i) || route_is_hidden(i)) return c;
    // Per item of the subtree: whether it has shown children, and whether
    // one of them is a group.
    static bool has_child[ROUTE_MAX_ITEMS], has_group_child[ROUTE_MAX_ITEMS];
    const int end = subtree_end(route_current, i);
    for (int j = i; j < end; ++j) has_child[j] = has_group_child[j] = false;
    for (int j = i + 1; j < end;) {
        if (ignored(item(j))) {
            j = subtree_end(route_current, j);
            continue;
        }
        const i32 p = item(j).parent;
        if (p < i || p >= end) break;  // not a tree: nothing more is counted
        has_child[p] = true;
        if (!is_point(item(j))) has_group_child[p] = true;
        ++j;
    }
    for (int j = i + 1; j < end;) {
        if (ignored(item(j))) {
            j = subtree_end(route_current, j);
            continue;
        }
        const RouteItem& it = item(j);
        if (is_point(it)) {
            ++c.points;
            if (measured(it) && route_link_valid(j)) ++c.measured;
        } else if (has_child[j] && !has_group_child[j]) {
            ++c.machines;
        }
        ++j;
    }
    return c;
}

RouteCounts route_point_counts(const RouteBuffer* buf)
{
    RouteCounts c{0, 0, 0};
    for (int i = 0; in_route(*buf, i); ++i) {
        const RouteItem& it = buf->items[i];
        if (!is_point(it) || hidden_in(*buf, i)) continue;
        ++c.points;
        if (links_own(*buf, it)) ++c.measured;
    }
    return c;
}

void route_reset()
{
    route_clear(&route_current);
    route_clear(&route_other);
    g_current_file = 0;
}
