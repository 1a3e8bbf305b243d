// Power cuts at every write of each save path. Each operation runs once
// without a cut, then once for every cut point k: the archive as it was
// before, the power gone after k of the operation's writes, then the image
// mounted again as at the next start. Each time the archive must mount;
// every measurement saved before must be there and read back with good
// checksums; the item being saved or changed must be whole or absent (no
// half file, no entry without its file or its object, no page left counted
// as used without a file); the settings block must be the old or the new
// one. The cut points tried per path are printed ("[cut points] ...").
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "base/checksum.h"
#include "base/cp1251.h"
#include "host/device.h"
#include "host/fram.h"
#include "host/session.h"
#include "host/settings.h"
#include "host/sound.h"
#include "screens/saved_dialog.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tests/support/flash_image.h"
#include "tests/support/support.h"

namespace {

constexpr u32 STRIDE = 2112;
constexpr u32 CHIP_PAGES = 131072;
constexpr u32 BLOCK_PAGES = 64;
constexpr u32 SECTION_CAPACITY = 64 * 1024;
constexpr u32 STAMP = 850000000;  // 8 December 2026
// The clock while the base archive is made: 1 December 2026, 12:00 UTC.
constexpr std::time_t BASE_CLOCK = 1796126400;

// The first blocks of the image, where the base archive lies; past them the
// base image is erased.
constexpr u32 BASE_BLOCKS = 8;
constexpr u32 BASE_PAGES = BASE_BLOCKS * BLOCK_PAGES;

// The measuring point of the demonstration route that the base archive has
// measured.
constexpr int ROUTE_POINT = 3;

// Pages the flash wrote since the image was last put back. Past the base
// archive a write of erased bytes (the erase of the clearing) leaves the
// page as it was, so only other writes count there.
std::vector<bool> g_touched(CHIP_PAGES);

void note_write(u32 page, u32, const void* bytes, u32 length)
{
    if (page >= CHIP_PAGES) return;
    const u8* b = static_cast<const u8*>(bytes);
    if (page < BASE_PAGES || !std::all_of(b, b + length, [](u8 x) { return x == 0xFF; })) g_touched[page] = true;
}

RmsTableRecord table_record(float velocity)
{
    RmsTableRecord r;
    std::memset(&r, 0, sizeof r);
    r.valid = 1;
    r.format = RECORD_FORMAT;
    r.stamp = STAMP;
    r.group = RMS_TABLE_GROUP;
    r.values[0][0][1] = velocity;
    r.temperature[0][0] = 40.5f;
    r.filled[0] = 1;
    r.filled_count = 1;
    rms_table_seal(&r);
    return r;
}

// A spectra record with its section 2 of `values` samples in slot 1.
struct SpectraPayload {
    SpectraRecord record;
    std::vector<i32> data;
};

SpectraPayload spectra_payload(u32 kind, u32 values, u32 seed)
{
    SpectraPayload p;
    std::memset(&p.record, 0, sizeof p.record);
    p.data.resize(values);
    for (u32 i = 0; i < values; ++i) p.data[i] = static_cast<i32>(seed * 7919u + i * 104729u);
    SpectraRecord& r = p.record;
    r.type = REC_ACQUIRED;
    r.format = RECORD_FORMAT;
    r.stamp = STAMP;
    r.kind = kind;
    r.quantity = Q_V;
    r.slot[1].type = REC_ACQUIRED;
    r.slot[1].kind = kind;
    r.slot[1].quantity = Q_V;
    r.slot[1].count = values;
    r.slot[1].dx = 1.0f;
    r.slot[1].data_bytes = values * sizeof(i32);
    spectra_record_seal(&r, p.data.data(), values * sizeof(i32));
    return p;
}

// One measurement as it reads back.
struct Stored {
    u32 parent = 0;
    u32 kind = 0;
    std::vector<u8> s1, s2;
    bool note = false;
    bool operator==(const Stored&) const = default;
};

// Reads measurement `id` with its checks: the sections, the record's own
// checksums and, when the header names one, the whole voice note. Empty
// string when it reads; else what is wrong.
std::string read_measurement(u32 id, Stored* out)
{
    static u8 s1[SECTION_CAPACITY], s2[SECTION_CAPACITY];
    MeasSection a{s1, sizeof s1, 0}, b{s2, sizeof s2, 0};
    u32 kind = 0;
    if (meas_read(id, &kind, &a, &b, nullptr, true) == 0) return "does not read";
    out->kind = kind;
    out->s1.assign(s1, s1 + a.length);
    out->s2.assign(s2, s2 + b.length);
    if (kind == MEAS_KIND_VIBROMETER || kind == MEAS_KIND_RMS_TABLE) {
        if (a.length != sizeof(RmsTableRecord) || !rms_table_verify(reinterpret_cast<RmsTableRecord*>(s1)))
            return "table record fails its checksum";
    } else if (a.length != sizeof(SpectraRecord) ||
               !spectra_record_verify(reinterpret_cast<SpectraRecord*>(s1), s2, b.length)) {
        return "spectra record fails its checksums";
    }
    MeasHeader hd;
    if (meas_read_header(id, &hd) != MEAS_OK) return "header does not read";
    out->note = hd.note_offset != 0 && hd.note_length != 0;
    if (out->note) {
        if (hd.note_length != MEAS_NOTE_LENGTH) return "note of a wrong length";
        std::vector<u8> note(hd.note_length);
        FileHandle h;
        if (fs_open(&h, id, FS_READ) != FS_OK ||
            fs_read(&h, note.data(), hd.note_offset, hd.note_length) != hd.note_length)
            return "note does not read";
        if (std::memcmp(note.data(), "RIFF", 4) != 0) return "note without its header";
        for (u32 i = WAV_HEADER_SIZE; i + 1 < note.size(); i += 2)
            if ((note[i] | note[i + 1] << 8) != static_cast<int>(id & 0xFFFF)) return "note samples torn";
    }
    return "";
}

std::string object_name(int index)
{
    char name[OBJ_NAME_SIZE] = {};
    return obj_get_name(index, name) == 1 ? name : "";
}

// The mounted state of the base archive: page table, file-system counters,
// directory, settings, so that each run starts from it without a mount.
struct MountedState {
    std::vector<u32> table;
    FsState fs{};
    std::unique_ptr<Directory> dir = std::make_unique<Directory>();
    SettingsBlock block{};

