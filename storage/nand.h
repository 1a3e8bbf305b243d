// NAND flash device on the image file flash.dat: pages with a spare area,
// programming that only clears bits, erasure by blocks, bad-block markers and
// a one-block cache through which every page program passes.
#pragma once
#include "base/types.h"

struct NandInfo {
    u8 id[5];        // maker, device, third, fourth, fifth byte
    u32 page_size;   // data bytes of a page
    u32 spare_size;  // spare bytes of a page
    u32 pages_per_block;
    u32 total_pages;  // block_count * pages_per_block
    u32 block_bytes;  // page_size * pages_per_block
    u32 block_count;
    u16 marker_column;  // column of the bad-block marker byte
    u16 status_column;  // column of the file system's 16-byte page header
    i32 cached_block;   // block held in the cache; -1 = none
    u32* page_table;    // 4 bytes per page, inside the work area
    u8* cache_data;     // data areas of the cached block
    u8* cache_spare;    // spare areas of the cached block, page after page
};

extern NandInfo nand_info;

// Results of the NAND layer: 1 (or the bytes moved) on success, else one of
// these.
enum : int {
    NAND_ERR_RANGE = -1,      // beyond the page (program) or the chip (purge)
    NAND_ERR_READ = -2,       // the page or block could not be read
    NAND_ERR_WRITE = -3,      // a write failed
    NAND_ERR_ERASE = -4,      // the erase failed; the block is marked bad now
    NAND_ERR_NO_DEVICE = -5,  // no image file, an unknown chip or a too small work area
    NAND_ERR_BAD_BLOCK = -6,  // the block is not good
};

// The five bytes the chip answers to the identification command. The
// emulated chip answers EC DA 10 95 44; other values exist to exercise the
// decoding of the other chips.
extern u8 nand_chip_id[5];
constexpr u8 NAND_EMULATED_ID[5] = {0xEC, 0xDA, 0x10, 0x95, 0x44};

// Forgets the chip, its cache and any simulated power cut (state at
// power-on).
void nand_reset();
// Read-only use of the image (inspecting an archive): the next nand_init
// reads the whole file once into memory instead of mapping it, which is
// quicker when every page will be looked at. Writes would not be seen by
// the reads. Off again after nand_reset.
void nand_set_read_only_copy(bool on);
// 1 while the image file is open, else 0.
int nand_present();
// Identifies the chip: the work-area size it needs in bytes, or
// NAND_ERR_NO_DEVICE.
int nand_init();
// Places the page table and the block cache in the area: 1, or
// NAND_ERR_NO_DEVICE when the area is too small.
int nand_attach(void* area, u32 size);

// Raw transfers within one page (data and spare area): 1, or 0 on a failure.
int nand_read_raw(u32 page, void* dst, u32 column, u32 length);
int nand_write_raw(u32 page, const void* src, u32 column, u32 length);
// The length, or NAND_ERR_READ.
int nand_read_page(u32 page, void* dst, u32 column, u32 length);
// The page's bad-block marker byte (0xFF on a good page).
u8 nand_read_marker(u32 page);
// Marks the page bad: its bad-block marker byte is written 0.
void nand_mark_page_bad(u32 page);
// Marks every page of the block bad; returns 1.
int nand_mark_block_bad(u32 block);
// 1 when every page's marker byte is 0xFF, else 0.
int nand_block_is_good(u32 block);
// 1; NAND_ERR_BAD_BLOCK (not good and not forced) or NAND_ERR_ERASE.
int nand_erase_block(u32 block, int force);
// Programs bytes of one page under the NAND rules (rewriting the block
// through the cache where bits must be set again): the length, or
// NAND_ERR_RANGE, NAND_ERR_READ, NAND_ERR_WRITE or NAND_ERR_ERASE.
int nand_program(u32 page, const void* src, u32 column, u32 length);
// Erases the block's deleted pages and keeps the rest: 0 when none was
// deleted, the rewrite's result, NAND_ERR_RANGE, NAND_ERR_BAD_BLOCK or
// NAND_ERR_READ.
int nand_purge_block(u32 block);

// The image file changed under the running program by another one: cut
// shorter than this program has seen it (a copy written over it starts so),
// found when a read of the shared map meets a page that is gone or before a
// write. From then on nothing more is written to the file (until
// nand_reset). The hook is told first: the front ends end the program there
// with one line, and it must be safe in a signal handler (a read that meets
// a lost page is a bus error; with no hook it ends the program as without
// this). nullptr removes it; nand_reset keeps it (the front end's choice).
using NandChangedHook = void (*)();
void nand_set_changed_hook(NandChangedHook hook);
bool nand_image_changed();

// Byte offset of (page, column) in the image file.
u64 nand_file_offset(u32 page, u32 column);

// Power-cut simulation for tests. Every raw write to the image file is
// counted; once the count reaches the cut point the device writes nothing
// more (raw writes fail, the file is not lengthened) until power returns.
// Unarmed, it costs one compare per write.
u64 nand_writes_made();
void nand_cut_power_at(u64 write_count);
void nand_restore_power();
// Called with every raw write that reaches the image file (page, column and
// the bytes), so that tests and fuzzing can put back just the pages an
// operation touched; nullptr for none (also after nand_reset).
using NandWriteHook = void (*)(u32 page, u32 column, const void* bytes, u32 length);
void nand_set_write_hook(NandWriteHook hook);
