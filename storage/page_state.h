// The state byte that opens every page's header in the spare area: what the
// page holds for the file system, and what the NAND device's purge keeps.
#pragma once
#include "base/types.h"

enum : u8 {
    PAGE_FREE = 255,
    PAGE_HEAD = 254,
    PAGE_BODY = 252,
    PAGE_LAST = 248,
    PAGE_HEAD_ALT = 240,
    PAGE_BAD = 192,
    PAGE_DELETED = 0,
};