    void take()
    {
        table.assign(nand_info.page_table, nand_info.page_table + nand_info.total_pages);
        fs = fs_state;
        *dir = directory;
        block = settings;
    }
    void put() const
    {
        ASSERT_EQ(fs_init(), FS_OK);  // a fresh device: no cache, nothing pending
        std::copy(table.begin(), table.end(), nand_info.page_table);
        fs_state = fs;
        directory = *dir;
        settings = block;
        storage_error_flags = 0;
    }
};

class CutPoints : public ::testing::Test {
protected:
    VirtualHostScope scope;
    TempDir dir;
    std::unique_ptr<FlashFile> flash;
    std::vector<u8> base;       // the first blocks of the base image, where the archive lies
    std::vector<u8> fram_base;  // fram.dat of the base archive
    MountedState mounted;
    std::map<u32, Stored> saved;       // every measurement of the base archive
    std::map<u32, std::string> names;  // every object of the base archive
    std::map<u32, u32> stamps;         // the stamp of every file of the base archive
    std::vector<u32> objects;          // their ids, in creation order
    u32 demo_route = 0;                // the demonstration route's file
    u32 relinked = 0;                  // the signal its point ROUTE_POINT links
    std::unique_ptr<RouteBuffer> route_base = std::make_unique<RouteBuffer>();  // that route as stored

    void SetUp() override
    {
        data_dir_set(dir.path());
        scope.host.set_clock(BASE_CLOCK);
        flash = std::make_unique<FlashFile>(dir.file("flash.dat"));
        ASSERT_EQ(fs_init(), FS_OK);
        ASSERT_EQ(fs_mount(), FS_OK);
        populate();
        ASSERT_FALSE(HasFatalFailure());
        settings_save();
        fram_base = read_file_bytes(dir.file("fram.dat"));
        remount();
        ASSERT_FALSE(HasFatalFailure());
        record_base();
        mounted.take();
        // Files made from now on carry later stamps than the base archive's.
        scope.host.set_clock(BASE_CLOCK + 86400);
        base = flash->read(0, static_cast<size_t>(BASE_BLOCKS) * BLOCK_PAGES * STRIDE);
        std::fill(g_touched.begin(), g_touched.end(), false);
        nand_set_write_hook(note_write);
    }
    void TearDown() override
    {
        nand_set_write_hook(nullptr);
        nand_restore_power();
        fram_restore_power();
        scope.host.set_on_pump({});
        data_dir_set("");
    }

