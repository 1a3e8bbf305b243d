// Routes: the machines and measuring points an operator walks through in a
// plant, each route one flash file of type 5 registered in the archive. A
// route is a tree flattened into fixed-size items in depth-first order: the
// route item, groups (shops, machines) and measuring points; a point carries
// the settings to measure it with and, once measured, the id of its
// measurement. This module reads and writes route files, keeps the current
// route and a second one in memory, and offers the current route to the tree
// view's model (screens/route_tree.h) and the route screen.
#pragma once
#include <cstddef>

#include "base/types.h"

constexpr u32 ROUTE_FORMAT = 512;
constexpr u32 ROUTE_MAX_ITEMS = 1024;
constexpr u32 ROUTE_NAME_SIZE = 64;  // name bytes of the header and of an item, terminator included
constexpr u32 ROUTE_HEADER_SIZE = 140, ROUTE_HEADER_CHECKSUM_AT = 138;
constexpr u32 ROUTE_ITEM_SIZE = 160, ROUTE_ITEM_CHECKSUM_AT = 158;
constexpr u32 ROUTE_STATE_BYTES = 8;  // state and measurement, rewritten alone when a point is measured
// Deepest level a route may have: a tree line's level is a byte.
constexpr u32 ROUTE_MAX_LEVEL = 255;

// Item states; bit 0 set: ignored (not shown, not counted, not navigable);
// bit 1 set: no measurement; both clear: measured.
enum : i32 {
    ROUTE_STATE_EMPTY = -1,
    ROUTE_STATE_NOT_MEASURED = -2,
    ROUTE_STATE_MEASURED = -4,
};
constexpr i32 ROUTE_STATE_IGNORED_BIT = 1, ROUTE_STATE_UNMEASURED_BIT = 2;
constexpr i32 ROUTE_NO_MEASUREMENT = -1;
constexpr i32 ROUTE_NO_PARENT = -1;

// Node kinds: 1 or more can have children.
enum : u32 { ROUTE_NODE_POINT = 0, ROUTE_NODE_GROUP = 1, ROUTE_NODE_ROUTE = 2 };
// Point settings: `spectrum` 1 measures a spectrum, anything else a
// waveform; `quantity` 0 acceleration, 2 displacement, any other value
// velocity; `lines` above 400 means 1600 lines, else 400.
constexpr u32 ROUTE_SPECTRUM = 1;
enum : u32 { ROUTE_QUANTITY_ACCELERATION = 0, ROUTE_QUANTITY_VELOCITY = 1, ROUTE_QUANTITY_DISPLACEMENT = 2 };
constexpr i32 ROUTE_FEW_LINES = 400;

// The 140-byte header of a route file, little-endian.
struct RouteHeader {
    u32 format;  // ROUTE_FORMAT
    char name[ROUTE_NAME_SIZE];
    u32 count;  // items, at most ROUTE_MAX_ITEMS
    u8 reserved[66];
    u16 checksum;  // checksum16 of the 140 bytes with this field 0
};
static_assert(sizeof(RouteHeader) == ROUTE_HEADER_SIZE);
static_assert(offsetof(RouteHeader, name) == 4);
static_assert(offsetof(RouteHeader, count) == 68);
static_assert(offsetof(RouteHeader, checksum) == ROUTE_HEADER_CHECKSUM_AT);

// One 160-byte item after the header, little-endian.
struct RouteItem {
    i32 state;        // ROUTE_STATE_...
    i32 measurement;  // id of the point's measurement, ROUTE_NO_MEASUREMENT for none
    char name[ROUTE_NAME_SIZE];
    u32 point_type;  // 0 for the route and groups; non-zero marks a measuring point
    u32 spectrum;    // ROUTE_SPECTRUM: a spectrum; else a waveform
    u32 quantity;    // ROUTE_QUANTITY_...
    u32 reserved_84;
    i32 lines;  // above ROUTE_FEW_LINES: 1600 lines, else 400
    i32 fmin;   // Hz, not used by the instrument
    i32 fmax;   // Hz
    i32 averages;
    u32 reserved_104;
    u32 level;      // depth, 0 for the route item
    i32 parent;     // index of the parent item, ROUTE_NO_PARENT for the route item
    u32 node_kind;  // ROUTE_NODE_...
    u32 expanded;   // 1: shown expanded
    u8 reserved_124[34];
    u16 checksum;  // checksum16 of the 160 bytes with this field 0
};
static_assert(sizeof(RouteItem) == ROUTE_ITEM_SIZE);
static_assert(offsetof(RouteItem, measurement) == 4);
static_assert(offsetof(RouteItem, name) == 8);
static_assert(offsetof(RouteItem, point_type) == 72);
static_assert(offsetof(RouteItem, spectrum) == 76);
static_assert(offsetof(RouteItem, quantity) == 80);
static_assert(offsetof(RouteItem, lines) == 88);
static_assert(offsetof(RouteItem, fmin) == 92);
static_assert(offsetof(RouteItem, fmax) == 96);
static_assert(offsetof(RouteItem, averages) == 100);
static_assert(offsetof(RouteItem, level) == 108);
static_assert(offsetof(RouteItem, parent) == 112);
static_assert(offsetof(RouteItem, node_kind) == 116);
static_assert(offsetof(RouteItem, expanded) == 120);
static_assert(offsetof(RouteItem, checksum) == ROUTE_ITEM_CHECKSUM_AT);

