#include "archive/measurement.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis/format.h"
#include "archive/changes.h"
#include "archive/objects.h"
#include "base/checksum.h"
#include "base/cp1251.h"
#include "base/stamp.h"
#include "gfx/dialog.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/sound.h"
#include "storage/dir.h"
#include "storage/nand.h"

namespace {

const char* const TITLE_ATTENTION = "Внимание !"_cp;
const char* const TITLE_ERROR = "Ошибка !"_cp;

u8 file_type_of(u32 kind)
{
    if (kind == MEAS_KIND_VIBROMETER) return FILE_TYPE_VIBROMETER;
    if (kind == MEAS_KIND_RMS_TABLE) return FILE_TYPE_RMS_TABLE;
    return FILE_TYPE_SIGNAL;
}

bool has_note(const MeasHeader& hd)
{
    return hd.note_offset != 0 && hd.note_length != 0;
}

// Sections one after the other from offset 100, each present exactly when
// its offset is set, all of them and the note inside the file's pages.
bool header_fits(const MeasHeader& hd, u64 file_bytes)
{
    if (hd.section_offset[0] != MEAS_HEADER_SIZE) return false;
    u64 end = MEAS_HEADER_SIZE + static_cast<u64>(hd.section_length[0]);
    for (u32 s = 1; s < MEAS_SECTIONS; ++s) {
        if (hd.section_offset[s] == 0) {
            if (hd.section_length[s] != 0) return false;
            continue;
        }
        if (hd.section_offset[s] != end) return false;
        end += hd.section_length[s];
    }
    if (end > file_bytes) return false;
    if (!has_note(hd)) return true;
    return hd.note_offset >= end && hd.note_length >= WAV_HEADER_SIZE &&
           static_cast<u64>(hd.note_offset) + hd.note_length <= file_bytes;
}

// Offset of the byte after the last section.
u64 sections_end(const MeasHeader& hd)
{
    u64 end = MEAS_HEADER_SIZE;
    for (u32 s = 0; s < MEAS_SECTIONS; ++s) end += hd.section_length[s];
    return end;
}

// One read of the first 100 bytes: the bytes read (0 when the file does not
// open), and the bytes the file's pages hold.
u32 read_header_once(u32 id, MeasHeader* header, u64* file_bytes)
{
    std::memset(header, 0, sizeof *header);
    FileHandle h;
    if (fs_open(&h, id, FS_READ) != FS_OK) return 0;
    const u32 got = fs_read(&h, header, 0, MEAS_HEADER_SIZE);
    *file_bytes = static_cast<u64>(h.pages) * nand_info.page_size;
    fs_close(&h);
    return got;
}

// Number of a new measurement of the object at `object_at`: one more than
// its newest measurement's, 1 after 999 or when it has none that reads.
u32 next_number(int object_at)
{
    if (object_at < 0 || !dir_has_children(object_at)) return 1;
    MeasHeader newest;
    if (meas_read_header(dir_id(object_at + 1), &newest) != MEAS_OK) return 1;
    return newest.number >= MEAS_NUMBER_MAX ? 1 : newest.number + 1;
}

void show_error(const char* line1, const char* line2)
{
    msg_box(TITLE_ERROR, line1, line2, nullptr, true, false);
}

// A failed save from the creation on: nothing of the file stays behind.
u32 save_failed(FileHandle* h, bool silent)
{
    storage_error_flags |= STORAGE_ERR_WRITE;
    // Not closed first: the close would make a file whose head is not on
    // flash yet exist there.
    if (h->first != 0) fs_delete(h->first);
    if (!silent) meas_show_save_error();
    return 0;
}

struct Section {
    const void* data;
    u32 length;
};

// Steps of a save after the screen has been saved.
u32 save_file(u32 kind, u32 stamp, const Section (&sections)[MEAS_SECTIONS], bool silent)
{
    MeasHeader hd;
    std::memset(&hd, 0, sizeof hd);
    if (stamp == 0) stamp = pack_now();
    u16 year, month, day, hour, minute, second;
    unpack(stamp, &year, &month, &day, &hour, &minute, &second);
    hd.day = static_cast<u8>(day);
    hd.month = static_cast<u8>(month);
    hd.year = static_cast<u8>(year % 100);
    hd.hour = static_cast<u8>(hour);
    hd.minute = static_cast<u8>(minute);
    hd.second = static_cast<u8>(second);
    hd.kind = kind;
    hd.file_type = file_type_of(kind);

    if (dir_full()) {
        storage_error_flags |= STORAGE_ERR_READ;
        if (!silent) meas_show_save_error();
        return 0;
    }
    FileHandle h{};
    // A measurement always goes into a listed object, right after it.
    if (obj_ensure_current() == OBJ_FAILED) return save_failed(&h, silent);
    const u32 object = settings_current_object();
    const int object_at = dir_find_id(object);
    if (object_at < 0) return save_failed(&h, silent);
    hd.number = next_number(object_at);

    const bool table = kind == MEAS_KIND_VIBROMETER || kind == MEAS_KIND_RMS_TABLE;
    if (table && sections[0].length >= MEAS_VALUE_AT + sizeof hd.value)
        std::memcpy(&hd.value, static_cast<const u8*>(sections[0].data) + MEAS_VALUE_AT, sizeof hd.value);
    u64 end = MEAS_HEADER_SIZE;
    for (u32 s = 0; s < MEAS_SECTIONS; ++s) {
        if (sections[s].length == 0) continue;
        hd.section_offset[s] = static_cast<u32>(end);
        hd.section_length[s] = sections[s].length;
        end += sections[s].length;
    }
    if (end > UINT32_MAX) return save_failed(&h, silent);

    const u8 type = hd.file_type;
    const u8 attr = static_cast<u8>(kind);
    // The head header is written last, by the close: a save cut off by a
    // power loss leaves no file at all.
    if (fs_create_pending(&h, type, object, attr, static_cast<u32>(end), &stamp) != FS_OK)
        return save_failed(&h, silent);
    hd.id = h.first;
    // The sections before the header: a file whose header reads vouches for
    // its data.
    for (u32 s = 0; s < MEAS_SECTIONS; ++s) {
        if (hd.section_offset[s] == 0) continue;
        if (fs_write(&h, sections[s].data, hd.section_offset[s], hd.section_length[s]) != hd.section_length[s])
            return save_failed(&h, silent);
    }
    if (meas_write_header(&h, &hd) != MEAS_OK) return save_failed(&h, silent);
    if (fs_close(&h) != FS_OK) return save_failed(&h, silent);
    storage_error_flags &= ~static_cast<u32>(STORAGE_ERR_WRITE | STORAGE_ERR_MEAS_READ);
    if (!dir_insert_after(object_at, h.first, stamp, object, type, attr)) return save_failed(&h, silent);
    archive_changed(silent ? ARCHIVE_CHANGE_SAVED : ARCHIVE_CHANGE_SAVED_ANNOUNCE, h.first);
    return h.first;
}

// Reads the sections of a measurement; 100 + the bytes read, or 0.
u32 read_sections(u32 id, u32* kind, MeasSection* section1, MeasSection* section2, MeasSection* section3)
{
    if (!section1 || !section1->data) return 0;
    MeasHeader hd;
    if (meas_read_header(id, &hd) != MEAS_OK) return 0;
    FileHandle h;
    if (fs_open(&h, id, FS_READ) != FS_OK) return 0;
    if (kind) *kind = hd.kind;
    MeasSection* buffers[MEAS_SECTIONS] = {section1, section2, section3};
    u32 total = MEAS_HEADER_SIZE;
    bool ok = true;
    for (u32 s = 0; ok && s < MEAS_SECTIONS; ++s) {
        MeasSection* b = buffers[s];
        if (!b || !b->data) continue;  // no buffer: the section is passed over
        const u32 length = hd.section_offset[s] == 0 ? 0 : hd.section_length[s];
        b->length = length;
        if (length == 0) continue;
        if (length > b->capacity || fs_read(&h, b->data, hd.section_offset[s], length) != length)
            ok = false;
        else
            total += length;
    }
    fs_close(&h);
    return ok ? total : 0;
}

void put_u16le(u8* p, u16 v)
{
    p[0] = static_cast<u8>(v);
    p[1] = static_cast<u8>(v >> 8);
}

}  // namespace

