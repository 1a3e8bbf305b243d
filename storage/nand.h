// NAND flash device: pages with a spare area, programming that only clears
// bits, erasure by blocks, bad-block markers and a one-block cache through
// which every page program passes. The chip's bytes live behind a small
// block-device interface (NandBlockDevice): the image file flash.dat, or a
// sparse chip in memory (storage/nand_sparse.h).
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

// Results of the NAND layer: NAND_OK (or the bytes moved) on success, else
// one of the others.
enum : int {
    NAND_OK = 1,
    NAND_FAILED = 0,          // a raw transfer failed (nand_read_raw, nand_write_raw)
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

// Where the chip's bytes are kept: the NAND layer reads, programs and erases
// through these callbacks (each given `context`), and keeps the NAND rules,
// the bad-block markers, the cache, the write count and the power-cut
// simulation itself. Pages are addressed by number and column (data area,
// then spare area); the layer never passes an access beyond a page or the
// chip that `size` announced.
struct NandBlockDevice {
    void* context;
    // Announces the identified chip (`pages` pages of `page_bytes` bytes,
    // data and spare area, `pages_per_block` to a block); with 0 pages only
    // asks whether the device has a medium. NAND_OK, or NAND_ERR_NO_DEVICE.
    int (*size)(void* context, u32 pages, u32 page_bytes, u32 pages_per_block);
    // Reads bytes of one page: NAND_OK, or NAND_ERR_READ.
    int (*read)(void* context, u32 page, u32 column, void* dst, u32 length);
    // Stores bytes of one page as given (the layer has checked the NAND
    // rules already): NAND_OK, or NAND_ERR_WRITE.
    int (*program)(void* context, u32 page, u32 column, const void* src, u32 length);
    // Sets every byte of the block's pages to 0xFF: NAND_OK, or
    // NAND_ERR_ERASE.
    int (*erase)(void* context, u32 block);
    // Brings the device in step with its medium before an operation that
    // writes (a program, an erase, a purge): NAND_OK, or NAND_ERR_WRITE when
    // nothing may be written any more (the image file changed under the
    // program, see nand_set_changed_hook).
    int (*sync)(void* context);
};

// The device the NAND layer uses, announced to it by the next nand_init
// (fs_init); nullptr for the image file flash.dat (the default). nand_reset
// keeps the choice (the front end's). The device must outlive its use.
void nand_set_device(const NandBlockDevice* device);
// The device in use: the one set, or the image file's.
const NandBlockDevice* nand_device();
// The image file flash.dat (the handle session.h opens) as a device.
const NandBlockDevice* nand_file_device();

// Forgets the chip, its cache and any simulated power cut (state at
// power-on).
void nand_reset();
// Read-only use of the image (inspecting an archive): the next nand_init
// reads the whole file once into memory instead of mapping it, which is
// quicker when every page will be looked at. Writes would not be seen by
// the reads. Off again after nand_reset.
void nand_set_read_only_copy(bool on);
// NAND_OK while the device has a medium (the image file is open), else
// NAND_FAILED.
int nand_present();
// Identifies the chip: the work-area size it needs in bytes, or
// NAND_ERR_NO_DEVICE.
int nand_init();
// Places the page table and the block cache in the area: NAND_OK, or
// NAND_ERR_NO_DEVICE when the area is too small.
int nand_attach(void* area, u32 size);

// Raw transfers within one page (data and spare area): NAND_OK, or
// NAND_FAILED. Every raw write counts as one write (see nand_writes_made).
int nand_read_raw(u32 page, void* dst, u32 column, u32 length);
int nand_write_raw(u32 page, const void* src, u32 column, u32 length);
// The length, or NAND_ERR_READ.
int nand_read_page(u32 page, void* dst, u32 column, u32 length);
// The page's bad-block marker byte (0xFF on a good page).
u8 nand_read_marker(u32 page);
// Marks the page bad: its bad-block marker byte is written 0.
void nand_mark_page_bad(u32 page);
// Marks every page of the block bad: NAND_OK.
int nand_mark_block_bad(u32 block);
// Whether the block is good: every page's marker byte is 0xFF.
bool nand_block_is_good(u32 block);
// Erases the block (one write per page, as far as the power-cut simulation
// goes): NAND_OK; NAND_ERR_BAD_BLOCK (not good and not forced) or
// NAND_ERR_ERASE (the block is marked bad then).
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
// Whether the image file changed so (until nand_reset).
bool nand_image_changed();

// Byte offset of (page, column) in the image file.
u64 nand_file_offset(u32 page, u32 column);

// Power-cut simulation for tests. Every raw write to the device is counted
// (an erase as one per page); once the count reaches the cut point the
// device is given nothing more to write (raw writes fail, the image file is
// not lengthened, an erase cut short leaves the pages before the cut
// erased) until power returns. Unarmed, it costs one compare per write.
// The raw writes made since nand_reset.
u64 nand_writes_made();
void nand_cut_power_at(u64 write_count);
void nand_restore_power();
// Called with every raw write that goes to the device (page, column and
// the bytes; an erase as a write of erased bytes to each page), before the
// device has it, so that tests and fuzzing can put back just the pages an
// operation touched; nullptr for none (also after nand_reset).
using NandWriteHook = void (*)(u32 page, u32 column, const void* bytes, u32 length);
void nand_set_write_hook(NandWriteHook hook);
