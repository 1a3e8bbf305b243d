// The built-in bearing catalogue: one zlib stream of 60-byte bearing records
// sorted by name (made by tools/make_bearing_table.py).
#pragma once
#include "base/types.h"

extern const u8 BEARING_TABLE_PACKED[];
extern const u32 BEARING_TABLE_PACKED_SIZE;