void meas_show_save_error()
{
    if (dir_full())
        show_error("Нет свободного места"_cp, "для сохранения замера !"_cp);
    else
        show_error("Замер не сохранен !"_cp, nullptr);
}

void meas_store_note(u32 id)
{
    snd_default_length();
    snd_capture_to_wav(snd_wav, snd_samples);
    const u32 samples = snd_samples < SND_FRAMES ? snd_samples : SND_FRAMES;
    for (u32 i = 0; i < samples; ++i) put_u16le(snd_wav + WAV_HEADER_SIZE + 2 * i, static_cast<u16>(id));
    const u32 length = samples / 4 * 8 + WAV_HEADER_SIZE;

    FileHandle h;
    MeasHeader hd;
    if (fs_open(&h, id, FS_READ | FS_WRITE | FS_GROW) != FS_OK) {
        storage_error_flags |= STORAGE_ERR_MEAS_READ;
        return;
    }
    if (meas_read_header(id, &hd) != MEAS_OK) {
        storage_error_flags |= STORAGE_ERR_MEAS_READ;
        fs_close(&h);
        return;
    }
    const u64 at = sections_end(hd);
    // The note before the header that points at it: a write cut off by a
    // power loss leaves the measurement as it was.
    if (at + length > UINT32_MAX || fs_write(&h, snd_wav, static_cast<u32>(at), length) != length) {
        storage_error_flags |= STORAGE_ERR_WRITE;
        fs_close(&h);
        return;
    }
    hd.note_offset = static_cast<u32>(at);
    hd.note_length = length;
    meas_write_header(&h, &hd);
    fs_close(&h);
}

