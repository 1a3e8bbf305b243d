// The measurement setup screen: the coupling of the spectrum and signal
// geometry, enabling by mode, storing on leaving, out-of-range settings, the
// bearing choice and the screen's layout, driven by scripted keys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/signal.h"
#include "base/cp1251.h"
#include "data/images.h"
#include "front/common/picture.h"
#include "gfx/form.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/session.h"
#include "host/settings.h"
#include "screens/bearings.h"
#include "screens/meas_setup.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

// ------------------------------------------------------------ the coupling

struct CoupleCase {
    const char* what;
    MeasGeometry before;  // the lists with the changed one already at its new value
    int changed;
    MeasGeometry after;
};

bool same(const MeasGeometry& a, const MeasGeometry& b)
{
    return a.spectrum_step == b.spectrum_step && a.fmax == b.fmax && a.lines == b.lines &&
           a.signal_step == b.signal_step && a.duration == b.duration && a.samples == b.samples;
}

std::string text_of(const MeasGeometry& g)
{
    return "{" + std::to_string(g.spectrum_step) + "," + std::to_string(g.fmax) + "," + std::to_string(g.lines) +
           " | " + std::to_string(g.signal_step) + "," + std::to_string(g.duration) + "," + std::to_string(g.samples) +
           "}";
}

TEST(MeasGeometryCouple, EachChangedListAdjustsItsSetAndTheOtherSetFollows)
{
    // {spectrum step, fmax, lines | signal step, duration, samples}
    const CoupleCase cases[] = {
        // fmax 4 kHz with 400 lines: step 10 Hz, 0.1 ms, 0.1 s, 1024 samples.
        {"fmax 4 kHz, 400 lines", {3, 3, 1, 2, 2, 1}, SETUP_FIELD_FMAX, {4, 3, 1, 1, 1, 1}},
        // 1600 lines, fmax 400 Hz: step 0.25 Hz, 4 s, 1 ms, 4096 samples.
        {"fmax 400 Hz, 1600 lines", {2, 1, 2, 2, 3, 2}, SETUP_FIELD_FMAX, {1, 1, 2, 3, 4, 2}},
        {"step 0.25 Hz, 1600 lines", {1, 2, 2, 2, 3, 2}, SETUP_FIELD_SPECTRUM_STEP, {1, 1, 2, 3, 4, 2}},
        // Lines keep the step and move fmax: 1 Hz at 1600 lines gives 1 kHz.
        {"1600 lines at 1 Hz", {2, 1, 2, 2, 3, 1}, SETUP_FIELD_LINES, {2, 2, 2, 2, 3, 2}},
        {"400 lines at 2.5 Hz", {3, 3, 1, 1, 2, 2}, SETUP_FIELD_LINES, {3, 2, 1, 2, 2, 1}},
        // fmax clamped to 3: 10 Hz at 1600 lines falls back to 2.5 Hz.
        {"step 10 Hz, 1600 lines", {4, 3, 2, 1, 2, 2}, SETUP_FIELD_SPECTRUM_STEP, {3, 3, 2, 1, 2, 2}},
        // fmax clamped to 1: 0.25 Hz at 400 lines is 1 Hz.
        {"step 0.25 Hz, 400 lines", {1, 1, 1, 3, 3, 1}, SETUP_FIELD_SPECTRUM_STEP, {2, 1, 1, 3, 3, 1}},
        {"signal step 1 ms, 4096", {3, 3, 2, 3, 2, 2}, SETUP_FIELD_SIGNAL_STEP, {1, 1, 2, 3, 4, 2}},
        {"samples 1024 at 0.4 ms", {1, 2, 2, 2, 3, 1}, SETUP_FIELD_SAMPLES, {3, 2, 1, 2, 2, 1}},
        // Duration 4 s with 1024 samples: the step clamps to 1 ms, the duration back to 1 s.
        {"duration 4 s, 1024", {2, 1, 1, 3, 4, 1}, SETUP_FIELD_DURATION, {2, 1, 1, 3, 3, 1}},
        // Duration 0.1 s with 4096 samples: the step clamps to 0.1 ms, the duration to 0.4 s.
        {"duration 0.1 s, 4096", {3, 3, 2, 1, 1, 2}, SETUP_FIELD_DURATION, {3, 3, 2, 1, 2, 2}},
        {"duration 1 s, 1024", {3, 2, 1, 2, 3, 1}, SETUP_FIELD_DURATION, {2, 1, 1, 3, 3, 1}},
    };
    for (const CoupleCase& c : cases) {
        const MeasGeometry got = meas_geometry_couple(c.before, c.changed);
        EXPECT_TRUE(same(got, c.after)) << c.what << ": got " << text_of(got) << ", want " << text_of(c.after);
    }
}

TEST(MeasGeometryCouple, ResultsStayInsideTheListsAndOtherFieldsChangeNothing)
{
    // Every combination of valid indices, every list changed: no index leaves its list.
    for (int step = 1; step <= 4; ++step)
        for (int fmax = 1; fmax <= 3; ++fmax)
            for (int lines = 1; lines <= 2; ++lines)
                for (int sstep = 1; sstep <= 3; ++sstep)
                    for (int dur = 1; dur <= 4; ++dur)
                        for (int samples = 1; samples <= 2; ++samples)
                            for (int field = SETUP_FIELD_SPECTRUM_STEP; field <= SETUP_FIELD_SAMPLES; ++field) {
                                const MeasGeometry in = {step, fmax, lines, sstep, dur, samples};
                                const MeasGeometry g = meas_geometry_couple(in, field);
                                ASSERT_TRUE(g.spectrum_step >= 1 && g.spectrum_step <= 4 && g.fmax >= 1 &&
                                            g.fmax <= 3 && g.lines >= 1 && g.lines <= 2 && g.signal_step >= 1 &&
                                            g.signal_step <= 3 && g.duration >= 1 && g.duration <= 4 &&
                                            g.samples >= 1 && g.samples <= 2)
                                    << text_of(in) << " field " << field << " -> " << text_of(g);
                                // The sets agree afterwards.
                                EXPECT_EQ(g.samples, g.lines);
                            }
    const MeasGeometry g = {1, 3, 1, 3, 1, 2};
    for (int field :
         {int{SETUP_FIELD_SENSOR}, int{SETUP_FIELD_MODE}, int{SETUP_FIELD_AVERAGING}, int{SETUP_FIELD_BEARING}, 0, 99})
        EXPECT_TRUE(same(meas_geometry_couple(g, field), g)) << field;
}

