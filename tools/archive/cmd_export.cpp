// export: measurements out of the archive, for analysis software. Time
// signals and spectra as CSV, Universal File Format (dataset 58) or JSON;
// vibrometer readings and RMS tables with their point and direction
// labels as CSV or JSON. The values are the instrument's own: samples and
// line magnitudes times the record's scale, as the plot view shows them.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/signal.h"
#include "archive/browser.h"
#include "archive/measurement.h"
#include "archive/objects.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "host/device.h"
#include "host/hostif.h"
#include "host/picture.h"
#include "host/virtual_host.h"
#include "screens/rms.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "tools/archive/json.h"
#include "tools/archive/text.h"
#include "tools/archive/tool.h"
#include "tools/archive/walk.h"

namespace {

enum class Format { Csv, Uff, Json, Png };

// UFF dataset 58: function types, ordinate data type and data types.
constexpr int UFF_TIME_RESPONSE = 1, UFF_SPECTRUM = 12;
constexpr int UFF_REAL_SINGLE = 2, UFF_EVEN = 1;
constexpr int UFF_TYPE_TIME = 17, UFF_TYPE_FREQUENCY = 18, UFF_TYPE_GENERAL = 1;
constexpr int UFF_TYPE_ACCELERATION = 12, UFF_TYPE_VELOCITY = 11, UFF_TYPE_DISPLACEMENT = 8;
constexpr int UFF_VALUES_PER_LINE = 6;
constexpr const char* MONTHS[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* SLOT_NAMES[SPECTRA_SLOTS] = {"marker", "main", "slot2", "shock"};

// One stored signal record: a time signal or a spectrum.
struct Series {
    std::string part;  // which record of the measurement ("main", "shock", "marker")
    bool spectrum;
    u32 kind, quantity;
    double x0, dx;
    std::vector<double> values;
};

struct Measurement {
    u32 id;
    u32 kind;
    std::string object;  // UTF-8
    std::string label;   // UTF-8, the archive browser's
    MeasHeader header;
    std::vector<Series> series;  // kinds 0..3
    RmsTableRecord table;        // kinds 4, 5
};

struct Quantity {
    const char* name;
    const char* unit;
    int uff_type;
    int length_exponent;
};

Quantity quantity_of(u32 q)
{
    switch (q) {
    case Q_A: return {"acceleration", "m/s²", UFF_TYPE_ACCELERATION, 1};
    case Q_V: return {"velocity", "mm/s", UFF_TYPE_VELOCITY, 1};
    case Q_D: return {"displacement", "µm", UFF_TYPE_DISPLACEMENT, 1};
    default: return {"marker", "counts", UFF_TYPE_GENERAL, 0};
    }
}

bool is_spectrum_kind(u32 kind)
{
    return kind == KIND_S || kind == KIND_B;
}

std::string date_time(const MeasHeader& h)
{
    char t[32];
    std::snprintf(t, sizeof t, "20%02u-%02u-%02uT%02u:%02u:%02u", h.year % 100u, h.month, h.day, h.hour, h.minute,
                  h.second);
    return t;
}

// Reads measurement `id` (directory index `at`); false with `error`.
bool read_measurement(int at, Measurement* m, std::string* error)
{
    m->id = dir_id(at);
    m->kind = dir_attr(at);
    char name[OBJ_NAME_SIZE];
    m->object = obj_read_name(dir_parent(at), name) == 1 ? cp1251_to_utf8(name) : std::string();
    char label[MEAS_LABEL_SIZE];
    m->label = cp1251_to_utf8(meas_label(at, label));
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
    if (kind == MEAS_KIND_VIBROMETER || kind == MEAS_KIND_RMS_TABLE) {
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
    SpectraRecord rec;
    std::memcpy(&rec, s1, sizeof rec);
    if (spectra_record_verify(&rec, s2, two.length) != 1) {
        *error = "its spectra record's checksums do not match";
        return false;
    }
    for (u32 slot = 0; slot < SPECTRA_SLOTS; ++slot) {
        const SpectraSlot& s = rec.slot[slot];
        const i32* data = spectra_slot_data(&rec, static_cast<int>(slot), s2, two.length);
        if (s.type == 0 || data == nullptr) continue;
        Series sr;
        sr.part = SLOT_NAMES[slot];
        if (static_cast<int>(slot) == spectra_find_slot(&rec, SPECTRA_MAIN))
            sr.part = "main";
        else if (static_cast<int>(slot) == spectra_find_slot(&rec, SPECTRA_SHOCK))
            sr.part = "shock";
        else if (static_cast<int>(slot) == spectra_find_slot(&rec, SPECTRA_MARKER))
            sr.part = "marker";
        sr.kind = s.kind;
        sr.quantity = s.quantity;
        sr.spectrum = is_spectrum_kind(s.kind);
        sr.x0 = s.x0;
        sr.dx = s.dx;
        const double scale = s.scale != 0 ? s.scale : 1.0;
        const u32 words = s.data_bytes / sizeof(i32);
        if (sr.spectrum) {
            const u32 lines = std::min(s.count, words / 2);
            for (u32 i = 0; i < lines; ++i) {
                const double re = data[2 * i], im = data[2 * i + 1];
                // The plot view's whole magnitude of the (re, im) pair.
                sr.values.push_back(std::floor(std::sqrt(re * re + im * im)) * scale);
            }
        } else {
            const u32 n = std::min(s.count, words);
            for (u32 i = 0; i < n; ++i) sr.values.push_back(data[i] * scale);
        }
        m->series.push_back(std::move(sr));
    }
    return true;
}

std::string number(double v)
{
    char b[32];
    std::snprintf(b, sizeof b, "%.7g", v);
    return b;
}

std::string series_csv(const Series& s)
{
    const Quantity q = quantity_of(s.quantity);
    std::ostringstream out;
    out << (s.spectrum ? "frequency (Hz)" : "time (s)") << "," << q.name << (s.spectrum ? " amplitude" : "") << " ("
        << q.unit << ")\n";
    for (size_t i = 0; i < s.values.size(); ++i)
        out << number(s.x0 + s.dx * static_cast<double>(i)) << "," << number(s.values[i]) << "\n";
    return out.str();
}

std::string table_csv(const Measurement& m)
{
    std::ostringstream out;
    out << "point,direction,acceleration peak (m/s²),velocity RMS (mm/s),displacement peak-to-peak (µm),"
           "temperature (°C)\n";
    const RmsTableRecord& t = m.table;
    for (u32 p = 0; p < RMS_POINTS; ++p)
        for (u32 d = 0; d < RMS_DIRECTIONS; ++d) {
            // The vibrometer keeps its reading in the first cell.
            const bool filled = m.kind == MEAS_KIND_VIBROMETER ? (p == 0 && d == 0) : ((t.filled[p] >> d) & 1) != 0;
            if (!filled) continue;
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

std::string series_uff(const Measurement& m, const Series& s, int function_id)
{
    const Quantity q = quantity_of(s.quantity);
    const MeasHeader& h = m.header;
    std::ostringstream out;
    out << "    -1\n    58\n";
    out << fixed(m.object.empty() ? "NONE" : m.object, 80) << "\n";
    out << fixed(std::string("Tarvik-2 ") + kind_name(m.kind) + " " + std::to_string(m.id) + " #" +
                     std::to_string(h.number) + " (" + s.part + ")",
                 80)
        << "\n";
    char date[40];
    std::snprintf(date, sizeof date, "%02u-%s-%02u %02u:%02u:%02u", h.day, MONTHS[(h.month + 11u) % 12u], h.year % 100u,
                  h.hour, h.minute, h.second);
    out << fixed(date, 80) << "\n";
    out << fixed(std::string(q.name) + (s.spectrum ? " spectrum" : " time signal"), 80) << "\n";
    out << fixed("NONE", 80) << "\n";
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
    uff_axis(out, q.uff_type, q.length_exponent, q.name, q.unit);
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
    w.value("id", m.id).value("kind", kind_name(m.kind)).value("object", m.object).value("label", m.label);
    w.value("number", m.header.number).value("date_time", date_time(m.header));
    if (m.kind == MEAS_KIND_VIBROMETER || m.kind == MEAS_KIND_RMS_TABLE) {
        w.begin_array("cells");
        for (u32 p = 0; p < RMS_POINTS; ++p)
            for (u32 d = 0; d < RMS_DIRECTIONS; ++d) {
                const bool filled =
                    m.kind == MEAS_KIND_VIBROMETER ? (p == 0 && d == 0) : ((m.table.filled[p] >> d) & 1) != 0;
                if (!filled) continue;
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
            const Quantity q = quantity_of(s.quantity);
            w.begin_object().value("part", s.part).value("type", s.spectrum ? "spectrum" : "time signal");
            w.value("quantity", q.name).value("unit", q.unit);
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

bool write_file(const std::string& path, const std::string& text, std::string* error)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    f.close();
    if (!f) {
        *error = path + ": cannot write: " + std::strerror(errno);
        return false;
    }
    std::printf("%s\n", printable(path).c_str());
    return true;
}

// The viewer of the archive browser draws the record; the picture is taken
// once it has settled, then the viewer is left (Esc, else Enter, else the
// power goes off) and the LCD picture written enlarged `scale` times.
constexpr int SETTLE_PUMPS = 60, LEAVE_PUMPS = 200, GIVE_UP_PUMPS = 400;

bool render_png(int at, int scale, const std::string& path, std::string* error)
{
    HostInterface* previous = &host();
    VirtualHost vh;
    vh.set_clock(std::time(nullptr));
    std::vector<u16> shot(framebuffer, framebuffer + LCD_PIXELS);
    int pumps = 0;
    vh.set_on_pump([&] {
        ++pumps;
        if (pumps <= SETTLE_PUMPS) shot.assign(framebuffer, framebuffer + LCD_PIXELS);
        if (pumps == SETTLE_PUMPS) key_post(KEY_ESC);
        if (pumps == LEAVE_PUMPS) key_post(KEY_ENTER);
        if (pumps == GIVE_UP_PUMPS) power_off_flag = 1;
    });
    host_install(&vh);
    power_off_flag = 0;
    static bool unpacked = false;
    if (!unpacked) images_unpack_all();
    unpacked = true;
    // The viewer opens over the browser's screen.
    screen_frame(ARCHIVE_BROWSER_TITLE);
    meas_view(at);
    power_off_flag = 0;
    host_install(previous);
    const int w = LCD_WIDTH * scale, h = LCD_HEIGHT * scale;
    std::vector<u16> big(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            big[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
                shot[static_cast<size_t>(y / scale) * LCD_WIDTH + static_cast<size_t>(x / scale)];
    if (!picture_save(path, big.data(), w, h, 0, error)) return false;
    std::printf("%s\n", printable(path).c_str());
    return true;
}

bool is_measurement(int at)
{
    const u8 t = dir_type(at);
    return t == FILE_TYPE_SIGNAL || t == FILE_TYPE_VIBROMETER || t == FILE_TYPE_RMS_TABLE;
}

int run(const std::vector<std::string>& args)
{
    Format format = Format::Csv;
    int scale = 2;
    std::string out_dir = ".";
    bool all = false;
    std::vector<u32> ids;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--all") {
            all = true;
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
            } else {
                return tool_error("export: unknown format " + v + " (csv, uff, json or png)");
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
        for (const ArchiveLine& l : archive_lines())
            if (l.measurement && l.index >= 0) entries.push_back(l.index);
    } else {
        for (const u32 id : ids) {
            const int at = dir_find_id(id);
            if (at < 0 || !is_measurement(at))
                return tool_error("export: " + std::to_string(id) + " is not a measurement of the archive (see ls)");
            entries.push_back(at);
        }
    }
    std::error_code ec;
    std::filesystem::create_directories(out_dir, ec);
    if (!std::filesystem::is_directory(out_dir)) return tool_error("--out " + out_dir + ": cannot make this folder");

    int status = TOOL_OK;
    int function_id = 0;
    u32 tables_left_out = 0;
    for (const int at : entries) {
        Measurement m{};
        std::string error;
        if (!read_measurement(at, &m, &error)) {
            std::fprintf(stderr, "tarvik2-archive: measurement %u: %s; not exported\n", dir_id(at),
                         printable(error).c_str());
            status = TOOL_DAMAGE;
            continue;
        }
        const std::string base = out_dir + "/" + std::to_string(m.id);
        const bool table = m.kind == MEAS_KIND_VIBROMETER || m.kind == MEAS_KIND_RMS_TABLE;
        bool ok = true;
        if (format == Format::Png) {
            ok = render_png(at, scale, base + ".png", &error);
        } else if (format == Format::Json) {
            ok = write_file(base + ".json", measurement_json(m), &error);
        } else if (table && format == Format::Uff) {
            // Readings hold values, not signals: named when asked for,
            // counted when everything is exported.
            if (all)
                ++tables_left_out;
            else
                std::fprintf(stderr,
                             "tarvik2-archive: measurement %u: a %s reading has no signal for UFF; use csv or json\n",
                             m.id, kind_name(m.kind));
            continue;
        } else if (table) {
            ok = write_file(base + ".csv", table_csv(m), &error);
        } else if (format == Format::Uff) {
            std::string text;
            for (const Series& s : m.series) text += series_uff(m, s, ++function_id);
            ok = write_file(base + ".uff", text, &error);
        } else {
            for (const Series& s : m.series) {
                const std::string name = m.series.size() == 1 ? base + ".csv" : base + "-" + s.part + ".csv";
                ok = ok && write_file(name, series_csv(s), &error);
            }
        }
        if (!ok) return tool_error(error);
    }
    if (tables_left_out)
        std::fprintf(
            stderr,
            "tarvik2-archive: %u vibrometer and RMS-table readings left out (no signal for UFF; use csv or json)\n",
            tables_left_out);
    return status;
}

const ToolCommandRegistrar reg({"export", "ID... | --all [--format csv|uff|json|png] [--scale 2|3] [--out DIR]",
                                "measurements out: signals and spectra as CSV, UFF (dataset 58) or JSON; "
                                "vibrometer readings and RMS tables as CSV or JSON; any as the instrument "
                                "shows it (PNG)",
                                ToolAccess::Read, run});

}  // namespace
