// Route data collection and the route choice: the first entry, the title's
// path, the information panels, a point's settings, measuring and saving
// points (by Enter and at the end of the averaging), measuring again, saved
// waveforms shown whole, the cursor kept on the point measured,
// measurements gone from the archive, clearing and deleting routes from the
// choice, choosing another route, leaving, the walk of the committed runner
// script, and through the runner on prepared archives: links that never
// adopt another owner's measurement, and readings kept when the archive is
// full.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/plant.h"
#include "analysis/plant_source.h"
#include "analysis/signal.h"
#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "base/cp1251.h"
#include "base/stamp.h"
#include "data/images.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/plant_bearings.h"
#include "screens/plot.h"
#include "screens/route_screen.h"
#include "screens/route_tree.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tests/support/flash_image.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

constexpr u32 MOD_ENTER = KEY_SHIFT | KEY_ENTER, MOD_LEFT = KEY_SHIFT | KEY_LEFT, MOD_RIGHT = KEY_SHIFT | KEY_RIGHT;
// Stands for "no key" in a script: the Mod key alone, which moves nothing
// here while no plot is shown.
constexpr u32 IDLE = KEY_MOD;

const std::string SEP = "\x1A";

// The panel's lines and the route choice's counts.
bool panel_shows(const std::vector<u16>& px, int line, const char* text)
{
    return panel_text_shows(px, ROUTE_PANEL_X, ROUTE_PANEL_Y[line], text);
}
bool choice_counts_show(const std::vector<u16>& px, int points, int measured)
{
    char a[32], b[32];
    std::snprintf(a, sizeof a, "Замеров  : %3d"_cp, points);
    std::snprintf(b, sizeof b, "Измерено : %3d"_cp, measured);
    return panel_text_shows(px, 32, 176, a) && panel_text_shows(px, 32, 195, b);
}
// The confirmations of the route choice: title and lines centred, no icon,
// OK and Cancel.
bool confirmation_shows(const std::vector<u16>& px, std::vector<const char*> lines)
{
    const int h = 44 + 23 + 20 + 23 * static_cast<int>(lines.size());
    const int top = (240 - h) / 2;
    if (!region_has_text(px, 159, top + 8, "Потверждение"_cp, 4, TF_HCENTER, COLOR_WHITE, COLOR_BLUE)) return false;
    int y = top + 42;
    for (const char* l : lines) {
        if (!region_has_text(px, 160 - 4 * static_cast<int>(std::strlen(l)), y, l, 4, 0, COLOR_BLACK, COLOR_BACKGROUND))
            return false;
        y += 23;
    }
    return true;
}
// Pixels of the plot's trace colour inside the plot.
int trace_pixels(const std::vector<u16>& px)
{
    int n = 0;
    for (int y = ROUTE_PLOT_Y0; y <= ROUTE_PLOT_Y1; ++y)
        for (int x = ROUTE_PLOT_X0; x <= ROUTE_PLOT_X1; ++x) n += px[y * LCD_WIDTH + x] == PLOT_COLOR_TRACE;
    return n;
}

int routes_in_directory()
{
    int n = 0;
    for (u32 i = 0; i < dir_count(); ++i) n += dir_type(static_cast<int>(i)) == FILE_TYPE_ROUTE;
    return n;
}
// The measurements saved into object `id`.
std::vector<u32> measurements_of(u32 id)
{
    std::vector<u32> v;
    for (u32 i = 0; i < dir_count(); ++i)
        if (dir_parent(static_cast<int>(i)) == id && id != 0) v.push_back(dir_id(static_cast<int>(i)));
    return v;
}

class RouteScreen : public ::testing::Test {
protected:
    VirtualHostScope scope;  // first: its reset comes before the mount
    MountedFlash image;
    u32 object = 0;
    // shots[i]: the screen before key i was posted; probes[i]: the route
    // point the probe was on then ("-" when no route walk fed the chain).
    std::vector<std::vector<u16>> shots;
    std::vector<std::string> probes;

    void SetUp() override
    {
        images_unpack_all();
        archive_state = ARCHIVE_MOUNTED;
        ASSERT_EQ(obj_after_mount(), OBJ_CHOSEN);
        object = settings_current_object();
        meas_calibration_defaults();
        meas_init();
        results_reset();
        rand_seed(5);
    }

    // Runs the screen on `keys`; true when it returned by itself, not at
    // the power-off that follows the keys.
    // `before(i)`, when given, runs after shot i, before key i goes.
    bool run(std::vector<u32> keys, std::function<void(size_t)> before = nullptr)
    {
        shots.clear();
        probes.clear();
        power_off_flag = 0;
        scope.host.set_on_pump([this, keys, before, next = size_t(0), pumps = 0]() mutable {
            if (pending_key != KEY_NONE || power_off_flag) return;
            if (next >= keys.size()) {
                if (++pumps > 20000) power_off_flag = 1;
                return;
            }
            if (++pumps < 5) return;
            pumps = 0;
            shots.emplace_back(framebuffer, framebuffer + LCD_PIXELS);
            probes.push_back(plant_source_walking() ? plant_source_walk_point() : "-");
            if (before) before(next);
            key_post(keys[next++]);
        });
        route_screen();
        scope.host.set_on_pump(nullptr);
        const bool left = power_off_flag == 0;
        power_off_flag = 0;
        return left;
    }

    // The demonstration route, in use from the settings with item `item`
    // selected.
    u32 route_in_use(u32 item = 0)
    {
        const u32 file = route_make_test();
        EXPECT_NE(file, 0u);
        settings.last_route = file;
        settings.last_route_item = item;
        return file;
    }
    static u32 route_object() { return obj_find_by_name(ROUTE_TEST_NAME); }
};

