// The archive tool's inspecting commands (info, ls, verify) on archives made
// by the instrument's code, run as the program: what they list, the damage
// verify names on images damaged in known ways, and that none of them
// changes a byte of the image.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "base/cp1251.h"
#include "front/common/instance.h"
#include "host/device.h"
#include "host/session.h"
#include "screens/spectra.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tests/support/flash_image.h"
#include "tests/support/support.h"
#include "tools/archive/tool.h"

namespace {

constexpr u32 SPECTRUM_VALUES = 1600;  // 6400 bytes of data: a file of four pages
constexpr u32 HEADER_PARENT_AT = 12;   // byte of a page's spare header: the page before it

class ToolInspect : public ::testing::Test {
protected:
    VirtualHostScope scope;
    MountedFlash image;
    u32 pump = 0, fan = 0;
    u32 vibrometer = 0, spectrum = 0, route = 0;

    void SetUp() override
    {
        archive_state = ARCHIVE_MOUNTED;
        pump = obj_create("Насос"_cp);
        fan = obj_create("Вентилятор"_cp);
        ASSERT_NE(pump, 0u);
        ASSERT_NE(fan, 0u);
        settings_set_current_object(pump);
        RmsTableRecord r{};
        r.valid = 1;
        r.format = RECORD_FORMAT;
        r.values[0][0][1] = 4.5f;
        r.filled[0] = 1;
        r.filled_count = 1;
        rms_table_seal(&r);
        vibrometer = meas_save(MEAS_KIND_VIBROMETER, 0, &r, sizeof r, nullptr, 0, nullptr, 0, true);
        settings_set_current_object(fan);
        spectrum = save_spectrum([](SpectraRecord&) {});
        route = route_make_test();
        ASSERT_NE(vibrometer, 0u);
        ASSERT_NE(spectrum, 0u);
        ASSERT_NE(route, 0u);
        // A point of the route measured by the spectrum: the route is the
        // fan's (a route's measurements are those of the object named
        // after it).
        ASSERT_EQ(route_load(route, &route_current), route);
        std::strcpy(route_current.header.name, "Вентилятор"_cp);
        std::strcpy(route_current.items[0].name, "Вентилятор"_cp);
        ASSERT_EQ(route_save(route, &route_current), route);
        ASSERT_TRUE(route_set_measurement(3, spectrum));
        // The image at its full size, as the instrument's file is.
        ASSERT_TRUE(image.fill_chip());
    }

    RunResult tool(const std::string& args) const { return run_archive_tool(image.folder, args); }

    // A spectrum record as the spectra screen saves it (the main slot and
    // its data), changed by `change`, sealed and saved into the current
    // object.
    std::vector<i32> data = std::vector<i32>(SPECTRUM_VALUES);
    SpectraRecord record(const std::function<void(SpectraRecord&)>& change)
    {
        SpectraRecord s{};
        s.type = REC_ACQUIRED;
        s.format = RECORD_FORMAT;
        s.kind = MEAS_KIND_SPECTRUM;
        s.quantity = Q_V;
        s.slot[1].type = REC_ACQUIRED;
        s.slot[1].kind = KIND_S;
        s.slot[1].quantity = Q_V;
        s.slot[1].count = SPECTRUM_VALUES / 2;
        s.slot[1].dx = 1.0f;
        s.slot[1].data_bytes = SPECTRUM_VALUES * sizeof(i32);
        for (u32 i = 0; i < SPECTRUM_VALUES; ++i) data[i] = static_cast<i32>(i * 37);
        change(s);
        spectra_record_seal(&s, data.data(), SPECTRUM_VALUES * sizeof(i32));
        return s;
    }
    u32 save_spectrum(const std::function<void(SpectraRecord&)>& change)
    {
        SpectraRecord s = record(change);
        return meas_save(MEAS_KIND_SPECTRUM, 0, &s, sizeof s, data.data(), SPECTRUM_VALUES * sizeof(i32), nullptr, 0,
                         true);
    }