    // Three objects; measurements of every kind, one of them with a voice
    // note; a route; a deleted measurement between them.
    void populate()
    {
        for (const char* name : {"Вентилятор"_cp, "Компрессор"_cp, "Насос 1"_cp}) {
            const u32 id = obj_create(name);
            ASSERT_NE(id, 0u);
            objects.push_back(id);
        }
        for (u32 o = 0; o < objects.size(); ++o) {
            ASSERT_EQ(obj_select(objects[o]), OBJ_OK);
            const RmsTableRecord vib = table_record(2.0f + o);
            ASSERT_NE(meas_save(MEAS_KIND_VIBROMETER, STAMP + o, &vib, sizeof vib, nullptr, 0, nullptr, 0, true), 0u);
            const SpectraPayload sp = spectra_payload(KIND_S, 1200 + 100 * o, o);
            ASSERT_NE(meas_save(MEAS_KIND_SPECTRUM, STAMP + 10 + o, &sp.record, sizeof sp.record, sp.data.data(),
                                static_cast<u32>(sp.data.size() * sizeof(i32)), nullptr, 0, true),
                      0u);
            const RmsTableRecord rms = table_record(0.5f + o);
            ASSERT_NE(meas_save(MEAS_KIND_RMS_TABLE, STAMP + 20 + o, &rms, sizeof rms, nullptr, 0, nullptr, 0, true),
                      0u);
        }
        // A signal that is deleted again: dead pages among the live ones.
        const SpectraPayload dead = spectra_payload(KIND_W, 700, 9);
        const u32 gone = meas_save(MEAS_KIND_SIGNAL, STAMP + 30, &dead.record, sizeof dead.record, dead.data.data(),
                                   static_cast<u32>(dead.data.size() * sizeof(i32)), nullptr, 0, true);
        ASSERT_NE(gone, 0u);
        ASSERT_EQ(dir_delete(dir_find_id(gone)), FS_OK);
        // A voice note with the vibrometer reading of the first object.
        note_on(first_of(objects[0], MEAS_KIND_VIBROMETER));
        // A route (no parent), five pages.
        FileHandle h;
        u32 stamp = STAMP + 40;
        ASSERT_EQ(fs_create(&h, FILE_TYPE_ROUTE, 0, 0, 9000, &stamp), FS_OK);
        std::vector<u8> route(9000, 0x5A);
        ASSERT_EQ(fs_write(&h, route.data(), 0, 9000), 9000u);
        ASSERT_EQ(fs_close(&h), FS_OK);
        ASSERT_EQ(dir_append(h.first, stamp, 0, FILE_TYPE_ROUTE, 0), DIR_OK);
        ASSERT_EQ(obj_select(objects[1]), OBJ_OK);
        // The demonstration route with one point measured.
        archive_state = ARCHIVE_MOUNTED;
        demo_route = route_make_test();
        ASSERT_NE(demo_route, 0u);
        const SpectraPayload point = spectra_payload(KIND_W, 300, 5);
        relinked = meas_save(MEAS_KIND_SIGNAL, STAMP + 50, &point.record, sizeof point.record, point.data.data(),
                             static_cast<u32>(point.data.size() * sizeof(i32)), nullptr, 0, true);
        ASSERT_NE(relinked, 0u);
        ASSERT_EQ(route_load(demo_route, &route_current), demo_route);
        // The route of the object its point's measurement went into: a
        // route's measurements are those of the object named after it.
        char name[OBJ_NAME_SIZE];
        ASSERT_EQ(obj_read_name(objects[1], name), OBJ_OK);
        std::strcpy(route_current.header.name, name);
        std::strcpy(route_current.items[0].name, name);
        ASSERT_EQ(route_save(demo_route, &route_current), demo_route);
        ASSERT_TRUE(route_set_measurement(ROUTE_POINT, relinked));
        *route_base = route_current;
    }

    // The one entry a run added (exactly one when nothing cut it short), or
    // 0 when it added none.
    static u32 sole_addition(const std::vector<u32>& added, i64 k)
    {
        EXPECT_LE(added.size(), 1u);
        if (k < 0) {
            EXPECT_EQ(added.size(), 1u);
        }
        return added.size() == 1 ? added[0] : 0;
    }

    // Route entries that were not in the base archive.
    std::vector<u32> new_routes() const
    {
        std::vector<u32> v;
        for (u32 i = 0; i < dir_count(); ++i) {
            const int at = static_cast<int>(i);
            const u32 id = dir_id(at);
            const bool old_file = stamps.count(id) && stamps.at(id) == dir_stamp(at);
            if (dir_type(at) == FILE_TYPE_ROUTE && !old_file) v.push_back(id);
        }
        return v;
    }

    // Items of `a` and `b` that differ (the first `count`), as a text.
    static std::string item_differences(const RouteBuffer& a, const RouteBuffer& b, u32 count, int skip = -1)
    {
        std::ostringstream out;
        for (u32 i = 0; i < count; ++i)
            if (static_cast<int>(i) != skip && std::memcmp(&a.items[i], &b.items[i], sizeof(RouteItem)) != 0)
                out << " item " << i << " differs;";
        return out.str();
    }

    // The newest measurement of `kind` under the object, or 0.
    static u32 first_of(u32 object, u32 kind)
    {
        for (u32 i = 0; i < dir_count(); ++i) {
            const int at = static_cast<int>(i);
            if (dir_parent(at) == object && dir_type(at) != FILE_TYPE_OBJECT && dir_attr(at) == kind) return dir_id(at);
        }
        return 0;
    }

