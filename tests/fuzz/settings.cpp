// fram.dat as the start-up reads it: the input is the file (any length; a
// short one is lengthened with erased bytes). Input: a flags byte (1: seal
// the stored settings block's checksum, so that the load goes past it),
// then the file. The loaded block must hold only values in range, and a
// save followed by the next start must give the very same block.
#include "host/settings.h"

#include <cstring>
#include <vector>

#include "base/checksum.h"
#include "fuzz.h"
#include "host/fram.h"

namespace {

constexpr u8 SEAL = 1;
constexpr u32 CHECKSUM_FIELD = offsetof(SettingsBlock, checksum);

// The block without its checksum field (stale in RAM after a load).
std::vector<u8> fields(const SettingsBlock& b)
{
    SettingsBlock copy = b;
    copy.checksum = 0;
    const u8* p = reinterpret_cast<const u8*>(&copy);
    return std::vector<u8>(p, p + sizeof copy);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_quiet_instrument();
    FuzzInput in{data, size};
    const u8 flags = in.byte();
    size_t length = 0;
    const u8* bytes = in.take(2 * FRAM_SIZE, &length);
    std::vector<u8> file(bytes, bytes + length);
    if ((flags & SEAL) && file.size() >= SETTINGS_OFFSET + SETTINGS_SIZE)
        checksum_store(file.data() + SETTINGS_OFFSET, SETTINGS_SIZE, CHECKSUM_FIELD);
    const std::string path = fuzz_folder() + "/fram.dat";
    fuzz_write_file(path, file);

    settings_load();
    SettingsBlock loaded = settings;
    FUZZ_CHECK(settings_sanitise(&loaded) == 0);
    FUZZ_CHECK(settings.meas_params_changed == 1);
    // Lengthened to the memory's size; outside the block nothing changed.
    const std::vector<u8> after = fuzz_read_file(path);
    FUZZ_CHECK(after.size() >= FRAM_SIZE);
    for (size_t i = 0; i < file.size() && i < after.size(); ++i)
        if (i < SETTINGS_OFFSET || i >= SETTINGS_OFFSET + SETTINGS_SIZE) FUZZ_CHECK(after[i] == file[i]);

    // Power-off saves what changed; the next start loads the same block.
    const std::vector<u8> before = fields(settings);
    settings_save_if_changed();
    SettingsBlock stored;
    FUZZ_CHECK(param_read_checked(SETTINGS_OFFSET, &stored, SETTINGS_SIZE, CHECKSUM_FIELD) == 1);
    settings_load();
    FUZZ_CHECK(fields(settings) == before);
    return 0;
}
