// The archive tool's export: measurements made by the instrument's screens
// (through the headless runner) come out with the values of their records;
// the UFF files are read back by a reader of the tests' own; tables carry
// their point and direction labels; bad requests write nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/signal.h"
#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "base/cp1251.h"
#include "gfx/framebuffer.h"
#include "host/picture.h"
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

// x and value columns of an exported CSV (after its header row).
struct Csv {
    std::string header;
    std::vector<double> x, v;
};
Csv read_csv(const std::string& path)
{
    Csv c;
    const std::vector<std::string> lines = lines_of(path);
    if (lines.empty()) return c;
    c.header = lines[0];
    for (size_t i = 1; i < lines.size(); ++i) {
        const size_t comma = lines[i].find(',');
        c.x.push_back(std::strtod(lines[i].substr(0, comma).c_str(), nullptr));
        c.v.push_back(std::strtod(lines[i].substr(comma + 1).c_str(), nullptr));
    }
    return c;
}

// One dataset 58 as a reader of the format takes it: delimiters, the five
// ID lines, records 6 to 11 by their field positions, then the values in
// 13-character fields, six to a line.
struct Dataset58 {
    std::string id1, id3;
    int function_type = -1;
    int data_type = -1;
    long count = -1;
    int spacing = -1;
    double x_min = 0, dx = 0;
    int abscissa_type = -1, ordinate_type = -1;
    std::string ordinate_unit;
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
        d.ordinate_unit = trim(l.at(i + 10).substr(42, 20));
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
    // the spectra screen and the store's own line power.
    struct Shown {
        u32 id;
        bool spectrum;
        std::vector<double> x, v;
    };
    std::vector<Shown> shown_records()
    {
        std::vector<Shown> out;
        FlashFile flash(data.file("flash.dat"));
        EXPECT_EQ(fs_init(), FS_OK);
        EXPECT_EQ(fs_mount(), 1);
        for (u32 i = 0; i < dir_count(); ++i) {
            if (dir_type(static_cast<int>(i)) != FILE_TYPE_SIGNAL) continue;
            static SpectraRecord rec;
            static i32 words[MEAS_SPECTRA_DATA_CAPACITY / 4];
            MeasSection one{&rec, sizeof rec, 0}, two{words, sizeof words, 0};
            const u32 id = dir_id(static_cast<int>(i));
            EXPECT_NE(meas_read(id, nullptr, &one, &two, nullptr, true), 0u);
            EXPECT_EQ(spectra_load(&rec, words, two.length), 1);
            const SignalRecord* r = record_at(1, rec.kind, rec.quantity);
            Shown s{id, rec.kind == KIND_S, {}, {}};
            for (u32 k = 0; k < r->count; ++k) {
                s.x.push_back(x_at(r, k));
                s.v.push_back(s.spectrum ? std::floor(std::sqrt(static_cast<double>(line_power(r, k)))) * r->scale
                                         : r->data[k] * static_cast<double>(r->scale));
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
        const Csv c = read_csv(out.file(id + ".csv"));
        EXPECT_EQ(c.header, s.spectrum ? "frequency (Hz),velocity amplitude (mm/s)" : "time (s),velocity (mm/s)");
        EXPECT_GT(s.v.size(), 100u);
        expect_near_all(c.x, s.x, "x");
        expect_near_all(c.v, s.v, "values");

        // The same values in UFF, by the tests' own reader.
        ASSERT_EQ(tool("export " + id + " --format uff --out " + shell_quote(out.path())).status, 0);
        const std::vector<Dataset58> d = read_uff(out.file(id + ".uff"));
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d[0].id1, "Объект");
        EXPECT_EQ(d[0].id3.substr(0, 9), "10-Dec-26");
        EXPECT_EQ(d[0].function_type, s.spectrum ? 12 : 1);
        EXPECT_EQ(d[0].data_type, 2);
        EXPECT_EQ(d[0].count, static_cast<long>(s.v.size()));
        EXPECT_EQ(d[0].spacing, 1);
        EXPECT_NEAR(d[0].x_min, s.x[0], 1e-6);
        EXPECT_NEAR(d[0].dx, s.x[1] - s.x[0], 1e-5 * (s.x[1] - s.x[0]));
        EXPECT_EQ(d[0].abscissa_type, s.spectrum ? 18 : 17);
        EXPECT_EQ(d[0].ordinate_type, 11);
        EXPECT_EQ(d[0].ordinate_unit, "mm/s");
        expect_near_all(d[0].values, s.v, "UFF values");
    }
    // Everything at once: one UFF file per signal measurement.
    TempDir all;
    const RunResult r = tool("export --all --format uff --out " + shell_quote(all.path()));
    ASSERT_EQ(r.status, 0) << r.output;
    for (const Shown& s : shown) EXPECT_EQ(read_uff(all.file(std::to_string(s.id) + ".uff")).size(), 1u);
}

// The PNG is the picture of the archive browser's viewer, enlarged: below
// the title bar (whose clock differs) it equals the runner's screenshot of
// the same measurement opened in the browser (Right goes from the current
// object to its measurement, Right again opens it), pixel for pixel.
TEST_F(ToolExport, PicturesAreTheViewersOwnEnlarged)
{
    save(SAVE_SPECTRUM);
    const std::string view = data.file("view.png");
    const RunResult r =
        run_runner({"--data", data.path(), "--clock", CLOCK, "--seed", "1", "--keys",
                    "wait 1500; down; right; enter; wait 500; right; wait 300; right; wait 500; shot " + view});
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<u16> want = load_screenshot(view);
    ASSERT_EQ(want.size(), static_cast<size_t>(LCD_PIXELS));
    const std::vector<Shown> shown = shown_records();
    ASSERT_EQ(shown.size(), 1u);
    const std::string id = std::to_string(shown[0].id);
    constexpr int TITLE_ROWS = 20;
    for (const int scale : {2, 3}) {
        SCOPED_TRACE(scale);
        TempDir pictures;
        const RunResult e = tool("export " + id + " --format png --scale " + std::to_string(scale) + " --out " +
                                 shell_quote(pictures.path()));
        ASSERT_EQ(e.status, 0) << e.output;
        int w = 0, h = 0;
        std::vector<u8> rgb;
        ASSERT_TRUE(picture_decode_png(read_file_bytes(pictures.file(id + ".png")), &w, &h, &rgb, nullptr));
        ASSERT_EQ(w, LCD_WIDTH * scale);
        ASSERT_EQ(h, LCD_HEIGHT * scale);
        int differ = 0;
        for (int y = TITLE_ROWS * scale; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t i = 3 * (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x));
                const u16 px = static_cast<u16>(((rgb[i] >> 3) << 11) | ((rgb[i + 1] >> 2) << 5) | (rgb[i + 2] >> 3));
                differ += px != want[static_cast<size_t>(y / scale) * LCD_WIDTH + static_cast<size_t>(x / scale)];
            }
        EXPECT_EQ(differ, 0);
    }
}