    // Raw bytes into the image (no NAND rules); undo() puts back what was
    // there.
    void patch(u32 page, u32 column, const std::vector<u8>& bytes)
    {
        const u64 at = nand_file_offset(page, column);
        patched.push_back({at, image.flash->read(at, bytes.size())});
        image.flash->write(at, bytes);
    }
    // One byte inverted.
    void flip(u32 page, u32 column)
    {
        const u8 was = image.flash->read(nand_file_offset(page, column), 1).at(0);
        patch(page, column, {static_cast<u8>(~was)});
    }
    void undo()
    {
        for (auto it = patched.rbegin(); it != patched.rend(); ++it) image.flash->write(it->first, it->second);
        patched.clear();
    }
    std::vector<std::pair<u64, std::vector<u8>>> patched;
    u64 last_written() const { return last_written_ns(image.folder + "/flash.dat"); }
};

TEST_F(ToolInspect, LsShowsTheBrowsersTreeAndTheRoutesWithIds)
{
    const RunResult r = tool("ls");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string& o = r.output;
    // Objects in name order, each with its measurements and their labels.
    const size_t fan_at = o.find("[" + std::to_string(fan) + "] Вентилятор");
    const size_t pump_at = o.find("[" + std::to_string(pump) + "] Насос");
    ASSERT_NE(fan_at, std::string::npos) << o;
    ASSERT_NE(pump_at, std::string::npos) << o;
    EXPECT_LT(fan_at, pump_at);
    const size_t spectrum_at = o.find("[" + std::to_string(spectrum) + "] spectrum: Спктр #001");
    const size_t vibro_at = o.find("[" + std::to_string(vibrometer) + "] vibrometer:");
    EXPECT_TRUE(spectrum_at > fan_at && spectrum_at < pump_at) << o;
    EXPECT_GT(vibro_at, pump_at) << o;
    // The route with its items, the measured point with its measurement.
    EXPECT_NE(o.find("route [" + std::to_string(route) + "] Вентилятор"), std::string::npos) << o;
    EXPECT_NE(o.find("[3] point: 1В #001"), std::string::npos) << o;
    EXPECT_NE(o.find("(measured: " + std::to_string(spectrum) + ")"), std::string::npos) << o;
    EXPECT_NE(o.find("[4] point: 1П (to measure)"), std::string::npos) << o;

    const RunResult j = tool("ls --json");
    ASSERT_EQ(j.status, 0) << j.output;
    EXPECT_NE(j.output.find("\"name\": \"Вентилятор\""), std::string::npos) << j.output;
    EXPECT_NE(j.output.find("\"id\": " + std::to_string(spectrum) + ",\n"), std::string::npos) << j.output;
    EXPECT_NE(j.output.find("\"kind\": \"vibrometer\""), std::string::npos) << j.output;
    EXPECT_NE(j.output.find("\"measurement\": " + std::to_string(spectrum)), std::string::npos) << j.output;
}

TEST_F(ToolInspect, InfoCountsWhatTheArchiveHolds)
{
    fs_count_pages();
    const u32 in_use = fs_state.used + fs_state.chained;
    const RunResult r = tool("info");
    ASSERT_EQ(r.status, 0) << r.output;
    for (const std::string& line :
         {std::string("objects: 2\n"), std::string("measurements: 2\n"), std::string("  vibrometer: 1\n"),
          std::string("  spectrum: 1\n"), std::string("routes: 1\n"), std::string("voice notes: 0\n"),
          std::string("bad blocks: 0\n"), std::string("free space: 100%"),
          "pages in use: " + std::to_string(in_use) + " of 131008"})
        EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
}

TEST_F(ToolInspect, VerifyNamesEachKnownDamageAndChangesNothing)
{
    const u32 status = nand_info.status_column;
    struct Case {
        const char* what;
        std::function<void()> damage;
        int status;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"clean", [] {}, 0, "0 problems, clean"},
        {"measurement header", [&] { flip(vibrometer, 10); }, 1,
         "measurement " + std::to_string(vibrometer) + ": its header does not read"},
        {"table record", [&] { flip(vibrometer, 130); }, 1,
         "measurement " + std::to_string(vibrometer) + ": the table record's checksum"},
        {"spectra data", [&] { flip(spectrum + 2, 100); }, 1,
         "measurement " + std::to_string(spectrum) + ": the spectra record's checksums"},
        {"chain",
         [&] {
             patch(spectrum + 1, status + HEADER_PARENT_AT, {0x00, 0x00});
         },
         1, "file " + std::to_string(spectrum) + ": its chain of pages is broken"},
        {"route", [&] { flip(route, 10); }, 1, "route " + std::to_string(route) + ": does not load"},
        {"orphan", [&] { patch(fan, status, {PAGE_DELETED}); }, 1,
         "measurement " + std::to_string(spectrum) + ": its object " + std::to_string(fan) +
             " is not in the archive (orphan)"},
        // Counted as deleted by the mount: nothing is lost.
        {"page state", [&] { patch(2000, status, {0x55}); }, 0,
         "note: 1 pages with a state the file system does not know in their spare area, counted as deleted (the "
         "first: page 2000)"},
        {"unreachable pages only",
         [&] {
             // The spectrum's head deleted alone, as a delete cut short
             // leaves it: its body pages are what the next start frees.
             patch(spectrum, status, {PAGE_DELETED});
         },
         0, "note: 3 pages that no file reaches"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        undo();
        c.damage();
        const u64 before = last_written();
        const RunResult r = tool("verify");
        EXPECT_EQ(r.status, c.status) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        // Reading commands leave the image as it was, repairs included.
        EXPECT_EQ(tool("ls").status, 0);
        EXPECT_EQ(tool("info").status, 0);
        EXPECT_EQ(last_written(), before) << "the image was written to";
    }
}

// Records that the instrument's viewer refuses ("Ошибка в файле замера !")
// or has nothing to show of, though their checksums match: verify names
// each as damage, export leaves each out with its reason (status 1) and
// writes the sound measurements only, and the viewer's loader refuses the
// same records.
TEST_F(ToolInspect, RecordsTheViewerRefusesAreDamageForVerifyAndExport)
{
    const struct {
        const char* what;
        std::function<void(SpectraRecord&)> change;
        const char* says;
    } cases[] = {
        {"slot offset past the data", [](SpectraRecord& r) { r.slot[1].data_offset = SPECTRUM_VALUES; },
         "lies outside the record's data"},
        {"slot length past the data", [](SpectraRecord& r) { r.slot[1].data_bytes += 4; },
         "lies outside the record's data"},
        {"count of all ones", [](SpectraRecord& r) { r.slot[1].count = 0xFFFFFFFFu; },
         "lies outside the record's data"},
        {"x step -1e30", [](SpectraRecord& r) { r.slot[1].dx = -1e30f; }, "x axis (x0, dx) or scale"},
        {"unknown kind", [](SpectraRecord& r) { r.kind = 7; }, "kind or quantity is unknown"},
        {"unknown format", [](SpectraRecord& r) { r.format = 3; }, "format word is unknown"},
        {"no main record", [](SpectraRecord& r) { r.slot[1].quantity = Q_N; }, "holds no main record"},
    };
    image.remount();
    archive_state = ARCHIVE_MOUNTED;
    settings_set_current_object(pump);
    std::vector<u32> ids;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ids.push_back(save_spectrum(c.change));
        ASSERT_NE(ids.back(), 0u);
        // The viewer's own loader refuses it (its error box closed by the
        // power-off request).
        SpectraRecord r = record(c.change);
        power_off_flag = 1;
        EXPECT_EQ(spectra_load(&r, data.data(), SPECTRUM_VALUES * sizeof(i32)), 0);
        power_off_flag = 0;
    }
    ASSERT_TRUE(image.fill_chip());

