// The archive browser's tree on a full directory of 8192 entries: a full
// redraw of a page, one Down step inside the page (two lines redrawn), one
// page-down step with the redraw it asks for, and showing the last
// measurement of the directory by its id. Two images: 64 objects with 127
// measurements each, and one object with 8191 (the longest searches past an
// object's measurements). The measurement files of the image builder carry
// no measurement header, so every label costs two header reads, as a
// damaged one would.
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "app/reset.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "bench/bench_image.h"
#include "front/common/virtual_host.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/hostif.h"
#include "host/session.h"
#include "screens/archive_tree.h"
#include "screens/browser.h"
#include "storage/dir.h"
#include "storage/fs.h"

namespace {

// The builder's files are 2 KiB each.
BuiltImage& image(int which)
{
    static BuiltImage many(64, 127, 2048);
    static BuiltImage one(1, 8191, 2048);
    return which == 0 ? many : one;
}

// The image mounted as at start-up, the tree set up, and the cursor on the
// last measurement of the directory (its object opened).
struct Mounted {
    VirtualHost host;
    bool ok = false;

    Mounted(benchmark::State& state)
    {
        BuiltImage& img = image(static_cast<int>(state.range(0)));
        if (!img.ok) {
            state.SkipWithError("cannot build the image");
            return;
        }
        system_reset();
        host_install(&host);
        flash_handle = img.fd;
        if (fs_init() != FS_OK || fs_mount() != FS_OK || dir_count() != DIR_CAPACITY) {
            state.SkipWithError("cannot mount the image");
            return;
        }
        images_unpack_all();
        obj_after_mount();
        archive_state = ARCHIVE_MOUNTED;
        archive_tree_init();
        archive_show_id(dir_id(static_cast<int>(DIR_CAPACITY - 1)));
        font_select(ARCHIVE_TREE_FONT);
        ok = true;
    }
    ~Mounted()
    {
        flash_handle = 0;
        host_install(nullptr);
    }
};

void BM_TreeDrawFullPage(benchmark::State& state)
{
    Mounted m(state);
    if (!m.ok) return;
    TreeView* view = archive_tree_view();
    for (auto _ : state) {
        tree_draw(view);
        benchmark::DoNotOptimize(framebuffer[LCD_WIDTH * 100 + 100]);
    }
}
BENCHMARK(BM_TreeDrawFullPage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Up and Down in turn between the two lines above the last one: each step
// moves inside the page and redraws the two lines.
void BM_TreeDownStep(benchmark::State& state)
{
    Mounted m(state);
    if (!m.ok) return;
    TreeView* view = archive_tree_view();
    bool redraw = false;
    u32 key = KEY_UP;
    tree_key(view, &key, &redraw);
    key = KEY_UP;
    tree_key(view, &key, &redraw);
    bool down = true;
    for (auto _ : state) {
        key = down ? KEY_DOWN : KEY_UP;
        redraw = false;
        tree_key(view, &key, &redraw);
        if (redraw) tree_draw(view);
        down = !down;
    }
    state.counters["full_redraws"] = redraw ? 1 : 0;
}
BENCHMARK(BM_TreeDownStep)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Page up and page down in turn near the end of the directory, each with
// the full redraw it asks for.
void BM_TreePageStep(benchmark::State& state)
{
    Mounted m(state);
    if (!m.ok) return;
    TreeView* view = archive_tree_view();
    bool up = true;
    for (auto _ : state) {
        u32 key = up ? view->page_up_key : view->page_down_key;
        bool redraw = false;
        tree_key(view, &key, &redraw);
        if (redraw) tree_draw(view);
        up = !up;
    }
}
BENCHMARK(BM_TreePageStep)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_TreeShowLastMeasurement(benchmark::State& state)
{
    Mounted m(state);
    if (!m.ok) return;
    TreeView* view = archive_tree_view();
    const u32 last = dir_id(static_cast<int>(DIR_CAPACITY - 1));
    for (auto _ : state) {
        if (!tree_show_id(view, last)) {
            state.SkipWithError("not shown");
            break;
        }
    }
    state.counters["cursor_row"] = (view->cursor_y - view->y0 - TREE_FIRST_ROW) / view->row_height;
}
BENCHMARK(BM_TreeShowLastMeasurement)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
