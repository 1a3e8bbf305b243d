// Inside the flash layers only: the page table and page headers as the
// file system and the directory's mount change them.
#pragma once
#include "storage/fs.h"

// Sets the page table entry of a page (nothing for a page off the chip).
void fs_table_set(u32 page, u8 state, u32 link);
// Programs the 16-byte header of a page and updates its table entry: FS_OK
// when all 16 bytes were programmed, else FS_FAILED.
int fs_write_header(u32 page, const PageHeader* h);
// The next link of a head or body page when it lies in the file area, else 0.
u32 fs_next_page(u32 page);
// Sets or clears the mounted flag (the end of the mount, the directory reset).
void fs_set_mounted(bool on);
