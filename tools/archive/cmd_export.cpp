// export: measurements out of the archive, for analysis software. Time
// signals and spectra as CSV, Universal File Format (dataset 58) or JSON;
// vibrometer readings and RMS tables with their point and direction
// labels as CSV or JSON; the viewer's picture as PNG; voice notes as WAV.
// The values are the instrument's own: samples and line magnitudes times
// the record's scale, as the plot view shows them (the shock-pulse records
// in dB, as its readout). Files are named by object, number, date-time and
// id and never replace a file unless asked to.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/measures.h"
#include "analysis/shock.h"
#include "analysis/signal.h"
#include "archive/measurement.h"
#include "archive/objects.h"
#include "front/common/picture.h"
#include "front/common/virtual_host.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "host/device.h"
#include "host/hostif.h"
#include "host/settings.h"
#include "host/sound.h"
#include "screens/browser.h"
#include "screens/rms.h"
#include "screens/spectra.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "tools/archive/json.h"
#include "tools/archive/text.h"
#include "tools/archive/tool.h"
#include "tools/archive/walk.h"

namespace {

enum class Format { Csv, Uff, Json, Png, Wav };

// UFF dataset 58: function types, ordinate data type and data types.
constexpr int UFF_TIME_RESPONSE = 1, UFF_SPECTRUM = 12;
constexpr int UFF_REAL_SINGLE = 2, UFF_EVEN = 1;
constexpr int UFF_TYPE_TIME = 17, UFF_TYPE_FREQUENCY = 18, UFF_TYPE_GENERAL = 1;
constexpr int UFF_TYPE_ACCELERATION = 12, UFF_TYPE_VELOCITY = 11, UFF_TYPE_DISPLACEMENT = 8;
constexpr int UFF_VALUES_PER_LINE = 6;
constexpr const char* MONTHS[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// The window of every spectrum the instrument derives for its screens and
// stores (the band values alone take none).
constexpr const char* SPECTRUM_WINDOW = "Hamming";
// The voice note: a RIFF/WAVE header of WAV_HEADER_SIZE bytes, then 16-bit
// samples; where its two sizes stand.
constexpr u32 WAV_RIFF_SIZE_AT = 4, WAV_DATA_SIZE_AT = 40, WAV_RIFF_HEADER = 8;

// One stored signal record: a time signal or a spectrum, its values in the
// unit the instrument shows (dB for the shock-pulse records).
struct Series {
    std::string part;  // which record of the measurement ("main", "shock", "marker")
    bool spectrum;
    bool db;  // a shock-pulse record, shown in dB
    u32 kind, quantity;
    u32 count;
    double x0, dx;
    std::vector<double> values;
};

struct Measurement {
    u32 id;
    u32 kind;
    u32 parent;
    bool orphan;               // the parent is not an object of the archive
    std::string object;        // UTF-8; empty for an orphan
    std::string object_ascii;  // for UFF
    std::string label;         // UTF-8, the archive browser's
    std::string label_ascii;
    MeasHeader header;
    SpectraRecord record;        // kinds 0..3
    std::vector<Series> series;  // kinds 0..3
    RmsTableRecord table;        // kinds 4, 5
};

bool is_table(const Measurement& m)
{
    return m.kind == MEAS_KIND_VIBROMETER || m.kind == MEAS_KIND_RMS_TABLE;
}

bool has_note(const MeasHeader& h)
{
    return h.note_offset != 0 && h.note_length != 0;
}

struct Quantity {
    const char* name;
    const char* unit;
    const char* unit_ascii;  // for UFF
    int uff_type;
    int length_exponent;
};

Quantity quantity_of(const Series& s)
{
    if (s.db) return {"shock pulse level", "dB", "dB", UFF_TYPE_GENERAL, 0};
    switch (s.quantity) {
    case Q_A: return {"acceleration", "m/s²", "m/s^2", UFF_TYPE_ACCELERATION, 1};
    case Q_V: return {"velocity", "mm/s", "mm/s", UFF_TYPE_VELOCITY, 1};
    case Q_D: return {"displacement", "µm", "um", UFF_TYPE_DISPLACEMENT, 1};
    default: return {"marker signal", "V", "V", UFF_TYPE_GENERAL, 0};
    }
}

bool is_spectrum_kind(u32 kind)
{
    return kind == KIND_S || kind == KIND_B;
}

std::string number(double v)
{
    char b[32];
    std::snprintf(b, sizeof b, "%.7g", v);
    return b;
}

std::string date_time(const MeasHeader& h)
{
    char t[32];
    std::snprintf(t, sizeof t, "20%02u-%02u-%02uT%02u:%02u:%02u", h.year % 100u, h.month, h.day, h.hour, h.minute,
                  h.second);
    return t;
}

// The averaging of the stored spectra: "" when the record does not say.
std::string averaging_text(const SpectraRecord& r)
{
    if (r.averaging == 0) return "";
    if (r.averaging == 1) return "no averaging";
    if (r.averaging == AVG_UNLIMITED) return "running average of " + std::to_string(r.averaged) + " spectra";
    return "average of " + std::to_string(r.averaged) + " spectra (averaging " + std::to_string(r.averaging) + ")";
}

// What the values of a record are.
std::string amplitude_text(const Measurement& m, const Series& s)
{
    constexpr const char* DB = " in dB as the plot's readout: 20*log10(a / 0.112) of the amplitude a, 0 dB at a <= 0.2";
    if (!s.spectrum) return s.db ? std::string("magnitude of each sample") + DB : "instantaneous value of each sample";
    const std::string avg = averaging_text(m.record);
    return std::string("peak amplitude of each line") + (s.db ? DB : "") + "; " + SPECTRUM_WINDOW + " window; " +
           (avg.empty() ? "averaging not recorded" : avg);
}

// The measurement's setup as the record shows it: its points, their step
// and the span of its x axis.
std::string setup_text(const Series& s)
{
    const u32 last = s.count > 0 ? s.count - 1 : 0;
    const std::string span = number(s.x0) + " to " + number(s.x0 + s.dx * last);
    if (s.spectrum) return std::to_string(last) + " lines, " + number(s.dx) + " Hz line spacing, " + span + " Hz";
    return std::to_string(s.count) + " samples, " + number(s.dx * 1000.0) + " ms sample step, " + span + " s";
}

constexpr const char* TABLE_QUANTITY = "acceleration peak, velocity RMS, displacement peak-to-peak, temperature";
constexpr const char* TABLE_UNIT = "m/s², mm/s, µm, °C";
constexpr const char* TABLE_SETUP =
    "overall values: acceleration and velocity over 10 to 1000 Hz, displacement over 10 to 300 Hz";

// The value of a line or sample as the plot view reads it out: the
// magnitude times the scale, in dB for the shock-pulse records.
double shown_value(bool db, double amplitude)
{
    return db ? to_db(static_cast<float>(std::fabs(amplitude))) : amplitude;
}

// Reads the measurement at directory index `at`; false with `error` (the
// record is damaged or the instrument would refuse it).
bool read_measurement(int at, Measurement* m, std::string* error)
{
    m->id = dir_id(at);
    m->kind = dir_attr(at);
    m->parent = dir_parent(at);
    const int parent_at = dir_find_id(m->parent);
    m->orphan = parent_at < 0 || dir_type(parent_at) != FILE_TYPE_OBJECT;
    char name[OBJ_NAME_SIZE];
    if (!m->orphan && obj_read_name(m->parent, name) == OBJ_OK) {
        m->object = cp1251_to_utf8(name);
        m->object_ascii = cp1251_to_ascii(name);
    }
    char label[MEAS_LABEL_SIZE];
    meas_label(at, label);
    m->label = meas_label_utf8(label);
    m->label_ascii = cp1251_to_ascii(label);
    if (label[0] != 0 && label[std::strlen(label) - 1] == MEAS_NOTE_MARK) {
        m->label_ascii = cp1251_to_ascii(std::string(label, std::strlen(label) - 1)) + " (voice note)";
    }
    if (meas_read_header(m->id, &m->header) != MEAS_OK) {
        *error = "its header does not read";
        return false;
    }
    static u8 s1[SPECTRA_RECORD_SIZE > RMS_TABLE_RECORD_SIZE ? SPECTRA_RECORD_SIZE : RMS_TABLE_RECORD_SIZE];
    static i32 s2[MEAS_SPECTRA_DATA_CAPACITY / sizeof(i32)];
    MeasSection one{s1, sizeof s1, 0}, two{s2, sizeof s2, 0};
    u32 kind = 0;
    if (meas_read(m->id, &kind, &one, &two, nullptr, true) == 0) {
        *error = "its record does not read";
        return false;
    }
    m->kind = kind;
    if (is_table(*m)) {
        if (one.length != RMS_TABLE_RECORD_SIZE) {
            *error = "its table record has the wrong length";
            return false;
        }
        std::memcpy(&m->table, s1, sizeof m->table);
        if (rms_table_verify(&m->table) != 1) {
            *error = "its table record's checksum does not match";
            return false;
        }
        return true;
    }
    if (kind > MEAS_KIND_SHOCK_SPECTRUM || one.length != SPECTRA_RECORD_SIZE) {
        *error = "its kind or record is unknown to the instrument";
        return false;
    }
    SpectraRecord& rec = m->record;
    std::memcpy(&rec, s1, sizeof rec);
    // The viewer's own checks: what it refuses is not exported either.
    const int check = spectra_record_check(&rec, s2, two.length);
    if (check != SPECTRA_CHECK_OK) {
        *error = spectra_check_text(check);
        return false;
    }
    const int roles[] = {spectra_find_slot(&rec, SPECTRA_MAIN), spectra_find_slot(&rec, SPECTRA_SHOCK),
                         spectra_find_slot(&rec, SPECTRA_MARKER)};
    const char* const role_names[] = {"main", "shock", "marker"};
    for (int r = 0; r < 3; ++r) {
        const int slot = roles[r];
        const i32* data = spectra_slot_data(&rec, slot, s2, two.length);
        if (slot == SPECTRA_NO_SLOT || data == nullptr) continue;
        const SpectraSlot& s = rec.slot[slot];
        Series sr;
        sr.part = role_names[r];
        sr.kind = s.kind;
        sr.quantity = s.quantity;
        sr.spectrum = is_spectrum_kind(s.kind);
        sr.db = s.kind == KIND_E || s.kind == KIND_B;
        sr.x0 = s.x0;
        sr.dx = s.dx;
        const double scale = s.scale != 0 ? s.scale : 1.0;
        const u32 words = s.data_bytes / sizeof(i32);
        sr.count = sr.spectrum ? std::min(s.count, words / 2) : std::min(s.count, words);
        for (u32 i = 0; i < sr.count; ++i) {
            double v;
            if (sr.spectrum) {
                const double re = data[2 * i], im = data[2 * i + 1];
                // The plot view's whole magnitude of the (re, im) pair.
                v = std::floor(std::sqrt(re * re + im * im)) * scale;
            } else {
                v = data[i] * scale;
            }
            sr.values.push_back(shown_value(sr.db, v));
        }
        m->series.push_back(std::move(sr));
    }
    return true;
}

// A header value on one line.
std::string one_line(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return out;
}

// The header of every CSV file: "# key: value" lines, then the column row.
std::string csv_header(const Measurement& m, const Series* s)
{
    std::ostringstream out;
    out << "# tarvik2-archive export of measurement " << m.id << "\n";
    out << "# object: "
        << (m.orphan ? "(none: an orphan of object " + std::to_string(m.parent) + ")" : one_line(m.object)) << "\n";
    out << "# number: " << m.header.number << "\n";
    out << "# date_time: " << date_time(m.header) << "\n";
    out << "# kind: " << kind_name(m.kind) << "\n";
    if (s) {
        const Quantity q = quantity_of(*s);
        out << "# record: " << s->part << (s->spectrum ? " spectrum" : " time signal") << "\n";
        out << "# quantity: " << q.name << "\n";
        out << "# unit: " << q.unit << "\n";
        out << "# amplitude: " << amplitude_text(m, *s) << "\n";
        out << "# setup: " << setup_text(*s) << "\n";
    } else {
        out << "# quantity: " << TABLE_QUANTITY << "\n";
        out << "# unit: " << TABLE_UNIT << "\n";
        out << "# setup: " << TABLE_SETUP << "\n";
    }
    out << "# label: " << one_line(m.label) << "\n";
    out << "# voice_note: " << (has_note(m.header) ? "yes (export --format wav writes it)" : "none") << "\n";
    return out.str();
}

std::string series_csv(const Measurement& m, const Series& s)
{
    const Quantity q = quantity_of(s);
    std::ostringstream out;
    out << csv_header(m, &s);
    out << (s.spectrum ? "frequency (Hz)" : "time (s)") << "," << q.name << (s.spectrum && !s.db ? " amplitude" : "")
        << " (" << q.unit << ")\n";
    for (size_t i = 0; i < s.values.size(); ++i)
        out << number(s.x0 + s.dx * static_cast<double>(i)) << "," << number(s.values[i]) << "\n";
    return out.str();
}

// Whether cell (point, direction) of a table holds values; the vibrometer
// keeps its reading in the first cell.
bool cell_filled(const Measurement& m, u32 p, u32 d)
{
    return m.kind == MEAS_KIND_VIBROMETER ? (p == 0 && d == 0) : ((m.table.filled[p] >> d) & 1) != 0;
}

std::string table_csv(const Measurement& m)
{
    std::ostringstream out;
    out << csv_header(m, nullptr);
    out << "point,direction,acceleration peak (m/s²),velocity RMS (mm/s),displacement peak-to-peak (µm),"
           "temperature (°C)\n";
    const RmsTableRecord& t = m.table;
    for (u32 p = 0; p < RMS_POINTS; ++p)
        for (u32 d = 0; d < RMS_DIRECTIONS; ++d) {
            if (!cell_filled(m, p, d)) continue;
            out << p + 1 << "," << cp1251_to_utf8(RMS_DIRECTION_NAMES[d]);
            for (u32 q = 0; q < RMS_QUANTITIES; ++q) out << "," << number(t.values[p][d][q]);
            out << "," << number(t.temperature[p][d]) << "\n";
        }
    return out.str();
}

// A field of `width` characters, cut or padded with blanks.
std::string fixed(const std::string& s, size_t width)
{
    std::string f = s.substr(0, width);
    f.resize(width, ' ');
    return f;
}

std::string e13(double v)
{
    char b[32];
    std::snprintf(b, sizeof b, "%13.5E", v);
    return b;
}

void uff_axis(std::ostringstream& out, int type, int length_exponent, const std::string& label, const std::string& unit)
{
    char b[128];
    std::snprintf(b, sizeof b, "%10d%5d%5d%5d %s %s\n", type, length_exponent, 0, 0, fixed(label, 20).c_str(),
                  fixed(unit, 20).c_str());
    out << b;
}

// Dataset 58 of one record; every text in ASCII, as the format holds.
std::string series_uff(const Measurement& m, const Series& s, int function_id)
{
    const Quantity q = quantity_of(s);
    const MeasHeader& h = m.header;
    std::ostringstream out;
    out << "    -1\n    58\n";
    out << fixed(m.object_ascii.empty() ? "NONE" : m.object_ascii, 80) << "\n";
    out << fixed(std::string("Tarvik-2 ") + kind_name(m.kind) + " " + std::to_string(m.id) + " #" +
                     std::to_string(h.number) + " (" + s.part + ")",
                 80)
        << "\n";
    char date[40];
    std::snprintf(date, sizeof date, "%02u-%s-%02u %02u:%02u:%02u", h.day, MONTHS[(h.month + 11u) % 12u], h.year % 100u,
                  h.hour, h.minute, h.second);
    out << fixed(date, 80) << "\n";
    std::string what = std::string(q.name) + (s.spectrum ? " spectrum" : " time signal");
    if (s.spectrum) {
        const std::string avg = averaging_text(m.record);
        what += std::string(", peak, ") + SPECTRUM_WINDOW + ", " + (avg.empty() ? "averaging not recorded" : avg);
    }
    out << fixed(what, 80) << "\n";
    out << fixed(m.label_ascii.empty() ? "NONE" : m.label_ascii, 80) << "\n";
    char b[256];
    std::snprintf(b, sizeof b, "%5d%10d%5d%10d %s%10d%4d %s%10d%4d\n", s.spectrum ? UFF_SPECTRUM : UFF_TIME_RESPONSE,
                  function_id, 1, 0, fixed("NONE", 10).c_str(), 1, 0, fixed("NONE", 10).c_str(), 0, 0);
    out << b;
    std::snprintf(b, sizeof b, "%10d%10zu%10d%s%s%s\n", UFF_REAL_SINGLE, s.values.size(), UFF_EVEN, e13(s.x0).c_str(),
                  e13(s.dx).c_str(), e13(0).c_str());
    out << b;
    if (s.spectrum)
        uff_axis(out, UFF_TYPE_FREQUENCY, 0, "Frequency", "Hz");
    else
        uff_axis(out, UFF_TYPE_TIME, 0, "Time", "s");
    uff_axis(out, q.uff_type, q.length_exponent, q.name, q.unit_ascii);
    uff_axis(out, 0, 0, "NONE", "NONE");
    uff_axis(out, 0, 0, "NONE", "NONE");
    for (size_t i = 0; i < s.values.size(); ++i) {
        out << e13(s.values[i]);
        if (i % UFF_VALUES_PER_LINE == UFF_VALUES_PER_LINE - 1 || i + 1 == s.values.size()) out << "\n";
    }
    out << "    -1\n";
    return out.str();
}

std::string measurement_json(const Measurement& m)
{
    JsonWriter w;
    w.begin_object();
    w.value("id", m.id).value("kind", kind_name(m.kind));
    if (m.orphan)
        w.null("object");
    else
        w.value("object", m.object);
    w.value("parent", m.parent).value("orphan", m.orphan).value("label", m.label);
    w.value("number", m.header.number).value("date_time", date_time(m.header));
    w.value("voice_note", has_note(m.header));
    if (is_table(m)) {
        w.value("quantity", TABLE_QUANTITY).value("unit", TABLE_UNIT).value("setup", TABLE_SETUP);
        w.begin_array("cells");
        for (u32 p = 0; p < RMS_POINTS; ++p)
            for (u32 d = 0; d < RMS_DIRECTIONS; ++d) {
                if (!cell_filled(m, p, d)) continue;
                w.begin_object().value("point", p + 1).value("direction", cp1251_to_utf8(RMS_DIRECTION_NAMES[d]));
                w.value("acceleration_peak_m_s2", static_cast<double>(m.table.values[p][d][Q_A]));
                w.value("velocity_rms_mm_s", static_cast<double>(m.table.values[p][d][Q_V]));
                w.value("displacement_pp_um", static_cast<double>(m.table.values[p][d][Q_D]));
                w.value("temperature_c", static_cast<double>(m.table.temperature[p][d]));
                w.end();
            }
        w.end();
    } else {
        w.begin_array("records");
        for (const Series& s : m.series) {
            const Quantity q = quantity_of(s);
            w.begin_object().value("part", s.part).value("type", s.spectrum ? "spectrum" : "time signal");
            w.value("quantity", q.name).value("unit", q.unit);
            w.value("amplitude", amplitude_text(m, s)).value("setup", setup_text(s));
            if (s.spectrum) {
                w.value("amplitude_kind", "peak").value("window", SPECTRUM_WINDOW);
                if (m.record.averaging == 0) {
                    w.null("averaging").null("averaged_spectra");
                } else {
                    w.value("averaging", m.record.averaging).value("averaged_spectra", m.record.averaged);
                }
            }
            w.value("x_unit", s.spectrum ? "Hz" : "s").value("x0", s.x0).value("dx", s.dx);
            w.begin_array("values");
            for (const double v : s.values) w.element(v);
            w.end().end();
        }
        w.end();
    }
    w.end();
    return w.text();
}

// The voice note as a WAV file (its sizes made to agree with the stored
// bytes); false with `error` when it does not read.
bool note_wav(const Measurement& m, std::string* wav, std::string* error)
{
    const MeasHeader& h = m.header;
    if (h.note_length < WAV_HEADER_SIZE) {
        *error = "its voice note is shorter than a WAV header";
        return false;
    }
    std::string bytes(h.note_length, '\0');
    FileHandle f;
    if (fs_open(&f, m.id, FS_READ) != FS_OK) {
        *error = "its voice note does not read";
        return false;
    }
    const u32 got = fs_read(&f, bytes.data(), h.note_offset, h.note_length);
    fs_close(&f);
    if (got != h.note_length || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
        *error = "its voice note does not read as a RIFF/WAVE file";
        return false;
    }
    const auto put_u32 = [&](u32 at, u32 v) {
        for (int i = 0; i < 4; ++i) bytes[at + static_cast<u32>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put_u32(WAV_RIFF_SIZE_AT, h.note_length - WAV_RIFF_HEADER);
    put_u32(WAV_DATA_SIZE_AT, h.note_length - WAV_HEADER_SIZE);
    *wav = std::move(bytes);
    return true;
}

// The part of a file name that names the object: its name with the
// characters that file systems refuse replaced.
std::string file_safe(const std::string& name)
{
    std::string out;
    for (const char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        out += (c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", ch)) ? '_' : ch;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
    while (!out.empty() && (out.front() == ' ' || out.front() == '.' || out.front() == '-')) out.erase(0, 1);
    return out;
}

// The file name (without its extension) of a measurement: object, number,
// date and time, id; unique within an archive, and across archives unless
// the same object's measurement of the same number was taken in the same
// second.
std::string base_name(const Measurement& m)
{
    std::string object = m.orphan ? "orphan" : file_safe(m.object);
    if (object.empty()) object = "object";
    const MeasHeader& h = m.header;
    char rest[96];
    std::snprintf(rest, sizeof rest, "_%03u_20%02u-%02u-%02u_%02u%02u%02u_%u", h.number, h.year % 100u, h.month, h.day,
                  h.hour, h.minute, h.second, m.id);
    return object + rest;
}

struct Output {
    std::string path;
    std::string bytes;
};

// Writes a new file; an existing one is replaced only with `force`.
enum class Written { Ok, Exists, Failed };
Written write_output(const Output& o, bool force, std::string* error)
{
    const int fd = open(o.path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (force ? O_TRUNC : O_EXCL), 0644);
    if (fd < 0) {
        if (errno == EEXIST) return Written::Exists;
        *error = o.path + ": cannot write: " + std::strerror(errno);
        return Written::Failed;
    }
    size_t done = 0;
    while (done < o.bytes.size()) {
        const ssize_t n = ::write(fd, o.bytes.data() + done, o.bytes.size() - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            *error = o.path + ": cannot write: " + std::strerror(errno);
            close(fd);
            return Written::Failed;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0) {
        *error = o.path + ": cannot write: " + std::strerror(errno);
        return Written::Failed;
    }
    std::printf("%s\n", printable(o.path).c_str());
    return Written::Ok;
}

// The viewer of the archive browser draws the record; the picture is taken
// once it has settled, then the viewer is left (Esc, else Enter, else the
// power goes off) and the LCD picture enlarged `scale` times.
constexpr int SETTLE_PUMPS = 60, LEAVE_PUMPS = 200, GIVE_UP_PUMPS = 400;
// The title bar shows the battery from the 32nd tick on; the picture is
// taken later, at a whole second of the virtual clock.
constexpr u32 BATTERY_TICKS = 32;
constexpr u32 CLOCK_LEAD_MS = 2000;

// The calendar time of the measurement (local time, as the instrument's
// clock showed it).
std::time_t measurement_time(const MeasHeader& h)
{
    std::tm tm{};
    tm.tm_year = 100 + h.year % 100;
    tm.tm_mon = h.month > 0 ? h.month - 1 : 0;
    tm.tm_mday = h.day > 0 ? h.day : 1;
    tm.tm_hour = h.hour;
    tm.tm_min = h.minute;
    tm.tm_sec = h.second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::string render_png(int at, const MeasHeader& header, int scale)
{
    HostInterface* previous = &host();
    VirtualHost vh;
    host_install(&vh);
    // The clock of the title bar reads the measurement's time, and the
    // battery is drawn as after the instrument's first second.
    for (u32 ms = 0; ms < CLOCK_LEAD_MS || ticks_now() < BATTERY_TICKS; ++ms) vh.sleep_1ms();
    vh.set_clock(measurement_time(header) - static_cast<std::time_t>(vh.elapsed_ms() / 1000));
    std::vector<u16> shot(framebuffer, framebuffer + LCD_PIXELS);
    int pumps = 0;
    vh.set_on_pump([&] {
        ++pumps;
        if (pumps <= SETTLE_PUMPS) shot.assign(framebuffer, framebuffer + LCD_PIXELS);
        if (pumps == SETTLE_PUMPS) key_post(KEY_ESC);
        if (pumps == LEAVE_PUMPS) key_post(KEY_ENTER);
        if (pumps == GIVE_UP_PUMPS) power_off_flag = 1;
    });
    power_off_flag = 0;
    static bool unpacked = false;
    if (!unpacked) images_unpack_all();
    unpacked = true;
    // Every plot the record holds is shown (the shock-pulse and marker
    // plots below the main plot, where the viewer puts them).
    const u32 layout = settings.plot_layout;
    settings.plot_layout = SPECTRA_LAYOUT_ALL;
    // The viewer opens over the browser's screen.
    screen_frame(ARCHIVE_BROWSER_TITLE);
    meas_view(at);
    settings.plot_layout = layout;
    power_off_flag = 0;
    host_install(previous);
    const int w = LCD_WIDTH * scale, h = LCD_HEIGHT * scale;
    std::vector<u16> big(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            big[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
                shot[static_cast<size_t>(y / scale) * LCD_WIDTH + static_cast<size_t>(x / scale)];
    const std::vector<u8> png = picture_encode_png(big.data(), w, h);
    return std::string(png.begin(), png.end());
}

// Why a format has nothing of a measurement, and which format serves: ""
// when it has something.
std::string nothing_to_write(const Measurement& m, Format format)
{
    if (format == Format::Uff && is_table(m))
        return std::string("a ") + kind_name(m.kind) +
               " reading holds values, not a signal, so UFF has nothing of it; "
               "use --format csv or json";
    if (format == Format::Wav && !has_note(m.header))
        return "it has no voice note, so WAV has nothing of it; use --format csv, uff, json or png";
    return "";
}

// The files of a measurement in `format`; false with `error` when a part of
// it does not read.
bool outputs_of(int at, const Measurement& m, Format format, int scale, const std::string& dir, int* function_id,
                std::vector<Output>* out, std::string* error)
{
    const std::string base = dir + "/" + base_name(m);
    switch (format) {
    case Format::Png: out->push_back({base + ".png", render_png(at, m.header, scale)}); break;
    case Format::Json: out->push_back({base + ".json", measurement_json(m)}); break;
    case Format::Wav: {
        if (!has_note(m.header)) break;
        std::string wav;
        if (!note_wav(m, &wav, error)) return false;
        out->push_back({base + ".wav", wav});
        break;
    }
    case Format::Uff: {
        std::string text;
        for (const Series& s : m.series) text += series_uff(m, s, ++*function_id);
        if (!text.empty()) out->push_back({base + ".uff", text});
        break;
    }
    case Format::Csv:
        if (is_table(m)) {
            out->push_back({base + ".csv", table_csv(m)});
            break;
        }
        for (const Series& s : m.series)
            out->push_back({m.series.size() == 1 ? base + ".csv" : base + "-" + s.part + ".csv", series_csv(m, s)});
        break;
    }
    return true;
}

int run(const std::vector<std::string>& args)
{
    Format format = Format::Csv;
    int scale = 2;
    std::string out_dir = ".";
    bool all = false, force = false;
    std::vector<u32> ids;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--all") {
            all = true;
        } else if (a == "--force") {
            force = true;
        } else if (a == "--scale") {
            if (i + 1 >= args.size() || (args[i + 1] != "2" && args[i + 1] != "3"))
                return tool_error("export: --scale must be 2 or 3");
            scale = args[++i][0] - '0';
        } else if (a == "--format" || a == "--out") {
            if (i + 1 >= args.size()) return tool_error("export: " + a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--out") {
                out_dir = v;
            } else if (v == "csv") {
                format = Format::Csv;
            } else if (v == "uff") {
                format = Format::Uff;
            } else if (v == "json") {
                format = Format::Json;
            } else if (v == "png") {
                format = Format::Png;
            } else if (v == "wav") {
                format = Format::Wav;
            } else {
                return tool_error("export: unknown format " + v + " (csv, uff, json, png or wav)");
            }
        } else if (!a.empty() && a.find_first_not_of("0123456789") == std::string::npos && a.size() < 10) {
            ids.push_back(static_cast<u32>(std::stoul(a)));
        } else {
            return tool_error("export: " + a + " is neither an id nor an option");
        }
    }
    if (all == !ids.empty()) return tool_error("export: give the ids of measurements, or --all");
    std::vector<int> entries;
    if (all) {
        // The browser's measurements in its order, then the orphans it
        // does not show.
        const std::vector<ArchiveLine> lines = archive_lines();
        for (const ArchiveLine& l : lines)
            if (l.measurement && l.index >= 0) entries.push_back(l.index);
        for (const int at : orphan_entries(lines)) entries.push_back(at);
    } else {
        for (const u32 id : ids) {
            const int at = dir_find_id(id);
            if (at < 0 || !is_measurement_entry(at))
                return tool_error("export: " + std::to_string(id) + " is not a measurement of the archive (see ls)");
            entries.push_back(at);
        }
    }
    std::error_code ec;
    std::filesystem::create_directories(out_dir, ec);
    if (!std::filesystem::is_directory(out_dir)) return tool_error("--out " + out_dir + ": cannot make this folder");

    int status = TOOL_OK;
    const auto worse = [&](int s) { status = std::max(status, s); };
    int function_id = 0;
    u32 left_out = 0;
    for (const int at : entries) {
        Measurement m{};
        std::string error;
        if (!read_measurement(at, &m, &error)) {
            std::fprintf(stderr, "tarvik2-archive: measurement %u: %s; not exported\n", dir_id(at), printable(error).c_str());
            worse(TOOL_DAMAGE);
            continue;
        }
        const std::string nothing = nothing_to_write(m, format);
        if (!nothing.empty()) {
            // Named when asked for; counted when everything is exported.
            if (all) {
                ++left_out;
            } else {
                std::fprintf(stderr, "tarvik2-archive: measurement %u: %s\n", m.id, nothing.c_str());
                worse(TOOL_USAGE);
            }
            continue;
        }
        std::vector<Output> outputs;
        if (!outputs_of(at, m, format, scale, out_dir, &function_id, &outputs, &error)) {
            std::fprintf(stderr, "tarvik2-archive: measurement %u: %s; not exported\n", m.id, printable(error).c_str());
            worse(TOOL_DAMAGE);
            continue;
        }
        if (outputs.empty()) {
            std::fprintf(stderr, "tarvik2-archive: measurement %u: its record holds nothing to export\n", m.id);
            worse(TOOL_DAMAGE);
            continue;
        }
        // A file already there is never replaced without --force; the
        // measurement is then left out whole.
        std::string existing;
        for (const Output& o : outputs)
            if (!force && existing.empty() &&
                std::filesystem::symlink_status(o.path, ec).type() != std::filesystem::file_type::not_found)
                existing = o.path;
        for (size_t k = 0; existing.empty() && k < outputs.size(); ++k) {
            const Written r = write_output(outputs[k], force, &error);
            if (r == Written::Exists) existing = outputs[k].path;
            if (r == Written::Failed) return tool_error(error);
        }
        if (!existing.empty()) {
            std::fprintf(stderr,
                         "tarvik2-archive: %s: exists already; measurement %u not exported (--force replaces it)\n",
                         printable(existing).c_str(), m.id);
            worse(TOOL_USAGE);
        }
    }
    if (left_out)
        std::fprintf(stderr, "tarvik2-archive: %u measurement%s left out (%s)\n", left_out, left_out == 1 ? "" : "s",
                     format == Format::Uff ? "vibrometer and RMS-table readings: no signal for UFF; use csv or json"
                                           : "without a voice note");
    return status;
}

const ToolCommandRegistrar reg(
    {"export", "ID... | --all [--format csv|uff|json|png|wav] [--scale 2|3] [--out DIR] [--force]",
     "measurements out: signals and spectra as CSV, UFF (dataset 58) or JSON; vibrometer readings and RMS tables "
     "as CSV or JSON; any as the instrument shows it (PNG); voice notes as WAV. Existing files are kept unless "
     "--force",
     ToolAccess::Read, run});

}  // namespace