    const RunResult v = tool("verify");
    EXPECT_EQ(v.status, 1) << v.output;
    EXPECT_NE(v.output.find(std::to_string(std::size(cases)) + " problems"), std::string::npos) << v.output;
    TempDir out;
    const RunResult e = tool("export --all --out " + shell_quote(out.path()));
    EXPECT_EQ(e.status, 1) << e.output;
    for (size_t k = 0; k < ids.size(); ++k) {
        SCOPED_TRACE(cases[k].what);
        const std::string id = "measurement " + std::to_string(ids[k]) + ": ";
        const size_t at = v.output.find("damage: " + id);
        ASSERT_NE(at, std::string::npos) << v.output;
        EXPECT_NE(v.output.substr(at, v.output.find('\n', at) - at).find(cases[k].says), std::string::npos) << v.output;
        const size_t left = e.output.find("tarvik2-archive: " + id);
        ASSERT_NE(left, std::string::npos) << e.output;
        const std::string line = e.output.substr(left, e.output.find('\n', left) - left);
        EXPECT_NE(line.find(cases[k].says), std::string::npos) << line;
        EXPECT_NE(line.find("not exported"), std::string::npos) << line;
    }
    // The sound measurements are written, nothing else (no nan or -inf).
    std::vector<std::string> written;
    for (const auto& f : std::filesystem::directory_iterator(out.path())) written.push_back(f.path().filename());
    EXPECT_EQ(written.size(), 2u);
    for (const std::string& f : written)
        EXPECT_TRUE(f.find("_" + std::to_string(spectrum) + ".csv") != std::string::npos ||
                    f.find("_" + std::to_string(vibrometer) + ".csv") != std::string::npos)
            << f;
}