void rms_table_seal(RmsTableRecord* record)
{
    checksum_store(record, RMS_TABLE_RECORD_SIZE, RMS_TABLE_CHECKSUM_AT);
}

int rms_table_verify(RmsTableRecord* record)
{
    return checksum_verify(record, RMS_TABLE_RECORD_SIZE, RMS_TABLE_CHECKSUM_AT);
}

namespace {

bool slot_filled(const SpectraSlot& s)
{
    return s.type != 0;
}
bool slot_vibration(const SpectraSlot& s)
{
    return s.quantity <= Q_D;
}
bool slot_wave_or_spectrum(const SpectraSlot& s)
{
    return s.kind == KIND_W || s.kind == KIND_S;
}

}  // namespace

int spectra_find_slot(const SpectraRecord* record, SpectraRole role)
{
    if (!record) return SPECTRA_NO_SLOT;
    const SpectraSlot* s = record->slot;
    if (record->format == RECORD_FORMAT) {
        switch (role) {
        case SPECTRA_MAIN:
            if (slot_filled(s[1]) && slot_vibration(s[1])) return 1;
            if (slot_filled(s[2]) && slot_vibration(s[2])) return 2;
            return SPECTRA_NO_SLOT;
        case SPECTRA_SHOCK:
            return slot_filled(s[3]) && (s[3].kind == KIND_E || s[3].kind == KIND_B) ? 3 : SPECTRA_NO_SLOT;
        case SPECTRA_MARKER:
            return slot_filled(s[0]) && slot_wave_or_spectrum(s[0]) && s[0].quantity == Q_N ? 0 : SPECTRA_NO_SLOT;
        }
    } else if (record->format == SPECTRA_FORMAT_OLD) {
        switch (role) {
        case SPECTRA_MAIN:
            return slot_filled(s[0]) && slot_wave_or_spectrum(s[0]) && slot_vibration(s[0]) ? 0 : SPECTRA_NO_SLOT;
        case SPECTRA_SHOCK:
            return slot_filled(s[1]) && s[1].kind == KIND_E && s[1].quantity == Q_A ? 1 : SPECTRA_NO_SLOT;
        case SPECTRA_MARKER: return SPECTRA_NO_SLOT;
        }
    }
    return SPECTRA_NO_SLOT;
}

