// Inside the flash layers only: whole-block transfers and the block cache.
#pragma once
#include "storage/nand.h"

enum NandIo { NAND_IO_READ, NAND_IO_WRITE };

// Moves `length` bytes between the buffer and the data areas of the block
// from `offset` on, page by page; returns the bytes moved.
u32 nand_block_io(NandIo op, u32 block, u8* buffer, u32 offset, u32 length);
// Brings the block into the cache: NAND_OK, or NAND_ERR_READ.
int nand_load_block(u32 block);
// Patches `length` bytes from `src` into the cache at `place` and writes the
// cached block over the block, each page's data and spare area in one write
// (an erase and a write-back in one step, so a power cut leaves every page
// either old or new): the length, 0 without a work area, NAND_ERR_ERASE when
// the block is not good or a page cannot be written (it is marked bad).
int nand_rewrite_block(u32 block, u8* place, const void* src, u32 length);

// The image file's own state at power-on: no map, no copy, not changed
// (the changed hook stays).
void nand_file_reset();
// Whether the simulated power is cut (see nand_cut_power_at): the device
// writes nothing, not even the erased bytes that lengthen the image file.
bool nand_power_cut();