    // Records a voice note with measurement `id` through the saved dialog.
    void note_on(u32 id)
    {
        script_keys(scope.host, {KEY_DOWN, KEY_DOWN, KEY_ENTER});
        FileHandle h{};
        h.first = id;
        meas_saved_dialog("", &h);
        scope.host.set_on_pump({});
        power_off_flag = 0;
    }

    // The mount of the next start: settings from the parameter memory, the
    // device, the scan step by step, the end of the mount, the current
    // object.
    static void remount()
    {
        storage_error_flags = 0;
        settings_load();
        ASSERT_EQ(fs_init(), FS_OK);
        ASSERT_EQ(fs_dir_reset(), FS_OK);
        int steps = 0;
        while (fs_scan_step() == FS_SCAN_MORE) ASSERT_LT(++steps, 100);
        fs_mount_finish();
        ASSERT_NE(obj_after_mount(), OBJ_FAILED);
    }

    void record_base()
    {
        for (u32 i = 0; i < dir_count(); ++i) {
            const int at = static_cast<int>(i);
            const u32 id = dir_id(at);
            stamps[id] = dir_stamp(at);
            if (dir_type(at) == FILE_TYPE_OBJECT) {
                names[id] = object_name(at);
                ASSERT_NE(names[id], "") << id;
            } else if (dir_type(at) != FILE_TYPE_ROUTE) {
                Stored s;
                ASSERT_EQ(read_measurement(id, &s), "") << id;
                s.parent = dir_parent(at);
                saved[id] = s;
            }
        }
        ASSERT_EQ(names.size(), 3u);
        ASSERT_EQ(saved.size(), 10u);
    }

    // Puts back the pages written since the last time and the mounted state.
    void restore()
    {
        const std::vector<u8> erased(STRIDE, 0xFF);
        for (u32 p = 0; p < CHIP_PAGES; ++p) {
            if (!g_touched[p]) continue;
            g_touched[p] = false;
            if (p < BASE_PAGES) {
                const auto at = base.begin() + static_cast<std::ptrdiff_t>(p) * STRIDE;
                flash->write(flash_offset(p, 0), std::vector<u8>(at, at + STRIDE));
            } else {
                flash->write(flash_offset(p, 0), erased);
            }
        }
        write_file_bytes(dir.file("fram.dat"), fram_base);
        mounted.put();
    }

    // What is wrong with the archive as mounted: entries that do not open,
    // objects without a name, measurements without their object or that do
    // not read with good checksums, heads left out, pages counted as used
    // that belong to no file.
    static std::string audit()
    {
        std::ostringstream out;
        u32 chained = 0;
        for (u32 i = 0; i < dir_count(); ++i) {
            const int at = static_cast<int>(i);
            const u32 id = dir_id(at);
            FileHandle h;
            const int r = fs_open(&h, id, FS_READ);
            if (r != FS_OK) {
                out << " entry " << id << " does not open (" << r << ");";
                continue;
            }
            chained += h.pages - 1u;
            if (dir_type(at) == FILE_TYPE_OBJECT) {
                if (object_name(at).empty()) out << " object " << id << " without a name;";
            } else if (dir_type(at) != FILE_TYPE_ROUTE) {
                const int owner = dir_find_id(dir_parent(at));
                if (owner < 0 || dir_type(owner) != FILE_TYPE_OBJECT) out << " measurement " << id << " orphaned;";
                Stored s;
                const std::string why = read_measurement(id, &s);
                if (!why.empty()) out << " measurement " << id << ": " << why << ";";
            }
        }
        fs_count_pages();
        if (fs_state.used != dir_count()) out << " " << fs_state.used << " heads, " << dir_count() << " listed;";
        if (fs_state.chained != chained)
            out << " " << fs_state.chained << " pages counted in chains, " << chained << " in the files;";
        return out.str();
    }

    // Base measurements that are missing or read back otherwise, apart from
    // those in `skip`.
    std::string lost(const std::set<u32>& skip = {}) const
    {
        std::ostringstream out;
        for (const auto& [id, s] : saved) {
            if (skip.count(id)) continue;
            const int at = dir_find_id(id);
            if (at < 0) {
                out << " measurement " << id << " lost;";
                continue;
            }
            Stored back;
            const std::string why = read_measurement(id, &back);
            back.parent = dir_parent(at);
            if (!why.empty() || !(back == s)) out << " measurement " << id << " changed;";
        }
        for (const auto& [id, name] : names) {
            if (skip.count(id)) continue;
            const int at = dir_find_id(id);
            if (at < 0 || object_name(at) != name) out << " object " << id << " lost or renamed;";
        }
        return out.str();
    }

    // Entries that were not in the base archive.
    std::vector<u32> new_entries() const
    {
        std::vector<u32> v;
        for (u32 i = 0; i < dir_count(); ++i) {
            const u32 id = dir_id(static_cast<int>(i));
            if (!saved.count(id) && !names.count(id) && dir_type(static_cast<int>(i)) != FILE_TYPE_ROUTE)
                v.push_back(id);
        }
        return v;
    }

