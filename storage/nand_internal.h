// Inside the flash layers only: whole-block transfers and the block cache.
#pragma once
#include "storage/nand.h"

enum NandIo { NAND_IO_READ, NAND_IO_WRITE };

// Moves `length` bytes between the buffer and the data areas of the block
// from `offset` on, page by page; returns the bytes moved.
u32 nand_block_io(NandIo op, u32 block, u8* buffer, u32 offset, u32 length);
// Brings the block into the cache: 1, or -2 when it cannot be read.
int nand_load_block(u32 block);
// Writes the whole cache (data and spare areas) to the block: 1, or -3.
int nand_flush_block(u32 block);
// Erases the block, patches `length` bytes from `src` into the cache at
// `place`, writes the cache back: the length, 0 without a work area, -4
// when the erase fails, -3 when the write fails.
int nand_rewrite_block(u32 block, u8* place, const void* src, u32 length);
