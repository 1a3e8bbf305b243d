// info: what the image holds, in figures.
#include <cstdio>

#include "app/settings_screens.h"
#include "archive/measurement.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tools/archive/json.h"
#include "tools/archive/text.h"
#include "tools/archive/tool.h"
#include "tools/archive/walk.h"

namespace {

struct Figures {
    u32 objects = 0, routes = 0, notes = 0, other = 0;
    u32 by_kind[MEAS_KIND_COUNT + 1] = {};  // the last: kinds the instrument does not know
    u32 measurements = 0;
    u32 bad_blocks = 0;
};

Figures gather()
{
    Figures f;
    for (u32 i = 0; i < dir_count(); ++i) {
        const int at = static_cast<int>(i);
        const u8 type = dir_type(at);
        if (type == FILE_TYPE_OBJECT) {
            ++f.objects;
        } else if (type == FILE_TYPE_ROUTE) {
            ++f.routes;
        } else if (type == FILE_TYPE_SIGNAL || type == FILE_TYPE_VIBROMETER || type == FILE_TYPE_RMS_TABLE) {
            ++f.measurements;
            const u32 kind = dir_attr(at);
            ++f.by_kind[kind < MEAS_KIND_COUNT ? kind : MEAS_KIND_COUNT];
            MeasHeader hd;
            if (meas_read_header(dir_id(at), &hd) == MEAS_OK && hd.note_offset != 0) ++f.notes;
        } else {
            ++f.other;
        }
    }
    f.bad_blocks = bad_blocks();
    return f;
}

int run(const std::vector<std::string>& args)
{
    bool json = false;
    if (!tool_json_option(args, "info", &json)) return TOOL_USAGE;
    fs_count_pages();
    const Figures f = gather();
    const FsState& s = fs_state;
    const u32 file_pages = s.end_page - s.first_page;
    const u32 in_use = s.used + s.chained;
    const u32 percent = free_space_percent(fs_free_bytes(), fs_total_bytes());
    if (json) {
        JsonWriter w;
        w.begin_object();
        w.value("image", tool_flash_path());
        w.value("image_bytes",
                static_cast<unsigned long long>(nand_info.total_pages) * (nand_info.page_size + nand_info.spare_size));
        w.begin_object("geometry")
            .value("page_size", nand_info.page_size)
            .value("spare_size", nand_info.spare_size)
            .value("pages_per_block", nand_info.pages_per_block)
            .value("blocks", nand_info.block_count)
            .end();
        w.value("file_pages", file_pages).value("pages_in_use", in_use).value("deleted_pages", s.deleted);
        w.value("free_pages", s.free).value("free_bytes", fs_free_bytes()).value("free_percent", percent);
        w.value("bad_blocks", f.bad_blocks).value("objects", f.objects).value("measurements", f.measurements);
        w.begin_object("measurements_by_kind");
        for (u32 k = 0; k < MEAS_KIND_COUNT; ++k) w.value(kind_name(k), f.by_kind[k]);
        if (f.by_kind[MEAS_KIND_COUNT]) w.value("unknown", f.by_kind[MEAS_KIND_COUNT]);
        w.end();
        w.value("routes", f.routes).value("voice_notes", f.notes).value("other_files", f.other);
        w.end();
        std::fputs(w.text().c_str(), stdout);
        return TOOL_OK;
    }
    std::printf("image: %s\n", printable(tool_flash_path()).c_str());
    std::printf("geometry: %u blocks of %u pages of %u + %u bytes\n", nand_info.block_count, nand_info.pages_per_block,
                nand_info.page_size, nand_info.spare_size);
    std::printf("pages in use: %u of %u (%u deleted, %u free)\n", in_use, file_pages, s.deleted, s.free);
    std::printf("free space: %u%% (%u bytes)\n", percent, fs_free_bytes());
    std::printf("bad blocks: %u\n", f.bad_blocks);
    std::printf("objects: %u\n", f.objects);
    std::printf("measurements: %u\n", f.measurements);
    for (u32 k = 0; k < MEAS_KIND_COUNT; ++k)
        if (f.by_kind[k]) std::printf("  %s: %u\n", kind_name(k), f.by_kind[k]);
    if (f.by_kind[MEAS_KIND_COUNT]) std::printf("  unknown kind: %u\n", f.by_kind[MEAS_KIND_COUNT]);
    std::printf("routes: %u\n", f.routes);
    std::printf("voice notes: %u\n", f.notes);
    if (f.other) std::printf("other files: %u\n", f.other);
    return TOOL_OK;
}

const ToolCommandRegistrar reg({"info", "[--json]",
                                "image size and geometry, pages in use, free space, bad blocks, objects, "
                                "measurements by kind, routes, voice notes",
                                ToolAccess::Read, run});

}  // namespace