TEST_F(RouteScreen, FirstEntryWithAnEmptyArchiveMakesTheTestRouteAndSelectsItsRouteItem)
{
    ASSERT_EQ(routes_in_directory(), 0);
    // The route choice comes first: no route has been in use yet.
    EXPECT_TRUE(run({KEY_ENTER, IDLE, KEY_ESC}));
    ASSERT_EQ(shots.size(), 3u);
    EXPECT_TRUE(title_shows(shots[0], "Выберите маршрут"_cp));
    EXPECT_TRUE(choice_counts_show(shots[0], 6, 0));
    const u32 file = route_find(ROUTE_TEST_NAME);
    ASSERT_NE(file, 0u);
    EXPECT_EQ(routes_in_directory(), 1);
    EXPECT_EQ(route_current.header.count, ROUTE_TEST_ITEMS);
    EXPECT_EQ(settings.last_route, file);
    EXPECT_EQ(settings.last_route_item, 0u);

    // The tree with the route item selected, its panel and an empty title.
    const auto& tree = shots[1];
    EXPECT_TRUE(archive_row_shows(tree, 0, 0, "Маршрут 1"_cp, true));
    EXPECT_TRUE(archive_row_shows(tree, 1, 1, "Цех"_cp, false));
    EXPECT_TRUE(archive_row_shows(tree, 2, 2, "Н-528"_cp, false));
    EXPECT_TRUE(archive_row_shows(tree, 3, 3, "1В"_cp, false));
    EXPECT_TRUE(title_shows(tree, ""));
    EXPECT_TRUE(panel_shows(tree, 0, "Объектов :   3"_cp));
    EXPECT_TRUE(panel_shows(tree, 1, "Замеров  :   6"_cp));
    EXPECT_TRUE(panel_shows(tree, 2, "Измерено :   0"_cp));

    // The next entry goes straight to the tree; no second route is made.
    EXPECT_TRUE(run({IDLE, KEY_ESC}));
    EXPECT_TRUE(archive_row_shows(shots[0], 0, 0, "Маршрут 1"_cp, true));
    EXPECT_EQ(routes_in_directory(), 1);
}

TEST_F(RouteScreen, EnterOnTheShopSelectsTheFirstPointOfItsFirstMachine)
{
    route_in_use();
    EXPECT_TRUE(run({KEY_DOWN, KEY_ENTER, IDLE, KEY_ESC}));
    EXPECT_EQ(route_screen_state.tree.current.index, 3);
    EXPECT_EQ(settings.last_route_item, 3u);
    const auto& px = shots[2];
    EXPECT_TRUE(archive_row_shows(px, 3, 3, "1В"_cp, true));
    EXPECT_TRUE(title_shows(px, ("Маршрут."_cp + SEP + "Цех"_cp + SEP + "Н-528"_cp + SEP).c_str()));
    EXPECT_TRUE(panel_shows(px, 0, "Сигнал   Скорость"_cp));
    // Nothing was measured.
    EXPECT_EQ(route_object(), 0u);
}

TEST_F(RouteScreen, PanelsOfPointsAndGroups)
{
    struct Case {
        const char* what;
        u32 item, sensor;
        std::vector<const char*> lines;  // nullptr: the line stays empty
    };
    const std::vector<Case> cases = {
        {"waveform, 1600 lines over 400 Hz",
         3,
         1,
         {CP("Сигнал   Скорость"), CP("Датчик   : Внутренний"), CP("Отсчетов : 4096"), CP("Длительн.:  4.0 с")}},
        {"waveform, 400 lines over 4 kHz",
         4,
         1,
         {CP("Сигнал   Скорость"), CP("Датчик   : Внутренний"), CP("Отсчетов : 1024"), CP("Длительн.:  0.1 с")}},
        {"spectrum of displacement, external sensor",
         5,
         2,
         {CP("Спектр   Перемещен"), CP("Датчик   : Внешний   "), CP("Линий    : 1600"), CP("Частота  : 4000 Гц")}},
        {"waveform, 400 lines over 1 kHz",
         10,
         3,
         {CP("Сигнал   Скорость"), CP("Датчик   : Внутренний"), CP("Отсчетов : 1024"), CP("Длительн.:  0.4 с")}},
        {"a shop", 8, 1, {CP("Объектов :   1"), CP("Замеров  :   2"), CP("Измерено :   0"), nullptr}},
        {"a machine: no machines below it", 2, 1, {nullptr, CP("Замеров  :   3"), CP("Измерено :   0"), nullptr}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        route_in_use(c.item);
        settings.sensor = c.sensor;
        EXPECT_TRUE(run({IDLE, KEY_ESC}));
        ASSERT_TRUE(route_delete(settings.last_route));
        for (int line = 0; line < 4; ++line) {
            if (c.lines[line]) {
                EXPECT_TRUE(panel_shows(shots[0], line, c.lines[line])) << line;
            } else {
                // Nothing but the empty plot's background there.
                for (int x = ROUTE_PANEL_X; x < ROUTE_PANEL_X + 160; ++x)
                    ASSERT_EQ(shots[0][(ROUTE_PANEL_Y[line] + 6) * LCD_WIDTH + x], COLOR_BACKGROUND) << line;
            }
        }
    }
}

TEST_F(RouteScreen, TitleIsThePathToTheItemShortenedToItsRoom)
{
    route_in_use();
    ASSERT_EQ(route_load(settings.last_route, &route_current), settings.last_route);
    char title[ROUTE_TITLE_SIZE];
    EXPECT_EQ(std::string(route_title(0, title)), "");
    EXPECT_EQ(std::string(route_title(1, title)), "Маршрут 1"_cp + SEP);
    EXPECT_EQ(std::string(route_title(2, title)), "Маршрут 1"_cp + SEP + "Цех"_cp + SEP);
    EXPECT_EQ(std::string(route_title(7, title)), "Маршрут."_cp + SEP + "Цех"_cp + SEP + "Н-529"_cp + SEP);
    // Twenty characters: the route's name keeps three letters.
    EXPECT_EQ(std::string(route_title(10, title)), "Мар."_cp + SEP + "ТЭЦ-9"_cp + SEP + "Насос-12"_cp + SEP);
    EXPECT_EQ(std::string(route_title(-1, title)), "");

    // Made-up names: a shortened piece ends the path; blanks before the cut
    // go; a piece of two characters is never shortened.
    struct Case {
        const char* route;
        const char* group;
        std::string title;
    };
    const Case cases[] = {
        {"R", "Очень длинное имя цеха"_cp, SEP + "Очень длинное имя."_cp + SEP},
        {"R", "Цех номер 123456 большой"_cp, SEP + "Цех номер 123456."_cp + SEP},
        {"AB", "Компрессорная 12"_cp, "AB" + SEP + "Компрессорная 12"_cp + SEP},
        {"ABC", "Компрессорная 12"_cp, "A." + SEP + "Компрессорная 12"_cp + SEP},
    };
    for (const Case& c : cases) {
        route_clear(&route_current);
        route_current.header.count = 3;
        for (int i = 0; i < 3; ++i) {
            RouteItem& it = route_current.items[i];
            it.state = ROUTE_STATE_NOT_MEASURED;
            it.level = static_cast<u32>(i);
            it.parent = i - 1;
            it.node_kind = i < 2 ? ROUTE_NODE_GROUP : ROUTE_NODE_POINT;
            it.point_type = i == 2;
        }
        std::strcpy(route_current.items[0].name, c.route);
        std::strcpy(route_current.items[1].name, c.group);
        std::strcpy(route_current.items[2].name, "1");
        EXPECT_EQ(std::string(route_title(2, title)), c.title) << c.group;
        EXPECT_LE(std::strlen(title), static_cast<size_t>(ROUTE_TITLE_ROOM - 1));
    }
}

// A point's path as a plant names it: the names from below the route item
// down to it, in UTF-8.
TEST_F(RouteScreen, APointsPathIsItsNamesBelowTheRouteItemInUtf8)
{
    const u32 file = route_in_use();
    ASSERT_EQ(route_load(file, &route_current), file);
    EXPECT_EQ(route_point_path(3), "Цех/Н-528/1В");
    EXPECT_EQ(route_point_path(11), "ТЭЦ-9/Насос-12/2В");
    EXPECT_EQ(route_point_path(2), "Цех/Н-528");
    EXPECT_EQ(route_point_path(0), "");
    EXPECT_EQ(route_point_path(ROUTE_TEST_ITEMS), "");
}

// With a plant in use that holds points of the route, the probe follows the
// cursor onto each point (the plant's names in UTF-8, the route's in
// Windows-1251), stays where it was on a group and goes back to the point
// chosen outside the route when the screen is left; a route without a
// point of the plant leaves the probe alone.
TEST_F(RouteScreen, WithAPlantTheProbeFollowsTheCursorOntoTheRoutesPoints)
{
    route_in_use(3);
    const auto plant_of = [](const char* point) {
        Plant p;
        const std::string text =
            std::string(R"({"format": "tarvik2-plant", "version": 1, "groups": [{"name": "Цех", "machines": [)"
                        R"({"name": "Н-528", "rpm": 1480, "points": [{"name": ")") +
            point + R"(", "direction": "vertical", "components": [{"kind": "unbalance", "severity": 6}]}]}]}]})";
        EXPECT_EQ(plant_parse(text, "plant.json", plant_bearing_lookup, &p), "");
        return p;
    };
    struct PlantPutAway {
        ~PlantPutAway()
        {
            plant_source_walk_end();
            plant_source_close();
        }
    } put_away;
    ASSERT_EQ(plant_source_open(plant_of("1В"), ""), "");
    // 1В, 1П and 1О of Н-528, then the machine Н-529.
    EXPECT_TRUE(run({IDLE, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_ESC}));
    const std::vector<std::string> walked{"Цех/Н-528/1В", "Цех/Н-528/1В", "Цех/Н-528/1П", "Цех/Н-528/1О",
                                          "Цех/Н-528/1О"};
    EXPECT_EQ(probes, walked);
    EXPECT_FALSE(plant_source_walking());
    // Measuring 1П, which the plant lacks: its noise floor.
    settings.last_route_item = 4;
    EXPECT_TRUE(run({KEY_ENTER, IDLE, IDLE, KEY_ENTER, KEY_ESC}));
    EXPECT_TRUE(plant_source_walk_missing() == std::vector<std::string>{"Цех/Н-528/1П"});

    // A plant opened while the screen runs (from the window's menu) takes
    // the probe to the point under the cursor; closing it ends the walk.
    plant_source_close();
    settings.last_route_item = 3;
    EXPECT_TRUE(run({IDLE, IDLE, IDLE, IDLE, KEY_ESC}, [&](size_t key) {
        if (key == 1) {
            ASSERT_EQ(plant_source_open(plant_of("1В"), ""), "");
        }
        if (key == 3) plant_source_close();
    }));
    EXPECT_EQ(probes, std::vector<std::string>({"-", "-", "Цех/Н-528/1В", "Цех/Н-528/1В", "-"}));

    // A plant none of whose points the route has.
    ASSERT_EQ(plant_source_open(plant_of("9В"), ""), "");
    settings.last_route_item = 3;
    EXPECT_TRUE(run({IDLE, KEY_DOWN, KEY_ESC}));
    EXPECT_EQ(probes, std::vector<std::string>(3, "-"));
}

