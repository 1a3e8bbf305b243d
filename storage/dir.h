// In-memory directory of the flash files, gathered from the head pages at
// mount time and kept in order afterwards: root objects by name, each
// followed by its children newest first, then everything else newest first.
#pragma once
#include "base/types.h"

constexpr u32 DIR_CAPACITY = 8192;
constexpr u32 SCAN_PAGES_PER_STEP = 4096;
constexpr u16 DIR_FLAG_EXPANDED = 4;

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
// terminator included): 1 when it reads with a good checksum. The archive
// installs it; the mount sorts the root objects by these names (without a
// reader they keep their date order).
constexpr u32 DIR_NAME_SIZE = 198;
using DirNameReader = int (*)(u32 id, char* dest);
void dir_set_name_reader(DirNameReader reader);

// Empties the directory (state at power-on); the mount is fs_dir_reset.
void dir_reset();
int fs_dir_reset();
int fs_scan_step();
void fs_mount_finish();
int fs_mount();

u32 dir_count();
int dir_full();
u32 dir_id(int index);
u32 dir_stamp(int index);
u32 dir_parent(int index);  // all 20 bits of the parent id
u8 dir_attr(int index);
u8 dir_type(int index);
u16 dir_flags(int index);
int dir_find_id(u32 id);
int dir_find_type(u8 type);
int dir_has_children(int index);
int dir_depth(int index);
int dir_append(u32 id, u32 stamp, u32 parent, u8 type, u8 attr);
int dir_insert_at(int index, u32 id, u32 stamp, u32 parent, u8 type, u8 attr);
int dir_insert_after(int index, u32 id, u32 stamp, u32 parent, u8 type, u8 attr);
int dir_set(int index, u32 id, u32 stamp, u32 parent, u8 type, u8 attr);
int dir_remove(int index);
int dir_delete(int index);
void dir_flags_set(int index, u16 bits);
void dir_flags_toggle(int index, u16 bits);
void dir_flags_clear(int index, u16 bits);
void dir_flags_clear_all(u16 bits);
