// The bearing catalogue: the built-in table of common rolling bearings and
// the user's own table in parameter memory, kept in name order and looked up
// by bisection.
#pragma once
#include <cstddef>

#include "base/types.h"

// One bearing; the same 60-byte little-endian layout in the built-in table,
// in the user table and in memory. Dimensions are 0 when not given.
struct BearingRecord {
    char name[24];           // designation, NUL-terminated, at most 23 characters
    float bore;              // inner diameter, mm
    float outer;             // outer diameter, mm
    float element_diameter;  // rolling-element diameter, mm
    u32 elements;            // number of rolling elements
    float contact_angle;     // degrees
    float ftf;               // cage frequency / shaft frequency
    float bpfo;              // outer-race ball-pass factor
    float bpfi;              // inner-race ball-pass factor
    float bsf;               // ball spin factor
};
static_assert(sizeof(BearingRecord) == 60);
static_assert(offsetof(BearingRecord, bore) == 24);
static_assert(offsetof(BearingRecord, elements) == 36);
static_assert(offsetof(BearingRecord, contact_angle) == 40);
static_assert(offsetof(BearingRecord, bsf) == 56);

constexpr u32 BEARING_CAPACITY = 8192;
// The built-in table is unpacked straight into the catalogue with room for
// this many bytes; rows past the capacity are not used.
constexpr u32 BEARING_UNPACK_SIZE = 495372;
constexpr u32 BEARING_USER_OFFSET = 4096;  // in parameter memory
constexpr u32 BEARING_USER_RECORDS = 64;
constexpr u32 BEARING_USER_CHECKSUM = BEARING_USER_RECORDS * sizeof(BearingRecord);
constexpr u32 BEARING_USER_SIZE = BEARING_USER_CHECKSUM + 2;  // 3842

struct BearingCatalogue {
    BearingRecord records[(BEARING_UNPACK_SIZE + sizeof(BearingRecord) - 1) / sizeof(BearingRecord)];
    u32 count;  // at most BEARING_CAPACITY; records[0..count) in ascending byte order of name
};
extern BearingCatalogue bearing_catalogue;

// Once per run (later calls do nothing): the built-in table, then the user
// table. A user record whose name is already in the catalogue replaces that
// row; new names are inserted in name order while there is room.
void bearing_catalogue_load();
// Empties the catalogue and allows bearing_catalogue_load again.
void bearing_catalogue_clear();

// Index of a row named `name`, or -1 (of equal names, the first).
int bearing_find(const char* name);
// The row at i, or nullptr outside [0, count).
const BearingRecord* bearing_at(int i);

// The steps of the load. Unpacks a zlib stream of records as the whole
// catalogue and returns the count (0, an empty catalogue, when it does not
// unpack).
u32 bearing_unpack(const u8* stream, u32 size);
// Reads the user table (up to 8 tries until its checksum matches; otherwise
// an empty table is written back) into `table` and returns the number of
// records before the first empty name.
u32 bearing_user_table_read(BearingRecord table[BEARING_USER_RECORDS]);
// Adds one record keeping the name order: 1 added, 2 replaced a row of the
// same name, 0 not taken (empty name or full catalogue).
int bearing_add(const BearingRecord& record);