TEST_F(RouteScreen, APointsSettingsBecomeTheMeasurementSettings)
{
    route_in_use();
    ASSERT_EQ(route_load(settings.last_route, &route_current), settings.last_route);
    struct Point {
        u32 spectrum, quantity;
        i32 lines, fmax, averages;
    };
    struct Expect {
        u32 mode, quantity, kind;
        u32 spectrum_step, fmax, lines, signal_step, duration, samples, averaging;
    };
    struct Case {
        const char* what;
        Point point;
        Expect expect;
    };
    const std::vector<Case> cases = {
        {"1В: 1600 lines over 400 Hz as a waveform: 4 s", {0, 1, 1600, 400, 1}, {3, 1, 0, 1, 1, 2, 3, 4, 2, 1}},
        {"1П: 400 lines over 4 kHz: 0.1 s", {0, 1, 400, 4000, 1}, {3, 1, 0, 4, 3, 1, 1, 1, 1, 1}},
        {"Насос-12: 400 lines over 1 kHz: 0.4 s", {0, 1, 400, 1000, 1}, {3, 1, 0, 3, 2, 1, 2, 2, 1, 1}},
        {"1О: spectrum of displacement, 1600 lines to 4 kHz, 4 averages",
         {1, 2, 1600, 4000, 4},
         {2, 2, 1, 3, 3, 2, 1, 2, 2, 3}},
        {"spectrum of acceleration, 400 lines to 1 kHz, no averaging",
         {1, 0, 400, 1000, 1},
         {2, 0, 1, 3, 2, 1, 2, 2, 1, 1}},
        {"spectrum, 10 averages; an odd quantity is velocity", {1, 7, 400, 401, 10}, {2, 1, 1, 2, 1, 1, 3, 3, 1, 5}},
        {"spectrum, 2 averages, fmax just above 1 kHz", {1, 1, 1600, 1002, 2}, {2, 1, 1, 3, 3, 2, 1, 2, 2, 3}},
        {"waveform without fmax: the longest step", {0, 1, 400, 0, 1}, {3, 1, 0, 2, 1, 1, 3, 3, 1, 1}},
        {"waveform of 1600 lines over 16 kHz: the shortest step",
         {0, 1, 1600, 16000, 1},
         {3, 1, 0, 3, 3, 2, 1, 2, 2, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RouteItem& it = route_current.items[3];
        it.spectrum = c.point.spectrum;
        it.quantity = c.point.quantity;
        it.lines = c.point.lines;
        it.fmax = c.point.fmax;
        it.averages = c.point.averages;
        settings.meas_params_changed = 0;
        ASSERT_TRUE(route_apply_point(3));
        const Expect& e = c.expect;
        EXPECT_EQ(settings.meas_mode, e.mode);
        EXPECT_EQ(settings.meas_quantity, e.quantity);
        EXPECT_EQ(route_screen_state.plot_mode, e.kind);
        EXPECT_EQ(route_screen_state.plot_quantity, e.quantity);
        EXPECT_EQ(settings.spectrum_step_idx, e.spectrum_step);
        EXPECT_EQ(settings.spectrum_fmax_idx, e.fmax);
        EXPECT_EQ(settings.spectrum_lines_idx, e.lines);
        EXPECT_EQ(settings.signal_step_idx, e.signal_step);
        EXPECT_EQ(settings.signal_duration_idx, e.duration);
        EXPECT_EQ(settings.signal_samples_idx, e.samples);
        EXPECT_EQ(settings.averaging_idx, e.averaging);
        // The same point again changes nothing.
        settings.meas_params_changed = 0;
        route_apply_point(3);
        EXPECT_EQ(settings.meas_params_changed, 0u);
    }
    // From the defaults, a point that differs sets the changed flag.
    settings_defaults();
    settings.meas_params_changed = 0;
    route_apply_point(5);
    EXPECT_EQ(settings.meas_params_changed, 1u);
    // Groups and the route item are no points.
    EXPECT_FALSE(route_apply_point(0));
    EXPECT_FALSE(route_apply_point(2));
}

TEST_F(RouteScreen, EnterMeasuresAPointAndEnterAgainSavesItIntoTheRoutesObject)
{
    const u32 file = route_in_use(3);
    EXPECT_TRUE(run({KEY_ENTER, IDLE, KEY_ENTER, IDLE, KEY_ESC}));
    // While measuring: the waveform on the plot.
    EXPECT_GT(trace_pixels(shots[2]), 1000);
    EXPECT_TRUE(title_shows(shots[0], ("Маршрут."_cp + SEP + "Цех"_cp + SEP + "Н-528"_cp + SEP).c_str()));

    const u32 into = route_object();
    ASSERT_NE(into, 0u);
    const std::vector<u32> saved = measurements_of(into);
    ASSERT_EQ(saved.size(), 1u);
    const int at = dir_find_id(saved[0]);
    EXPECT_EQ(dir_type(at), FILE_TYPE_SIGNAL);
    EXPECT_EQ(dir_attr(at), MEAS_KIND_SIGNAL);
    // Marked measured in memory and in the file.
    EXPECT_EQ(route_current.items[3].state, ROUTE_STATE_MEASURED);
    EXPECT_EQ(route_current.items[3].measurement, static_cast<i32>(saved[0]));
    ASSERT_EQ(route_load(file, &route_other), file);
    EXPECT_EQ(route_other.items[3].state, ROUTE_STATE_MEASURED);
    EXPECT_EQ(route_other.items[3].measurement, static_cast<i32>(saved[0]));

    // The next item selected; the saved point shows its number and time.
    EXPECT_EQ(route_screen_state.tree.current.index, 4);
    MeasHeader hd;
    ASSERT_EQ(meas_read_header(saved[0], &hd), MEAS_OK);
    char label[64];
    std::snprintf(label, sizeof label, "%s #001 %02u:%02u:%02u %02u.%02u.%02u", "1В"_cp, hd.hour, hd.minute, hd.second,
                  hd.day, hd.month, hd.year);
    EXPECT_TRUE(archive_row_shows(shots[3], 2, 3, label, false));
    EXPECT_TRUE(archive_row_shows(shots[3], 3, 3, "1П"_cp, true));
    EXPECT_TRUE(panel_shows(shots[3], 3, "Длительн.:  0.1 с"_cp));

    // Leaving: the archive's current object and the plot source are kept.
    EXPECT_EQ(settings_current_object(), object);
    EXPECT_EQ(settings.plot_mode, 0u);
    EXPECT_EQ(settings.plot_quantity, 1u);

    // Back on the measured point: its measurement on the plot.
    settings.last_route_item = 3;
    EXPECT_TRUE(run({IDLE, KEY_ESC}));
    EXPECT_GT(trace_pixels(shots[0]), 1000);
}

TEST_F(RouteScreen, MeasuringAPointAgainReplacesItsMeasurement)
{
    route_in_use(3);
    EXPECT_TRUE(run({KEY_ENTER, IDLE, KEY_ENTER, KEY_UP, KEY_ENTER, IDLE, KEY_ENTER, KEY_ESC}));
    const std::vector<u32> saved = measurements_of(route_object());
    ASSERT_EQ(saved.size(), 1u) << "one measurement per point";
    EXPECT_EQ(route_current.items[3].measurement, static_cast<i32>(saved[0]));
    // The second one: numbered after the first.
    MeasHeader hd;
    ASSERT_EQ(meas_read_header(saved[0], &hd), MEAS_OK);
    EXPECT_EQ(hd.number, 2u);
}

// A saved point's waveform is shown over its whole length, whatever was on
// the plot before: "1В" (4 s, 4096 samples) after "1В" of "Насос-12" (0.4 s,
// 1024 samples) was measured and shown.
TEST_F(RouteScreen, ASavedWaveformIsShownWhole)
{
    route_in_use(3);
    EXPECT_TRUE(run({KEY_ENTER, IDLE, KEY_ENTER, KEY_ESC}));
    settings.last_route_item = 10;
    EXPECT_TRUE(run({KEY_ENTER, IDLE, KEY_ENTER, KEY_UP, IDLE, KEY_UP, KEY_UP, KEY_UP, KEY_UP, KEY_UP, KEY_UP, KEY_UP,
                     IDLE, KEY_ESC}));
    ASSERT_EQ(route_screen_state.tree.current.index, 3);
    ASSERT_EQ(route_current.items[10].state, ROUTE_STATE_MEASURED);
    const PlotView& plot = route_screen_state.plot;
    EXPECT_EQ(plot.kind, 0u);
    EXPECT_EQ(plot.data_end, 4096);
    EXPECT_EQ(plot.view_start[0], 0);
    EXPECT_EQ(plot.view_end[0], 4096);
    EXPECT_GT(trace_pixels(shots.back()), 1000);
}

// While a point is measured the cursor stays on it: the arrows do not move
// it, and Enter saves the reading to that point, the one the cursor shows.
TEST_F(RouteScreen, WhileMeasuringTheCursorStaysOnThePointEnterSavesTo)
{
    route_in_use(3);
    EXPECT_TRUE(run({KEY_ENTER, IDLE, KEY_DOWN, KEY_DOWN, KEY_UP | KEY_SHIFT, IDLE, KEY_ENTER, KEY_ESC}));
    // The cursor on "1В" before Enter, and the reading saved to "1В".
    EXPECT_TRUE(archive_row_shows(shots[6], 3, 3, "1В"_cp, true));
    EXPECT_EQ(route_current.items[3].state, ROUTE_STATE_MEASURED);
    for (int i : {4, 5}) EXPECT_EQ(route_current.items[i].state, ROUTE_STATE_NOT_MEASURED) << i;
    EXPECT_EQ(route_screen_state.tree.current.index, 4);
}

TEST_F(RouteScreen, FourAndStopSavesThePointAfterTheFourthSpectrumAndMovesOn)
{
    route_in_use(5);  // 1О: a spectrum with 4 averages
    EXPECT_TRUE(run({KEY_ENTER, IDLE, IDLE, IDLE, IDLE, IDLE, IDLE, IDLE, IDLE, KEY_ESC}));
    EXPECT_EQ(settings.averaging_idx, 3u);
    EXPECT_EQ(route_current.items[5].state, ROUTE_STATE_MEASURED);
    EXPECT_EQ(route_screen_state.running, 0);
    EXPECT_EQ(route_screen_state.tree.current.index, 6);
    const std::vector<u32> saved = measurements_of(route_object());
    ASSERT_EQ(saved.size(), 1u) << "saved once";
    EXPECT_EQ(dir_attr(dir_find_id(saved[0])), MEAS_KIND_SPECTRUM);
}

TEST_F(RouteScreen, APointWhoseMeasurementWasDeletedShowsAsNotMeasured)
{
    route_in_use(3);
    EXPECT_TRUE(run({KEY_ENTER, IDLE, KEY_ENTER, KEY_ESC}));
    const std::vector<u32> saved = measurements_of(route_object());
    ASSERT_EQ(saved.size(), 1u);
    // Deleted in the archive browser.
    ASSERT_EQ(dir_delete(dir_find_id(saved[0])), FS_OK);
    settings.last_route_item = 3;
    EXPECT_TRUE(run({IDLE, KEY_ESC}));
    EXPECT_TRUE(archive_row_shows(shots[0], 3, 3, "1В"_cp, true));
    EXPECT_EQ(route_item_icon(3), IMG_TREE_SIGNAL_TODO);
    EXPECT_EQ(trace_pixels(shots[0]), 0);
    EXPECT_TRUE(panel_shows(shots[0], 0, "Сигнал   Скорость"_cp));
}

TEST_F(RouteScreen, ClearingTheRouteInUseFromTheChoiceTurnsItsPointsBack)
{
    route_in_use(3);
    EXPECT_TRUE(run({KEY_ENTER, IDLE, KEY_ENTER, MOD_ENTER, MOD_RIGHT, KEY_ENTER, KEY_ESC, IDLE, KEY_ESC}));
    ASSERT_EQ(shots.size(), 9u);
    EXPECT_TRUE(choice_counts_show(shots[4], 6, 1));
    EXPECT_TRUE(confirmation_shows(shots[5], {CP("Удалить все замеры из маршрута ?")}));
    EXPECT_TRUE(choice_counts_show(shots[6], 6, 0));
    EXPECT_TRUE(measurements_of(route_object()).empty());
    EXPECT_EQ(route_current.items[3].state, ROUTE_STATE_NOT_MEASURED);
    // Back in the route: loaded again, its route item selected.
    EXPECT_TRUE(archive_row_shows(shots[7], 0, 0, "Маршрут 1"_cp, true));
    EXPECT_TRUE(panel_shows(shots[7], 2, "Измерено :   0"_cp));
    EXPECT_EQ(settings.last_route_item, 0u);
}

TEST_F(RouteScreen, CancellingAConfirmationChangesNothing)
{
    const u32 file = route_in_use();
    EXPECT_TRUE(run({MOD_ENTER, MOD_LEFT, KEY_ESC, MOD_RIGHT, KEY_ESC, IDLE, KEY_ESC, KEY_ESC}));
    EXPECT_TRUE(confirmation_shows(shots[2], {CP("Удалить все замеры из маршрута"), CP("и сам маршрут ?")}));
    EXPECT_TRUE(confirmation_shows(shots[4], {CP("Удалить все замеры из маршрута ?")}));
    // The list as before each box (below the title bar and its clock).
    EXPECT_TRUE(std::equal(shots[3].begin() + 20 * LCD_WIDTH, shots[3].end(), shots[1].begin() + 20 * LCD_WIDTH));
    EXPECT_TRUE(std::equal(shots[5].begin() + 20 * LCD_WIDTH, shots[5].end(), shots[1].begin() + 20 * LCD_WIDTH));
    EXPECT_EQ(route_find(ROUTE_TEST_NAME), file);
    EXPECT_EQ(settings.last_route, file);
}

TEST_F(RouteScreen, DeletingTheRouteInUseLeavesNoRouteAndEscClosesTheScreen)
{
    route_in_use(3);
    // Measure a point, open the choice, delete the route, Esc.
    EXPECT_TRUE(run({KEY_ENTER, IDLE, KEY_ENTER, MOD_ENTER, MOD_LEFT, KEY_ENTER, KEY_ESC}));
    EXPECT_TRUE(confirmation_shows(shots[5], {CP("Удалить все замеры из маршрута"), CP("и сам маршрут ?")}));
    EXPECT_EQ(routes_in_directory(), 0);
    EXPECT_TRUE(measurements_of(route_object()).empty());
    EXPECT_EQ(settings.last_route, 0u);
    EXPECT_EQ(route_screen_state.route_file, 0u);
    EXPECT_EQ(settings_current_object(), object);
}

TEST_F(RouteScreen, ChoosingAnotherRouteLoadsItWithItsRouteItemSelected)
{
    route_in_use(3);
    // A second route: the demonstration route under another name.
    ASSERT_EQ(route_load(settings.last_route, &route_other), settings.last_route);
    std::strcpy(route_other.header.name, "Линия 2"_cp);
    std::strcpy(route_other.items[0].name, "Линия 2"_cp);
    const u32 second = route_save(0, &route_other);
    ASSERT_NE(second, 0u);
    EXPECT_TRUE(run({MOD_ENTER, KEY_DOWN, KEY_ENTER, IDLE, KEY_ESC}));
    EXPECT_TRUE(title_shows(shots[1], "Выберите маршрут"_cp));
    EXPECT_EQ(settings.last_route, second);
    EXPECT_EQ(settings.last_route_item, 0u);
    EXPECT_STREQ(route_current.header.name, "Линия 2"_cp);
    EXPECT_TRUE(archive_row_shows(shots[3], 0, 0, "Линия 2"_cp, true));
}

TEST_F(RouteScreen, ARouteInUseThatNoLongerLoadsSendsTheUserToTheChoice)
{
    route_in_use();
    settings.last_route = object;  // no route
    // Esc in the choice: the screen closes.
    EXPECT_TRUE(run({KEY_ESC}));
    EXPECT_TRUE(title_shows(shots[0], "Выберите маршрут"_cp));
    EXPECT_EQ(settings.last_route, object);
    // Chosen: it becomes the route in use.
    EXPECT_TRUE(run({KEY_ENTER, IDLE, KEY_ESC}));
    EXPECT_EQ(settings.last_route, route_find(ROUTE_TEST_NAME));
}

TEST_F(RouteScreen, AnObjectThatCannotBeMadeLeavesThePointUnmeasured)
{
    route_in_use(3);
    // A full directory: no object for the route.
    for (u32 k = 0; !dir_full(); ++k) ASSERT_EQ(dir_append(200000 + k, 0, 0, 30, 0), DIR_OK);
    EXPECT_TRUE(run({KEY_ENTER, IDLE, KEY_ENTER, IDLE, KEY_ENTER, KEY_ESC}));
    EXPECT_TRUE(message_box_shows(shots[3], CP("Ошибка !"), {CP("Не могу добавить объект !")}));
    EXPECT_EQ(route_object(), 0u);
    EXPECT_EQ(route_current.items[3].state, ROUTE_STATE_NOT_MEASURED);
    EXPECT_EQ(route_screen_state.tree.current.index, 3);
}

TEST_F(RouteScreen, PowerOffWhileMeasuringLeavesTheScreenWithNothingSaved)
{
    route_in_use(3);
    EXPECT_FALSE(run({KEY_ENTER, IDLE}));
    EXPECT_EQ(route_screen_state.running, 0);
    EXPECT_EQ(busy_flag, 0);
    EXPECT_EQ(route_object(), 0u);
    EXPECT_EQ(settings.last_route_item, 3u);
}

// The committed script: the demonstration route walked from the main menu.
TEST(RouteRunner, ScriptMeasuresAPointSeesItMeasuredAndClearsTheRoute)
{
    TempDir dir;
    const std::string script = std::string(TARVIK2_SOURCE_DIR) + "/tests/scripts/route_walk.txt";
    // The script's screenshots go into the current folder.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const auto r = run_runner(
        {"--data", dir.path(), "--clock", "2026-12-10T12:00:00", "--seed", "1", script, "--shot", dir.file("end.png")});
    std::filesystem::current_path(cwd);
    ASSERT_EQ(r.status, 0) << r.output;
    images_unpack_all();

    const auto choice = load_screenshot(dir.file("route_choice.png"));
    EXPECT_TRUE(title_shows(choice, "Выберите маршрут"_cp));
    EXPECT_TRUE(choice_counts_show(choice, 6, 0));

    const auto panel = load_screenshot(dir.file("route_panel.png"));
    EXPECT_TRUE(archive_row_shows(panel, 0, 0, "Маршрут 1"_cp, true));
    EXPECT_TRUE(panel_shows(panel, 0, "Объектов :   3"_cp));
    EXPECT_TRUE(panel_shows(panel, 1, "Замеров  :   6"_cp));
    EXPECT_TRUE(panel_shows(panel, 2, "Измерено :   0"_cp));

    const auto point = load_screenshot(dir.file("route_point.png"));
    EXPECT_TRUE(archive_row_shows(point, 3, 3, "1В"_cp, true));
    EXPECT_TRUE(panel_shows(point, 2, "Отсчетов : 4096"_cp));

    EXPECT_GT(trace_pixels(load_screenshot(dir.file("route_plot.png"))), 1000);

    // Measured: its number and the time of the saving, under the runner's clock.
    const auto measured = load_screenshot(dir.file("route_measured.png"));
    bool found = false;
    for (int s = 0; s < 60 && !found; ++s) {
        char label[64];
        std::snprintf(label, sizeof label, "%s #001 12:00:%02d 10.12.26", "1В"_cp, s);
        found = archive_row_shows(measured, 2, 3, label, false);
    }
    EXPECT_TRUE(found);
    EXPECT_TRUE(archive_row_shows(measured, 3, 3, "1П"_cp, true));

    EXPECT_TRUE(
        confirmation_shows(load_screenshot(dir.file("route_confirm.png")), {CP("Удалить все замеры из маршрута ?")}));
    EXPECT_TRUE(choice_counts_show(load_screenshot(dir.file("route_cleared.png")), 6, 0));

    const auto end = load_screenshot(dir.file("end.png"));
    EXPECT_TRUE(archive_row_shows(end, 3, 3, "1В"_cp, false));
    EXPECT_TRUE(panel_shows(end, 2, "Измерено :   0"_cp));
}

// The runner on a data folder whose archive the test prepares and looks at
// between the runs.
class RouteArchiveRunner : public ::testing::Test {
protected:
    VirtualHostScope scope;
    TempDir dir;
    // A file type no screen lists: the files that fill the archive.
    static constexpr u8 FILLER_TYPE = 30;
    // Pages of one filler file (a file counts its pages in 16 bits).
    static constexpr u32 FILLER_PAGES = 60000;

    // Mounts the folder's flash.dat as the instrument does and hands the
    // archive to `look`.
    void with_archive(const std::function<void()>& look)
    {
        FlashFile flash(dir.file("flash.dat"));
        settings_set_current_object(0);
        ASSERT_EQ(fs_init(), FS_OK);
        ASSERT_EQ(fs_mount(), FS_OK);
        archive_state = ARCHIVE_MOUNTED;
        look();
        archive_state = ARCHIVE_NOT_STARTED;
    }
    // Gives the mounted image the chip's full size, as the instrument's
    // flash.dat has: reading its last byte lengthens the file.
    static void full_size()
    {
        u8 last;
        ASSERT_EQ(nand_read_raw(nand_info.total_pages - 1, &last, nand_info.page_size + nand_info.spare_size - 1, 1),
                  NAND_OK);
    }
    // The archive of a first start (one object "Объект") and what
    // `prepare` adds, filled with unlisted files until `free_pages` pages
    // are left free.
    void nearly_full(u32 free_pages, const std::function<void()>& prepare = nullptr)
    {
        with_archive([&] {
            ASSERT_NE(obj_after_mount(), OBJ_FAILED);
            if (prepare) prepare();
            full_size();
            fs_count_pages();
            while (fs_state.free > free_pages) {
                const u32 pages = std::min(fs_state.free - free_pages, FILLER_PAGES);
                FileHandle h{};
                ASSERT_EQ(fs_create(&h, FILLER_TYPE, 0, 0, pages * nand_info.page_size), FS_OK);
                ASSERT_EQ(fs_close(&h), FS_OK);
                fs_count_pages();
            }
            ASSERT_EQ(fs_state.free, free_pages);
        });
    }
    // Runs the runner on the folder with `keys`; screenshots go into it.
    void run(const std::string& keys)
    {
        const auto r = run_runner(
            {"--data", dir.path(), "--clock", "2026-12-10T12:00:00", "--seed", "1", "--keys", "wait 1500; " + keys});
        ASSERT_EQ(r.status, 0) << r.output;
    }
    // The step that saves the screen as `name` in the folder.
    std::string shot_step(const std::string& name) const { return "shot " + dir.file(name); }
    std::vector<u16> shot(const std::string& name)
    {
        images_unpack_all();
        return load_screenshot(dir.file(name));
    }
    // Pages of a file of `bytes` bytes.
    static u32 pages_of(u32 bytes) { return (bytes + 2047) / 2048; }
};

// Main-menu keys to the screens, from the first item.
const std::string TO_ROUTES = "right; right; enter; wait 500; ";
const std::string TO_BROWSER = "down; right; enter; wait 500; ";
const std::string TO_SPECTRA = "right; enter; wait 500; ";

// A point's measurement deleted in the archive browser, and its id taken
// again by a reading of the spectra screen saved into another object (a
// nearly full archive makes the next save reuse the freed pages): the point
// shows as not measured, and clearing the route leaves that reading alone.
TEST_F(RouteArchiveRunner, ALinkNeverAdoptsAnotherOwnersMeasurement)
{
    // Room for the demonstration route, its object and the 4 s waveform of
    // "1В" (4096 samples), nothing more.
    const u32 route_pages = pages_of(ROUTE_HEADER_SIZE + ROUTE_ITEM_SIZE * ROUTE_TEST_ITEMS);
    const u32 point_pages = pages_of(MEAS_HEADER_SIZE + SPECTRA_RECORD_SIZE + 4096 * 4);
    nearly_full(route_pages + 1 + point_pages);

    // "1В" measured and saved by the route screen.
    run(TO_ROUTES + "enter; wait 300; enter; wait 300; enter; wait 5000; enter; wait 500; esc; wait 300");
    u32 link = 0, route_object = 0, object = 0;
    with_archive([&] {
        const u32 route = route_find(ROUTE_TEST_NAME);
        ASSERT_EQ(route_load(route, &route_current), route);
        ASSERT_EQ(route_current.items[3].state, ROUTE_STATE_MEASURED);
        link = static_cast<u32>(route_current.items[3].measurement);
        route_object = obj_find_by_name(ROUTE_TEST_NAME);
        object = obj_find_by_name("Объект"_cp);
        ASSERT_NE(object, 0u);
        EXPECT_EQ(dir_parent(dir_find_id(link)), route_object);
        fs_count_pages();
        EXPECT_EQ(fs_state.free, 0u) << "the archive is full";
    });

    // The measurement deleted in the browser (the route's object is above
    // the current one). Then a spectrum saved on the spectra screen into
    // "Объект", and the route again, on "1В".
    run(TO_BROWSER + "up; right; down; wait 300; " + shot_step("browser.png") +
        "; shift+left; wait 300; enter; wait 300; esc; wait 300; up; enter; wait 500; up; enter; wait 4000;" +
        " shift+enter; wait 500; enter; wait 300; esc; wait 300; right; enter; wait 500; up; wait 500; " +
        shot_step("point.png"));
    // The browser's cursor was on the route's measurement.
    const auto browser = shot("browser.png");
    bool on_it = false;
    for (int sec = 0; sec < 60 && !on_it; ++sec) {
        char label[64];
        std::snprintf(label, sizeof label, "%s #001 12:00:%02d 10.12.26", "Сигн."_cp, sec);
        on_it = archive_row_shows(browser, 2, 2, label, true);
    }
    EXPECT_TRUE(on_it);
    with_archive([&] {
        // The spectrum took the deleted measurement's id.
        const int at = dir_find_id(link);
        ASSERT_GE(at, 0) << "the id was not used again";
        EXPECT_EQ(dir_parent(at), object);
        EXPECT_EQ(dir_attr(at), MEAS_KIND_SPECTRUM);
        // The point's link was dropped on flash.
        const u32 route = route_find(ROUTE_TEST_NAME);
        ASSERT_EQ(route_load(route, &route_other), route);
        EXPECT_EQ(route_other.items[3].state, ROUTE_STATE_NOT_MEASURED);
        EXPECT_EQ(route_other.items[3].measurement, ROUTE_NO_MEASUREMENT);
    });
    const auto point = shot("point.png");
    EXPECT_TRUE(archive_row_shows(point, 2, 3, "1В"_cp, true));
    EXPECT_TRUE(panel_shows(point, 0, "Сигнал   Скорость"_cp));
    EXPECT_EQ(trace_pixels(point), 0);

    // The route choice counts nothing measured; clearing the route leaves the
    // spectrum in "Объект".
    run(TO_ROUTES + "shift+enter; wait 500; " + shot_step("choice.png") +
        "; shift+right; wait 300; enter; wait 300; esc; wait 300");
    EXPECT_TRUE(choice_counts_show(shot("choice.png"), 6, 0));
    with_archive([&] {
        const int at = dir_find_id(link);
        ASSERT_GE(at, 0) << "the spectrum was deleted with the route's measurements";
        EXPECT_EQ(dir_parent(at), object);
    });
}

// A route file from before links were checked: "1В" links a spectrum the
// spectra screen saved into "Объект". The export, the route choice, the
// route screen and the clearing of the route leave that spectrum alone, and
// the screen drops the link in the file.
TEST_F(RouteArchiveRunner, AReadingOfAnotherObjectIsNeverAPointsOwn)
{
    u32 route = 0, foreign = 0;
    with_archive([&] {
        ASSERT_NE(obj_after_mount(), OBJ_FAILED);  // "Объект", current
        full_size();
        SpectraRecord r{};
        r.type = 1;
        r.kind = MEAS_KIND_SPECTRUM;
        foreign = meas_save(MEAS_KIND_SPECTRUM, 0, &r, sizeof r, nullptr, 0, nullptr, 0, true);
        ASSERT_NE(foreign, 0u);
        ASSERT_NE(obj_create(ROUTE_TEST_NAME), 0u);
        route = route_make_test();
        ASSERT_EQ(route_load(route, &route_current), route);
        route_current.items[3].state = ROUTE_STATE_MEASURED;
        route_current.items[3].measurement = static_cast<i32>(foreign);
        ASSERT_TRUE(route_store_item_state(3));
    });
    // The archive tool's listing shows "1В" to measure, and as a reading
    // command writes nothing.
    const u64 written = last_written_ns(dir.file("flash.dat"));
    const auto listed = run_archive_tool(dir.path(), "ls");
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("[3] point: 1В (to measure)"), std::string::npos) << listed.output;
    EXPECT_EQ(listed.output.find("плохой"), std::string::npos) << listed.output;
    EXPECT_EQ(last_written_ns(dir.file("flash.dat")), written);
    const auto exported = run_archive_tool(dir.path(), "route export " + std::to_string(route) + " --format csv");
    ASSERT_EQ(exported.status, 0) << exported.output;
    EXPECT_EQ(exported.output.find(",measured,"), std::string::npos) << exported.output;
    EXPECT_EQ(exported.output.find(std::to_string(foreign)), std::string::npos) << exported.output;

    // The choice, then the route with "1В" selected, then the route cleared.
    run(TO_ROUTES + shot_step("choice.png") + "; enter; wait 300; down; down; down; wait 300; " +
        shot_step("point.png") + "; shift+enter; wait 300; shift+right; wait 300; enter; wait 300; esc; wait 300");
    EXPECT_TRUE(choice_counts_show(shot("choice.png"), 6, 0));
    const auto point = shot("point.png");
    EXPECT_TRUE(archive_row_shows(point, 3, 3, "1В"_cp, true));
    EXPECT_TRUE(panel_shows(point, 0, "Сигнал   Скорость"_cp));
    with_archive([&] {
        const int at = dir_find_id(foreign);
        ASSERT_GE(at, 0) << "the spectrum was deleted with the route's measurements";
        EXPECT_EQ(dir_parent(at), obj_find_by_name("Объект"_cp));
        ASSERT_EQ(route_load(route, &route_other), route);
        EXPECT_EQ(route_other.items[3].state, ROUTE_STATE_NOT_MEASURED);
        EXPECT_EQ(route_other.items[3].measurement, ROUTE_NO_MEASUREMENT);
    });
}

