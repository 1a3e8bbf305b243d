// tarvik2-run: the instrument code with virtual time and no display.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/meas_module.h"
#include "analysis/plant.h"
#include "analysis/plant_source.h"
#include "analysis/signal.h"
#include "analysis/signal_source.h"
#include "app/startup.h"
#include "front/common/instance.h"
#include "front/common/runner.h"
#include "front/common/virtual_host.h"
#include "gfx/framebuffer.h"
#include "host/device.h"
#include "host/session.h"
#include "screens/plant_bearings.h"
#include "storage/nand.h"

namespace {

const char* const USAGE =
    "usage: tarvik2-run [options] [SCRIPT]\n"
    "Runs the Tarvik-2 instrument code with virtual time and no display.\n"
    "  --data DIR      working folder for flash.dat and fram.dat (created if missing;\n"
    "                  default: the current folder)\n"
    "  --clock TIME    the instrument clock starts at TIME (YYYY-MM-DDTHH:MM:SS) and\n"
    "                  advances with virtual time (default: local clock)\n"
    "  --seed N        seed of the pseudo-random generator (default: from the clock)\n"
    "  --keys STEPS    steps, separated by ';' or new lines, run after SCRIPT\n"
    "  --shot FILE     after the last step, save the screen to FILE (.png or .bmp)\n"
    "  --max-time MS   give up with exit status 3 past MS virtual ms (default 600000)\n"
    "  --plant FILE    a virtual plant (JSON, see examples/plants): the measuring\n"
    "                  chain is fed the signal of the point the probe is on; on a\n"
    "                  route made from the plant, the point under the cursor\n"
    "  --plant-point PATH  the point outside a route, by its path\n"
    "                  \"group/machine/point\" (without it: the synthesised signal)\n"
    "  -h, --help      this text\n"
    "  --version       the version\n"
    "Steps: esc enter up down left right mod, shift+KEY, hold, release, wait MS,\n"
    "shot FILE, record FILE, stop-record, off; '#' starts a comment.\n"
    "record FILE writes an animated PNG of the screen until stop-record (or the\n"
    "end of the steps): one frame per change, looked at every 100 virtual ms.\n";

constexpr double PERCENT = 100;

int usage_error(const std::string& what)
{
    std::fprintf(stderr, "tarvik2-run: %s (see --help)\n", what.c_str());
    return 2;
}

// One line on standard error when the recorded signal overloaded the
// converter during the run: those records read too low.
void warn_if_clipped()
{
    const SignalClipping& c = signal_source_clipping();
    if (!signal_source_active() || c.clipped_records == 0) return;
    const float* scale = meas_calibration.set[meas_main_set()];
    std::fprintf(stderr,
                 "tarvik2-run: warning: '%s' overloaded the converter (range ±%.0f m/s², ±%.0f mm/s, ±%.0f µm) "
                 "in %llu of %llu records (%.1f %% of all samples clipped): the readings of those records are too "
                 "low\n",
                 signal_source_path().c_str(), scale[Q_A] * MID_SCALE, scale[Q_V] * MID_SCALE, scale[Q_D] * MID_SCALE,
                 static_cast<unsigned long long>(c.clipped_records), static_cast<unsigned long long>(c.records),
                 PERCENT * static_cast<double>(c.clipped_frames) / static_cast<double>(c.frames));
}

// One line on standard error when a route walk measured points that the
// plant does not hold: those readings are its noise floor.
void note_points_not_in_plant()
{
    std::string points;
    for (const std::string& p : plant_source_walk_missing()) points += (points.empty() ? "'" : ", '") + p + "'";
    if (points.empty()) return;
    std::fprintf(stderr, "tarvik2-run: note: route points not in the plant '%s', measured at its noise floor: %s\n",
                 plant_source_plant().file.c_str(), points.c_str());
}

bool parse_u64(const char* s, u64 max, u64* out)
{
    if (!s || !*s || *s == '-' || *s == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(s, &end, 10);
    if (*end != '\0' || errno == ERANGE || v > max) return false;
    *out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string data = ".", script, keys, shot, clock_text;
    bool have_keys = false, have_seed = false, have_clock = false;
    u64 seed = 0, max_ms = 600000;
    SignalOptions signal;
    bool signal_given = false;
    std::string signal_extra;
    std::string plant_file, plant_point;
    bool have_plant = false, have_plant_point = false;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string value;
        bool inline_value = false;
        if (a.rfind("--", 0) == 0 && a.find('=') != std::string::npos) {
            value = a.substr(a.find('=') + 1);
            a = a.substr(0, a.find('='));
            inline_value = true;
        }
        auto need_value = [&](std::string* out) {
            if (inline_value) {
                *out = value;
                return true;
            }
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        if (a == "-h" || a == "--help") {
            std::fputs(USAGE, stdout);
            std::fputs("Signal source (recorded vibration in place of the synthesised one):\n", stdout);
            std::fputs(SIGNAL_OPTIONS_HELP, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("tarvik2-run %s\n", TARVIK2_VERSION);
            return 0;
        } else if (a == "--data") {
            if (!need_value(&data) || data.empty()) return usage_error("--data needs a folder");
        } else if (a == "--clock") {
            if (!need_value(&clock_text)) return usage_error("--clock needs a time");
            have_clock = true;
        } else if (a == "--seed") {
            std::string v;
            if (!need_value(&v) || !parse_u64(v.c_str(), 0xFFFFFFFFull, &seed))
                return usage_error("--seed needs a number from 0 to 4294967295");
            have_seed = true;
        } else if (a == "--keys") {
            if (!need_value(&keys)) return usage_error("--keys needs steps");
            have_keys = true;
        } else if (a == "--shot") {
            if (!need_value(&shot)) return usage_error("--shot needs a file name");
            const std::string l = shot.size() >= 4 ? shot.substr(shot.size() - 4) : "";
            if (l != ".png" && l != ".bmp" && l != ".PNG" && l != ".BMP")
                return usage_error("--shot file '" + shot + "' must end in .png or .bmp");
        } else if (a == "--max-time") {
            std::string v;
            if (!need_value(&v) || !parse_u64(v.c_str(), 0xFFFFFFFFFFull, &max_ms) || max_ms == 0)
                return usage_error("--max-time needs a positive number of milliseconds");
        } else if (a == "--plant") {
            if (!need_value(&plant_file) || plant_file.empty()) return usage_error("--plant needs a file name");
            have_plant = true;
        } else if (a == "--plant-point") {
            if (!need_value(&plant_point) || plant_point.empty())
                return usage_error("--plant-point needs a point's path \"group/machine/point\"");
            have_plant_point = true;
        } else if (signal_option_known(a)) {
            std::string v;
            if (!need_value(&v)) return usage_error(a + " needs a value");
            const std::string e = signal_option_set(a, v, &signal);
            if (!e.empty()) return usage_error(e);
            signal_given = signal_given || a == "--signal";
            signal_extra = a;
        } else if (a.size() > 1 && a[0] == '-') {
            return usage_error("unknown option '" + std::string(argv[i]) + "'");
        } else if (script.empty()) {
            script = a;
        } else {
            return usage_error("only one SCRIPT may be given, got '" + script + "' and '" + a + "'");
        }
    }

    if (!signal_extra.empty() && !signal_given) return usage_error(signal_extra + " needs --signal FILE");
    if (have_plant_point && !have_plant) return usage_error("--plant-point needs --plant FILE");
    if (have_plant && signal_given) return usage_error("--plant and --signal both give the signal: choose one");
    if (have_plant) {
        Plant plant;
        std::string e = plant_load(plant_file, plant_bearing_lookup, &plant);
        if (e.empty()) e = plant_source_open(plant, plant_point);
        if (!e.empty()) {
            std::fprintf(stderr, "tarvik2-run: %s\n", e.c_str());
            return 2;
        }
    }
    if (signal_given) {
        const std::string e = signal_source_open(signal);
        if (!e.empty()) {
            std::fprintf(stderr, "tarvik2-run: %s\n", e.c_str());
            return 2;
        }
    }

    std::vector<Step> steps;
    std::string error;
    if (!script.empty()) {
        std::error_code ec;
        if (std::filesystem::is_directory(script, ec)) {
            std::fprintf(stderr, "tarvik2-run: %s: a folder, not a file of steps\n", script.c_str());
            return 2;
        }
        std::ifstream in(script, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "tarvik2-run: %s: cannot read: %s\n", script.c_str(), std::strerror(errno));
            return 2;
        }
        std::stringstream ss;
        ss << in.rdbuf();
        if (!parse_steps(ss.str(), script, &steps, &error)) {
            std::fprintf(stderr, "tarvik2-run: %s\n", error.c_str());
            return 2;
        }
    }
    if (have_keys && !parse_steps(keys, "--keys", &steps, &error)) {
        std::fprintf(stderr, "tarvik2-run: %s\n", error.c_str());
        return 2;
    }
    if (!check_recordings(steps, &error)) {
        std::fprintf(stderr, "tarvik2-run: %s\n", error.c_str());
        return 2;
    }

    VirtualHost vhost;
    if (have_clock) {
        std::time_t t;
        if (!parse_clock(clock_text.c_str(), &t))
            return usage_error("--clock '" + clock_text + "' is not a time of the form YYYY-MM-DDTHH:MM:SS");
        vhost.set_clock(t);
    }
    if (have_seed) vhost.set_seed(static_cast<u32>(seed));

    std::error_code ec;
    std::filesystem::create_directories(data, ec);
    if (ec || !std::filesystem::is_directory(data)) {
        std::fprintf(stderr, "tarvik2-run: --data %s: cannot use this folder: %s\n", data.c_str(),
                     ec ? ec.message().c_str() : "not a folder");
        return 2;
    }
    // Two programs on one flash.dat would spoil it.
    DataDirLock lock;
    bool busy = false;
    if (!lock.acquire(data, &error, &busy)) {
        std::fprintf(stderr, "tarvik2-run: %s\n", error.c_str());
        if (busy) return 2;
    }
    data_dir_set(data);
    image_changed_prepare("tarvik2-run", data_path("flash.dat"), 2);
    nand_set_changed_hook(image_changed_exit);

    Runner runner(vhost, {framebuffer, LCD_WIDTH, LCD_HEIGHT}, std::move(steps), shot, max_ms);
    vhost.set_on_pump([&] { runner.pump(); });
    vhost.set_on_ms([&] { runner.on_ms(); });
    host_install(&vhost);
    emu_set_main(instrument_main);
    emu_run();
    runner.finish();
    host_install(nullptr);
    warn_if_clipped();
    note_points_not_in_plant();

    if (runner.timed_out()) return 3;
    return runner.failed() ? 2 : 0;
}
