// The archive tool's export: measurements made by the instrument's screens
// (through the headless runner) come out with the values of their records,
// in the units the instrument shows (the shock-pulse records in dB), with a
// header saying what they are; the UFF files are read back by a reader of
// the tests' own and hold ASCII only; tables carry their point and
// direction labels; files are named so that archives do not collide and
// are never replaced without --force; voice notes come out as WAV; bad
// requests and requests that would write nothing fail and write nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/shock.h"
#include "analysis/signal.h"
#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "base/cp1251.h"
#include "base/text.h"
#include "data/images.h"
#include "front/common/picture.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/session.h"
#include "screens/spectra.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tests/support/flash_image.h"
#include "tests/support/support.h"

namespace {

constexpr const char* CLOCK = "2026-12-10T12:00:00";
// The spectra screen: measured for 3 s and saved, in its first view (the
// time signal) or, after Up, as a spectrum.
constexpr const char* SAVE_SIGNAL =
    "wait 1500; right; enter; wait 300; enter; wait 3000; shift+enter; wait 500; enter; wait 200; esc; wait 200";
constexpr const char* SAVE_SPECTRUM =
    "wait 1500; right; enter; wait 300; up; enter; wait 3000; shift+enter; wait 500; enter; wait 200; esc; wait 200";

std::vector<std::string> lines_of(const std::string& path)
{
    std::ifstream f(path);
    std::vector<std::string> out;
    for (std::string l; std::getline(f, l);) out.push_back(l);
    return out;
}

// An exported CSV: its "# key: value" header lines, the column row and the
// x and value columns.
struct Csv {
    std::map<std::string, std::string> meta;
    std::string header;
    std::vector<double> x, v;
};
Csv read_csv(const std::string& path)
{
    Csv c;
    const std::vector<std::string> lines = lines_of(path);
    size_t i = 0;
    for (; i < lines.size() && lines[i].rfind("# ", 0) == 0; ++i) {
        const size_t colon = lines[i].find(": ");
        if (colon != std::string::npos) c.meta[lines[i].substr(2, colon - 2)] = lines[i].substr(colon + 2);
    }
    if (i >= lines.size()) return c;
    c.header = lines[i];
    for (++i; i < lines.size(); ++i) {
        const size_t comma = lines[i].find(',');
        c.x.push_back(std::strtod(lines[i].substr(0, comma).c_str(), nullptr));
        c.v.push_back(std::strtod(lines[i].substr(comma + 1).c_str(), nullptr));
    }
    return c;
}

// A header value of an exported CSV, "(missing)" when it has none.
std::string meta(const Csv& c, const std::string& key)
{
    const auto it = c.meta.find(key);
    return it == c.meta.end() ? "(missing)" : it->second;
}

std::string text_of(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// One dataset 58 as a reader of the format takes it: delimiters, the five
// ID lines, records 6 to 11 by their field positions, then the values in
// 13-character fields, six to a line.
struct Dataset58 {
    std::string id1, id3, id4;
    int function_type = -1;
    int data_type = -1;
    long count = -1;
    int spacing = -1;
    double x_min = 0, dx = 0;
    int abscissa_type = -1, ordinate_type = -1;
    std::string ordinate_label, ordinate_unit;
    std::vector<double> values;
};

int field_int(const std::string& line, size_t at, size_t width)
{
    return std::atoi(line.substr(at, width).c_str());
}

std::string trim(const std::string& s)
{
    const size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// The datasets of a file; a malformed file fails the test with the line.
std::vector<Dataset58> read_uff(const std::string& path)
{
    const std::vector<std::string> l = lines_of(path);
    std::vector<Dataset58> out;
    size_t i = 0;
    while (i < l.size()) {
        Dataset58 d;
        EXPECT_EQ(l[i], "    -1") << "line " << i + 1;
        EXPECT_EQ(l.at(i + 1), "    58") << "line " << i + 2;
        d.id1 = trim(l.at(i + 2));
        d.id3 = trim(l.at(i + 4));
        d.id4 = trim(l.at(i + 5));
        for (size_t k = 2; k <= 6; ++k) EXPECT_LE(l.at(i + k).size(), 80u);
        const std::string& r6 = l.at(i + 7);
        d.function_type = field_int(r6, 0, 5);
        const std::string& r7 = l.at(i + 8);
        d.data_type = field_int(r7, 0, 10);
        d.count = field_int(r7, 10, 10);
        d.spacing = field_int(r7, 20, 10);
        d.x_min = std::strtod(r7.substr(30, 13).c_str(), nullptr);
        d.dx = std::strtod(r7.substr(43, 13).c_str(), nullptr);
        d.abscissa_type = field_int(l.at(i + 9), 0, 10);
        d.ordinate_type = field_int(l.at(i + 10), 0, 10);
        // Records 8 and 9: I10, 3I5, then the label and the unit, each
        // 1X, 20A1.
        d.ordinate_label = trim(l.at(i + 10).substr(26, 20));
        d.ordinate_unit = trim(l.at(i + 10).substr(47, 20));
        i += 13;
        const size_t data_lines = static_cast<size_t>((d.count + 5) / 6);
        for (size_t k = 0; k < data_lines; ++k, ++i) {
            const std::string& dl = l.at(i);
            EXPECT_EQ(dl.size() % 13, 0u) << "line " << i + 1;
            for (size_t at = 0; at + 13 <= dl.size(); at += 13)
                d.values.push_back(std::strtod(dl.substr(at, 13).c_str(), nullptr));
        }
        EXPECT_EQ(l.at(i), "    -1") << "line " << i + 1;
        ++i;
        out.push_back(d);
    }
    return out;
}

class ToolExport : public ::testing::Test {
protected:
    VirtualHostScope scope;
    TempDir data, out;

    RunResult tool(const std::string& args) const { return run_archive_tool(data.path(), args); }
    void save(const char* keys)
    {
        const RunResult r = run_runner({"--data", data.path(), "--clock", CLOCK, "--seed", "1", "--keys", keys});
        ASSERT_EQ(r.status, 0) << r.output;
    }

    // The measurements of the archive as the instrument reads them: the
    // shown record of each (x and value of every point), by the loader of
    // the spectra screen and the store's own line power; the shock-pulse
    // record, where there is one, as the plot's readout gives it (in dB).
    struct Shown {
        u32 id;
        bool spectrum;
        std::vector<double> x, v;
        MeasHeader header;
        bool shock_spectrum = false;
        std::vector<double> shock_x, shock_db;
    };
    std::vector<Shown> shown_records()
    {
        std::vector<Shown> out;
        FlashFile flash(data.file("flash.dat"));
        EXPECT_EQ(fs_init(), FS_OK);
        EXPECT_EQ(fs_mount(), FS_OK);
        for (u32 i = 0; i < dir_count(); ++i) {
            if (dir_type(static_cast<int>(i)) != FILE_TYPE_SIGNAL) continue;
            static SpectraRecord rec;
            static i32 words[MEAS_SPECTRA_DATA_CAPACITY / 4];
            MeasSection one{&rec, sizeof rec, 0}, two{words, sizeof words, 0};
            const u32 id = dir_id(static_cast<int>(i));
            EXPECT_NE(meas_read(id, nullptr, &one, &two, nullptr, true), 0u);
            EXPECT_EQ(spectra_load(&rec, words, two.length), 1);
            const SignalRecord* r = record_at(1, rec.kind, rec.quantity);
            Shown s{id, rec.kind == KIND_S, {}, {}, {}, false, {}, {}};
            EXPECT_EQ(meas_read_header(id, &s.header), MEAS_OK);
            for (u32 k = 0; k < r->count; ++k) {
                s.x.push_back(x_at(r, k));
                s.v.push_back(s.spectrum ? std::floor(std::sqrt(static_cast<double>(line_power(r, k)))) * r->scale
                                         : r->data[k] * static_cast<double>(r->scale));
            }
            s.shock_spectrum = rec.kind == KIND_S;
            const SignalRecord* e = record_at(3, s.shock_spectrum ? KIND_B : KIND_E, Q_A);
            if (e->type != REC_EMPTY)
                for (u32 k = 0; k < e->count; ++k) {
                    s.shock_x.push_back(x_at(e, k));
                    const double a = s.shock_spectrum
                                         ? std::floor(std::sqrt(static_cast<double>(line_power(e, k)))) * e->scale
                                         : std::abs(e->data[k]) * static_cast<double>(e->scale);
                    s.shock_db.push_back(to_db(static_cast<float>(a)));
                }
            out.push_back(s);
        }
        flash_handle = 0;
        return out;
    }
};

void expect_near_all(const std::vector<double>& got, const std::vector<double>& want, const char* what)
{
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_NEAR(got[i], want[i], 1e-5 * std::max(1.0, std::fabs(want[i]))) << what << " at " << i;
}

bool all_ascii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

TEST_F(ToolExport, SignalAndSpectrumFromTheSpectraScreenComeOutWithTheirRecordsValues)
{
    save(SAVE_SIGNAL);
    save(SAVE_SPECTRUM);
    const std::vector<Shown> shown = shown_records();
    ASSERT_EQ(shown.size(), 2u);
    for (const Shown& s : shown) {
        SCOPED_TRACE(s.spectrum ? "spectrum" : "signal");
        const std::string id = std::to_string(s.id);
        const RunResult r = tool("export " + id + " --out " + shell_quote(out.path()));
        ASSERT_EQ(r.status, 0) << r.output;
        const Csv c = read_csv(exported(out.path(), s.id, ".csv"));
        EXPECT_EQ(c.header, s.spectrum ? "frequency (Hz),velocity amplitude (mm/s)" : "time (s),velocity (mm/s)");
        EXPECT_GT(s.v.size(), 100u);
        expect_near_all(c.x, s.x, "x");
        expect_near_all(c.v, s.v, "values");
        // The header says what the values are and where they come from.
        char label_time[16], label_date[16];
        std::snprintf(label_time, sizeof label_time, "%02u:%02u:%02u", s.header.hour, s.header.minute, s.header.second);
        std::snprintf(label_date, sizeof label_date, "%02u.%02u.%02u", s.header.day, s.header.month, s.header.year);
        char date_time[32];
        std::snprintf(date_time, sizeof date_time, "20%02u-%02u-%02uT%s", s.header.year, s.header.month, s.header.day,
                      label_time);
        const std::map<std::string, std::string> want = {
            {"object", "Объект"},
            {"number", std::to_string(s.header.number)},
            {"date_time", date_time},
            {"kind", s.spectrum ? "spectrum" : "signal"},
            {"record", s.spectrum ? "main spectrum" : "main time signal"},
            {"quantity", "velocity"},
            {"unit", "mm/s"},
            // The instrument's spectra: peak amplitudes of the Hamming
            // window, averaged as set (4 by default, reached in 3 s).
            {"amplitude", s.spectrum ? "peak amplitude of each line; Hamming window; average of 4 spectra (averaging 4)"
                                     : "instantaneous value of each sample"},
            {"setup", s.spectrum ? "1600 lines, 2.5 Hz line spacing, 0 to 4000 Hz"
                                 : "4096 samples, 0.09768009 ms sample step, 0 to 0.4 s"},
            {"label", std::string(s.spectrum ? "Спктр" : "Сигн.") + " #00" + std::to_string(s.header.number) + " " +
                          label_time + " " + label_date},
            {"voice_note", "none"},
        };
        for (const auto& [key, value] : want) EXPECT_EQ(meta(c, key), value) << key;

        // The same values in UFF, by the tests' own reader; ASCII only.
        ASSERT_EQ(tool("export " + id + " --format uff --out " + shell_quote(out.path())).status, 0);
        const std::string uff = exported(out.path(), s.id, ".uff");
        EXPECT_TRUE(all_ascii(text_of(uff)));
        const std::vector<Dataset58> d = read_uff(uff);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d[0].id1, "Obekt");
        EXPECT_EQ(d[0].id3.substr(0, 9), "10-Dec-26");
        EXPECT_EQ(d[0].id4, s.spectrum ? "velocity spectrum, peak, Hamming, average of 4 spectra (averaging 4)"
                                       : "velocity time signal");
        EXPECT_EQ(d[0].function_type, s.spectrum ? 12 : 1);
        EXPECT_EQ(d[0].data_type, 2);
        EXPECT_EQ(d[0].count, static_cast<long>(s.v.size()));
        EXPECT_EQ(d[0].spacing, 1);
        EXPECT_NEAR(d[0].x_min, s.x[0], 1e-6);
        EXPECT_NEAR(d[0].dx, s.x[1] - s.x[0], 1e-5 * (s.x[1] - s.x[0]));
        EXPECT_EQ(d[0].abscissa_type, s.spectrum ? 18 : 17);
        EXPECT_EQ(d[0].ordinate_type, 11);
        EXPECT_EQ(d[0].ordinate_label, "velocity");
        EXPECT_EQ(d[0].ordinate_unit, "mm/s");
        expect_near_all(d[0].values, s.v, "UFF values");

        // JSON: the same header fields.
        ASSERT_EQ(tool("export " + id + " --format json --out " + shell_quote(out.path())).status, 0);
        const std::string json = text_of(exported(out.path(), s.id, ".json"));
        for (const std::string& part :
             {std::string("\"object\": \"Объект\""), "\"date_time\": \"" + std::string(date_time) + "\"",
              std::string("\"unit\": \"mm/s\""), "\"amplitude\": \"" + want.at("amplitude") + "\"",
              "\"setup\": \"" + want.at("setup") + "\"", "\"label\": \"" + want.at("label") + "\""})
            EXPECT_NE(json.find(part), std::string::npos) << part;
        if (s.spectrum) {
            for (const char* part : {"\"amplitude_kind\": \"peak\"", "\"window\": \"Hamming\"", "\"averaging\": 4,",
                                     "\"averaged_spectra\": 4,"})
                EXPECT_NE(json.find(part), std::string::npos) << part;
        }
    }
    // Everything at once: one UFF file per signal measurement.
    TempDir all;
    const RunResult r = tool("export --all --format uff --out " + shell_quote(all.path()));
    ASSERT_EQ(r.status, 0) << r.output;
    for (const Shown& s : shown) EXPECT_EQ(read_uff(exported(all.path(), s.id, ".uff")).size(), 1u);
}

// The shock-pulse records (below the spectrum, or the signal) come out in
// dB, as the plot's readout shows them, in every format.
TEST_F(ToolExport, ShockPulseRecordsComeOutInDbAsTheReadoutShowsThem)
{
    // Shift+Up puts the shock-pulse plot below the main plot.
    save(
        "wait 1500; right; enter; wait 300; shift+up; enter; wait 3000; shift+enter; wait 500; enter; wait 200; "
        "esc; wait 200");
    save(
        "wait 1500; right; enter; wait 300; up; enter; wait 3000; shift+enter; wait 500; enter; wait 200; esc; "
        "wait 200");
    const std::vector<Shown> shown = shown_records();
    ASSERT_EQ(shown.size(), 2u);
    for (const Shown& s : shown) {
        SCOPED_TRACE(s.shock_spectrum ? "shock-pulse spectrum" : "shock-pulse signal");
        ASSERT_GT(s.shock_db.size(), 100u);
        // Real dB figures, not m/s²: a level well above 0 dB somewhere.
        EXPECT_GT(*std::max_element(s.shock_db.begin(), s.shock_db.end()), 20.0);
        const std::string id = std::to_string(s.id);
        ASSERT_EQ(tool("export " + id + " --out " + shell_quote(out.path())).status, 0);
        const Csv c = read_csv(exported(out.path(), s.id, "-shock.csv"));
        EXPECT_EQ(c.header,
                  s.shock_spectrum ? "frequency (Hz),shock pulse level (dB)" : "time (s),shock pulse level (dB)");
        EXPECT_EQ(meta(c, "unit"), "dB");
        EXPECT_EQ(meta(c, "quantity"), "shock pulse level");
        expect_near_all(c.x, s.shock_x, "x");
        expect_near_all(c.v, s.shock_db, "dB values");
        // The main record stays in its own unit.
        EXPECT_EQ(meta(read_csv(exported(out.path(), s.id, "-main.csv")), "unit"), "mm/s");

        ASSERT_EQ(tool("export " + id + " --format uff --out " + shell_quote(out.path())).status, 0);
        const std::vector<Dataset58> d = read_uff(exported(out.path(), s.id, ".uff"));
        ASSERT_EQ(d.size(), 2u);
        const Dataset58& shock = d[1];
        EXPECT_NE(shock.ordinate_type, 12) << "not an acceleration";
        EXPECT_EQ(shock.ordinate_label, "shock pulse level");
        EXPECT_EQ(shock.ordinate_unit, "dB");
        expect_near_all(shock.values, s.shock_db, "UFF dB values");

        ASSERT_EQ(tool("export " + id + " --format json --out " + shell_quote(out.path())).status, 0);
        const std::string json = text_of(exported(out.path(), s.id, ".json"));
        EXPECT_NE(json.find("\"quantity\": \"shock pulse level\",\n      \"unit\": \"dB\""), std::string::npos)
            << json.substr(0, 2000);
        EXPECT_EQ(json.find("m/s²"), std::string::npos);
    }
}

// The PNG is the picture of the archive browser's viewer, enlarged: below
// the title bar it equals the runner's screenshot of the same measurement
// opened in the browser (Right goes from the current object to its
// measurement, Right again opens it), pixel for pixel, the stored
// shock-pulse plot included; the title bar's clock shows the measurement's
// time, and the battery is drawn as the instrument draws it.
TEST_F(ToolExport, PicturesAreTheViewersOwnEnlarged)
{
    save(
        "wait 1500; right; enter; wait 300; up; shift+up; enter; wait 3000; shift+enter; wait 500; enter; wait 200; "
        "esc; wait 200");
    const std::string view = data.file("view.png");
    const RunResult r =
        run_runner({"--data", data.path(), "--clock", CLOCK, "--seed", "1", "--keys",
                    "wait 1500; down; right; enter; wait 500; right; wait 300; right; wait 500; shot " + view});
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<u16> want = load_screenshot(view);
    ASSERT_EQ(want.size(), static_cast<size_t>(LCD_PIXELS));
    const std::vector<Shown> shown = shown_records();
    ASSERT_EQ(shown.size(), 1u);
    ASSERT_FALSE(shown[0].shock_db.empty());
    const std::string id = std::to_string(shown[0].id);
    constexpr int TITLE_ROWS = 20;
    images_unpack_all();
    for (const int scale : {2, 3}) {
        SCOPED_TRACE(scale);
        TempDir pictures;
        const RunResult e = tool("export " + id + " --format png --scale " + std::to_string(scale) + " --out " +
                                 shell_quote(pictures.path()));
        ASSERT_EQ(e.status, 0) << e.output;
        int w = 0, h = 0;
        std::vector<u8> rgb;
        ASSERT_TRUE(
            picture_decode_png(read_file_bytes(exported(pictures.path(), shown[0].id, ".png")), &w, &h, &rgb, nullptr));
        ASSERT_EQ(w, LCD_WIDTH * scale);
        ASSERT_EQ(h, LCD_HEIGHT * scale);
        std::vector<u16> lcd(LCD_PIXELS);  // the picture at the LCD's size
        int differ = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t i = 3 * (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x));
                const u16 px = static_cast<u16>(((rgb[i] >> 3) << 11) | ((rgb[i + 1] >> 2) << 5) | (rgb[i + 2] >> 3));
                const size_t at = static_cast<size_t>(y / scale) * LCD_WIDTH + static_cast<size_t>(x / scale);
                lcd[at] = px;
                if (y >= TITLE_ROWS * scale) differ += px != want[at];
            }
        EXPECT_EQ(differ, 0);
        char time[16];
        std::snprintf(time, sizeof time, "%02u:%02u:%02u", shown[0].header.hour, shown[0].header.minute,
                      shown[0].header.second);
        EXPECT_TRUE(region_has_text(lcd, LCD_WIDTH - 81, 7, time, 3, TF_HCENTER, COLOR_BLUE, COLOR_BACKGROUND)) << time;
        EXPECT_TRUE(region_is_image(lcd, LCD_WIDTH - 37, 3, image_set[IMG_BATTERY_0 + 3]));
    }
}