// A route in memory: the header and room for the most items a route has.
struct RouteBuffer {
    RouteHeader header;
    RouteItem items[ROUTE_MAX_ITEMS];
};
static_assert(sizeof(RouteBuffer) == 163980);

// The current route (the one the route screen walks; the item operations
// and the tree model below work on it) and a second buffer for the
// operations of the route choice.
extern RouteBuffer route_current;
extern RouteBuffer route_other;

// The name of the demonstration route ("Маршрут 1").
extern const char* const ROUTE_TEST_NAME;
constexpr u32 ROUTE_TEST_ITEMS = 12;

// The file the current route was last loaded from or saved to (0: none).
u32 route_current_file();

// Zeroes `buf`; every item slot gets an empty state and no measurement.
void route_clear(RouteBuffer* buf);
// Reads the header of route file `file` into `h`: true when it reads whole
// with a right checksum and format.
bool route_read_header(u32 file, RouteHeader* h);
// Returns the file of the first route in archive order whose header is
// sound (checksum and format) and whose name is `name`, or 0.
u32 route_find(const char* name);
// Reads route `file` into `buf`: its header must be sound and hold 1 to
// 1024 items that the file holds whole, and the items must form a tree in
// depth-first order (the route item first; each parent earlier, a level one
// deeper than its parent's, each subtree contiguous, no level above 255).
// Names are cut to their buffer. Returns `file`, or 0 with `buf` cleared.
u32 route_load(u32 file, RouteBuffer* buf);
// Takes a route file's `size` bytes into `buf` by the rules of route_load
// (the route itself needs no archive): returns whether it was taken; `buf`
// is cleared when not.
bool route_from_bytes(const void* bytes, size_t size, RouteBuffer* buf);
// The tree checks of route_load on the items in `buf` (count from its
// header): returns true when they form a route's tree.
bool route_check(RouteBuffer* buf);
// Writes `buf` with format and header checksum: into `file` when it is a
// route of the archive, else (file 0) into a new route file registered in
// the archive. Returns the file, or 0 when nothing was stored.
u32 route_save(u32 file, RouteBuffer* buf);
// Rewrites the state and measurement (the first 8 bytes) of item `i` of the
// current route in its file when they differ there. Returns whether the file
// now holds them.
bool route_store_item_state(int i);

// Item `i` of the current route, or nullptr for an index outside it.
RouteItem* route_item(int i);
// Whether item `i` of the current route is a measuring point.
bool route_is_point(int i);
// Whether item `i` of the current route is measured (state bits clear).
bool route_is_measured(int i);
// Whether item `i` or one of its parents is ignored (also true for an index
// outside the route): such items are invisible everywhere.
bool route_is_hidden(int i);
// Whether item `i` links its own measurement: a time signal or a spectrum
// of the archive saved into the object named after the route. When not, a
// measured item becomes not measured, in memory and (unless the archive is
// in read-only use) in the route's file; an ignored item stays as it is.
bool route_link_valid(int i);

// Marks point `i` of the current route measured by measurement `id`: the
// new state reaches the route's file first, then the measurement the point
// linked before goes, so a power loss in between leaves a spare measurement,
// never a link to nothing. Returns whether the state reached the file.
bool route_set_measurement(int i, u32 id);
// Removes measurement `id` (its file and entry) after telling the archive's
// listener (ARCHIVE_CHANGE_REMOVING: the browser's cursor moves to its object
// if it stood on it). Returns whether it went.
bool route_remove_measurement(u32 id);
// Makes every point of `buf` (in memory) that is not ignored and does not
// link its own measurement not measured, with no measurement: what is
// exported is what the route screen shows. Returns the points changed.
int route_drop_stale_links(RouteBuffer* buf);
// Called before measurement `id` is deleted (the archive browser): every
// point of the archive's routes that links it becomes not measured, in its
// route's file and in the current route.
void route_unlink_measurement(u32 id);
// The same for every measurement of object `object`, before they go.
void route_unlink_object(u32 object);
// Removes the measurements of every measured point of `buf` that links its
// own measurement (a signal or spectrum of the object named after the
// route), then makes every item that is not ignored not measured; every
// item gets a fresh checksum.
void drop_measurements(RouteBuffer* buf);
// Loads route `file` into the second buffer, removes its measurements and
// saves it back. Returns the file, or 0.
u32 route_clear_measurements(u32 file);
// Removes route `file` with the measurements it links (a route that no
// longer loads goes alone). Returns whether its entry is gone.
bool route_delete(u32 file);
// Builds the demonstration route "Маршрут 1" (12 items) in the second
// buffer and saves it as a new file. Returns the file, or 0.
u32 route_make_test();

// Sets `expanded` on item `i` and on each of its parents.
void route_expand_path(int i);
// Enter on group `g`: marks it expanded and walks the items after it until
// the first visible point still to measure; every item passed is marked
// expanded. Returns that point, else the last item passed, else `g`.
int route_next_open_point(int g);

// What a group's subtree holds (hidden items left out): machines (groups
// with children of which none is a group), points, and points measured with
// a valid link.
struct RouteCounts {
    int machines;
    int points;
    int measured;
};
// Returns the counts of the subtree of item `i` of the current route.
RouteCounts route_subtree_counts(int i);

// Returns the points of route `buf` that are shown (in `points`) and those
// of them measured with a link to their own measurement (`measured`), as
// route_subtree_counts counts them; `machines` stays 0.
RouteCounts route_point_counts(const RouteBuffer* buf);

// Both buffers cleared and no current file (state at power-on).
void route_reset();
