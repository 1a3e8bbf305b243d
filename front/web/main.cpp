// tarvik2-web: the instrument code in a web page. The page (index.html,
// tarvik2.js) loads this module, gives it the stored flash pages and
// parameter memory, and starts the run with web_run(); the functions below
// are the page's way in.
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis/plant.h"
#include "analysis/plant_source.h"
#include "analysis/signal_source.h"
#include "app/startup.h"
#include "front/common/apng.h"
#include "front/common/clip_mark.h"
#include "front/common/key_names.h"
#include "front/common/picture.h"
#include "front/common/plant_title.h"
#include "front/common/runner.h"
#include "front/common/script.h"
#include "front/common/virtual_host.h"
#include "gfx/framebuffer.h"
#include "host/device.h"
#include "host/session.h"
#include "screens/plant_bearings.h"
#include "storage/nand.h"
#include "storage/nand_sparse.h"
#include "web_host.h"

namespace {

// Wall milliseconds the code runs in virtual time before the browser gets
// its turn (painting, input, the page's promises).
constexpr double VIRTUAL_SLICE_MS = 25;
// Virtual milliseconds between looks at the wall clock.
constexpr u64 VIRTUAL_CHECK_EVERY_MS = 8;
// How often the page looks for new steps while the instrument waits for them.
constexpr int STEPS_POLL_MS = 10;
constexpr u64 NO_TIME_LIMIT = ~0ull;

const char* const DATA_DIR = "/data";

NandSparseChip g_chip;
WebRealHost* g_real = nullptr;
VirtualHost* g_virtual = nullptr;
std::unique_ptr<Runner> g_runner;
double g_slice_start = 0;
bool g_running = false;
std::string g_error;
std::vector<u8> g_rgba(static_cast<size_t>(LCD_PIXELS) * 4);
std::vector<u16> g_shown(LCD_PIXELS, 0);
ApngRecorder g_recorder;
std::vector<u32> g_page_list;
std::string g_plant_points;

}  // namespace

// The page stores what the chip writes (IndexedDB).
EM_JS(void, js_page_written, (u32 page, const u8* bytes, u32 length),
      { Module.tarvik2.pageWritten(page, HEAPU8.slice(bytes, bytes + length)); });
EM_JS(void, js_pages_erased, (u32 first, u32 count), { Module.tarvik2.pagesErased(first, count); });

namespace {

void page_written(void*, u32 page, const u8* bytes, u32 length)
{
    js_page_written(page, bytes, length);
}

void block_erased(void*, u32 block)
{
    js_pages_erased(block * nand_info.pages_per_block, nand_info.pages_per_block);
}

const NandPersistHook PERSIST = {nullptr, page_written, block_erased};

void virtual_pump()
{
    g_runner->pump();
    // No steps to run: the instrument waits, and so does virtual time.
    while (g_runner->done() && !power_off_flag) web_wait(STEPS_POLL_MS);
}

void virtual_ms()
{
    g_runner->on_ms();
    if (g_virtual->elapsed_ms() % VIRTUAL_CHECK_EVERY_MS != 0) return;
    if (web_now_ms() - g_slice_start < VIRTUAL_SLICE_MS) return;
    web_wait(0);
    g_slice_start = web_now_ms();
}

const char* result(const std::string& error)
{
    g_error = error;
    return g_error.c_str();
}

}  // namespace