TEST_F(ToolExport, TablesCarryTheirPointAndDirectionLabels)
{
    u32 table = 0, reading = 0;
    {
        MountedFlash image;
        data_dir_set(data.path());
        archive_state = ARCHIVE_MOUNTED;
        ASSERT_NE(obj_after_mount(), OBJ_FAILED);
        RmsTableRecord t{};
        t.valid = 1;
        t.format = RECORD_FORMAT;
        t.values[2][1][Q_V] = 3.25f;  // point 3, transverse
        t.values[2][1][Q_A] = 1.5f;
        t.temperature[2][1] = 41.0f;
        t.values[13][2][Q_D] = 12.0f;  // point 14, axial
        t.filled[2] = 1 << 1;
        t.filled[13] = 1 << 2;
        t.filled_count = 2;
        rms_table_seal(&t);
        table = meas_save(MEAS_KIND_RMS_TABLE, 0, &t, sizeof t, nullptr, 0, nullptr, 0, true);
        RmsTableRecord v{};
        v.valid = 1;
        v.values[0][0][Q_V] = 4.5f;
        rms_table_seal(&v);
        reading = meas_save(MEAS_KIND_VIBROMETER, 0, &v, sizeof v, nullptr, 0, nullptr, 0, true);
        ASSERT_NE(table, 0u);
        ASSERT_NE(reading, 0u);
        ASSERT_TRUE(image.fill_chip());
        std::filesystem::copy_file(image.folder + "/flash.dat", data.file("flash.dat"));
        data_dir_set("");
    }
    const RunResult r =
        tool("export " + std::to_string(table) + " " + std::to_string(reading) + " --out " + shell_quote(out.path()));
    ASSERT_EQ(r.status, 0) << r.output;
    const Csv tc = read_csv(exported(out.path(), table, ".csv"));
    EXPECT_EQ(meta(tc, "kind"), "RMS table");
    EXPECT_EQ(meta(tc, "unit"), "m/s², mm/s, µm, °C");
    const std::vector<std::string> t = lines_of(exported(out.path(), table, ".csv"));
    ASSERT_GE(t.size(), 3u);
    EXPECT_EQ(t[t.size() - 3],
              "point,direction,acceleration peak (m/s²),velocity RMS (mm/s),displacement peak-to-peak (µm),"
              "temperature (°C)");
    EXPECT_EQ(t[t.size() - 2], "3,П,1.5,3.25,0,41");
    EXPECT_EQ(t.back(), "14,О,0,0,12,0");
    const std::vector<std::string> v = lines_of(exported(out.path(), reading, ".csv"));
    ASSERT_GE(v.size(), 2u);
    EXPECT_EQ(v.back(), "1,В,0,4.5,0,0");
    EXPECT_EQ(meta(read_csv(exported(out.path(), reading, ".csv")), "kind"), "vibrometer");

    ASSERT_EQ(tool("export " + std::to_string(table) + " --format json --out " + shell_quote(out.path())).status, 0);
    const std::string json = text_of(exported(out.path(), table, ".json"));
    for (const char* part : {"\"kind\": \"RMS table\"", "\"point\": 3,", "\"direction\": \"П\"",
                             "\"velocity_rms_mm_s\": 3.25", "\"point\": 14,", "\"displacement_pp_um\": 12"})
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;

    // A format that has nothing of a reading is an error, saying which
    // format serves; nothing is written.
    const struct {
        const char* format;
        const char* says;
    } nothing[] = {
        {"uff", "holds values, not a signal, so UFF has nothing of it; use --format csv or json"},
        {"wav", "has no voice note, so WAV has nothing of it"},
    };
    for (const auto& c : nothing) {
        SCOPED_TRACE(c.format);
        TempDir empty;
        const RunResult e =
            tool("export " + std::to_string(reading) + " --format " + c.format + " --out " + shell_quote(empty.path()));
        EXPECT_EQ(e.status, 2);
        EXPECT_NE(e.output.find("measurement " + std::to_string(reading) + ": "), std::string::npos) << e.output;
        EXPECT_NE(e.output.find(c.says), std::string::npos) << e.output;
        EXPECT_TRUE(std::filesystem::is_empty(empty.path()));
    }
}

