// Measurement files of the archive: a 100-byte header, up to three data
// sections and an optional voice note, in a flash file whose parent is the
// object the measurement was saved into. Saving with its messages and
// numbering, reading back with its checks, the archive label, the voice
// note, the spectra record of kinds 0..3, the overall-value table of kinds 4
// and 5, and the records read for the viewers (screens/).
#pragma once
#include <bit>
#include <cstddef>

#include "analysis/signal.h"
#include "base/types.h"
#include "storage/fs.h"

static_assert(std::endian::native == std::endian::little, "stored records are read and written in place");

// Measurement kinds, kept in the header and in the directory entry's attr.
enum : u32 {
    MEAS_KIND_SIGNAL = 0,          // time signal of the spectra screen
    MEAS_KIND_SPECTRUM = 1,        // spectrum of the spectra screen
    MEAS_KIND_SHOCK_SIGNAL = 2,    // shock-pulse time signal
    MEAS_KIND_SHOCK_SPECTRUM = 3,  // shock-pulse spectrum
    MEAS_KIND_VIBROMETER = 4,      // vibrometer reading (RmsTableRecord)
    MEAS_KIND_RMS_TABLE = 5,       // RMS table for the external system (RmsTableRecord)
    MEAS_KIND_COUNT = 6,
};

// Icons of the archive tree by kind (0: none).
enum : int {
    MEAS_ICON_NONE = 0,
    MEAS_ICON_SIGNAL = 17,
    MEAS_ICON_SPECTRUM = 18,
    MEAS_ICON_VIBROMETER = 19,
    MEAS_ICON_RMS_TABLE = 22,
};

// Results of the header operations.
enum : int { MEAS_FAILED = 0, MEAS_OK = 1 };

constexpr u32 MEAS_HEADER_SIZE = 100;
constexpr u32 MEAS_HEADER_CHECKSUM_AT = 98;
constexpr u32 MEAS_NUMBER_MAX = 999;  // numbers run 1..999 per object, then 1 again
constexpr u32 MEAS_SECTIONS = 3;
// Byte of section 1 whose 32-bit word the header repeats for kinds 4 and 5.
constexpr u32 MEAS_VALUE_AT = 16;

// The header of every measurement file, little-endian; unlisted bytes 0.
struct MeasHeader {
    u32 file_type;  // FILE_TYPE_SIGNAL, FILE_TYPE_VIBROMETER or FILE_TYPE_RMS_TABLE
    u32 id;         // file id (head page) of this measurement
    u32 number;     // 1..999, per object
    u8 day;
    u8 month;
    u8 year;  // modulo 100
    u8 hour;
    u8 minute;
    u8 second;
    u8 reserved0[2];
    u32 kind;
    u32 value;                          // kinds 4, 5: the word at byte 16 of section 1; else 0
    u32 section_offset[MEAS_SECTIONS];  // section 1 at 100; 0 = no such section
    u32 note_offset;                    // 0 = no voice note
    u32 section_length[MEAS_SECTIONS];  // bytes
    u32 note_length;                    // bytes, WAV header included
    u8 reserved1[38];
    u16 checksum;  // checksum16 of the 100 bytes with this field 0
};
static_assert(sizeof(MeasHeader) == MEAS_HEADER_SIZE);
static_assert(offsetof(MeasHeader, file_type) == 0);
static_assert(offsetof(MeasHeader, id) == 4);
static_assert(offsetof(MeasHeader, number) == 8);
static_assert(offsetof(MeasHeader, day) == 12);
static_assert(offsetof(MeasHeader, month) == 13);
static_assert(offsetof(MeasHeader, year) == 14);
static_assert(offsetof(MeasHeader, hour) == 15);
static_assert(offsetof(MeasHeader, minute) == 16);
static_assert(offsetof(MeasHeader, second) == 17);
static_assert(offsetof(MeasHeader, kind) == 20);
static_assert(offsetof(MeasHeader, value) == 24);
static_assert(offsetof(MeasHeader, section_offset) == 28);
static_assert(offsetof(MeasHeader, note_offset) == 40);
static_assert(offsetof(MeasHeader, section_length) == 44);
static_assert(offsetof(MeasHeader, note_length) == 56);
static_assert(offsetof(MeasHeader, checksum) == MEAS_HEADER_CHECKSUM_AT);

