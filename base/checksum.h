// The 16-bit checksum that protects every stored record and block.
#pragma once
#include "base/types.h"

// Start 0xAAAA; per byte: rotate left by one bit, then XOR the byte.
u16 checksum16(const void* data, u32 n);
// The checksum field is the little-endian u16 at byte offset `field`.
void checksum_store(void* block, u32 n, u32 field);
// 1 when the stored field matches the checksum of the block (the field
// counted as zero), else 0.
int checksum_verify(void* block, u32 n, u32 field);