TEST_F(ToolExport, BadRequestsWriteNothingAndDamagedRecordsAreNamed)
{
    save(SAVE_SPECTRUM);
    const std::vector<Shown> shown = shown_records();
    ASSERT_EQ(shown.size(), 1u);
    const std::string id = std::to_string(shown[0].id);
    const std::string to = " --out " + shell_quote(out.path());
    const struct {
        std::string args;
        const char* says;
    } cases[] = {
        {"export" + to, "give the ids of measurements, or --all"},
        {"export 99999" + to, "99999 is not a measurement of the archive"},
        {"export 64" + to, "64 is not a measurement of the archive"},  // the object
        {"export " + id + " --format xls" + to, "unknown format xls"},
        {"export " + id + " --out /proc/version/x", "cannot make this folder"},
        {"export abc" + to, "abc is neither an id nor an option"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = tool(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        EXPECT_TRUE(std::filesystem::is_empty(out.path()));
    }
    // A damaged record: named, left out, the status says so.
    {
        FlashFile flash(data.file("flash.dat"));
        const u64 at = nand_file_offset(shown[0].id, 200);
        flash.write_byte(at, static_cast<u8>(~flash.byte_at(at)));
    }
    const RunResult r = tool("export --all" + to);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("measurement " + id + ": the spectra record's checksums do not match; not exported"),
              std::string::npos)
        << r.output;
}

// UFF holds ASCII only: object names and units are transliterated there,
// while JSON keeps the names as they are; the marker channel is in volts,
// as its plot shows it.
TEST_F(ToolExport, UffTextIsAsciiAndJsonKeepsTheNames)
{
    const struct {
        const char* name;
        const char* stored;  // as the archive keeps it
        const char* ascii;
    } cases[] = {
        {"Щётка №5 «Ёж»", "Щётка №5 «Ёж»"_cp, "Shchyotka No5 <<Yozh>>"},
        {"Вентилятор ВГ-2", "Вентилятор ВГ-2"_cp, "Ventilyator VG-2"},
        {"Їжак Ґанок", "Їжак Ґанок"_cp, "Yizhak Ganok"},
        {"Pump 7", "Pump 7", "Pump 7"},
    };
    std::vector<u32> ids;
    {
        MountedFlash image;
        data_dir_set(data.path());
        archive_state = ARCHIVE_MOUNTED;
        for (const auto& c : cases) {
            const u32 object = obj_create(c.stored);
            ASSERT_NE(object, 0u) << c.name;
            settings_set_current_object(object);
            // An acceleration signal with the marker channel.
            constexpr u32 N = 512;
            std::vector<i32> samples(2 * N);
            for (u32 i = 0; i < 2 * N; ++i) samples[i] = static_cast<i32>(i % 100) - 50;
            SpectraRecord r{};
            r.type = REC_ACQUIRED;
            r.format = RECORD_FORMAT;
            r.kind = MEAS_KIND_SIGNAL;
            r.quantity = Q_A;
            for (const u32 slot : {1u, 0u}) {
                SpectraSlot& s = r.slot[slot];
                s.type = REC_ACQUIRED;
                s.kind = KIND_W;
                s.quantity = slot == 1 ? Q_A : Q_N;
                s.count = N;
                s.dx = 0.001f;
                s.x_last = (N - 1) * 0.001f;
                s.scale = 0.5f;
                s.peak = 50;
                s.data_offset = slot == 1 ? 0 : N;
                s.data_bytes = N * sizeof(i32);
            }
            spectra_record_seal(&r, samples.data(), 2 * N * sizeof(i32));
            ids.push_back(
                meas_save(MEAS_KIND_SIGNAL, 0, &r, sizeof r, samples.data(), 2 * N * sizeof(i32), nullptr, 0, true));
            ASSERT_NE(ids.back(), 0u);
        }
        ASSERT_TRUE(image.fill_chip());
        std::filesystem::copy_file(image.folder + "/flash.dat", data.file("flash.dat"));
        data_dir_set("");
    }
    const std::string to = " --out " + shell_quote(out.path());
    ASSERT_EQ(tool("export --all --format uff" + to).status, 0);
    ASSERT_EQ(tool("export --all --format json" + to).status, 0);
    ASSERT_EQ(tool("export --all" + to).status, 0);
    for (size_t k = 0; k < ids.size(); ++k) {
        SCOPED_TRACE(cases[k].name);
        const std::string uff = exported(out.path(), ids[k], ".uff");
        EXPECT_TRUE(all_ascii(text_of(uff)));
        const std::vector<Dataset58> d = read_uff(uff);
        ASSERT_EQ(d.size(), 2u);
        for (const Dataset58& set : d) EXPECT_EQ(set.id1, cases[k].ascii);
        EXPECT_EQ(d[0].ordinate_unit, "m/s^2");
        EXPECT_EQ(d[0].ordinate_type, 12);
        EXPECT_EQ(d[1].ordinate_label, "marker signal");
        EXPECT_EQ(d[1].ordinate_unit, "V");
        const std::string json = text_of(exported(out.path(), ids[k], ".json"));
        EXPECT_NE(json.find("\"object\": \"" + std::string(cases[k].name) + "\""), std::string::npos)
            << json.substr(0, 400);
        EXPECT_NE(json.find("\"unit\": \"m/s²\""), std::string::npos);
        const Csv marker = read_csv(exported(out.path(), ids[k], "-marker.csv"));
        EXPECT_EQ(marker.header, "time (s),marker signal (V)");
        EXPECT_EQ(meta(marker, "object"), cases[k].name);
        ASSERT_EQ(marker.v.size(), 512u);
        EXPECT_EQ(marker.v[3], (512 + 3) % 100 * 0.5 - 25);
    }
}

// Two fresh archives number their files alike (the first measurement is
// 65 in both): exported into one folder, each measurement gets a file of
// its own, named by object, number, date-time and id; a file already there
// is never replaced unless --force is given.
TEST_F(ToolExport, ArchivesExportedIntoOneFolderNeverReplaceEachOther)
{
    TempDir other, twin;
    save(SAVE_SPECTRUM);
    for (const auto& [folder, clock] :
         {std::pair{other.path(), "2026-12-11T08:30:00"}, std::pair{twin.path(), CLOCK}}) {
        const RunResult r = run_runner({"--data", folder, "--clock", clock, "--seed", "2", "--keys", SAVE_SPECTRUM});
        ASSERT_EQ(r.status, 0) << r.output;
    }
    const std::vector<Shown> shown = shown_records();
    ASSERT_EQ(shown.size(), 1u);
    const std::string to = " --out " + shell_quote(out.path());

    ASSERT_EQ(tool("export --all" + to).status, 0);
    const RunResult second = run_archive_tool(other.path(), "export --all" + to);
    ASSERT_EQ(second.status, 0) << second.output;
    const std::vector<std::string> names = files_in(out.path());
    ASSERT_EQ(names.size(), 2u);
    // Object, number, date and time of the measurement, its id.
    EXPECT_EQ(names[0], "Объект_001_2026-12-10_" + std::string(names[0].substr(names[0].size() - 13, 6)) + "_" +
                            std::to_string(shown[0].id) + ".csv");
    EXPECT_EQ(names[1].rfind("Объект_001_2026-12-11_08300", 0), 0u) << names[1];
    EXPECT_NE(text_of(out.file(names[0])), text_of(out.file(names[1])));

    // The same names again: refused, named, nothing replaced.
    const std::string before = text_of(out.file(names[0]));
    const u64 written = last_written_ns(out.file(names[0]));
    for (const std::string& folder : {data.path(), twin.path()}) {
        SCOPED_TRACE(folder);
        const RunResult again = run_archive_tool(folder, "export --all" + to);
        EXPECT_EQ(again.status, 2);
        EXPECT_NE(again.output.find(names[0] + ": exists already; measurement " + std::to_string(shown[0].id) +
                                    " not exported (--force replaces it)"),
                  std::string::npos)
            << again.output;
        EXPECT_EQ(text_of(out.file(names[0])), before);
        EXPECT_EQ(last_written_ns(out.file(names[0])), written);
        EXPECT_EQ(files_in(out.path()), names);
    }
    // --force replaces it.
    const RunResult forced = run_archive_tool(twin.path(), "export --all --force" + to);
    EXPECT_EQ(forced.status, 0) << forced.output;
    EXPECT_NE(last_written_ns(out.file(names[0])), written);
    EXPECT_EQ(files_in(out.path()), names);
}

// A voice note recorded in the saved dialog: ls and the JSON labels show a
// note sign, not the letter that its byte is in Windows-1251, and the note
// itself comes out as a WAV file whose samples are those the dialog stored
// (the low 16 bits of the measurement's id).
TEST_F(ToolExport, VoiceNotesAreMarkedAndComeOutAsWav)
{
    save(
        "wait 1500; right; enter; wait 300; up; enter; wait 3000; shift+enter; wait 500; down; wait 500; down; "
        "wait 500; enter; wait 200; esc; wait 200");
    const std::vector<Shown> shown = shown_records();
    ASSERT_EQ(shown.size(), 1u);
    ASSERT_NE(shown[0].header.note_length, 0u);
    const u32 id = shown[0].id;
    const std::string ids = std::to_string(id);
    for (const char* args : {"ls", "ls --json"}) {
        SCOPED_TRACE(args);
        const RunResult r = tool(args);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find(".26♪"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("І"), std::string::npos) << r.output;
    }
    ASSERT_EQ(tool("export " + ids + " --format json --out " + shell_quote(out.path())).status, 0);
    const std::string json = text_of(exported(out.path(), id, ".json"));
    EXPECT_NE(json.find(".26♪\""), std::string::npos) << json.substr(0, 600);
    EXPECT_NE(json.find("\"voice_note\": true"), std::string::npos);
    EXPECT_EQ(json.find("І"), std::string::npos);

    const RunResult r = tool("export " + ids + " --format wav --out " + shell_quote(out.path()));
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<u8> wav = read_file_bytes(exported(out.path(), id, ".wav"));
    ASSERT_EQ(wav.size(), shown[0].header.note_length);
    const auto u32_at = [&](size_t at) {
        return static_cast<u32>(wav[at] | wav[at + 1] << 8 | wav[at + 2] << 16 | static_cast<u32>(wav[at + 3]) << 24);
    };
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 12), "WAVE");
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
    EXPECT_EQ(u32_at(4), wav.size() - 8);
    EXPECT_EQ(u32_at(40), wav.size() - 44);
    EXPECT_EQ(wav[22], 1);   // mono
    EXPECT_EQ(wav[34], 16);  // 16-bit samples
    for (size_t at = 44; at + 1 < wav.size(); at += 2)
        ASSERT_EQ(static_cast<u16>(wav[at] | wav[at + 1] << 8), static_cast<u16>(id & 0xFFFF)) << "byte " << at;
}

}  // namespace