extern "C" {

// Deterministic mode: virtual time from `clock` (YYYY-MM-DDTHH:MM:SS, ""
// for now) with the seed given (when `has_seed`), steps run as the runner
// runs them. "" or what was wrong with the clock (then the PC's clock
// starts it). Before web_run.
EMSCRIPTEN_KEEPALIVE const char* web_set_virtual(const char* clock, u32 seed, int has_seed)
{
    static VirtualHost host;
    std::string error;
    if (clock && *clock) {
        std::time_t t;
        if (parse_clock(clock, &t))
            host.set_clock(t);
        else
            error = std::string("clock '") + clock + "' is not YYYY-MM-DDTHH:MM:SS (the PC's clock is taken)";
    }
    if (has_seed) host.set_seed(seed);
    g_virtual = &host;
    g_runner = std::make_unique<Runner>(host, RunnerScreen{framebuffer, LCD_WIDTH, LCD_HEIGHT}, std::vector<Step>{},
                                        std::string(), NO_TIME_LIMIT, "tarvik2-web");
    g_runner->set_hold_at_end(true);
    host.set_on_pump(virtual_pump);
    host.set_on_ms(virtual_ms);
    return result(error);
}

EMSCRIPTEN_KEEPALIVE int web_is_virtual()
{
    return g_virtual != nullptr;
}

// A page kept from an earlier run (data and spare area), before web_run.
EMSCRIPTEN_KEEPALIVE int web_restore_page(u32 page, const u8* bytes, u32 length)
{
    return g_chip.restore(page, bytes, length);
}

// One run of the instrument, until it is switched off. Returns when it has.
EMSCRIPTEN_KEEPALIVE int web_run()
{
    if (g_running) return 0;
    g_running = true;
    static WebRealHost real;
    if (!g_virtual) g_real = &real;
    host_install(g_virtual ? static_cast<HostInterface*>(g_virtual) : g_real);
    data_dir_set(DATA_DIR);
    g_chip.set_persist_hook(&PERSIST);
    nand_set_device(g_chip.device());
    emu_set_main(instrument_main);
    g_slice_start = web_now_ms();
    // The chip is in memory: the run needs no flash.dat.
    power_off_flag = 0;
    instrument_main();
    if (g_runner) g_runner->finish();
    host_install(nullptr);
    g_running = false;
    return 1;
}

EMSCRIPTEN_KEEPALIVE int web_running()
{
    return g_running;
}

// A key from the keypad's buttons or the PC keyboard (real time only; in
// virtual time the page runs it as a step). `shifted`: the code already
// carries Shift; else the Mod toggle shifts it, as the window's buttons do.
EMSCRIPTEN_KEEPALIVE void web_key(u32 code, int shifted)
{
    if (!g_real) return;
    g_real->input();
    if (!shifted && code != KEY_MOD && !power_off_flag && g_real->mod_toggle()) code |= KEY_SHIFT;
    key_post(code);
}

EMSCRIPTEN_KEEPALIVE void web_input()
{
    if (g_real) g_real->input();
}

EMSCRIPTEN_KEEPALIVE void web_set_shift(int down)
{
    if (g_real) g_real->set_shift(down != 0);
}

EMSCRIPTEN_KEEPALIVE void web_set_mod(int down)
{
    if (g_real) g_real->set_mod_toggle(down != 0);
}

EMSCRIPTEN_KEEPALIVE void web_power_off()
{
    power_off_flag = 1;
}

// Steps of the runner's language appended to those still to run (virtual
// time only): "" or the parse error.
EMSCRIPTEN_KEEPALIVE const char* web_steps(const char* text, const char* origin)
{
    if (!g_runner) return result("steps run only in virtual time (give the page a clock or a seed)");
    std::vector<Step> steps;
    std::string error;
    if (!parse_steps(text, origin, &steps, &error) || !check_recordings(steps, &error)) return result(error);
    g_runner->clear_failed();
    g_runner->append(std::move(steps));
    return result("");
}

// The name of a key in the step language ("" for none).
EMSCRIPTEN_KEEPALIVE const char* web_key_name(u32 code)
{
    const char* name = key_name(code);
    return name ? name : "";
}

// 0 while steps run, 1 when all are done, 2 when done and one failed (a
// picture not written).
EMSCRIPTEN_KEEPALIVE int web_steps_state()
{
    if (!g_runner) return 1;
    if (!g_runner->done() && g_running) return 0;
    return g_runner->failed() ? 2 : 1;
}

EMSCRIPTEN_KEEPALIVE double web_virtual_ms()
{
    return g_virtual ? static_cast<double>(g_virtual->elapsed_ms()) : 0;
}

// The LCD as RGBA bytes for the canvas when it changed since the last call
// (nullptr when not), each pixel widened as the picture files widen it.
EMSCRIPTEN_KEEPALIVE const u8* web_screen_rgba(int force)
{
    if (!force && std::equal(framebuffer, framebuffer + LCD_PIXELS, g_shown.begin())) return nullptr;
    for (int i = 0; i < LCD_PIXELS; ++i) {
        g_shown[i] = framebuffer[i];
        rgb565_to_rgb888(framebuffer[i], &g_rgba[static_cast<size_t>(i) * 4]);
        g_rgba[static_cast<size_t>(i) * 4 + 3] = 255;
    }
    return g_rgba.data();
}

// Save Picture: the LCD as a PNG (or BMP) file in the page's memory.
EMSCRIPTEN_KEEPALIVE const char* web_save_picture(const char* path)
{
    std::string error;
    if (!picture_save(path, framebuffer, LCD_WIDTH, LCD_HEIGHT, -1, &error)) return result(error);
    return result("");
}

// A recording of the screen as an animated PNG, as the window makes it: the
// page looks at the screen every 100 ms (web_record_frame) with its clock.
EMSCRIPTEN_KEEPALIVE const char* web_record_start(const char* path, double ms)
{
    std::string error;
    if (!g_recorder.start(path, framebuffer, LCD_WIDTH, LCD_HEIGHT, static_cast<u64>(ms), &error))
        return result(error);
    return result("");
}

EMSCRIPTEN_KEEPALIVE int web_record_frame(double ms)
{
    if (!g_recorder.recording()) return 0;
    return g_recorder.frame(framebuffer, static_cast<u64>(ms)) ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE const char* web_record_stop(double ms)
{
    std::string error;
    if (!g_recorder.recording()) return result(g_recorder.error());
    if (!g_recorder.stop(framebuffer, static_cast<u64>(ms), &error)) return result(error);
    return result("");
}

// A recorded signal measured in place of the synthesised one, as --signal
// FILE (with --signal-rate when `rate` > 0) and --temperature C: "" or the
// problem, named with the file.
EMSCRIPTEN_KEEPALIVE const char* web_signal_open(const char* path, double rate, double temperature)
{
    SignalOptions o;
    o.path = path;
    o.rate = rate;
    o.temperature = temperature;
    const std::string e = signal_source_open(o);
    if (e.empty()) plant_source_close();
    return result(e);
}

// The share of the last record's samples that clipped, in percent (never
// below 0.1 for a record that clipped), or -1 while records do not clip.
EMSCRIPTEN_KEEPALIVE double web_clip_percent()
{
    return clip_percent_shown();
}

EMSCRIPTEN_KEEPALIVE void web_signal_close()
{
    signal_source_close();
}

// The temperature with a recording, checked as --temperature checks it: ""
// or the problem.
EMSCRIPTEN_KEEPALIVE const char* web_check_temperature(const char* text)
{
    SignalOptions o;
    return result(signal_option_set("--temperature", text, &o));
}

// A virtual plant from the plant file at `path`, the probe on `point`
// ("group/machine/point", "" for none), as --plant FILE --plant-point: ""
// or one line naming the file, the JSON path and what is wrong; then the
// plant (or none) in use stays. A plant taken in use puts a recorded signal
// away: the one taken last gives the signal.
EMSCRIPTEN_KEEPALIVE const char* web_plant_open(const char* path, const char* point)
{
    Plant plant;
    std::string e = plant_load(path, plant_bearing_lookup, &plant);
    if (e.empty()) e = plant_source_open(plant, point);
    if (e.empty()) signal_source_close();
    return result(e);
}

// The probe on another point of the plant ("" on none): "" or the problem.
EMSCRIPTEN_KEEPALIVE const char* web_plant_choose(const char* point)
{
    return result(plant_source_choose(point));
}

EMSCRIPTEN_KEEPALIVE void web_plant_close()
{
    plant_source_close();
}

// The points of the plant in use for the page's list, one a line:
// group TAB machine TAB point TAB path ("" without a plant).
EMSCRIPTEN_KEEPALIVE const char* web_plant_points()
{
    g_plant_points.clear();
    if (!plant_source_loaded()) return g_plant_points.c_str();
    for (const PlantGroup& g : plant_source_plant().groups)
        for (const PlantMachine& m : g.machines)
            for (const PlantPoint& p : m.points)
                g_plant_points += g.name + "\t" + m.name + "\t" + p.name + "\t" + plant_point_path(g, m, p) + "\n";
    return g_plant_points.c_str();
}

// The plant's name ("" without one), the point chosen outside a route, and
// the page's line on the probe (as the window's title says it).
EMSCRIPTEN_KEEPALIVE const char* web_plant_name()
{
    return result(plant_source_loaded() ? plant_source_plant().name : std::string());
}

EMSCRIPTEN_KEEPALIVE const char* web_plant_point()
{
    return result(plant_source_point());
}

EMSCRIPTEN_KEEPALIVE const char* web_plant_text()
{
    return result(plant_probe_text("probe on no point"));
}

// The chip's written pages for "Download archive": their count; the numbers
// then lie at web_page_numbers().
EMSCRIPTEN_KEEPALIVE u32 web_page_count()
{
    g_page_list.clear();
    for (const auto& [page, bytes] : g_chip.pages()) g_page_list.push_back(page);
    return static_cast<u32>(g_page_list.size());
}

EMSCRIPTEN_KEEPALIVE const u32* web_page_numbers()
{
    return g_page_list.data();
}

EMSCRIPTEN_KEEPALIVE const u8* web_page(u32 page)
{
    return g_chip.page(page);
}

EMSCRIPTEN_KEEPALIVE u32 web_page_bytes()
{
    return g_chip.page_bytes();
}

}  // extern "C"

int main()
{
    // The page starts the run (web_run) once the stored archive is in.
    return 0;
}
