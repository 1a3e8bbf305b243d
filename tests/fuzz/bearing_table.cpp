// The user bearing table in fram.dat as the catalogue load reads it: the
// input is the 3842-byte table (64 records and a checksum) at its place in
// an otherwise erased parameter memory. Input: a flags byte (1: seal the
// table's checksum, so that its records are used), then the table. The
// catalogue must stay in name order, within its capacity, and every user
// record must be found under its name with its last values.
#include <cstring>
#include <vector>

#include "base/checksum.h"
#include "fuzz.h"
#include "host/fram.h"
#include "screens/bearings.h"

namespace {

constexpr u8 SEAL = 1;

// The built-in part, unpacked once and put back before every execution.
const BearingCatalogue* built_in()
{
    static BearingCatalogue* copy = nullptr;
    if (!copy) {
        fuzz_write_file(fuzz_folder() + "/fram.dat", std::vector<u8>(FRAM_SIZE, 0xFF));
        bearing_catalogue_clear();
        bearing_catalogue_load();
        copy = new BearingCatalogue(bearing_catalogue);
    }
    return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_quiet_instrument();
    const BearingCatalogue* base = built_in();
    FuzzInput in{data, size};
    const u8 flags = in.byte();
    std::vector<u8> fram(FRAM_SIZE, 0xFF);
    size_t length = 0;
    const u8* table = in.take(BEARING_USER_SIZE, &length);
    std::memcpy(fram.data() + BEARING_USER_OFFSET, table, length);
    if (flags & SEAL) checksum_store(fram.data() + BEARING_USER_OFFSET, BEARING_USER_SIZE, BEARING_USER_CHECKSUM);
    fuzz_write_file(fuzz_folder() + "/fram.dat", fram);

    std::memcpy(bearing_catalogue.records, base->records, base->count * sizeof(BearingRecord));
    bearing_catalogue.count = base->count;
    static BearingRecord user[BEARING_USER_RECORDS];
    const u32 used = bearing_user_table_read(user);
    FUZZ_CHECK(used <= BEARING_USER_RECORDS);
    for (u32 i = 0; i < used; ++i) bearing_add(user[i]);

    const BearingCatalogue& c = bearing_catalogue;
    FUZZ_CHECK(c.count <= BEARING_CAPACITY);
    for (u32 i = 0; i < c.count; ++i) {
        FUZZ_CHECK(strnlen(c.records[i].name, sizeof c.records[i].name) < sizeof c.records[i].name);
        if (i > 0) FUZZ_CHECK(std::strncmp(c.records[i - 1].name, c.records[i].name, 24) <= 0);
    }
    for (u32 i = 0; i < used; ++i) {
        BearingRecord r = user[i];
        r.name[sizeof r.name - 1] = 0;
        // The last user record of a name is the one that stays.
        bool later = false;
        for (u32 j = i + 1; j < used; ++j) later |= std::strncmp(user[j].name, r.name, 23) == 0 && user[j].name[0];
        if (later) continue;
        const int at = bearing_find(r.name);
        FUZZ_CHECK(at >= 0);
        FUZZ_CHECK(std::memcmp(bearing_at(at), &r, sizeof r) == 0);
    }
    // The table as stored now reads with a good checksum.
    std::vector<u8> back(BEARING_USER_SIZE);
    FUZZ_CHECK(param_read_checked(BEARING_USER_OFFSET, back.data(), BEARING_USER_SIZE, BEARING_USER_CHECKSUM) == 1);
    return 0;
}