const i32* spectra_slot_data(const SpectraRecord* record, int slot, const void* data, u32 data_bytes)
{
    if (!record || !data || slot < 0 || slot >= static_cast<int>(SPECTRA_SLOTS)) return nullptr;
    const SpectraSlot& s = record->slot[slot];
    if (!slot_filled(s)) return nullptr;
    if (static_cast<u64>(s.data_offset) * sizeof(i32) + s.data_bytes > data_bytes) return nullptr;
    return static_cast<const i32*>(data) + s.data_offset;
}

void spectra_record_seal(SpectraRecord* record, const void* data, u32 data_bytes)
{
    record->data_checksum = checksum16(data, data_bytes);
    checksum_store(record, SPECTRA_RECORD_SIZE, SPECTRA_RECORD_CHECKSUM_AT);
}

int spectra_record_verify(SpectraRecord* record, const void* data, u32 data_bytes)
{
    if (checksum16(data, data_bytes) != record->data_checksum) return 0;
    return checksum_verify(record, SPECTRA_RECORD_SIZE, SPECTRA_RECORD_CHECKSUM_AT);
}

namespace {

bool is_spectrum(u32 kind)
{
    return kind == KIND_S || kind == KIND_B;
}

// A slot the viewer takes (none: -1) against the data and the store's
// record buffers.
int slot_check(const SpectraRecord* record, int slot, u32 data_bytes)
{
    if (slot < 0) return SPECTRA_CHECK_OK;
    const SpectraSlot& s = record->slot[slot];
    if (s.kind >= RESULT_KINDS || s.quantity >= RESULT_SLOTS) return SPECTRA_CHECK_SLOT;
    const u32 capacity = is_spectrum(s.kind) ? RECORD_PAIRS : RECORD_VALUES;
    const u64 words = is_spectrum(s.kind) ? 2ull * s.count : s.count;
    if (s.count > capacity || s.data_bytes > RECORD_VALUES * sizeof(i32)) return SPECTRA_CHECK_SLOT;
    if (words * sizeof(i32) > s.data_bytes) return SPECTRA_CHECK_SLOT;
    if (static_cast<u64>(s.data_offset) * sizeof(i32) + s.data_bytes > data_bytes) return SPECTRA_CHECK_SLOT;
    if (!std::isfinite(s.x0) || !std::isfinite(s.dx) || !(s.dx > 0) || !std::isfinite(s.scale) ||
        !std::isfinite(s.x0 + s.dx * static_cast<float>(s.count)))
        return SPECTRA_CHECK_AXIS;
    return SPECTRA_CHECK_OK;
}

}  // namespace

int spectra_record_check(SpectraRecord* record, const i32* data, u32 data_bytes)
{
    if (record == nullptr || record->type == 0) return SPECTRA_CHECK_EMPTY;
    static const i32 no_data[1] = {};
    if (data == nullptr) {
        data = no_data;
        data_bytes = 0;
    }
    if (record->format != RECORD_FORMAT && record->format != SPECTRA_FORMAT_OLD) return SPECTRA_CHECK_FORMAT;
    if (!spectra_record_verify(record, data, data_bytes)) return SPECTRA_CHECK_CHECKSUM;
    const int main_slot = spectra_find_slot(record, SPECTRA_MAIN);
    if (main_slot == SPECTRA_NO_SLOT) return SPECTRA_CHECK_NO_MAIN;
    if (record->kind >= RESULT_KINDS || record->quantity >= RESULT_SLOTS) return SPECTRA_CHECK_KIND;
    int shock_slot = spectra_find_slot(record, SPECTRA_SHOCK);
    if (shock_slot != SPECTRA_NO_SLOT && record->slot[shock_slot].quantity != Q_A) shock_slot = SPECTRA_NO_SLOT;
    for (const int slot : {main_slot, shock_slot, spectra_find_slot(record, SPECTRA_MARKER)}) {
        const int r = slot_check(record, slot, data_bytes);
        if (r != SPECTRA_CHECK_OK) return r;
    }
    return SPECTRA_CHECK_OK;
}