// The overall-value table of the vibrometer (kind 4, cell (0, 0) only) and of
// the special RMS measurement (kind 5, all cells); 1264 bytes, little-endian,
// unlisted bytes 0.
constexpr u32 RMS_POINTS = 14;
constexpr u32 RMS_DIRECTIONS = 3;
constexpr u32 RMS_QUANTITIES = 3;  // acceleration peak, velocity RMS, displacement peak-to-peak
constexpr u32 RMS_TABLE_RECORD_SIZE = 1264;
constexpr u32 RMS_TABLE_CHECKSUM_AT = 1262;
constexpr u16 RECORD_FORMAT = 512;  // format word of the records this system writes
constexpr u32 RMS_TABLE_GROUP = 1;  // the vibration channel group

struct RmsTableRecord {
    u16 valid;                                                 // non-zero when the record holds a measurement
    u16 format;                                                // RECORD_FORMAT
    u32 stamp;                                                 // packed date-time of the measurement
    u32 group;                                                 // RMS_TABLE_GROUP
    float values[RMS_POINTS][RMS_DIRECTIONS][RMS_QUANTITIES];  // m/s², mm/s, µm
    float temperature[RMS_POINTS][RMS_DIRECTIONS];             // °C
    u8 filled[RMS_POINTS];                                     // bit d: direction d holds values
    u8 filled_count;                                           // number of filled cells
    u8 reserved[563];
    u16 checksum;  // checksum16 of the 1264 bytes with this field 0
};
static_assert(sizeof(RmsTableRecord) == RMS_TABLE_RECORD_SIZE);
static_assert(offsetof(RmsTableRecord, format) == 2);
static_assert(offsetof(RmsTableRecord, stamp) == 4);
static_assert(offsetof(RmsTableRecord, group) == 8);
static_assert(offsetof(RmsTableRecord, values) == 12);
static_assert(offsetof(RmsTableRecord, values[0][0][1]) == MEAS_VALUE_AT);  // the velocity the header repeats
static_assert(offsetof(RmsTableRecord, temperature) == 516);
static_assert(offsetof(RmsTableRecord, filled) == 684);
static_assert(offsetof(RmsTableRecord, filled_count) == 698);
static_assert(offsetof(RmsTableRecord, checksum) == RMS_TABLE_CHECKSUM_AT);

// Stores the checksum of a table record.
void rms_table_seal(RmsTableRecord* record);
// 1 when the record's checksum matches, else 0.
int rms_table_verify(RmsTableRecord* record);

// Section 1 of kinds 0..3: the spectra and signals record (348 bytes,
// little-endian, unlisted bytes 0). Each slot holds the first 64 bytes of a
// signal record header, with the data pointer replaced by the offset of its
// data in section 2 (in 32-bit words); section 2 holds the data of the
// filled slots one after the other.
constexpr u32 SPECTRA_RECORD_SIZE = 348;
constexpr u32 SPECTRA_DATA_CHECKSUM_AT = 344;
constexpr u32 SPECTRA_RECORD_CHECKSUM_AT = 346;
constexpr u32 SPECTRA_SLOTS = 4;  // one per channel group
constexpr u16 SPECTRA_FORMAT_OLD = 0;