// ------------------------------------------------------------ the screen

constexpr i32 BAR_Y[3] = {28, 60, 92};
constexpr i32 STRIP_H = 7;
const char* const SENSOR_TEXTS[] = {"Внутр"_cp, "Внешн"_cp, "Внутр+Отм"_cp};
const char* const QUANTITY_TEXTS[] = {"Ускорение"_cp, "Скорость"_cp, "Перемещен"_cp};
const char* const MODE_TEXTS[] = {"Сп 1000Гц"_cp, "Спектр"_cp, "Сигнал"_cp};
const char* const* const BAR_TEXTS[3] = {SENSOR_TEXTS, QUANTITY_TEXTS, MODE_TEXTS};

// The boxes of fields 4 .. 11: place and texts.
struct BoxLayout {
    i32 x, y;
    std::vector<const char*> texts;
};
const std::vector<BoxLayout>& box_layouts()
{
    static const std::vector<BoxLayout> layouts = {
        {120, 124, {CP("0.25 Гц"), CP("   1 Гц"), CP(" 2.5 Гц"), CP("  10 Гц")}},
        {120, 146, {CP(" 400 Гц"), CP("  1 кГц"), CP("  4 кГц")}},
        {120, 168, {"    400", "   1600"}},
        {220, 124, {CP(" 0.1 мс"), CP(" 0.4 мс"), CP("   1 мс")}},
        {220, 146, {CP("  0.1 с"), CP("  0.4 с"), CP("    1 с"), CP("    4 с")}},
        {220, 168, {"   1024", "   4096"}},
        {48,
         192,
         {CP("Без усредн"), CP("  4 Усредн"), CP("  4 + Стоп"), CP(" 10 Усредн"), CP(" 10 + Стоп"), CP("999 Усредн")}},
        {190, 192, {CP("Нет Автозап."), CP(" Автозапись ")}},
    };
    return layouts;
}
const BoxLayout& box_layout(int field)
{
    return box_layouts()[field - SETUP_FIELD_SPECTRUM_STEP];
}

// The 12 values the screen edits, in settings terms.
struct Stored {
    u32 sensor, quantity, mode;
    u32 spectrum_step, fmax, lines, signal_step, duration, samples, averaging, autostart;
};

Stored stored_now()
{
    return {settings.sensor,
            settings.meas_quantity,
            settings.meas_mode,
            settings.spectrum_step_idx,
            settings.spectrum_fmax_idx,
            settings.spectrum_lines_idx,
            settings.signal_step_idx,
            settings.signal_duration_idx,
            settings.signal_samples_idx,
            settings.averaging_idx,
            settings.autostart_idx};
}

void store(const Stored& v)
{
    settings.sensor = v.sensor;
    settings.meas_quantity = v.quantity;
    settings.meas_mode = v.mode;
    settings.spectrum_step_idx = v.spectrum_step;
    settings.spectrum_fmax_idx = v.fmax;
    settings.spectrum_lines_idx = v.lines;
    settings.signal_step_idx = v.signal_step;
    settings.signal_duration_idx = v.duration;
    settings.signal_samples_idx = v.samples;
    settings.averaging_idx = v.averaging;
    settings.autostart_idx = v.autostart;
}

std::string text_of(const Stored& v)
{
    const u32 all[] = {v.sensor,      v.quantity, v.mode,    v.spectrum_step, v.fmax,     v.lines,
                       v.signal_step, v.duration, v.samples, v.averaging,     v.autostart};
    std::string s;
    for (u32 x : all) s += std::to_string(x) + " ";
    return s;
}

bool operator==(const Stored& a, const Stored& b)
{
    return text_of(a) == text_of(b);
}

// The defaults of the settings block: sensor 1, velocity, spectrum; 2.5 Hz,
// 4 kHz, 1600 lines; 0.1 ms, 0.4 s, 4096 samples; 4 averages; no auto-record.
constexpr Stored DEFAULTS = {1, 1, 2, 3, 3, 2, 1, 2, 2, 2, 1};

class MeasSetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        data_dir_set(dir.path());
        images_unpack_all();
        settings_defaults();
        settings.meas_params_changed = 0;
        settings_save();
        // A result store with something in it, to see whether it is cleared.
        results.valid = 1;
        results.stamp = RESULT_STAMP;
    }
    void TearDown() override
    {
        bearing_catalogue_clear();
        data_dir_set("");
    }
    int run(std::vector<u32> keys)
    {
        power_off_flag = 0;
        script_keys(scope.host, std::move(keys));
        const int r = meas_setup_screen();
        shot.assign(framebuffer, framebuffer + LCD_PIXELS);
        return r;
    }
    std::vector<u8> fram() const { return read_file_bytes(dir.file("fram.dat")); }
    static bool results_untouched() { return results.valid == 1 && results.stamp == RESULT_STAMP; }

    static constexpr u32 RESULT_STAMP = 123456789;
    TempDir dir;
    VirtualHostScope scope;
    std::vector<u16> shot;  // the screen as the last run left it
};

