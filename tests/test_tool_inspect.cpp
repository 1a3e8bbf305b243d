// The archive tool's inspecting commands (info, ls, verify) on archives made
// by the instrument's code, run as the program: what they list, the damage
// verify names on images damaged in known ways, and that none of them
// changes a byte of the image.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "base/cp1251.h"
#include "host/instance.h"
#include "host/session.h"
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
        std::vector<i32> data(SPECTRUM_VALUES);
        for (u32 i = 0; i < SPECTRUM_VALUES; ++i) data[i] = static_cast<i32>(i * 37);
        spectra_record_seal(&s, data.data(), SPECTRUM_VALUES * sizeof(i32));
        spectrum = meas_save(MEAS_KIND_SPECTRUM, 0, &s, sizeof s, data.data(), SPECTRUM_VALUES * sizeof(i32), nullptr,
                             0, true);
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

}  // namespace
