// Routes of the most items a route holds (1024: the route item, 31
// machines of 32 points each), every point measured with a measurement of
// its own: loading the route from flash, a full redraw of its tree (the
// cursor on the route item, and in the middle of the route), and Enter on
// the route item: the walk to the next point still to measure, which with
// every point measured passes the whole route, and the selection of the
// item it ends on.
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/reset.h"
#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "front/common/virtual_host.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "gfx/tree_view.h"
#include "host/hostif.h"
#include "host/session.h"
#include "screens/route_tree.h"
#include "storage/dir.h"
#include "storage/fs.h"

namespace {

constexpr u32 MACHINES = 31, POINTS_PER_MACHINE = 32;
static_assert(1 + MACHINES * (1 + POINTS_PER_MACHINE) == ROUTE_MAX_ITEMS);

// A mounted archive in a temporary folder holding the route and its
// measurements; built once for all the benchmarks.
struct RouteBenchImage {
    std::string folder;
    int fd = 0;
    u32 file = 0;
    VirtualHost host;
    bool ok = false;

    RouteBenchImage()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tarvik2-bench-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) return;
        folder = tmpl;
        fd = open((folder + "/flash.dat").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd <= 0) return;
        system_reset();
        host_install(&host);
        flash_handle = fd;
        if (fs_init() != FS_OK || fs_mount() != FS_OK) return;
        archive_state = ARCHIVE_MOUNTED;
        if (obj_after_mount() == 0) return;
        images_unpack_all();
        file = build();
        ok = file != 0;
    }
    ~RouteBenchImage()
    {
        flash_handle = 0;
        host_install(nullptr);
        if (fd > 0) close(fd);
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    static RouteItem item(const char* name, u32 level, i32 parent, u32 kind)
    {
        RouteItem it{};
        it.state = ROUTE_STATE_NOT_MEASURED;
        it.measurement = ROUTE_NO_MEASUREMENT;
        std::snprintf(it.name, sizeof it.name, "%s", name);
        it.level = level;
        it.parent = parent;
        it.node_kind = kind;
        it.expanded = 1;
        return it;
    }

    static u32 build()
    {
        RouteBuffer* b = &route_other;
        route_clear(b);
        std::strcpy(b->header.name, "Route 1024");
        b->header.count = ROUTE_MAX_ITEMS;
        b->items[0] = item("Route 1024", 0, ROUTE_NO_PARENT, ROUTE_NODE_ROUTE);
        // The points' measurements go into the route's object, as the route
        // screen saves them.
        const u32 object = obj_create("Route 1024");
        if (object == 0 || obj_select(object) != OBJ_OK) return 0;
        SpectraRecord record{};
        record.type = 1;
        record.kind = MEAS_KIND_SPECTRUM;
        u32 k = 1;
        for (u32 m = 0; m < MACHINES; ++m) {
            char name[16];
            std::snprintf(name, sizeof name, "Machine %u", m + 1);
            const i32 machine = static_cast<i32>(k);
            b->items[k++] = item(name, 1, 0, ROUTE_NODE_GROUP);
            for (u32 p = 0; p < POINTS_PER_MACHINE; ++p) {
                std::snprintf(name, sizeof name, "%uV", p + 1);
                RouteItem it = item(name, 2, machine, ROUTE_NODE_POINT);
                it.point_type = 1;
                it.spectrum = ROUTE_SPECTRUM;
                it.lines = 400;
                it.fmax = 1000;
                const u32 id = meas_save(MEAS_KIND_SPECTRUM, 0, &record, sizeof record, nullptr, 0, nullptr, 0, true);
                if (id == 0) return 0;
                it.state = ROUTE_STATE_MEASURED;
                it.measurement = static_cast<i32>(id);
                b->items[k++] = it;
            }
        }
        return route_save(0, b);
    }
};

RouteBenchImage& image()
{
    static RouteBenchImage img;
    return img;
}

bool ready(benchmark::State& state)
{
    RouteBenchImage& img = image();
    if (!img.ok || route_load(img.file, &route_current) != img.file) {
        state.SkipWithError("cannot build the route");
        return false;
    }
    return true;
}

bool is_item(const TreeNode* node, const void* context)
{
    return node->index == *static_cast<const int*>(context);
}

void BM_RouteLoad1024(benchmark::State& state)
{
    if (!ready(state)) return;
    const u32 file = image().file;
    for (auto _ : state) {
        if (route_load(file, &route_current) != file) {
            state.SkipWithError("not loaded");
            break;
        }
        benchmark::DoNotOptimize(route_current.items[ROUTE_MAX_ITEMS - 1].state);
    }
    state.counters["items"] = route_current.header.count;
}
BENCHMARK(BM_RouteLoad1024)->Unit(benchmark::kMicrosecond);

// Argument 0: the cursor on the route item; 1: on a point in the middle.
void BM_RouteTreeDraw1024(benchmark::State& state)
{
    if (!ready(state)) return;
    font_select(4);
    TreeView view;
    tree_init(&view, 1, 22, 318, 123, route_tree_root);
    int target = state.range(0) == 0 ? 0 : static_cast<int>(ROUTE_MAX_ITEMS / 2);
    tree_select(&view, is_item, &target);
    for (auto _ : state) {
        tree_draw(&view);
        benchmark::DoNotOptimize(framebuffer[LCD_WIDTH * 60 + 100]);
    }
    state.counters["cursor_item"] = view.current.index;
}
BENCHMARK(BM_RouteTreeDraw1024)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Enter on the route item with every point measured: the walk passes the
// whole route and ends on its last item, which is then selected.
void BM_RouteNextOpenPoint1024(benchmark::State& state)
{
    if (!ready(state)) return;
    font_select(4);
    TreeView view;
    tree_init(&view, 1, 22, 318, 123, route_tree_root);
    int target = 0;
    for (auto _ : state) {
        target = route_next_open_point(0);
        route_expand_path(target);
        if (!tree_select(&view, is_item, &target)) {
            state.SkipWithError("not selected");
            break;
        }
    }
    state.counters["target"] = target;
}
BENCHMARK(BM_RouteNextOpenPoint1024)->Unit(benchmark::kMicrosecond);

}  // namespace
