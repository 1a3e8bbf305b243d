// The scrolling list: a full drawing of an 11-row list and one step of the
// selection inside the window (two rows and the thumb redrawn).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "front/common/virtual_host.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/listbox.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/hostif.h"

namespace {

// An 11-row list of 40 stored items in font 4, as the route and bearing lists.
std::unique_ptr<ListBox> make_list()
{
    auto list = std::make_unique<ListBox>();
    list_init(list.get(), 10, 30, 300, 11, 4, 0);
    for (int i = 0; i < 40; ++i) list_append(list.get(), ("Bearing 62" + std::to_string(i)).c_str(), i);
    list_select(list.get(), 5);
    return list;
}

// A host with virtual time and the screen's colours, for the length of a
// benchmark.
struct DrawingHost {
    DrawingHost()
    {
        host_install(&host);
        framebuffer_reset();
        images_unpack_all();
        fg_color = COLOR_BLACK;
        bg_color = COLOR_BACKGROUND;
    }
    ~DrawingHost() { host_install(nullptr); }
    VirtualHost host;
};

}  // namespace

static void BM_ListDraw(benchmark::State& state)
{
    DrawingHost drawing;
    auto list = make_list();
    for (auto _ : state) {
        list_draw(list.get());
        benchmark::DoNotOptimize(framebuffer[LCD_WIDTH * 40 + 20]);
    }
}
BENCHMARK(BM_ListDraw)->Unit(benchmark::kMicrosecond);

static void BM_ListKeyStep(benchmark::State& state)
{
    DrawingHost drawing;
    auto list = make_list();
    list_draw(list.get());
    i32 redraw = 0;
    bool down = true;
    for (auto _ : state) {
        // Between rows 5 and 6: always inside the window.
        list_key(list.get(), down ? KEY_DOWN : KEY_UP, &redraw);
        down = !down;
        benchmark::DoNotOptimize(redraw);
    }
}
BENCHMARK(BM_ListKeyStep)->Unit(benchmark::kMicrosecond);
