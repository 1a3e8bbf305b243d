#include "base/checksum.h"

u16 checksum16(const void* data, u32 n)
{
    const u8* p = static_cast<const u8*>(data);
    u16 c = 0xAAAA;
    for (u32 i = 0; i < n; ++i) {
        c = static_cast<u16>((c << 1) | (c >> 15));
        c ^= p[i];
    }
    return c;
}

void checksum_store(void* block, u32 n, u32 field)
{
    u8* p = static_cast<u8*>(block);
    p[field] = 0;
    p[field + 1] = 0;
    const u16 c = checksum16(block, n);
    p[field] = static_cast<u8>(c);
    p[field + 1] = static_cast<u8>(c >> 8);
}

int checksum_verify(void* block, u32 n, u32 field)
{
    u8* p = static_cast<u8*>(block);
    const u8 lo = p[field], hi = p[field + 1];
    p[field] = 0;
    p[field + 1] = 0;
    const u16 c = checksum16(block, n);
    p[field] = lo;
    p[field + 1] = hi;
    return c == static_cast<u16>(lo | (hi << 8)) ? 1 : 0;
}