// The amplitude line of an exported spectrum says how its lines were
// averaged, as the record keeps it (older records do not say).
TEST_F(ToolInspect, ExportedSpectraSayTheirAveraging)
{
    const struct {
        u32 averaging, averaged;
        const char* says;
    } cases[] = {
        {0, 0, "# amplitude: peak amplitude of each line; Hamming window; averaging not recorded\n"},
        {1, 1, "# amplitude: peak amplitude of each line; Hamming window; no averaging\n"},
        {10, 7, "# amplitude: peak amplitude of each line; Hamming window; average of 7 spectra (averaging 10)\n"},
        {999, 23, "# amplitude: peak amplitude of each line; Hamming window; running average of 23 spectra\n"},
    };
    image.remount();
    archive_state = ARCHIVE_MOUNTED;
    settings_set_current_object(pump);
    std::vector<u32> ids;
    for (const auto& c : cases) {
        ids.push_back(save_spectrum([&](SpectraRecord& r) {
            r.averaging = c.averaging;
            r.averaged = c.averaged;
        }));
        ASSERT_NE(ids.back(), 0u);
    }
    ASSERT_TRUE(image.fill_chip());
    for (size_t k = 0; k < ids.size(); ++k) {
        SCOPED_TRACE(cases[k].says);
        TempDir out;
        ASSERT_EQ(tool("export " + std::to_string(ids[k]) + " --out " + shell_quote(out.path())).status, 0);
        for (const auto& f : std::filesystem::directory_iterator(out.path())) {
            const std::vector<u8> bytes = read_file_bytes(f.path().string());
            EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(cases[k].says), std::string::npos);
        }
    }
}

// A measurement whose parent is a file of the archive but not an object (a
// damaged image), which the browser's tree leaves out: ls lists it as an
// orphan, and export --all exports it, named as one.
TEST_F(ToolInspect, OrphansAreListedAndExported)
{
    const struct {
        const char* what;
        u32 parent;
    } cases[] = {{"a route", route}, {"a measurement", vibrometer}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        undo();
        patch(spectrum, nand_info.status_column + HEADER_PARENT_AT,
              {static_cast<u8>(c.parent), static_cast<u8>(c.parent >> 8), static_cast<u8>(c.parent >> 16),
               static_cast<u8>(c.parent >> 24)});
        const RunResult r = tool("ls");
        ASSERT_EQ(r.status, 0) << r.output;
        const size_t orphans = r.output.find("orphans (their object is not in the archive):\n");
        ASSERT_NE(orphans, std::string::npos) << r.output;
        EXPECT_NE(r.output.find("  [" + std::to_string(spectrum) + "] spectrum: Спктр #001 ", orphans),
                  std::string::npos)
            << r.output;
        EXPECT_NE(r.output.find("(object " + std::to_string(c.parent) + ")", orphans), std::string::npos) << r.output;

        const RunResult j = tool("ls --json");
        ASSERT_EQ(j.status, 0) << j.output;
        const size_t in_json = j.output.find("\"orphans\": [");
        ASSERT_NE(in_json, std::string::npos) << j.output;
        EXPECT_NE(j.output.find("\"id\": " + std::to_string(spectrum) + ",", in_json), std::string::npos) << j.output;
        EXPECT_NE(j.output.find("\"object\": " + std::to_string(c.parent), in_json), std::string::npos) << j.output;

        TempDir out;
        const RunResult e = tool("export --all --out " + shell_quote(out.path()));
        EXPECT_EQ(e.status, 0) << e.output;
        bool found = false;
        const std::string tail = "_" + std::to_string(spectrum) + ".csv";
        for (const auto& f : std::filesystem::directory_iterator(out.path())) {
            const std::string name = f.path().filename().string();
            found = found || (name.rfind("orphan_001_", 0) == 0 && name.size() > tail.size() &&
                              name.compare(name.size() - tail.size(), tail.size(), tail) == 0);
        }
        EXPECT_TRUE(found) << e.output;
    }
}