const char* spectra_check_text(int check)
{
    switch (check) {
    case SPECTRA_CHECK_OK: return "the record is sound";
    case SPECTRA_CHECK_EMPTY: return "the spectra record is empty (type 0): the viewer shows nothing";
    case SPECTRA_CHECK_FORMAT: return "the spectra record's format word is unknown to the instrument";
    case SPECTRA_CHECK_CHECKSUM: return "the spectra record's checksums do not match";
    case SPECTRA_CHECK_NO_MAIN: return "the spectra record holds no main record: the viewer shows nothing";
    case SPECTRA_CHECK_KIND: return "the spectra record's kind or quantity is unknown to the instrument";
    case SPECTRA_CHECK_SLOT:
        return "a slot's kind, quantity, count, length or data offset lies outside the record's data";
    case SPECTRA_CHECK_AXIS: return "a slot's x axis (x0, dx) or scale is not a finite, rising one";
    default: return "the spectra record is refused";
    }
}

bool spectra_check_is_damage(int check)
{
    return check != SPECTRA_CHECK_OK && check != SPECTRA_CHECK_EMPTY && check != SPECTRA_CHECK_NO_MAIN;
}


u32 meas_save(u32 kind, u32 stamp, const void* section1, u32 length1, const void* section2, u32 length2,
              const void* section3, u32 length3, bool silent)
{
    if (!section1 || length1 == 0) {
        if (!silent) msg_box(TITLE_ATTENTION, "Нет данных"_cp, "для сохранения !"_cp, nullptr, true, false);
        return 0;
    }
    const Section sections[MEAS_SECTIONS] = {
        {section1, length1},
        {section2, section2 ? length2 : 0},
        {section3, section3 ? length3 : 0},
    };
    screen_save();
    const u32 id = save_file(kind, stamp, sections, silent);
    screen_restore();
    return id;
}

int meas_read_header(u32 id, MeasHeader* header)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        u64 file_bytes = 0;
        u32 got = read_header_once(id, header, &file_bytes);
        if (got == 0) got = read_header_once(id, header, &file_bytes);
        if (got == 0) {
            storage_error_flags |= STORAGE_ERR_READ;
            return MEAS_FAILED;
        }
        if (got == MEAS_HEADER_SIZE && checksum_verify(header, MEAS_HEADER_SIZE, MEAS_HEADER_CHECKSUM_AT)) {
            if (header_fits(*header, file_bytes)) return MEAS_OK;
            break;  // a sound checksum over an impossible layout: reading again changes nothing
        }
    }
    storage_error_flags |= STORAGE_ERR_MEAS_HEADER;
    return MEAS_FAILED;
}

int meas_write_header(FileHandle* h, MeasHeader* header)
{
    checksum_store(header, MEAS_HEADER_SIZE, MEAS_HEADER_CHECKSUM_AT);
    for (int attempt = 1;; ++attempt) {
        if (fs_write(h, header, 0, MEAS_HEADER_SIZE) != MEAS_HEADER_SIZE) {
            storage_error_flags |= STORAGE_ERR_WRITE;
            return MEAS_FAILED;
        }
        if (attempt == 2) return MEAS_OK;
        MeasHeader back;
        if (meas_read_header(h->first, &back) == MEAS_OK && std::memcmp(&back, header, MEAS_HEADER_SIZE) == 0)
            return MEAS_OK;
    }
}