// A full archive: the reading of "1В" cannot be saved. The route screen
// says so, keeps the reading on the plot with the cursor on its point, and
// saves it with Enter once room is made (here by deleting another route
// with its measurement in the route choice).
TEST_F(RouteArchiveRunner, AReadingThatCannotBeSavedIsKeptForTheNextTry)
{
    const u32 route_pages = pages_of(ROUTE_HEADER_SIZE + ROUTE_ITEM_SIZE * ROUTE_TEST_ITEMS);
    // Room for the demonstration route and its object only; another route
    // with a measurement as large as the reading.
    nearly_full(route_pages + 1, [&] {
        const char* const other = "Линия 2"_cp;
        const u32 into = obj_create(other);
        ASSERT_EQ(obj_select(into), OBJ_OK);
        SpectraRecord r{};
        r.type = 1;
        const std::vector<u8> data(4096 * 4);
        const u32 id =
            meas_save(MEAS_KIND_SIGNAL, 0, &r, sizeof r, data.data(), static_cast<u32>(data.size()), nullptr, 0, true);
        ASSERT_NE(id, 0u);
        const u32 file = route_make_test();
        ASSERT_EQ(route_load(file, &route_current), file);
        std::strcpy(route_current.header.name, other);
        std::strcpy(route_current.items[0].name, other);
        route_current.items[3].state = ROUTE_STATE_MEASURED;
        route_current.items[3].measurement = static_cast<i32>(id);
        ASSERT_EQ(route_save(file, &route_current), file);
    });

    // The choice lists "Линия 2", then "Маршрут 1": "1В" of "Маршрут 1"
    // measured, Enter: the box, OK. Then the choice: "Линия 2" deleted; back
    // in the route, Enter again.
    run(TO_ROUTES + "down; enter; wait 300; enter; wait 300; enter; wait 5000; enter; wait 500; " +
        shot_step("box.png") + "; enter; wait 300; " + shot_step("kept.png") +
        "; shift+enter; wait 300; up; shift+left; wait 300; enter; wait 300; esc; wait 500; " + shot_step("back.png") +
        "; enter; wait 500; " + shot_step("saved.png") + "; up; wait 500; " + shot_step("shown.png") +
        "; esc; wait 300");
    EXPECT_TRUE(message_box_shows(shot("box.png"), "Ошибка !"_cp, {"Замер не сохранен !"_cp}));
    const auto kept = shot("kept.png"), back = shot("back.png"), shown = shot("shown.png");
    for (const auto* px : {&kept, &back}) {
        EXPECT_TRUE(archive_row_shows(*px, 3, 3, "1В"_cp, true));
        EXPECT_GT(trace_pixels(*px), 1000);
    }
    // The reading kept is the one saved: the saved measurement's plot is the
    // same picture.
    const auto plot_of = [](const std::vector<u16>& px) {
        std::vector<u16> v;
        for (int y = ROUTE_PLOT_Y0; y <= ROUTE_PLOT_Y1; ++y)
            v.insert(v.end(), px.begin() + y * LCD_WIDTH + ROUTE_PLOT_X0,
                     px.begin() + y * LCD_WIDTH + ROUTE_PLOT_X1 + 1);
        return v;
    };
    EXPECT_TRUE(plot_of(shown) == plot_of(kept));
    EXPECT_TRUE(archive_row_shows(shot("saved.png"), 3, 3, "1П"_cp, true));
    with_archive([&] {
        ASSERT_EQ(route_find("Линия 2"_cp), 0u);
        const u32 route = route_find(ROUTE_TEST_NAME);
        ASSERT_EQ(route_load(route, &route_current), route);
        EXPECT_EQ(route_current.items[3].state, ROUTE_STATE_MEASURED);
        EXPECT_TRUE(route_link_valid(3));
    });
}

}  // namespace