TEST_F(ToolExport, TablesCarryTheirPointAndDirectionLabels)
{
    u32 table = 0, reading = 0;
    {
        MountedFlash image;
        data_dir_set(data.path());
        archive_state = ARCHIVE_MOUNTED;
        ASSERT_NE(obj_after_mount(), 0);
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
    const std::vector<std::string> t = lines_of(out.file(std::to_string(table) + ".csv"));
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0],
              "point,direction,acceleration peak (m/s²),velocity RMS (mm/s),displacement peak-to-peak (µm),"
              "temperature (°C)");
    EXPECT_EQ(t[1], "3,П,1.5,3.25,0,41");
    EXPECT_EQ(t[2], "14,О,0,0,12,0");
    const std::vector<std::string> v = lines_of(out.file(std::to_string(reading) + ".csv"));
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[1], "1,В,0,4.5,0,0");

    ASSERT_EQ(tool("export " + std::to_string(table) + " --format json --out " + shell_quote(out.path())).status, 0);
    std::ifstream f(out.file(std::to_string(table) + ".json"));
    std::stringstream json;
    json << f.rdbuf();
    for (const char* part : {"\"kind\": \"RMS table\"", "\"point\": 3,", "\"direction\": \"П\"",
                             "\"velocity_rms_mm_s\": 3.25", "\"point\": 14,", "\"displacement_pp_um\": 12"})
        EXPECT_NE(json.str().find(part), std::string::npos) << part << "\n" << json.str();
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
    EXPECT_NE(r.output.find("measurement " + id + ": its spectra record's checksums do not match"), std::string::npos)
        << r.output;
}

}  // namespace