struct SpectraSlot {
    u32 type;  // 0 = empty slot
    u32 stamp;
    u32 kind;
    u32 quantity;
    u32 count;
    float x0;
    float dx;
    float x_last;
    i32 peak;
    float scale;
    u32 data_offset;  // in section 2, in 32-bit words
    u32 data_bytes;
    u32 tick;
    u32 reserved[3];
};
static_assert(sizeof(SpectraSlot) == 64);
static_assert(offsetof(SpectraSlot, data_offset) == 40);

struct SpectraRecord {
    u16 type;    // type of the main signal record
    u16 format;  // RECORD_FORMAT, or SPECTRA_FORMAT_OLD for the older slot layout
    u32 stamp;   // stamp of the result store
    u32 kind;    // kind of the main record, also the measurement kind
    u32 quantity;
    SpectraSlot slot[SPECTRA_SLOTS];
    float velocity;     // velocity band value (RMS) at saving
    float temperature;  // at saving
    u32 rotation;       // rotation frequency, stored with the marker slot
    u32 averaging;      // averaging target of the spectra at saving (1 none, 4, 10, 999); 0: not recorded
    u32 averaged;       // spectra averaged into the stored lines (with averaging)
    u8 reserved[52];
    u16 data_checksum;  // checksum16 of section 2
    u16 checksum;       // checksum16 of the 348 bytes with this field 0
};
static_assert(sizeof(SpectraRecord) == SPECTRA_RECORD_SIZE);
static_assert(offsetof(SpectraRecord, slot) == 16);
static_assert(offsetof(SpectraRecord, velocity) == 272);
static_assert(offsetof(SpectraRecord, temperature) == 276);
static_assert(offsetof(SpectraRecord, rotation) == 280);
static_assert(offsetof(SpectraRecord, averaging) == 284);
static_assert(offsetof(SpectraRecord, data_checksum) == SPECTRA_DATA_CHECKSUM_AT);
static_assert(offsetof(SpectraRecord, checksum) == SPECTRA_RECORD_CHECKSUM_AT);

// The slots a viewer looks for.
enum SpectraRole : int { SPECTRA_MAIN, SPECTRA_SHOCK, SPECTRA_MARKER };
constexpr int SPECTRA_NO_SLOT = -1;

// Index of the slot holding the record of `role` by the record's format, or
// SPECTRA_NO_SLOT.
int spectra_find_slot(const SpectraRecord* record, SpectraRole role);
// The data of a slot inside section 2 (`data`, `data_bytes` long), or
// nullptr when the slot is empty or its data do not lie wholly inside.
const i32* spectra_slot_data(const SpectraRecord* record, int slot, const void* data, u32 data_bytes);
// Stores both checksums of a spectra record over it and its section 2.
void spectra_record_seal(SpectraRecord* record, const void* data, u32 data_bytes);
// 1 when both checksums match, else 0.
int spectra_record_verify(SpectraRecord* record, const void* data, u32 data_bytes);

// What the viewer finds in a stored spectra record and its section 2 (the
// one check of the viewers, the route screen and the archive tool).
enum SpectraCheck : int {
    SPECTRA_CHECK_OK = 0,
    SPECTRA_CHECK_EMPTY,     // the record's type is 0: nothing to show
    SPECTRA_CHECK_FORMAT,    // a format word the instrument does not know
    SPECTRA_CHECK_CHECKSUM,  // a checksum does not match
    SPECTRA_CHECK_NO_MAIN,   // no slot holds a main record
    SPECTRA_CHECK_KIND,      // the record's kind or quantity is out of range
    SPECTRA_CHECK_SLOT,      // a slot's kind, quantity, count, length or offset does not fit
    SPECTRA_CHECK_AXIS,      // a slot's x axis or scale is not a finite, rising one
};
// Checks a record before it is shown: the format, both checksums, the main
// slot, and every slot a viewer takes (main, shock-pulse, marker) against
// the data and the result store's buffers. `data` may be nullptr (no data).
int spectra_record_check(SpectraRecord* record, const i32* data, u32 data_bytes);
// One line saying what a check result means.
const char* spectra_check_text(int check);
// True when the viewer shows the error box for the result (the record is
// damaged); an empty record or one without a main record is left silently.
bool spectra_check_is_damage(int check);