TEST_F(MeasSetupTest, WorkedCouplingCasesAreStored)
{
    struct Case {
        const char* what;
        std::vector<u32> keys;
        Stored expected;
    };
    const Case cases[] = {
        // Down to the lines (field 6), 400 lines; up to fmax, 4 kHz; store.
        {"fmax 4 kHz with 400 lines",
         {KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_LEFT, KEY_UP, KEY_RIGHT, KEY_ENTER},
         {1, 1, 2, 4, 3, 1, 1, 1, 1, 2, 1}},
        // Down to fmax (field 5), 1 kHz, 400 Hz with 1600 lines; store.
        {"1600 lines with fmax 400 Hz",
         {KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_LEFT, KEY_LEFT, KEY_ENTER},
         {1, 1, 2, 1, 1, 2, 3, 4, 2, 2, 1}},
        // In signal mode: duration (field 8) 4 s with 4096 samples gives 1 ms and 0.25 Hz at 400 Hz.
        {"signal mode, duration 4 s",
         {KEY_DOWN, KEY_DOWN, KEY_RIGHT, KEY_DOWN, KEY_DOWN, KEY_RIGHT, KEY_RIGHT, KEY_ENTER},
         {1, 1, 3, 1, 1, 2, 3, 4, 2, 2, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        settings_defaults();
        settings.meas_params_changed = 0;
        EXPECT_EQ(run(c.keys), MEAS_SETUP_STORED);
        EXPECT_EQ(stored_now(), c.expected) << text_of(stored_now());
        EXPECT_EQ(settings.meas_params_changed, 1u);
    }
}

// ------------------------------------------------------------ what the screen shows

std::vector<u16> area(const std::vector<u16>& px, int x, int y, int w, int h)
{
    std::vector<u16> out;
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i) out.push_back(px[j * LCD_WIDTH + i]);
    return out;
}

// Draws with `draw` on a screen of the background colour, in the form's
// colours, and returns the w x h area at (x, y); the screen and the drawing
// state are put back.
template <class Draw>
std::vector<u16> reference(Draw draw, int x, int y, int w, int h)
{
    const std::vector<u16> saved(framebuffer, framebuffer + LCD_PIXELS);
    const u16 fg = fg_color, bg = bg_color, outline = outline_color;
    const u8 font = font_current, mode = image_mode;
    std::fill_n(framebuffer, LCD_PIXELS, COLOR_BACKGROUND);
    fg_color = COLOR_FORM_TEXT;
    bg_color = COLOR_BACKGROUND;
    outline_color = COLOR_WHITE;
    image_mode = 0;
    draw();
    const std::vector<u16> out = area(std::vector<u16>(framebuffer, framebuffer + LCD_PIXELS), x, y, w, h);
    std::copy(saved.begin(), saved.end(), framebuffer);
    fg_color = fg;
    bg_color = bg;
    outline_color = outline;
    font_select(font);
    image_mode = mode;
    return out;
}

// The bars: three options of at least 9 characters in font 4, 315 px wide.
constexpr int BAR_X = 2, BAR_W = 315, BAR_H = 28;

// True when bar 0..2 shows option `current` (1-based) highlighted.
bool bar_shows(const std::vector<u16>& px, int bar, int current)
{
    const int y = BAR_Y[bar];
    const auto want = reference(
        [&] {
            OptionBar b;
            option_init(&b, BAR_X, y, 4, 9, KEY_LEFT, KEY_RIGHT);
            for (int i = 0; i < 3; ++i) option_add(&b, BAR_TEXTS[bar][i]);
            b.current = static_cast<u8>(current);
            option_draw(&b);
        },
        BAR_X, y, BAR_W, BAR_H);
    return area(px, BAR_X, y, BAR_W, BAR_H) == want;
}

// The framed box covers its left cap, the filler strips and its right cap:
// 94 px for the 7-character lists, 110 for averaging, 126 for auto-record.
int box_width(int field)
{
    return field == SETUP_FIELD_AVERAGING ? 110 : field == SETUP_FIELD_AUTOSTART ? 126 : 94;
}
constexpr int BOX_H = 20;

// True when the box of `field` shows `text`, in the form's colour when
// enabled and in grey when not.
bool box_text_shows(const std::vector<u16>& px, int field, const char* text, bool enabled)
{
    const BoxLayout& b = box_layout(field);
    const auto want = reference(
        [&] {
            ChoiceBox c;
            choice_init(&c, b.x, b.y, 4);
            choice_add(&c, text);
            if (!enabled) fg_color = COLOR_GREY;
            choice_draw(&c, enabled);
        },
        b.x, b.y, box_width(field), BOX_H);
    return area(px, b.x, b.y, box_width(field), BOX_H) == want;
}

// True when the box of `field` shows entry `index` (1-based) of its list.
bool box_shows(const std::vector<u16>& px, int field, int index, bool enabled)
{
    return box_text_shows(px, field, box_layout(field).texts[index - 1], enabled);
}

bool all_of(const std::vector<u16>& px, int x0, int y0, int x1, int y1, u16 color)
{
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (px[y * LCD_WIDTH + x] != color) return false;
    return true;
}

// The two rows above a bar (across the strip, x 1 .. 317) or above a box
// (across the box) in `color`.
bool rule_of(const std::vector<u16>& px, int field, u16 color)
{
    if (field <= SETUP_FIELD_MODE) {
        const int y = BAR_Y[field - 1];
        return all_of(px, 1, y - 2, 317, y - 1, color);
    }
    const BoxLayout& b = box_layout(field);
    return all_of(px, b.x, b.y - 2, b.x + box_width(field) - 1, b.y - 1, color);
}

constexpr int MARK_Y = 188;
int mark_x(int field)
{
    return field == SETUP_FIELD_STORE ? 20 : 162;
}

// True when `field` shows the focus and every other field shows none.
bool only_focus(const std::vector<u16>& px, int focused)
{
    bool ok = true;
    for (int field = SETUP_FIELD_SENSOR; field <= SETUP_FIELD_BEARING; ++field) {
        const bool on = field == focused;
        bool shown;
        if (field >= SETUP_FIELD_STORE)
            shown = region_is_image(px, mark_x(field), MARK_Y, image_set[on ? IMG_FIELD_MARK_FOCUS : IMG_FIELD_MARK]);
        else
            shown = rule_of(px, field, on ? IMG_SETUP_RULE_COLOR : u16{COLOR_BACKGROUND});
        if (!shown) ADD_FAILURE() << "field " << field << (on ? " not shown focused" : " not shown unfocused");
        ok = ok && shown;
    }
    return ok;
}

// The boxes of the geometry show these entries, enabled by the mode.
struct Geometry {
    int lists[6];  // fields 4 .. 9
};
constexpr Geometry DEFAULT_GEOMETRY = {{3, 3, 2, 1, 2, 2}};
constexpr Geometry FORCED_GEOMETRY = {{3, 2, 1, 2, 2, 1}};  // the spectrum-1000 Hz mode

// The text a geometry box shows: its list's entry, but the step and the
// duration as the geometry has them: fmax over the lines (400 or 1600) and
// the samples (1024 or 4096) times the sample period (1/10240, 1/2560,
// 1/1024 s). 1600 lines at 1 kHz (4096 samples of 0.4 ms) miss the list's
// 1 Hz and 1 s; stored lists that do not fit together show what they give.
const char* geometry_text(int field, const Geometry& g)
{
    static const char* const steps[3][2] = {// by fmax, then lines
                                            {CP("   1 Гц"), CP("0.25 Гц")},
                                            {CP(" 2.5 Гц"), CP("0.625Гц")},
                                            {CP("  10 Гц"), CP(" 2.5 Гц")}};
    static const char* const durations[3][2] = {// by signal step, then samples
                                                {CP("  0.1 с"), CP("  0.4 с")},
                                                {CP("  0.4 с"), CP("  1.6 с")},
                                                {CP("    1 с"), CP("    4 с")}};
    if (field == SETUP_FIELD_SPECTRUM_STEP) return steps[g.lists[1] - 1][g.lists[2] - 1];
    if (field == SETUP_FIELD_DURATION) return durations[g.lists[3] - 1][g.lists[5] - 1];
    return box_layout(field).texts[g.lists[field - SETUP_FIELD_SPECTRUM_STEP] - 1];
}

bool geometry_shows(const std::vector<u16>& px, const Geometry& g, u32 mode)
{
    bool ok = true;
    for (int field = SETUP_FIELD_SPECTRUM_STEP; field <= SETUP_FIELD_SAMPLES; ++field) {
        const bool spectrum_field = field <= SETUP_FIELD_LINES;
        const bool enabled = spectrum_field ? mode == MEAS_MODE_SPECTRUM : mode == MEAS_MODE_SIGNAL;
        const int index = g.lists[field - SETUP_FIELD_SPECTRUM_STEP];
        const bool shown = box_text_shows(px, field, geometry_text(field, g), enabled);
        if (!shown) ADD_FAILURE() << "box " << field << " not showing entry " << index << (enabled ? "" : " greyed");
        ok = ok && shown;
    }
    return ok;
}

// ------------------------------------------------------------ the tests

TEST_F(MeasSetupTest, ModeEnablesTheListsAndTheFocusSkipsTheDisabledOnes)
{
    struct Case {
        const char* what;
        u32 stored_mode;
        std::vector<u32> keys;  // Esc follows
        int focused;
        u32 mode;  // shown at the end
        Geometry geometry;
    };
    const Case cases[] = {
        {"spectrum, on entry", 2, {}, SETUP_FIELD_SENSOR, 2, DEFAULT_GEOMETRY},
        {"spectrum, to the step", 2, {KEY_DOWN, KEY_DOWN, KEY_DOWN}, SETUP_FIELD_SPECTRUM_STEP, 2, DEFAULT_GEOMETRY},
        {"spectrum, past the lines", 2, std::vector<u32>(6, KEY_DOWN), SETUP_FIELD_AVERAGING, 2, DEFAULT_GEOMETRY},
        {"spectrum, up past averaging", 2, std::vector<u32>(5, KEY_UP), SETUP_FIELD_LINES, 2, DEFAULT_GEOMETRY},
        {"signal, to the signal step", 3, {KEY_DOWN, KEY_DOWN, KEY_DOWN}, SETUP_FIELD_SIGNAL_STEP, 3, DEFAULT_GEOMETRY},
        {"spectrum 1000 Hz, on entry", 1, {}, SETUP_FIELD_SENSOR, 1, FORCED_GEOMETRY},
        {"spectrum 1000 Hz, past the mode",
         1,
         {KEY_DOWN, KEY_DOWN, KEY_DOWN},
         SETUP_FIELD_AVERAGING,
         1,
         FORCED_GEOMETRY},
        {"spectrum 1000 Hz, back up", 1, {KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_UP}, SETUP_FIELD_MODE, 1, FORCED_GEOMETRY},
        {"wrap to the bearing item", 1, {KEY_UP}, SETUP_FIELD_BEARING, 1, FORCED_GEOMETRY},
        {"the store item", 2, {KEY_UP, KEY_UP}, SETUP_FIELD_STORE, 2, DEFAULT_GEOMETRY},
        {"to spectrum 1000 Hz on screen",
         2,
         {KEY_DOWN, KEY_DOWN, KEY_LEFT, KEY_DOWN},
         SETUP_FIELD_AVERAGING,
         1,
         FORCED_GEOMETRY},
        {"from spectrum 1000 Hz to spectrum",
         1,
         {KEY_DOWN, KEY_DOWN, KEY_RIGHT, KEY_DOWN},
         SETUP_FIELD_SPECTRUM_STEP,
         2,
         FORCED_GEOMETRY},
        {"to signal on screen",
         2,
         {KEY_DOWN, KEY_DOWN, KEY_RIGHT, KEY_DOWN},
         SETUP_FIELD_SIGNAL_STEP,
         3,
         DEFAULT_GEOMETRY},
        {"to signal, then spectrum 1000 Hz",
         2,
         {KEY_DOWN, KEY_DOWN, KEY_RIGHT, KEY_RIGHT, KEY_UP},
         SETUP_FIELD_QUANTITY,
         1,
         FORCED_GEOMETRY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        settings_defaults();
        settings.meas_mode = c.stored_mode;
        std::vector<u32> keys = c.keys;
        keys.push_back(KEY_ESC);
        EXPECT_EQ(run(keys), MEAS_SETUP_UNCHANGED);
        EXPECT_TRUE(only_focus(shot, c.focused));
        EXPECT_TRUE(bar_shows(shot, 2, static_cast<int>(c.mode)));
        EXPECT_TRUE(geometry_shows(shot, c.geometry, c.mode));
        EXPECT_EQ(settings.meas_mode, c.stored_mode);
    }
}

TEST_F(MeasSetupTest, StepAndDurationBoxesShowTheValuesOfTheGeometry)
{
    struct Case {
        const char* what;
        Geometry stored;  // fields 4 .. 9
        u32 mode;
        std::vector<u32> keys;  // Esc follows
        const char* step;
        const char* duration;
    };
    const Case cases[] = {
        {"1600 lines at 1 kHz", {{2, 2, 2, 2, 3, 2}}, 2, {}, CP("0.625Гц"), CP("  1.6 с")},
        {"the same in signal mode", {{2, 2, 2, 2, 3, 2}}, 3, {}, CP("0.625Гц"), CP("  1.6 с")},
        {"1600 lines at 4 kHz", {{3, 3, 2, 1, 2, 2}}, 2, {}, CP(" 2.5 Гц"), CP("  0.4 с")},
        {"1600 lines at 400 Hz", {{1, 1, 2, 3, 4, 2}}, 2, {}, CP("0.25 Гц"), CP("    4 с")},
        {"400 lines at 4 kHz", {{4, 3, 1, 1, 1, 1}}, 2, {}, CP("  10 Гц"), CP("  0.1 с")},
        {"400 lines at 1 kHz", {{3, 2, 1, 2, 2, 1}}, 2, {}, CP(" 2.5 Гц"), CP("  0.4 с")},
        {"400 lines at 400 Hz", {{2, 1, 1, 3, 3, 1}}, 2, {}, CP("   1 Гц"), CP("    1 с")},
        {"spectrum 1000 Hz forces 400 lines", {{2, 2, 2, 2, 3, 2}}, 1, {}, CP(" 2.5 Гц"), CP("  0.4 с")},
        {"step down to 1 kHz", DEFAULT_GEOMETRY, 2, {KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_LEFT}, CP("0.625Гц"),
         CP("  1.6 с")},
        {"and back up to 4 kHz", DEFAULT_GEOMETRY, 2, {KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_LEFT, KEY_RIGHT},
         CP(" 2.5 Гц"), CP("  0.4 с")},
        {"duration up to 1.6 s in signal mode", DEFAULT_GEOMETRY, 3, {KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_RIGHT},
         CP("0.625Гц"), CP("  1.6 с")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        settings_defaults();
        settings.meas_mode = c.mode;
        u32* const lists[6] = {&settings.spectrum_step_idx, &settings.spectrum_fmax_idx,   &settings.spectrum_lines_idx,
                               &settings.signal_step_idx,   &settings.signal_duration_idx, &settings.signal_samples_idx};
        for (int i = 0; i < 6; ++i) *lists[i] = static_cast<u32>(c.stored.lists[i]);
        std::vector<u32> keys = c.keys;
        keys.push_back(KEY_ESC);
        EXPECT_EQ(run(keys), MEAS_SETUP_UNCHANGED);
        EXPECT_TRUE(box_text_shows(shot, SETUP_FIELD_SPECTRUM_STEP, c.step, c.mode == MEAS_MODE_SPECTRUM));
        EXPECT_TRUE(box_text_shows(shot, SETUP_FIELD_DURATION, c.duration, c.mode == MEAS_MODE_SIGNAL));
    }
}

TEST_F(MeasSetupTest, EnterStoresOnlyWhenSomethingDiffers)
{
    constexpr Stored FORCED = {1, 1, 1, 3, 2, 1, 2, 2, 1, 2, 1};
    constexpr Stored MODE_1_UNFORCED = {1, 1, 1, 3, 3, 2, 1, 2, 2, 2, 1};
    struct Case {
        const char* what;
        Stored start;
        std::vector<u32> keys;
        int result;
        Stored expected;
    };
    const Case cases[] = {
        {"Enter at once", DEFAULTS, {KEY_ENTER}, MEAS_SETUP_UNCHANGED, DEFAULTS},
        {"changed and changed back", DEFAULTS, {KEY_RIGHT, KEY_LEFT, KEY_ENTER}, MEAS_SETUP_UNCHANGED, DEFAULTS},
        {"the store item, nothing changed", DEFAULTS, {KEY_UP, KEY_UP, KEY_ENTER}, MEAS_SETUP_UNCHANGED, DEFAULTS},
        {"spectrum 1000 Hz already in force", FORCED, {KEY_ENTER}, MEAS_SETUP_UNCHANGED, FORCED},
        {"sensor and quantity",
         DEFAULTS,
         {KEY_RIGHT, KEY_DOWN, KEY_RIGHT, KEY_ENTER},
         MEAS_SETUP_STORED,
         {2, 2, 2, 3, 3, 2, 1, 2, 2, 2, 1}},
        {"acceleration",
         DEFAULTS,
         {KEY_DOWN, KEY_LEFT, KEY_ENTER},
         MEAS_SETUP_STORED,
         {1, 0, 2, 3, 3, 2, 1, 2, 2, 2, 1}},
        {"sensor wraps to the last",
         DEFAULTS,
         {KEY_LEFT, KEY_ENTER},
         MEAS_SETUP_STORED,
         {3, 1, 2, 3, 3, 2, 1, 2, 2, 2, 1}},
        {"Enter on the store item",
         DEFAULTS,
         {KEY_RIGHT, KEY_UP, KEY_UP, KEY_ENTER},
         MEAS_SETUP_STORED,
         {2, 1, 2, 3, 3, 2, 1, 2, 2, 2, 1}},
        {"auto-record, Enter on its box",
         DEFAULTS,
         {KEY_UP, KEY_UP, KEY_UP, KEY_RIGHT, KEY_ENTER},
         MEAS_SETUP_STORED,
         {1, 1, 2, 3, 3, 2, 1, 2, 2, 2, 2}},
        {"averaging 999",
         DEFAULTS,
         {KEY_UP, KEY_UP, KEY_UP, KEY_UP, KEY_LEFT, KEY_LEFT, KEY_LEFT, KEY_ENTER},
         MEAS_SETUP_STORED,
         {1, 1, 2, 3, 3, 2, 1, 2, 2, 5, 1}},
        {"spectrum 1000 Hz chosen", DEFAULTS, {KEY_DOWN, KEY_DOWN, KEY_LEFT, KEY_ENTER}, MEAS_SETUP_STORED, FORCED},
        {"spectrum 1000 Hz stored with other lists", MODE_1_UNFORCED, {KEY_ENTER}, MEAS_SETUP_STORED, FORCED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        settings_defaults();
        store(c.start);
        settings.meas_params_changed = 0;
        settings_save();
        const SettingsBlock before = settings;
        const std::vector<u8> fram_before = fram();
        results.valid = 1;
        results.stamp = RESULT_STAMP;

        ASSERT_EQ(run(c.keys), c.result);
        EXPECT_EQ(stored_now(), c.expected) << text_of(stored_now());
        if (c.result == MEAS_SETUP_UNCHANGED) {
            EXPECT_EQ(std::memcmp(&settings, &before, sizeof settings), 0);
            EXPECT_EQ(fram(), fram_before);
            EXPECT_TRUE(results_untouched());
            continue;
        }
        // The block as it was, with the 12 values and the changed flag set,
        // saved with its checksum; nothing else in the parameter memory moved.
        SettingsBlock expected = before;
        std::swap(expected, settings);
        store(c.expected);
        settings.meas_params_changed = 1;
        std::swap(expected, settings);
        EXPECT_EQ(std::memcmp(&settings, &expected, offsetof(SettingsBlock, checksum)), 0);
        const std::vector<u8> block = stored_settings(dir.path());
        ASSERT_EQ(block.size(), SETTINGS_SIZE);
        EXPECT_EQ(std::memcmp(block.data(), &settings, SETTINGS_SIZE), 0);
        std::vector<u8> after = fram();
        ASSERT_EQ(after.size(), fram_before.size());
        std::copy(fram_before.begin() + SETTINGS_OFFSET, fram_before.begin() + SETTINGS_OFFSET + SETTINGS_SIZE,
                  after.begin() + SETTINGS_OFFSET);
        EXPECT_EQ(after, fram_before);
        settings_defaults();
        settings_load();
        EXPECT_EQ(stored_now(), c.expected);
        EXPECT_EQ(results.valid, 0u);
        EXPECT_EQ(results.stamp, 0u);
    }
}

TEST_F(MeasSetupTest, EscAndPowerOffStoreNothing)
{
    const struct {
        const char* what;
        std::vector<u32> keys;
    } cases[] = {
        {"Esc after changes", {KEY_RIGHT, KEY_DOWN, KEY_RIGHT, KEY_DOWN, KEY_RIGHT, KEY_ESC}},
        {"Esc after spectrum 1000 Hz", {KEY_DOWN, KEY_DOWN, KEY_LEFT, KEY_ESC}},
        {"power-off after a change", {KEY_RIGHT}},
        {"power-off in the bearing choice", {KEY_RIGHT, KEY_MOD}},
    };
    const std::vector<u8> fram_before = fram();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        results.valid = 1;
        results.stamp = RESULT_STAMP;
        EXPECT_EQ(run(c.keys), MEAS_SETUP_UNCHANGED);
        EXPECT_EQ(stored_now(), DEFAULTS) << text_of(stored_now());
        EXPECT_EQ(settings.meas_params_changed, 0u);
        EXPECT_EQ(fram(), fram_before);
        EXPECT_TRUE(results_untouched());
    }
}

TEST_F(MeasSetupTest, OutOfRangeValuesShowTheirSubstitutesAndStoreThem)
{
    constexpr u32 ALL = 0xFFFFFFFFu;
    constexpr Stored SUBSTITUTES = {1, 0, 2, 1, 1, 1, 1, 1, 1, 1, 1};
    const struct {
        const char* what;
        Stored stored;
        Stored shown;
    } cases[] = {
        {"all bits set", {ALL, ALL, ALL, ALL, ALL, ALL, ALL, ALL, ALL, ALL, ALL}, SUBSTITUTES},
        {"all zero (acceleration is valid)", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SUBSTITUTES},
        {"one past the lists", {4, 3, 4, 5, 4, 3, 4, 5, 3, 7, 3}, SUBSTITUTES},
        {"the last entries", {3, 2, 3, 4, 3, 2, 3, 4, 2, 6, 2}, {3, 2, 3, 4, 3, 2, 3, 4, 2, 6, 2}},
        {"spectrum 1000 Hz over bad lists",
         {ALL, 1, 1, ALL, 9, 0, ALL, 77, 3, ALL, ALL},
         {1, 1, 1, 3, 2, 1, 2, 2, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        settings_defaults();
        store(c.stored);
        EXPECT_EQ(run({KEY_ESC}), MEAS_SETUP_UNCHANGED);
        EXPECT_EQ(stored_now(), c.stored);  // Esc: kept as it was
        EXPECT_TRUE(bar_shows(shot, 0, static_cast<int>(c.shown.sensor)));
        EXPECT_TRUE(bar_shows(shot, 1, static_cast<int>(c.shown.quantity) + 1));
        EXPECT_TRUE(bar_shows(shot, 2, static_cast<int>(c.shown.mode)));
        const Geometry g = {{static_cast<int>(c.shown.spectrum_step), static_cast<int>(c.shown.fmax),
                             static_cast<int>(c.shown.lines), static_cast<int>(c.shown.signal_step),
                             static_cast<int>(c.shown.duration), static_cast<int>(c.shown.samples)}};
        EXPECT_TRUE(geometry_shows(shot, g, c.shown.mode));
        EXPECT_TRUE(box_shows(shot, SETUP_FIELD_AVERAGING, static_cast<int>(c.shown.averaging), true));
        EXPECT_TRUE(box_shows(shot, SETUP_FIELD_AUTOSTART, static_cast<int>(c.shown.autostart), true));

        // Enter stores what is shown.
        const bool differs = !(c.stored == c.shown);
        EXPECT_EQ(run({KEY_ENTER}), differs ? MEAS_SETUP_STORED : MEAS_SETUP_UNCHANGED);
        EXPECT_EQ(stored_now(), c.shown) << text_of(stored_now());
    }
}

TEST_F(MeasSetupTest, ModAndTheBearingItemOpenTheBearingChoice)
{
    bearing_catalogue_load();
    ASSERT_GT(bearing_catalogue.count, 3u);
    EXPECT_EQ(run({KEY_ESC}), MEAS_SETUP_UNCHANGED);
    const std::vector<u16> fresh = shot;
    const auto below_title = [](const std::vector<u16>& px) { return area(px, 0, 20, LCD_WIDTH, LCD_HEIGHT - 20); };

    // Esc in the bearing choice: back to this screen, drawn anew.
    EXPECT_EQ(run({KEY_MOD, KEY_ESC, KEY_ESC}), MEAS_SETUP_UNCHANGED);
    EXPECT_TRUE(below_title(shot) == below_title(fresh));
    EXPECT_EQ(settings.bearing_name[0], 0);

    // Mod, a row chosen there: the name is stored; back here, Esc.
    EXPECT_EQ(run({KEY_MOD, KEY_DOWN, KEY_ENTER, KEY_ESC}), MEAS_SETUP_UNCHANGED);
    EXPECT_STREQ(settings.bearing_name, bearing_at(1)->name);
    EXPECT_TRUE(below_title(shot) == below_title(fresh));

    // Enter on the bearing item (Up wraps to it); the list starts on the stored bearing.
    EXPECT_EQ(run({KEY_UP, KEY_ENTER, KEY_DOWN, KEY_ENTER, KEY_ESC}), MEAS_SETUP_UNCHANGED);
    EXPECT_STREQ(settings.bearing_name, bearing_at(2)->name);
    EXPECT_TRUE(only_focus(shot, SETUP_FIELD_BEARING));
    const std::vector<u8> block = stored_settings(dir.path());
    ASSERT_EQ(block.size(), SETTINGS_SIZE);
    EXPECT_STREQ(reinterpret_cast<const char*>(block.data() + offsetof(SettingsBlock, bearing_name)),
                 bearing_at(2)->name);

    // A change made before the bearing choice stays on screen and is stored after it;
    // the bearing choice itself saved the block without it.
    EXPECT_EQ(run({KEY_RIGHT, KEY_MOD, KEY_ENTER, KEY_ESC}), MEAS_SETUP_UNCHANGED);
    EXPECT_TRUE(bar_shows(shot, 0, 2));
    EXPECT_EQ(settings.sensor, 1u);
    EXPECT_EQ(run({KEY_RIGHT, KEY_MOD, KEY_ESC, KEY_ENTER}), MEAS_SETUP_STORED);
    EXPECT_EQ(settings.sensor, 2u);
}

TEST_F(MeasSetupTest, ScreenLayout)
{
    EXPECT_EQ(run({KEY_ESC}), MEAS_SETUP_UNCHANGED);
    // Title (left of the clock) and the soft keys: Enter "Зап", a plain key "Подш" at position 3.
    EXPECT_TRUE(area(shot, 0, 0, 150, 20) == reference([] { frame_title("Параметры замера"_cp); }, 0, 0, 150, 20));
    const auto keys = reference(
        [] {
            frame_bottom();
            softkey_draw(-1, "Зап"_cp);
            softkey_draw(3, "Подш"_cp);
        },
        0, 216, LCD_WIDTH, 24);
    EXPECT_TRUE(area(shot, 0, 216, LCD_WIDTH, 24) == keys);
    // The bars with the defaults: internal sensor, velocity, spectrum.
    EXPECT_TRUE(bar_shows(shot, 0, 1));
    EXPECT_TRUE(bar_shows(shot, 1, 2));
    EXPECT_TRUE(bar_shows(shot, 2, 2));
    // The labels, dark blue outlined in white.
    outline_color = COLOR_WHITE;
    EXPECT_TRUE(region_has_text(shot, 8, 125, "Шаг"_cp, 4, 53248, COLOR_DARK_BLUE, COLOR_BACKGROUND));
    EXPECT_TRUE(region_has_text(shot, 8, 147, "Длительн."_cp, 4, 53248, COLOR_DARK_BLUE, COLOR_BACKGROUND));
    EXPECT_TRUE(region_has_text(shot, 8, 169, "Отсчетов"_cp, 4, 53248, COLOR_DARK_BLUE, COLOR_BACKGROUND));
    // The boxes.
    EXPECT_TRUE(geometry_shows(shot, DEFAULT_GEOMETRY, MEAS_MODE_SPECTRUM));
    EXPECT_TRUE(box_shows(shot, SETUP_FIELD_AVERAGING, 2, true));
    EXPECT_TRUE(box_shows(shot, SETUP_FIELD_AUTOSTART, 1, true));
    // The focus on the first bar: its rule at rows 26-27, nothing else focused.
    EXPECT_TRUE(only_focus(shot, SETUP_FIELD_SENSOR));
    // Between the pieces: the background (the rows between the bars and
    // the rules, left of the boxes, between the rows of boxes).
    EXPECT_TRUE(all_of(shot, 0, 20, LCD_WIDTH - 1, 25, COLOR_BACKGROUND));
    EXPECT_TRUE(all_of(shot, 1, 56, 317, 57, COLOR_BACKGROUND));
    EXPECT_TRUE(all_of(shot, 1, 88, 317, 89, COLOR_BACKGROUND));
    EXPECT_TRUE(all_of(shot, 100, 120, 319, 121, COLOR_BACKGROUND));
    EXPECT_TRUE(all_of(shot, 214, 122, 219, 187, COLOR_BACKGROUND));
}

TEST_F(MeasSetupTest, FocusAndValueChangesRedrawOnlyTheirOwnPlaces)
{
    // The focus on the second bar: the first bar keeps every pixel (the
    // strip above the second one is transparent where it meets it).
    EXPECT_EQ(run({KEY_DOWN, KEY_ESC}), MEAS_SETUP_UNCHANGED);
    EXPECT_TRUE(only_focus(shot, SETUP_FIELD_QUANTITY));
    EXPECT_TRUE(bar_shows(shot, 0, 1));
    EXPECT_TRUE(bar_shows(shot, 1, 2));

    // Back up and down again through every field: one focus mark at a time.
    EXPECT_EQ(run({KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_UP, KEY_UP, KEY_UP, KEY_UP, KEY_DOWN, KEY_DOWN, KEY_DOWN,
                   KEY_DOWN, KEY_DOWN, KEY_ESC}),
              MEAS_SETUP_UNCHANGED);
    EXPECT_TRUE(only_focus(shot, SETUP_FIELD_LINES));
    for (int bar = 0; bar < 3; ++bar) EXPECT_TRUE(bar_shows(shot, bar, bar == 0 ? 1 : 2)) << bar;

    // A bar redrawn by its own key looks as drawn on entry.
    EXPECT_EQ(run({KEY_RIGHT, KEY_RIGHT, KEY_ESC}), MEAS_SETUP_UNCHANGED);
    EXPECT_TRUE(bar_shows(shot, 0, 3));
    EXPECT_TRUE(only_focus(shot, SETUP_FIELD_SENSOR));

    // The spectrum step down to 1 Hz: fmax 1 kHz, and the signal set follows
    // (0.4 ms, 1 s, 4096 samples); the rule stays above the step box.
    EXPECT_EQ(run({KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_LEFT, KEY_ESC}), MEAS_SETUP_UNCHANGED);
    EXPECT_TRUE(geometry_shows(shot, {{2, 2, 2, 2, 3, 2}}, MEAS_MODE_SPECTRUM));
    EXPECT_TRUE(only_focus(shot, SETUP_FIELD_SPECTRUM_STEP));
    EXPECT_EQ(stored_now(), DEFAULTS);
}

TEST_F(MeasSetupTest, StripsAreTransparentAboveTheirRule)
{
    for (int index : {int{IMG_SETUP_STRIP_FOCUS}, int{IMG_SETUP_STRIP}}) {
        const u16* img = image_set[index];
        ASSERT_NE(img, nullptr);
        ASSERT_EQ(image_width(img), 317u);
        ASSERT_EQ(image_height(img), 7u);
        const u16 rule = index == IMG_SETUP_STRIP_FOCUS ? IMG_SETUP_RULE_COLOR : u16{COLOR_BACKGROUND};
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 317; ++x)
                ASSERT_EQ(img[4 + y * 317 + x], y < IMG_SETUP_RULE_ROW ? u16{COLOR_WHITE} : rule)
                    << index << " " << x << "," << y;
    }
    EXPECT_NE(IMG_SETUP_RULE_COLOR, COLOR_BACKGROUND);
    EXPECT_NE(IMG_SETUP_RULE_COLOR, COLOR_WHITE);
    EXPECT_EQ(IMG_SETUP_RULE_ROW, 5);
}

}  // namespace