u32 meas_read(u32 id, u32* kind, MeasSection* section1, MeasSection* section2, MeasSection* section3, bool silent)
{
    screen_save();
    if (!silent) msg_box(TITLE_ATTENTION, "Идет"_cp, "чтение замера..."_cp, nullptr, false, false);
    const u32 total = read_sections(id, kind, section1, section2, section3);
    screen_restore();
    if (total == 0) {
        storage_error_flags |= STORAGE_ERR_MEAS_READ;
        if (!silent) show_error("Замер не считан !"_cp, nullptr);
    }
    return total;
}

int meas_read_for_view(int index, MeasViewRecords* out)
{
    if (index < 0 || static_cast<u32>(index) >= dir_count()) return MEAS_FAILED;
    const u32 kind = dir_attr(index);
    const u32 id = dir_id(index);
    if (kind < MEAS_KIND_VIBROMETER) {
        std::memset(&out->spectra, 0, sizeof out->spectra);
        MeasSection record{&out->spectra, sizeof out->spectra, 0};
        MeasSection data{out->data, sizeof out->data, 0};
        if (meas_read(id, nullptr, &record, &data, nullptr, false) == 0) return MEAS_FAILED;
        out->data_bytes = data.length;
        return MEAS_OK;
    }
    if (kind >= MEAS_KIND_COUNT) return MEAS_FAILED;
    std::memset(&out->table, 0, sizeof out->table);
    MeasSection record{&out->table, sizeof out->table, 0};
    return meas_read(id, nullptr, &record, nullptr, nullptr, false) == 0 ? MEAS_FAILED : MEAS_OK;
}

char* meas_label(int index, char* out)
{
    out[0] = 0;
    if (index < 0 || static_cast<u32>(index) >= dir_count()) return out;
    MeasHeader hd;
    if (meas_read_header(dir_id(index), &hd) != MEAS_OK) return out;
    const char* prefix;
    switch (dir_attr(index)) {
    case MEAS_KIND_SIGNAL: prefix = "Сигн. #%03u "_cp; break;
    case MEAS_KIND_SPECTRUM: prefix = "Спктр #%03u "_cp; break;
    case MEAS_KIND_VIBROMETER: prefix = "      #%03u "; break;
    case MEAS_KIND_RMS_TABLE: prefix = "СКЗ   #%03u "_cp; break;
    default: return out;
    }
    int n = std::snprintf(out, MEAS_LABEL_SIZE, prefix, hd.number);
    if (dir_attr(index) == MEAS_KIND_VIBROMETER) {
        // The shown value over the start of the label, at most 4 characters.
        float value;
        std::memcpy(&value, &hd.value, sizeof value);
        char text[32];
        format_quantity(text, Q_V, value);
        const size_t len = std::strlen(text);
        std::memcpy(out, text, len < 4 ? len : 4);
    }
    n += std::snprintf(out + n, MEAS_LABEL_SIZE - n, "%02u:%02u:%02u %02u.%02u.%02u", hd.hour, hd.minute, hd.second,
                       hd.day, hd.month, hd.year);
    if (has_note(hd) && n + 1 < static_cast<int>(MEAS_LABEL_SIZE)) {
        out[n] = MEAS_NOTE_MARK;
        out[n + 1] = 0;
    }
    return out;
}

int meas_kind_icon(u32 kind)
{
    switch (kind) {
    case MEAS_KIND_SIGNAL: return MEAS_ICON_SIGNAL;
    case MEAS_KIND_SPECTRUM: return MEAS_ICON_SPECTRUM;
    case MEAS_KIND_VIBROMETER: return MEAS_ICON_VIBROMETER;
    case MEAS_KIND_RMS_TABLE: return MEAS_ICON_RMS_TABLE;
    default: return MEAS_ICON_NONE;
    }
}