    // A fingerprint of what the last run left on flash and in the parameter
    // memory: the pages that differ from the base archive, with their
    // contents, and fram.dat.
    u64 fingerprint() const
    {
        u64 h = 1469598103934665603ull;
        auto mix = [&h](const u8* p, size_t n) {
            for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
        };
        for (u32 p = 0; p < CHIP_PAGES; ++p) {
            if (!g_touched[p]) continue;
            const std::vector<u8> page = flash->read(flash_offset(p, 0), STRIDE);
            const bool same = p < BASE_PAGES ? std::equal(page.begin(), page.end(),
                                                          base.begin() + static_cast<std::ptrdiff_t>(p) * STRIDE)
                                             : std::all_of(page.begin(), page.end(), [](u8 b) { return b == 0xFF; });
            if (same) continue;
            mix(reinterpret_cast<const u8*>(&p), sizeof p);
            mix(page.data(), page.size());
        }
        const std::vector<u8> fram = read_file_bytes(dir.file("fram.dat"));
        mix(fram.data(), fram.size());
        return h;
    }

    // Runs `op` without a cut, then with the power cut after each k of its
    // writes (every k, or those of `cuts`), each time from the base archive;
    // after each run the image is mounted as at the next start and `check`
    // looks at it (k = -1: the run without a cut). A cut that leaves the same
    // bytes as an earlier one (inside a block rewrite, the pages around the
    // changed one are written as they were) is not mounted again: the mount
    // would see the same image. The writes counted are those of the flash,
    // or of the parameter memory with `fram`.
    void enumerate(const std::string& path, const std::function<void()>& op, const std::function<void(i64)>& check,
                   std::vector<i64> cuts = {}, bool fram = false)
    {
        auto writes_made = [fram] { return fram ? fram_writes_made() : nand_writes_made(); };
        std::set<u64> seen;
        auto run = [&](i64 k) {
            restore();
            ASSERT_FALSE(HasFatalFailure());
            if (k >= 0) {
                if (fram)
                    fram_cut_power_at(fram_writes_made() + static_cast<u64>(k));
                else
                    nand_cut_power_at(nand_writes_made() + static_cast<u64>(k));
            }
            testing::internal::CaptureStdout();  // bad-block and rebuild lines
            op();
            testing::internal::GetCapturedStdout();
            nand_restore_power();
            fram_restore_power();
            scope.host.set_on_pump({});
            power_off_flag = 0;
            if (!seen.insert(fingerprint()).second) return;
            remount();
            ASSERT_FALSE(HasFatalFailure());
            SCOPED_TRACE(path + ", power cut after " + std::to_string(k) + " writes");
            EXPECT_EQ(audit(), "");
            check(k);
        };
        const u64 before = writes_made();
        run(-1);
        const u64 writes = writes_made() - before;
        ASSERT_GT(writes, 0u);
        if (cuts.empty())
            for (u64 k = 0; k < writes; ++k) cuts.push_back(static_cast<i64>(k));
        for (const i64 k : cuts) {
            ASSERT_LT(static_cast<u64>(k), writes);
            run(k);
            if (HasFatalFailure()) return;
        }
        std::printf("[cut points] %s: %zu of %llu writes, %zu different images mounted\n", path.c_str(), cuts.size(),
                    static_cast<unsigned long long>(writes), seen.size());
    }
};

TEST_F(CutPoints, MeasurementSaveLeavesTheWholeMeasurementOrNone)
{
    const RmsTableRecord vib = table_record(7.25f);
    const RmsTableRecord rms = table_record(1.5f);
    const SpectraPayload spectrum = spectra_payload(KIND_S, 1600, 3);  // 6400 bytes: four pages
    const SpectraPayload signal = spectra_payload(KIND_W, 200, 4);     // one page
    struct Case {
        const char* what;
        u32 kind;
        const void* s1;
        u32 l1;
        const void* s2;
        u32 l2;
    } cases[] = {
        {"vibrometer reading", MEAS_KIND_VIBROMETER, &vib, sizeof vib, nullptr, 0},
        {"RMS table", MEAS_KIND_RMS_TABLE, &rms, sizeof rms, nullptr, 0},
        {"spectrum, four pages", MEAS_KIND_SPECTRUM, &spectrum.record, sizeof spectrum.record, spectrum.data.data(),
         static_cast<u32>(spectrum.data.size() * sizeof(i32))},
        {"time signal, one page", MEAS_KIND_SIGNAL, &signal.record, sizeof signal.record, signal.data.data(),
         static_cast<u32>(signal.data.size() * sizeof(i32))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Stored want;
        want.parent = objects[1];
        want.kind = c.kind;
        want.s1.assign(static_cast<const u8*>(c.s1), static_cast<const u8*>(c.s1) + c.l1);
        if (c.s2) want.s2.assign(static_cast<const u8*>(c.s2), static_cast<const u8*>(c.s2) + c.l2);
        enumerate(
            std::string("measurement save, ") + c.what,
            [&] { meas_save(c.kind, STAMP + 100, c.s1, c.l1, c.s2, c.l2, nullptr, 0, true); },
            [&](i64 k) {
                EXPECT_EQ(lost(), "");
                const u32 added = sole_addition(new_entries(), k);
                if (added == 0) return;
                Stored back;
                ASSERT_EQ(read_measurement(added, &back), "");
                back.parent = dir_parent(dir_find_id(added));
                EXPECT_TRUE(back == want) << "the new measurement differs";
            });
    }
}

TEST_F(CutPoints, VoiceNoteIsWholeOrAbsent)
{
    // A one-page vibrometer reading (the note makes it two pages) and a
    // closed spectrum of three pages (its closed end is reopened to grow).
    const u32 targets[] = {first_of(objects[2], MEAS_KIND_VIBROMETER), first_of(objects[1], MEAS_KIND_SPECTRUM)};
    for (const u32 id : targets) {
        ASSERT_NE(id, 0u);
        SCOPED_TRACE("measurement " + std::to_string(id));
        ASSERT_FALSE(saved.at(id).note);
        FileHandle h;
        ASSERT_EQ(fs_open(&h, id, FS_READ), FS_OK);
        enumerate(
            "voice note on a " + std::to_string(h.pages) + "-page measurement", [&] { note_on(id); },
            [&](i64 k) {
                EXPECT_EQ(lost({id}), "");
                EXPECT_TRUE(new_entries().empty());
                Stored back;
                ASSERT_EQ(read_measurement(id, &back), "");  // whole note or none
                const bool note = back.note;
                back.note = false;
                back.parent = dir_parent(dir_find_id(id));
                EXPECT_TRUE(back == saved.at(id)) << "the measurement changed";
                if (k < 0) {
                    EXPECT_TRUE(note);
                }
            });
    }
}

TEST_F(CutPoints, ObjectCreateLeavesTheNamedObjectOrNone)
{
    const std::string name = "Дымосос 2"_cp;
    enumerate(
        "object create", [&] { obj_create(name.c_str()); },
        [&](i64 k) {
            EXPECT_EQ(lost(), "");
            const u32 added = sole_addition(new_entries(), k);
            if (added != 0) {
                EXPECT_EQ(object_name(dir_find_id(added)), name);
            }
        });
}

TEST_F(CutPoints, ObjectRenameKeepsTheOldNameOrTheNew)
{
    const u32 id = objects[1];
    const std::string name = "Насос 12"_cp;
    enumerate(
        "object rename", [&] { obj_rename(dir_find_id(id), name.c_str()); },
        [&](i64 k) {
            EXPECT_EQ(lost({id}), "");
            const std::string now = object_name(dir_find_id(id));
            EXPECT_TRUE(now == names.at(id) || now == name) << now;
            if (k < 0) {
                EXPECT_EQ(now, name);
            }
        });
}

TEST_F(CutPoints, ObjectDeleteLeavesTheObjectOrNothingOfIt)
{
    const u32 id = objects[0];  // three measurements, one with a voice note
    std::set<u32> its{id};
    for (const auto& [m, s] : saved)
        if (s.parent == id) its.insert(m);
    ASSERT_EQ(its.size(), 4u);
    enumerate(
        "object delete with three measurements", [&] { obj_delete(dir_find_id(id)); },
        [&](i64 k) {
            EXPECT_EQ(lost(its), "");
            EXPECT_TRUE(new_entries().empty());
            const int at = dir_find_id(id);
            if (at >= 0) {
                // Not gone yet: its name, and those of its measurements that
                // are left, read as before.
                EXPECT_EQ(object_name(at), names.at(id));
                for (const u32 m : its) {
                    if (m == id || dir_find_id(m) < 0) continue;
                    Stored back;
                    ASSERT_EQ(read_measurement(m, &back), "");
                    back.parent = dir_parent(dir_find_id(m));
                    EXPECT_TRUE(back == saved.at(m)) << m;
                }
            } else {
                for (const u32 m : its) EXPECT_LT(dir_find_id(m), 0) << "measurement " << m << " outlived its object";
            }
            if (k < 0) {
                EXPECT_LT(at, 0);
            }
        });
}

TEST_F(CutPoints, MeasurementDeleteLeavesItWholeOrGone)
{
    const u32 id = first_of(objects[2], MEAS_KIND_SPECTRUM);  // two pages
    ASSERT_NE(id, 0u);
    enumerate(
        "measurement delete", [&] { dir_delete(dir_find_id(id)); },
        [&](i64 k) {
            EXPECT_EQ(lost({id}), "");
            const int at = dir_find_id(id);
            if (at >= 0) {
                Stored back;
                ASSERT_EQ(read_measurement(id, &back), "");
            }
            if (k < 0) {
                EXPECT_LT(at, 0);
            }
        });
}

// A point measured again: its new link reaches the route's file first, then
// the measurement it linked before goes, so that no cut leaves a link to
// nothing.
TEST_F(CutPoints, RoutePointMeasuredAgainLinksTheOldMeasurementOrTheNew)
{
    const u32 fresh = first_of(objects[1], MEAS_KIND_SPECTRUM);
    ASSERT_NE(fresh, 0u);
    enumerate(
        "route point state store (a point measured again)",
        [&] {
            route_load(demo_route, &route_current);
            route_set_measurement(ROUTE_POINT, fresh);
        },
        [&](i64 k) {
            EXPECT_EQ(lost({relinked}), "");
            ASSERT_EQ(route_load(demo_route, &route_current), demo_route);
            EXPECT_EQ(item_differences(route_current, *route_base, ROUTE_TEST_ITEMS, ROUTE_POINT), "");
            const u32 link = static_cast<u32>(route_current.items[ROUTE_POINT].measurement);
            EXPECT_TRUE(route_is_measured(ROUTE_POINT));
            EXPECT_TRUE(link == relinked || link == fresh) << link;
            if (link == relinked) {
                EXPECT_GE(dir_find_id(relinked), 0) << "the point links a measurement that is gone";
            }
            if (k < 0) {
                EXPECT_EQ(link, fresh);
                EXPECT_LT(dir_find_id(relinked), 0);
            }
        });
}

// A route saved as a new file (a route prepared elsewhere, or made by the
// instrument) is listed whole or not at all; rewriting a route in its file
// (as its clearing does) leaves each item old or new and the route loading.
TEST_F(CutPoints, RouteSaveLeavesTheWholeRouteOrNone)
{
    auto want = std::make_unique<RouteBuffer>(*route_base);
    const char* name = "Маршрут 2"_cp;
    std::memcpy(want->header.name, name, std::strlen(name) + 1);
    auto work = std::make_unique<RouteBuffer>();
    enumerate(
        "route save, a new file",
        [&] {
            *work = *want;
            route_save(0, work.get());
        },
        [&](i64 k) {
            EXPECT_EQ(lost(), "");
            const u32 added = sole_addition(new_routes(), k);
            if (added == 0) return;
            ASSERT_EQ(route_load(added, &route_other), added) << "a route entry that does not load";
            EXPECT_STREQ(route_other.header.name, want->header.name);
            EXPECT_EQ(route_other.header.count, ROUTE_TEST_ITEMS);
            EXPECT_EQ(item_differences(route_other, *want, ROUTE_TEST_ITEMS), "");
        });

    auto cleared = std::make_unique<RouteBuffer>(*route_base);
    cleared->items[ROUTE_POINT].state = ROUTE_STATE_NOT_MEASURED;
    cleared->items[ROUTE_POINT].measurement = ROUTE_NO_MEASUREMENT;
    checksum_store(&cleared->items[ROUTE_POINT], ROUTE_ITEM_SIZE, ROUTE_ITEM_CHECKSUM_AT);
    enumerate(
        "route save, rewriting its file",
        [&] {
            *work = *cleared;
            route_save(demo_route, work.get());
        },
        [&](i64 k) {
            EXPECT_EQ(lost(), "");
            EXPECT_TRUE(new_routes().empty());
            ASSERT_EQ(route_load(demo_route, &route_other), demo_route);
            EXPECT_EQ(item_differences(route_other, *route_base, ROUTE_TEST_ITEMS, ROUTE_POINT), "");
            const bool old_point =
                std::memcmp(&route_other.items[ROUTE_POINT], &route_base->items[ROUTE_POINT], ROUTE_ITEM_SIZE) == 0;
            const bool new_point =
                std::memcmp(&route_other.items[ROUTE_POINT], &cleared->items[ROUTE_POINT], ROUTE_ITEM_SIZE) == 0;
            EXPECT_TRUE(old_point || new_point);
            if (k < 0) {
                EXPECT_TRUE(new_point);
            }
        });
}

// Clearing the archive marks every head deleted (measurements first), then
// erases the 2047 blocks. Every write of the marking and of the erasing of
// the blocks that hold the archive is a cut point; past them the erase
// writes erased bytes over erased bytes, so a cut at the start of some
// blocks and at the last writes (the object "Объект" made again) stand for
// the rest.
TEST_F(CutPoints, ArchiveClearLeavesWholeFilesOrNone)
{
    u32 heads = 0, used_blocks = 0;
    fs_count_pages();
    heads = fs_state.used;
    for (u32 p = fs_state.first_page; p < BASE_BLOCKS * BLOCK_PAGES; ++p)
        if (pt_state(fs_table(p)) != PAGE_FREE) used_blocks = p / BLOCK_PAGES;
    ASSERT_GT(heads, 10u);
    const i64 erase_from = heads;
    const i64 erase_total = 2047 * BLOCK_PAGES;
    std::vector<i64> cuts;
    for (i64 k = 0; k < erase_from + static_cast<i64>(used_blocks) * BLOCK_PAGES; ++k) cuts.push_back(k);
    for (i64 b = used_blocks; b < used_blocks + 8; ++b) cuts.push_back(erase_from + b * BLOCK_PAGES);
    for (i64 b = 256; b < 2047; b += 256) cuts.push_back(erase_from + b * BLOCK_PAGES);
    for (i64 k = erase_from + erase_total - 2; k < erase_from + erase_total + 2; ++k) cuts.push_back(k);
    const std::string default_name = "Объект"_cp;
    enumerate(
        "archive clear",
        [] {
            fs_format();
            fs_mount();
            obj_after_mount();
        },
        [&](i64 k) {
            // Whatever is left of the base archive reads as before (a file
            // is known by its page and stamp: the pages are used again);
            // the only other file is the object "Объект".
            for (u32 i = 0; i < dir_count(); ++i) {
                const int at = static_cast<int>(i);
                const u32 id = dir_id(at);
                const bool old_file = stamps.count(id) && stamps.at(id) == dir_stamp(at);
                if (!old_file) {
                    EXPECT_EQ(object_name(at), default_name) << id;
                } else if (names.count(id)) {
                    EXPECT_EQ(object_name(at), names.at(id));
                } else if (saved.count(id)) {
                    Stored back;
                    ASSERT_EQ(read_measurement(id, &back), "");
                    back.parent = dir_parent(at);
                    EXPECT_TRUE(back == saved.at(id)) << id;
                }
            }
            if (k < 0) {
                ASSERT_EQ(dir_count(), 1u);
                EXPECT_EQ(object_name(0), default_name);
            }
        },
        cuts);
}

// Equal settings blocks, apart from the checksum and the changed flag.
bool same_settings(SettingsBlock a, SettingsBlock b)
{
    a.checksum = b.checksum = 0;
    a.meas_params_changed = b.meas_params_changed = 0;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The settings block lives in the parameter memory: a cut before its one
// write keeps the old block, after it the new one.
TEST_F(CutPoints, SettingsSaveKeepsTheOldBlockOrTheNew)
{
    const SettingsBlock old_block = settings;
    SettingsBlock new_block = settings;
    new_block.volume = 40;
    new_block.warn_idx = 5;
    std::memcpy(new_block.bearing_name, "6205", 5);
    enumerate(
        "settings save",
        [&] {
            settings = new_block;
            settings_save();
        },
        [&](i64 k) {
            EXPECT_EQ(lost(), "");
            EXPECT_TRUE(same_settings(settings, old_block) || same_settings(settings, new_block));
            if (k < 0) {
                EXPECT_TRUE(same_settings(settings, new_block));
            }
        },
        {}, true);
}

// The chip of the instrument writes the parameter memory byte by byte, so a
// power cut inside the write leaves the first bytes new and the rest old:
// the checksum then fails and the next start takes the defaults. What the
// design can keep: never a mixed block, never a crash.
TEST_F(CutPoints, TornSettingsWriteGivesTheDefaultsNeverAMixedBlock)
{
    const SettingsBlock old_block = settings;
    SettingsBlock new_block = settings;
    new_block.volume = 40;
    new_block.plot_mode = 2;
    std::memcpy(new_block.bearing_name, "6205", 5);
    settings = new_block;
    checksum_store(&settings, SETTINGS_SIZE, offsetof(SettingsBlock, checksum));
    new_block = settings;
    SettingsBlock stored_old = old_block;
    checksum_store(&stored_old, SETTINGS_SIZE, offsetof(SettingsBlock, checksum));
    settings_defaults();
    SettingsBlock defaults = settings;
    int gave_defaults = 0;
    const auto* o = reinterpret_cast<const u8*>(&stored_old);
    const auto* n = reinterpret_cast<const u8*>(&new_block);
    for (u32 split = 1; split < SETTINGS_SIZE; ++split) {
        std::vector<u8> torn(o, o + SETTINGS_SIZE);
        std::memcpy(torn.data(), n, split);
        ASSERT_EQ(fram_write(SETTINGS_OFFSET, torn.data(), SETTINGS_SIZE), SETTINGS_SIZE);
        settings_load();
        const bool is_default = same_settings(settings, defaults);
        EXPECT_TRUE(is_default || same_settings(settings, old_block) || same_settings(settings, new_block))
            << "split " << split;
        gave_defaults += is_default;
    }
    std::printf("[cut points] settings save, torn inside its write: %u splits, %d gave the defaults\n",
                SETTINGS_SIZE - 1, gave_defaults);
    EXPECT_GT(gave_defaults, 0);
}

}  // namespace
