// The archive as the tool shows it: the archive browser's tree (its model,
// its order and its line texts, every line opened) and each route's tree as
// the route screen shows it.
#pragma once
#include <string>
#include <vector>

#include "base/types.h"

struct ArchiveLine {
    int level;         // 0 for the root, 1 for objects, 2 for measurements
    int index;         // directory index; -1 for the root
    u32 id;            // file id; 0 for the root
    bool measurement;  // else the root or an object
    u32 kind;          // measurement kind (the directory entry's attr)
    std::string text;  // the browser's line text, Windows-1251
};
// Every line of the archive browser's tree, the root first, in its order.
std::vector<ArchiveLine> archive_lines();
// True for the directory entry of a measurement (a signal or spectrum, a
// vibrometer reading, an RMS table).
bool is_measurement_entry(int index);
// Directory indices of the measurements that the browser's tree leaves
// out, in directory order: orphans, whose parent is not an object of the
// archive (as a damaged image leaves them).
std::vector<int> orphan_entries(const std::vector<ArchiveLine>& lines);

struct RouteLine {
    int item;          // index in the route
    int level;         // 0 for the route item
    bool point;        // a measuring point, else the route or a group
    bool measured;     // a measured point whose measurement is in the archive
    bool ignored;      // hidden on the instrument (itself or a group above)
    i32 measurement;   // stored link (-1: none)
    std::string text;  // the route screen's line text, Windows-1251
};
// The items of route file `id` in their order, or empty when it does not
// load; *name gets the route's name.
std::vector<RouteLine> route_lines(u32 id, std::string* name);
// Directory indices of the route files, in archive order.
std::vector<int> route_entries();

// Blocks the mount found bad (their pages are marked bad in the page
// table), and block 0 when its markers say so.
u32 bad_blocks();

// Name of a measurement kind for the PC ("spectrum", "vibrometer", ...).
const char* kind_name(u32 kind);
