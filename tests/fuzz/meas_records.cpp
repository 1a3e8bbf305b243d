// Measurement files as the archive reads them: the input is a file's
// contents (the 100-byte header and its sections) stored under an object of
// a small archive (flash_sandbox.h), then labelled, read with meas_read,
// loaded for display with spectra_load (kinds 0..3) or checked with
// rms_table_verify (kinds 4 and 5), and optionally shown by its viewer.
// Input: a flags byte (1: seal the header's checksum, 2: seal the records'
// own checksums, so that the reading goes past them; 4: open the viewer),
// the kind byte kept in the directory entry, then the file's contents.
#include <cstring>
#include <vector>

#include "analysis/signal.h"
#include "archive/measurement.h"
#include "archive/objects.h"
#include "base/checksum.h"
#include "base/cp1251.h"
#include "flash_sandbox.h"
#include "fuzz.h"
#include "host/settings.h"
#include "screens/browser.h"
#include "screens/spectra.h"
#include "storage/dir.h"
#include "storage/fs.h"

namespace {

enum : u8 { SEAL_HEADER = 1, SEAL_RECORDS = 2, VIEW = 4 };
constexpr u32 MAX_CONTENT = 64 * 1024;

u8 file_type_of(u8 kind)
{
    if (kind == MEAS_KIND_VIBROMETER) return FILE_TYPE_VIBROMETER;
    if (kind == MEAS_KIND_RMS_TABLE) return FILE_TYPE_RMS_TABLE;
    return FILE_TYPE_SIGNAL;
}

// Seals the records inside the contents where the header places them.
void seal(std::vector<u8>& file, u8 flags)
{
    if (file.size() < MEAS_HEADER_SIZE) return;
    MeasHeader hd;
    std::memcpy(&hd, file.data(), sizeof hd);
    const u64 at1 = hd.section_offset[0], len1 = hd.section_length[0];
    if ((flags & SEAL_RECORDS) && at1 + len1 <= file.size()) {
        u8* s1 = file.data() + at1;
        if (len1 == RMS_TABLE_RECORD_SIZE) checksum_store(s1, RMS_TABLE_RECORD_SIZE, RMS_TABLE_CHECKSUM_AT);
        if (len1 == SPECTRA_RECORD_SIZE) {
            const u64 at2 = hd.section_offset[1], len2 = hd.section_length[1];
            const bool has2 = at2 != 0 && at2 + len2 <= file.size();
            SpectraRecord r;
            std::memcpy(&r, s1, sizeof r);
            spectra_record_seal(&r, has2 ? file.data() + at2 : nullptr, has2 ? static_cast<u32>(len2) : 0);
            std::memcpy(s1, &r, sizeof r);
        }
    }
    if (flags & SEAL_HEADER) checksum_store(file.data(), MEAS_HEADER_SIZE, MEAS_HEADER_CHECKSUM_AT);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_quiet_instrument();
    flash_prepare_archive(nullptr);  // one object, "Насос"
    flash_sandbox_begin();
    FuzzInput in{data, size};
    const u8 flags = in.byte();
    const u8 kind = in.byte();
    size_t length = 0;
    const u8* bytes = in.take(MAX_CONTENT, &length);
    std::vector<u8> file(bytes, bytes + length);
    seal(file, flags);

    FUZZ_CHECK(flash_mount());
    FUZZ_CHECK(obj_after_mount() != OBJ_FAILED);
    const u32 object = settings.current_object;
    FileHandle h;
    if (fs_create(&h, file_type_of(kind), object, kind, static_cast<u32>(file.size())) != FS_OK) return 0;
    if (!file.empty() && fs_write(&h, file.data(), 0, static_cast<u32>(file.size())) != file.size()) return 0;
    fs_close(&h);
    FUZZ_CHECK(dir_insert_after(dir_find_id(object), h.first, h.stamp, object, file_type_of(kind), kind) == DIR_OK);
    const u32 id = h.first;
    const int at = dir_find_id(id);
    std::vector<u8> stored(file);
    stored.resize(static_cast<size_t>(h.pages) * 2048, 0xFF);

    char label[MEAS_LABEL_SIZE];
    meas_label(at, label);
    FUZZ_CHECK(strnlen(label, MEAS_LABEL_SIZE) < MEAS_LABEL_SIZE);

    MeasHeader hd;
    const int header_ok = meas_read_header(id, &hd);
    // Buffers of the sizes the viewers give, each exactly as large (made
    // once: clearing them each time would cost more than the reading).
    static std::vector<u8> s1(RMS_TABLE_RECORD_SIZE), s2(MEAS_SPECTRA_DATA_CAPACITY), s3(4096);
    MeasSection a{s1.data(), static_cast<u32>(s1.size()), 0};
    MeasSection b{s2.data(), static_cast<u32>(s2.size()), 0};
    MeasSection c{s3.data(), static_cast<u32>(s3.size()), 0};
    u32 read_kind = 0;
    const u32 total = meas_read(id, &read_kind, &a, &b, &c, true);
    if (total != 0) {
        FUZZ_CHECK(header_ok == MEAS_OK);
        FUZZ_CHECK(read_kind == hd.kind);
        FUZZ_CHECK(total == MEAS_HEADER_SIZE + a.length + b.length + c.length);
        const MeasSection* sections[] = {&a, &b, &c};
        for (u32 s = 0; s < MEAS_SECTIONS; ++s) {
            const MeasSection& m = *sections[s];
            if (m.length == 0) continue;
            FUZZ_CHECK(m.length <= m.capacity);
            // The file's pages past the contents are erased bytes.
            FUZZ_CHECK(static_cast<u64>(hd.section_offset[s]) + m.length <= stored.size());
            FUZZ_CHECK(std::memcmp(m.data, stored.data() + hd.section_offset[s], m.length) == 0);
        }
        if (read_kind < MEAS_KIND_VIBROMETER && a.length == SPECTRA_RECORD_SIZE) {
            static SpectraRecord record;
            std::memcpy(&record, s1.data(), sizeof record);
            if (spectra_load(&record, reinterpret_cast<const i32*>(s2.data()), b.length) == 1) {
                FUZZ_CHECK(results.valid == record.type);
                for (u32 g = 0; g < RESULT_GROUPS; ++g)
                    for (u32 k = 0; k < RESULT_KINDS; ++k)
                        for (u32 q = 0; q < RESULT_SLOTS; ++q) {
                            const SignalRecord* r = record_at(g, k, q);
                            if (r) FUZZ_CHECK(r->data_bytes <= RECORD_VALUES * sizeof(i32));
                        }
            }
        } else if (a.length == RMS_TABLE_RECORD_SIZE) {
            rms_table_verify(reinterpret_cast<RmsTableRecord*>(s1.data()));
        }
    }
    if (flags & VIEW) meas_view(at);
    return 0;
}