// Saves a measurement into the current object: header, section 1 (required)
// and the optional sections 2 and 3 (nullptr or length 0: none); stamp 0
// means now. Unless silent, failures are shown and a success opens the saved
// dialog (the archive's listener is told ARCHIVE_CHANGE_SAVED_ANNOUNCE; a
// silent save ARCHIVE_CHANGE_SAVED). Returns the new measurement's id, or 0.
u32 meas_save(u32 kind, u32 stamp, const void* section1, u32 length1, const void* section2, u32 length2,
              const void* section3, u32 length3, bool silent);

// Shows why a save failed, as meas_save does unless silent: no room left in
// the directory, or the measurement not saved (the flash full, a write
// failed). For the screens that save silently and report themselves.
void meas_show_save_error();

// Reads the header of measurement `id`: MEAS_OK when it reads, its checksum
// matches and its sections and note lie inside the file; else MEAS_FAILED.
int meas_read_header(u32 id, MeasHeader* header);
// Stores the header's checksum and writes it at offset 0 of the open file,
// verified by reading it back: MEAS_OK, or MEAS_FAILED on a short write.
int meas_write_header(FileHandle* h, MeasHeader* header);

// A buffer for one section of meas_read: the bytes go to `data`, which
// holds `capacity` bytes; `length` receives the section's length.
struct MeasSection {
    void* data;
    u32 capacity;
    u32 length;
};
// Reads measurement `id`: its kind (may be nullptr) and section 1, and
// sections 2 and 3 where a buffer is given and the file has them. A section
// longer than its buffer is refused. Unless silent, the reading and a
// failure are shown. Returns 100 + the section bytes read, or 0.
u32 meas_read(u32 id, u32* kind, MeasSection* section1, MeasSection* section2, MeasSection* section3, bool silent);

// The note mark of the instrument font that ends the label of a measurement
// with a voice note.
constexpr char MEAS_NOTE_MARK = '\xB2';

// Room for a label, terminator included.
constexpr u32 MEAS_LABEL_SIZE = 48;
// Writes the archive label of the measurement at directory index `index`
// into `out` (MEAS_LABEL_SIZE bytes; empty when the header cannot be read or
// the kind has no label) and returns `out`.
char* meas_label(int index, char* out);
// Tree icon of a kind (MEAS_ICON_...).
int meas_kind_icon(u32 kind);

// Samples the voice recorder yields and the bytes of the note stored from
// them (WAV header included).
constexpr u32 MEAS_NOTE_SAMPLES = 1000;
constexpr u32 MEAS_NOTE_LENGTH = MEAS_NOTE_SAMPLES / 4 * 8 + 44;

// Stops the recorder, builds the voice note from its samples (every sample
// the low 16 bits of the id) and stores it with measurement `id`: the note
// first, then the header pointing at it. A failure sets an error flag.
void meas_store_note(u32 id);

// Room for section 2 of a spectra record: the data of all four slots.
constexpr u32 MEAS_SPECTRA_DATA_CAPACITY = SPECTRA_SLOTS * RECORD_VALUES * sizeof(i32);

// What a viewer is given of a stored measurement: the table record (kinds 4
// and 5), or the spectra record with its section 2 (kinds 0..3).
struct MeasViewRecords {
    RmsTableRecord table;
    SpectraRecord spectra;
    i32 data[MEAS_SPECTRA_DATA_CAPACITY / sizeof(i32)];
    u32 data_bytes;  // of section 2 in `data`
};
// Reads the measurement at directory index `index` for its viewer into
// `out`, showing the reading and a failure: MEAS_OK, or MEAS_FAILED (also
// for an index outside the directory or a kind no viewer takes).
int meas_read_for_view(int index, MeasViewRecords* out);
