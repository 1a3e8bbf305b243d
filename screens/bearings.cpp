#include "screens/bearings.h"

#include <zlib.h>

#include <cstring>

#include "base/checksum.h"
#include "data/bearing_table.h"
#include "host/fram.h"

BearingCatalogue bearing_catalogue;

namespace {

bool g_loaded = false;

// Byte-wise order of two names, each ending at its NUL or after 24 bytes.
int name_compare(const char* a, const char* b)
{
    return std::strncmp(a, b, sizeof(BearingRecord::name));
}

}  // namespace

u32 bearing_unpack(const u8* stream, u32 size)
{
    uLongf length = BEARING_UNPACK_SIZE;
    bearing_catalogue.count = 0;
    if (uncompress(reinterpret_cast<Bytef*>(bearing_catalogue.records), &length, stream, size) != Z_OK) return 0;
    u32 count = static_cast<u32>(length / sizeof(BearingRecord));
    if (count > BEARING_CAPACITY) count = BEARING_CAPACITY;
    // Every name ends inside its field, so no comparison runs past a row.
    for (u32 i = 0; i < count; ++i) bearing_catalogue.records[i].name[sizeof(BearingRecord::name) - 1] = 0;
    bearing_catalogue.count = count;
    return count;
}

u32 bearing_user_table_read(BearingRecord table[BEARING_USER_RECORDS])
{
    static u8 block[BEARING_USER_SIZE];
    if (!param_read_checked(BEARING_USER_OFFSET, block, BEARING_USER_SIZE, BEARING_USER_CHECKSUM)) {
        std::memset(block, 0, sizeof block);
        checksum_store(block, BEARING_USER_SIZE, BEARING_USER_CHECKSUM);
        param_write_verified(BEARING_USER_OFFSET, block, BEARING_USER_SIZE);
    }
    std::memcpy(table, block, BEARING_USER_CHECKSUM);
    u32 used = 0;
    while (used < BEARING_USER_RECORDS && table[used].name[0] != 0) ++used;
    return used;
}

int bearing_add(const BearingRecord& record)
{
    if (record.name[0] == 0) return 0;
    BearingRecord copy = record;
    copy.name[sizeof copy.name - 1] = 0;
    const int same = bearing_find(copy.name);
    if (same >= 0) {
        bearing_catalogue.records[same] = copy;
        return 2;
    }
    u32& count = bearing_catalogue.count;
    if (count >= BEARING_CAPACITY) return 0;
    // After every row whose name is not greater.
    u32 lo = 0, hi = count;
    while (lo < hi) {
        const u32 mid = (lo + hi) / 2;
        if (name_compare(bearing_catalogue.records[mid].name, copy.name) <= 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    std::memmove(&bearing_catalogue.records[lo + 1], &bearing_catalogue.records[lo],
                 (count - lo) * sizeof(BearingRecord));
    bearing_catalogue.records[lo] = copy;
    ++count;
    return 1;
}

void bearing_catalogue_load()
{
    if (g_loaded) return;
    g_loaded = true;
    bearing_unpack(BEARING_TABLE_PACKED, BEARING_TABLE_PACKED_SIZE);
    static BearingRecord user[BEARING_USER_RECORDS];
    const u32 used = bearing_user_table_read(user);
    for (u32 i = 0; i < used; ++i) bearing_add(user[i]);
}

void bearing_catalogue_clear()
{
    bearing_catalogue.count = 0;
    g_loaded = false;
}

int bearing_find(const char* name)
{
    const BearingRecord* r = bearing_catalogue.records;
    const int count = static_cast<int>(bearing_catalogue.count);
    if (count == 0) return -1;
    int lo = 0, hi = count - 1;
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        if (name_compare(name, r[mid].name) <= 0)
            hi = mid;
        else
            lo = mid;
    }
    if (name_compare(r[lo].name, name) == 0) return lo;
    if (lo + 1 < count && name_compare(r[lo + 1].name, name) == 0) return lo + 1;
    return -1;
}

const BearingRecord* bearing_at(int i)
{
    if (i < 0 || static_cast<u32>(i) >= bearing_catalogue.count) return nullptr;
    return &bearing_catalogue.records[i];
}