TEST_F(ToolInspect, ImagesThatAreNoImagesAreRefusedWithTheFileNamed)
{
    const std::string path = image.folder + "/flash.dat";
    const struct {
        const char* what;
        u64 size;  // UINT64_MAX: no file
        const char* says;
    } cases[] = {
        {"missing", UINT64_MAX, "flash.dat: cannot open: No such file or directory"},
        {"empty", 0, "flash.dat: 0 bytes, but a flash image of the instrument has 276824064 (cut short?)"},
        {"cut short", 1000000, "flash.dat: 1000000 bytes"},
        {"too long", FLASH_FILE_SIZE + 1, "(not an image of the instrument?)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(path.c_str());
        if (c.size != UINT64_MAX) {
            FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fclose(f);
            ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(c.size)), 0);
        }
        const RunResult r = tool("verify");
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        // Nothing made where there was nothing.
        if (c.size == UINT64_MAX) {
            EXPECT_FALSE(std::filesystem::exists(path));
        }
    }
}

TEST_F(ToolInspect, WritersRefuseWhileAnotherProgramHoldsTheFolderReadersDoNot)
{
    DataDirLock emulator;
    std::string error;
    ASSERT_TRUE(emulator.acquire(image.folder, &error)) << error;
    EXPECT_EQ(tool("ls").status, 0);
    EXPECT_FALSE(tool_open_archive(image.folder + "/flash.dat", ToolAccess::Write, &error));
    EXPECT_NE(error.find("another program"), std::string::npos) << error;
    tool_close_archive();
    emulator.release();
    EXPECT_TRUE(tool_open_archive(image.folder + "/flash.dat", ToolAccess::Write, &error)) << error;
    tool_close_archive();
}

// A power cut between a voice note's pages and the close of the file leaves
// the chain open: its last page is a body page that links nowhere. The
// instrument reads such a measurement (its first close marks the last page);
// the tool reads it as it is, changing nothing, and names the open chain in
// a note.
TEST_F(ToolInspect, AChainLeftOpenByAPowerCutReadsAsTheInstrumentReadsIt)
{
    // The vibrometer reading cut right after its chain grew by a page, the
    // spectrum after the note's samples were written.
    FileHandle h;
    ASSERT_EQ(fs_open(&h, vibrometer, FS_READ | FS_WRITE | FS_GROW), FS_OK);
    ASSERT_EQ(fs_extend(&h, 1), 1u);
    ASSERT_EQ(fs_open(&h, spectrum, FS_READ | FS_WRITE | FS_GROW), FS_OK);
    const u32 pages = h.pages;
    const std::vector<u8> note(3000, 0x5A);
    ASSERT_EQ(fs_write(&h, note.data(), pages * nand_info.page_size, static_cast<u32>(note.size())), note.size());
    ASSERT_EQ(static_cast<u32>(h.pages), pages + 2);
    // No close: the power went.

    const u64 before = last_written();
    const RunResult v = tool("verify");
    EXPECT_EQ(v.status, 0) << v.output;
    EXPECT_NE(v.output.find("0 problems, clean"), std::string::npos) << v.output;
    for (const u32 id : {vibrometer, spectrum})
        EXPECT_NE(v.output.find("note: file " + std::to_string(id) + ": its chain of pages was never closed"),
                  std::string::npos)
            << v.output;
    TempDir out;
    const RunResult e = tool("export --all --format json --out " + shell_quote(out.path()));
    EXPECT_EQ(e.status, 0) << e.output;
    EXPECT_FALSE(exported(out.path(), vibrometer, ".json").empty()) << e.output;
    EXPECT_FALSE(exported(out.path(), spectrum, ".json").empty()) << e.output;
    const RunResult l = tool("ls");
    EXPECT_NE(l.output.find("[" + std::to_string(spectrum) + "] spectrum: Спктр #001"), std::string::npos) << l.output;
    EXPECT_EQ(last_written(), before) << "the image was written to";

    // The instrument at its next start reads both.
    ASSERT_EQ(fs_init(), FS_OK);
    ASSERT_EQ(fs_mount(), FS_OK);
    for (const u32 id : {vibrometer, spectrum}) {
        static u8 s1[SPECTRA_RECORD_SIZE + RMS_TABLE_RECORD_SIZE], s2[MEAS_SPECTRA_DATA_CAPACITY];
        MeasSection one{s1, sizeof s1, 0}, two{s2, sizeof s2, 0};
        u32 kind = 0;
        EXPECT_NE(meas_read(id, &kind, &one, &two, nullptr, true), 0u) << id;
    }
}

