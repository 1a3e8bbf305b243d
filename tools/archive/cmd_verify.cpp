// verify: every check the instrument makes, over the whole image, without
// changing it. Damage is what the instrument cannot read or would lose;
// what its next start repairs by itself (pages of a save or a delete cut
// short) is only noted.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/measurement.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tools/archive/text.h"
#include "tools/archive/tool.h"
#include "tools/archive/walk.h"

namespace {

constexpr int BAR_WIDTH = 40;

struct Report {
    std::vector<std::string> damage;
    std::vector<std::string> notes;
};

class Progress {
public:
    explicit Progress(u32 total) : total_(total), shown_(isatty(STDERR_FILENO) != 0) {}
    void step(u32 done)
    {
        if (!shown_ || total_ == 0) return;
        const int filled = static_cast<int>(static_cast<u64>(done) * BAR_WIDTH / total_);
        if (filled == last_) return;
        last_ = filled;
        std::fprintf(stderr, "\rverifying [%-*s] %3u%%", BAR_WIDTH,
                     std::string(static_cast<size_t>(filled), '#').c_str(),
                     static_cast<unsigned>(static_cast<u64>(done) * 100 / total_));
    }
    ~Progress()
    {
        if (shown_ && last_ >= 0) std::fprintf(stderr, "\r%*s\r", BAR_WIDTH + 20, "");
    }

private:
    u32 total_;
    bool shown_;
    int last_ = -1;
};

std::string id_text(const char* what, u32 id)
{
    return std::string(what) + " " + std::to_string(id) + ": ";
}

void check_pages(Report& r)
{
    // The state byte as stored: the mount counts a state it does not know
    // as deleted.
    u32 unknown = 0;
    u32 first_unknown = 0;
    for (u32 p = fs_state.first_page; p < fs_state.end_page; ++p) {
        if (pt_state(fs_table(p)) != PAGE_DELETED) continue;  // only where an unknown state can hide
        u8 raw = PAGE_FREE;
        if (nand_read_page(p, &raw, nand_info.status_column, 1) != static_cast<int>(sizeof raw) || fs_state_known(raw))
            continue;
        if (unknown++ == 0) first_unknown = p;
    }
    if (unknown)
        r.notes.push_back(std::to_string(unknown) +
                          " pages with a state the file system does not know in their spare area, counted as "
                          "deleted (the first: page " +
                          std::to_string(first_unknown) + ")");
    if (fs_unreachable_found())
        r.notes.push_back(std::to_string(fs_unreachable_found()) +
                          " pages that no file reaches (a save or a delete cut short); the instrument frees them "
                          "at its next start");
    const u32 bad = bad_blocks();
    if (bad) r.notes.push_back(std::to_string(bad) + " bad blocks (left out by the instrument)");
}

// Ids of the objects of the directory, looked up once per measurement.
std::unordered_set<u32> g_objects;

void check_measurement(int at, u32 id, Report& r)
{
    if (!g_objects.count(dir_parent(at)))
        r.damage.push_back(id_text("measurement", id) + "its object " + std::to_string(dir_parent(at)) +
                           " is not in the archive (orphan)");
    MeasHeader hd;
    if (meas_read_header(id, &hd) != MEAS_OK) {
        r.damage.push_back(id_text("measurement", id) +
                           "its header does not read (checksum, or sections outside the file)");
        return;
    }
    if (hd.kind != dir_attr(at))
        r.damage.push_back(id_text("measurement", id) + "the header says kind " + std::to_string(hd.kind) +
                           ", the directory " + std::to_string(dir_attr(at)));
    static u8 s1[SPECTRA_RECORD_SIZE > RMS_TABLE_RECORD_SIZE ? SPECTRA_RECORD_SIZE : RMS_TABLE_RECORD_SIZE];
    alignas(i32) static u8 s2[MEAS_SPECTRA_DATA_CAPACITY];
    MeasSection one{s1, sizeof s1, 0}, two{s2, sizeof s2, 0};
    u32 kind = 0;
    if (meas_read(id, &kind, &one, &two, nullptr, true) == 0) {
        r.damage.push_back(id_text("measurement", id) + "its record does not read");
        return;
    }
    if (kind <= MEAS_KIND_SHOCK_SPECTRUM) {
        // The viewer's own checks of the record.
        const int check = one.length != SPECTRA_RECORD_SIZE
                              ? SPECTRA_CHECK_CHECKSUM
                              : spectra_record_check(reinterpret_cast<SpectraRecord*>(s1),
                                                     reinterpret_cast<const i32*>(s2), two.length);
        if (check != SPECTRA_CHECK_OK) r.damage.push_back(id_text("measurement", id) + spectra_check_text(check));
    } else if (kind == MEAS_KIND_VIBROMETER || kind == MEAS_KIND_RMS_TABLE) {
        if (one.length != RMS_TABLE_RECORD_SIZE || rms_table_verify(reinterpret_cast<RmsTableRecord*>(s1)) != 1)
            r.damage.push_back(id_text("measurement", id) + "the table record's checksum does not match");
    } else {
        r.damage.push_back(id_text("measurement", id) + "kind " + std::to_string(kind) +
                           " is unknown to the instrument");
    }
}

// Whether the chain of the file open in `h` ends in a body page (its last
// page not marked as such).
bool chain_left_open(const FileHandle& h)
{
    u32 page = h.first;
    for (u32 i = 1; i < h.pages; ++i) page = pt_link(fs_table(page));
    return h.pages > 1 && pt_state(fs_table(page)) == PAGE_BODY;
}

void check_entry(int at, Report& r)
{
    const u32 id = dir_id(at);
    const u8 type = dir_type(at);
    FileHandle h;
    const int open = fs_open(&h, id, FS_READ);
    if (open != FS_OK) {
        r.damage.push_back(id_text("file", id) + "its chain of pages is broken (open result " + std::to_string(open) +
                           ")");
        return;
    }
    // Before anything reads the file: the first close of a chain left open
    // closes it.
    if (chain_left_open(h))
        r.notes.push_back(id_text("file", id) +
                          "its chain of pages was never closed (a save or a voice note cut short); it reads whole, "
                          "and the instrument closes it when it first reads it");
    if (type == FILE_TYPE_OBJECT) {
        char name[OBJ_NAME_SIZE];
        if (obj_read_name(id, name) != OBJ_OK)
            r.damage.push_back(id_text("object", id) + "its name record does not read");
    } else if (type == FILE_TYPE_ROUTE) {
        if (route_load(id, &route_other) != id)
            r.damage.push_back(id_text("route", id) + "does not load (header checksum, format, size or tree)");
    } else if (type == FILE_TYPE_SIGNAL || type == FILE_TYPE_VIBROMETER || type == FILE_TYPE_RMS_TABLE) {
        check_measurement(at, id, r);
    } else {
        r.notes.push_back(id_text("file", id) + "of type " + std::to_string(type) +
                          ", which the instrument does not use");
    }
}

int run(const std::vector<std::string>& args)
{
    for (const std::string& a : args) return tool_error("verify: unknown argument " + a);
    Report r;
    g_objects.clear();
    for (u32 i = 0; i < dir_count(); ++i)
        if (dir_type(static_cast<int>(i)) == FILE_TYPE_OBJECT) g_objects.insert(dir_id(static_cast<int>(i)));
    check_pages(r);
    {
        Progress progress(dir_count());
        for (u32 i = 0; i < dir_count(); ++i) {
            check_entry(static_cast<int>(i), r);
            progress.step(i + 1);
        }
    }
    for (const std::string& d : r.damage) std::printf("damage: %s\n", printable(d).c_str());
    for (const std::string& n : r.notes) std::printf("note: %s\n", printable(n).c_str());
    std::printf("%s: %u files checked, %zu problems%s\n", printable(tool_flash_path()).c_str(), dir_count(),
                r.damage.size(),
                r.damage.empty() ? ", clean" : "");
    return r.damage.empty() ? TOOL_OK : TOOL_DAMAGE;
}

const ToolCommandRegistrar reg({"verify", "",
                                "checks pages, file chains, directory, measurement and route checksums and orphans "
                                "without changing anything; exit status 1 when damage is found",
                                ToolAccess::Read, run});

}  // namespace
