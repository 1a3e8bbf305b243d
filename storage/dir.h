// In-memory directory of the flash files, gathered from the head pages at
// mount time and kept in order afterwards: root objects by name, each
// followed by its children newest first, then everything else newest first.
#pragma once
#include "base/types.h"

constexpr u32 DIR_CAPACITY = 8192;
constexpr u32 SCAN_PAGES_PER_STEP = 4096;
constexpr u16 DIR_FLAG_EXPANDED = 4;

// Results of the directory's edits.
enum : int {
    DIR_OK = 1,
    DIR_FAILED = 0,  // the directory is full or the index is not an entry
    DIR_NONE = -1,   // no entry found (dir_find_id, dir_find_type)
};
// Results of a mount step (fs_scan_step).
enum : int {
    FS_SCAN_MORE = 1,  // pages are left for the next step
    FS_SCAN_DONE = 0,  // the scan is through (or the device is not ready)
};

struct DirEntry {
    u32 id;
    u32 stamp;
    u32 parent;
    u8 attr;
    u8 type;
    u16 flags;
};
static_assert(sizeof(DirEntry) == 16);

struct Directory {
    u32 count;
    u32 resume;  // page where the next scan step starts; 0xFFFFFFFF = first_page
    DirEntry entries[DIR_CAPACITY];
};
extern Directory directory;

// Reads the name of the object file `id` into `dest` (DIR_NAME_SIZE bytes,
// terminator included): DIR_OK when it reads with a good checksum, else
// DIR_FAILED. The archive installs it; the mount sorts the root objects by
// these names (without a reader they keep their date order).
constexpr u32 DIR_NAME_SIZE = 198;
using DirNameReader = int (*)(u32 id, char* dest);
void dir_set_name_reader(DirNameReader reader);

// Empties the directory (state at power-on); the mount is fs_dir_reset.
void dir_reset();
// Empties the directory and starts a mount: FS_OK when the device is
// ready, else FS_FAILED.
int fs_dir_reset();
// Lists the heads of the next SCAN_PAGES_PER_STEP pages: FS_SCAN_MORE or
// FS_SCAN_DONE.
int fs_scan_step();
// Ends a mount: marks it mounted, reclaims unreachable pages and puts the
// directory in its order.
void fs_mount_finish();
// The whole mount at once: FS_OK, or FS_FAILED when the device is not
// ready.
int fs_mount();

// The number of entries.
u32 dir_count();
// Whether no entry can be added.
bool dir_full();
// The entry's fields; 0 for an index that is not an entry.
u32 dir_id(int index);
u32 dir_stamp(int index);
u32 dir_parent(int index);  // all 20 bits of the parent id
u8 dir_attr(int index);
u8 dir_type(int index);
u16 dir_flags(int index);
// The index of the entry of file `id` (0 finds none), or DIR_NONE.
int dir_find_id(u32 id);
// The index of the first entry of the type, or DIR_NONE.
int dir_find_type(u8 type);
// Whether the next entry is a child of this one.
bool dir_has_children(int index);
// 1 for an entry without a listed parent, one more per listed ancestor; 0
// for an index that is not an entry.
int dir_depth(int index);
// Adds an entry at the end: DIR_OK, or DIR_FAILED when the directory is
// full.
int dir_append(u32 id, u32 stamp, u32 parent, u8 type, u8 attr);
// Inserts an entry before entry `index`: DIR_OK, or DIR_FAILED (full, or
// not an entry).
int dir_insert_at(int index, u32 id, u32 stamp, u32 parent, u8 type, u8 attr);
// Inserts an entry after entry `index`: DIR_OK, or DIR_FAILED (full, or
// not an entry).
int dir_insert_after(int index, u32 id, u32 stamp, u32 parent, u8 type, u8 attr);
// Overwrites entry `index`: DIR_OK, or DIR_FAILED when it is not an entry.
int dir_set(int index, u32 id, u32 stamp, u32 parent, u8 type, u8 attr);
// Removes the entry (not its file): DIR_OK, or DIR_FAILED when it is not an
// entry.
int dir_remove(int index);
// Deletes the entry's file and then the entry: fs_delete's result (FS_OK
// or FS_FAILED; FS_OK for an entry without a file), FS_FAILED when it is
// not an entry.
int dir_delete(int index);
void dir_flags_set(int index, u16 bits);
void dir_flags_toggle(int index, u16 bits);
void dir_flags_clear(int index, u16 bits);
void dir_flags_clear_all(u16 bits);