// A FIFO, a folder or a device given as the image (or as a route's file) is
// refused at once with one line, never waited on.
TEST_F(ToolInspect, WhatIsNoFileIsRefusedWithoutWaiting)
{
    const std::string path = image.folder + "/flash.dat";
    const std::string route = image.folder + "/route.json";
    const struct {
        const char* what;
        std::function<void()> make;
        const char* says;
    } cases[] = {
        {"FIFO", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, "flash.dat: a FIFO (named pipe), not an image"},
        {"folder", [&] { std::filesystem::create_directory(path); }, "flash.dat: a folder, not an image"},
        {"character device", [&] { std::filesystem::create_symlink("/dev/zero", path); },
         "flash.dat: a character device, not an image"},
    };
    const std::string kept = image.folder + "/kept.dat";
    std::filesystem::rename(path, kept);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(path);
        c.make();
        for (const char* command : {"verify", "ls", "route export 1"}) {
            const RunResult r = tool(command);
            EXPECT_EQ(r.status, 2) << command;
            EXPECT_NE(r.output.find(c.says), std::string::npos) << command << ": " << r.output;
            EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        }
    }
    std::filesystem::remove(path);
    std::filesystem::rename(kept, path);
    ASSERT_EQ(mkfifo(route.c_str(), 0600), 0);
    const RunResult r = tool("route import " + shell_quote(route));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("route.json: a FIFO (named pipe)"), std::string::npos) << r.output;
}

// Names on the image reach the terminal with their control characters
// escaped, in every listing and message; JSON escapes them as JSON does.
TEST_F(ToolInspect, ControlCharactersInNamesNeverReachTheTerminal)
{
    const std::string hostile = "\x1b]2;owned\x07\x1b[2J\x7f";
    const std::string shown = "\\x1b]2;owned\\x07\\x1b[2J\\x7f";
    const u32 object = obj_create(hostile.c_str());
    ASSERT_NE(object, 0u);
    auto buf = std::make_unique<RouteBuffer>();
    ASSERT_EQ(route_load(route, buf.get()), route);
    std::memset(buf->header.name, 0, sizeof buf->header.name);
    std::memcpy(buf->header.name, hostile.data(), hostile.size());
    std::memcpy(buf->items[1].name, hostile.data(), hostile.size() + 1);
    const u32 bad_route = route_save(0, buf.get());
    ASSERT_NE(bad_route, 0u);
    const std::string file = image.folder + "/out.csv";
    const struct {
        std::string command;
        std::string says;
    } cases[] = {
        {"ls", "[" + std::to_string(object) + "] " + shown},
        {"ls", "route [" + std::to_string(bad_route) + "] " + shown},
        {"ls", "[1] group: " + shown},
        {"ls --json", "\"name\": \"\\u001b]2;owned\\u0007\\u001b[2J\\u007f\""},
        // (CSV writes a '\' in a name as "\\".)
        {"route export " + std::to_string(bad_route) + " --format csv", "\\\\x1b]2;owned\\\\x07"},
        {"route export " + std::to_string(bad_route), "\"group\": \"\\u001b]2;owned\\u0007\\u001b[2J\\u007f\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const RunResult r = tool(c.command);
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        for (const char ch : r.output) {
            const unsigned char u = static_cast<unsigned char>(ch);
            EXPECT_TRUE(u == '\n' || (u >= 0x20 && u != 0x7F)) << "a raw control character " << int(u);
        }
    }
    // A name given on the command line is refused the same way.
    const std::string row = "Цех/1В,spectrum,velocity,400,0,1000,1\n";
    write_file_bytes(image.folder + "/r.csv", std::vector<u8>(row.begin(), row.end()));
    const RunResult r = tool("route import " + shell_quote(image.folder + "/r.csv") + " --name " + shell_quote(hostile));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("the route's name: a control character in a name (character 1)"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find('\x1b'), std::string::npos) << r.output;
}

}  // namespace
