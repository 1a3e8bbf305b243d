#include "screens/vibrometer.h"

#include <cmath>
#include <cstring>

#include "analysis/format.h"
#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/rounding.h"
#include "analysis/signal.h"
#include "archive/mount.h"
#include "base/cp1251.h"
#include "gfx/dialog.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/shock_panel.h"
#include "screens/status.h"

VibrometerState vibrometer;

namespace {

// Requests of the live screen: vibration, shock-pulse signal, temperature,
// processing and shock-pulse analysis.
constexpr u32 VIB_REQUEST = REQ_VIBRATION | REQ_SHOCK | REQ_TEMPERATURE | REQ_PROCESS | REQ_SHOCK_ANALYSIS;
static_assert(VIB_REQUEST == 206);
constexpr u32 VIB_GROUP = RMS_TABLE_GROUP;

constexpr u32 QUANTITY_COUNT_VIB = 3;
constexpr u32 WARN_LIMIT_MAX = 11, ALARM_LIMIT_MAX = 12;  // highest valid indices
constexpr u32 WARN_DEFAULT = 7, ALARM_DEFAULT = 8;

// Places on the screen.
constexpr i32 PLOT_X0 = 3, PLOT_Y0 = 153, PLOT_X1 = 269, PLOT_Y1 = 211;
constexpr i32 PLOT_PANEL_X = 0, PLOT_PANEL_Y = 149;
constexpr i32 VIB_PANEL_X = 18, VIB_PANEL_Y = 22;
constexpr i32 CAPTION_X = 7, CAPTION_Y = 76;
constexpr i32 RUN_X = 44, RUN_Y1 = 86, RUN_Y2 = 33;

// Places of the big digits and of the temperature, and the right edges of
// the boxes cleared behind them.
constexpr i32 BIG_X = 87, BIG_Y = 68, BIG_CLEAR_X1 = 271;
constexpr i32 TEMP_X = 80, TEMP_Y = 25, TEMP_CLEAR_X1 = 161;

// Bar graph: the scale runs from y 205 up 138 px to the full scale.
constexpr i32 BAR_FRAME_X = 274, BAR_FRAME_Y = 42;
constexpr i32 BAR_BOTTOM = 205, BAR_SPAN = 138, BAR_TOP_Y = 67;
constexpr i32 BAR_X0 = 285, BAR_X1 = 308;
constexpr i32 PEAK_X0 = 282, PEAK_X1 = 312;
constexpr i32 LIMIT_X0 = 280, LIMIT_X1 = 313;
constexpr i32 LIMIT_LABEL_X = 297, LIMIT_LABEL_DY = 10;
constexpr int HISTORY = 8;
constexpr float BAR_SHRINK = 0.7f;
constexpr float BAR_STEP = 0.1f;
constexpr float BAR_SCALE_MAX = 1.0e6f;  // mm/s, the largest top of the bar graph's scale

constexpr float MIN_SCALE = 0.5f;
constexpr u32 GRADE_ALARM = 3, GRADE_WARNING = 2;
constexpr u32 NO_STAMP = 0xFFFFFFFFu;

// Soft-key slots.
constexpr i32 SLOT_ENTER = -1, SLOT_UP = -2, SLOT_DOWN = -3, SLOT_LEFT = -4, SLOT_RIGHT = -5;

SoftKeyBar g_keys;
bool g_viewing = false;  // the archive view is on screen

float& velocity(RmsTableRecord& r)
{
    return r.values[0][0][1];
}

void draw_image(i32 x, i32 y, int index)
{
    image_draw_plain(x, y, image_set[index]);
}

void fill_record(RmsTableRecord& r)
{
    r.valid = static_cast<u16>(results.valid);
    r.format = RECORD_FORMAT;
    r.group = VIB_GROUP;
    for (u32 q = 0; q < QUANTITY_COUNT_VIB; ++q) r.values[0][0][q] = meas_band_value(VIB_GROUP, q);
    r.temperature[0][0] = meas_temperature();
    r.filled[0] |= 1;
}

void load_settings()
{
    VibrometerState& s = vibrometer;
    s.vib_mode = settings.plot_mode;
    if (s.vib_mode == 2) s.vib_mode = VIB_MODE_SHOCK;
    if (s.vib_mode > VIB_MODE_SHOCK) s.vib_mode = VIB_MODE_WAVEFORM;
    s.vib_quantity = settings.plot_quantity;
    if (s.vib_quantity >= QUANTITY_COUNT_VIB) s.vib_quantity = 1;
    s.warn_idx = settings.warn_idx;
    if (s.warn_idx > WARN_LIMIT_MAX) s.warn_idx = WARN_DEFAULT;
    s.alarm_idx = settings.alarm_idx;
    if (s.alarm_idx > ALARM_LIMIT_MAX) s.alarm_idx = ALARM_DEFAULT;
}

void update_key_visibility()
{
    const VibrometerState& s = vibrometer;
    if (g_viewing) return;
    softbar_show(&g_keys, SLOT_ENTER, 1, s.has_data);
    const u8 plot_keys = s.has_data && s.vib_mode != VIB_MODE_SHOCK;
    softbar_show(&g_keys, SLOT_LEFT, plot_keys, plot_keys);
    softbar_show(&g_keys, SLOT_RIGHT, plot_keys, plot_keys);
}

void draw_run_indicators()
{
    const int index = vibrometer.running ? IMG_VIBRO_RUNNING : IMG_VIBRO_STOPPED;
    draw_image(RUN_X, RUN_Y1, index);
    draw_image(RUN_X, RUN_Y2, index);
}

void set_enter_label()
{
    softbar_set(&g_keys, SLOT_ENTER, vibrometer.running ? "Стоп"_cp : "Пуск"_cp, "Зап"_cp);
    update_key_visibility();
}

void set_running(bool on)
{
    VibrometerState& s = vibrometer;
    s.running = on ? 1 : 0;
    meas_set_running(s.running);
    draw_run_indicators();
    set_enter_label();
    if (!on) busy_release();
}

// Draws the text of a value from a digit strip, cell by cell.
struct DigitLayout {
    i32 x, y, clear_x1;
    i32 cell, pitch, dot_at, dot, dot_dy, minus_at, minus;
};

constexpr DigitLayout BIG_DIGITS = {BIG_X,
                                    BIG_Y,
                                    BIG_CLEAR_X1,
                                    IMG_DIGITS_CELL,
                                    IMG_DIGITS_PITCH,
                                    IMG_DIGITS_POINT_X,
                                    IMG_DIGITS_POINT,
                                    IMG_DIGITS_POINT_DROP,
                                    IMG_DIGITS_MINUS_X,
                                    IMG_DIGITS_MINUS_W};
constexpr DigitLayout TEMP_DIGITS = {TEMP_X,
                                     TEMP_Y,
                                     TEMP_CLEAR_X1,
                                     IMG_TEMP_DIGITS_CELL,
                                     IMG_TEMP_DIGITS_PITCH,
                                     IMG_TEMP_DIGITS_POINT_X,
                                     IMG_TEMP_DIGITS_POINT,
                                     IMG_TEMP_DIGITS_POINT_DROP,
                                     IMG_TEMP_DIGITS_MINUS_X,
                                     IMG_TEMP_DIGITS_MINUS_W};

void draw_digits(const DigitLayout& d, const char* text, const u16* strip)
{
    if (!strip) return;
    const i32 h = static_cast<i32>(image_height(strip)) - 1;
    fill_rect(d.x, d.y, d.clear_x1, d.y + h, COLOR_BACKGROUND);
    const u8 mode = image_mode;
    image_mode = 0;
    i32 x = d.x;
    for (const char* p = text; *p; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            image_draw_part(x, d.y, d.pitch * (c - '0'), 0, d.cell, h, strip);
            x += d.cell;
        } else if (c == '-') {
            image_draw_part(x, d.y, d.minus_at, 0, d.minus, h, strip);
            x += d.minus;
        } else if (c == '.') {
            image_draw_part(x, d.y + d.dot_dy, d.dot_at, 0, d.dot, d.dot, strip);
            x += d.dot;
        } else {
            x += d.cell;
        }
    }
    image_mode = mode;
}

// The strip of a grade among three in a row: good, warning, alarm.
static_assert(IMG_DIGITS_YELLOW == IMG_DIGITS_GREEN + 1 && IMG_DIGITS_RED == IMG_DIGITS_GREEN + 2);
static_assert(IMG_TEMP_DIGITS_YELLOW == IMG_TEMP_DIGITS_GREEN + 1 && IMG_TEMP_DIGITS_RED == IMG_TEMP_DIGITS_GREEN + 2);
const u16* graded_strip(int good, int grade)
{
    const int k = grade == static_cast<int>(GRADE_ALARM) ? 2 : grade == static_cast<int>(GRADE_WARNING) ? 1 : 0;
    return image_set[good + k];
}

void draw_main_value()
{
    VibrometerState& s = vibrometer;
    float v = s.record->values[0][0][s.vib_quantity];
    if (v == s.last_value) return;
    s.last_value = v;
    s.bar_redraw = 1;
    if (v < 0) v = 0;
    char text[32];
    format_quantity(text, static_cast<int>(s.vib_quantity), v);
    draw_digits(BIG_DIGITS, text,
                graded_strip(IMG_DIGITS_GREEN, grade_value(velocity(*s.record), s.warn_idx, s.alarm_idx)));
}

void draw_temperature()
{
    VibrometerState& s = vibrometer;
    const float t = s.record->temperature[0][0];
    if (t == s.last_temperature) return;
    s.last_temperature = t;
    char text[32];
    format_quantity(text, 4, t);
    draw_digits(TEMP_DIGITS, text, graded_strip(IMG_TEMP_DIGITS_GREEN, grade_temperature(t)));
}

i32 bar_y(float v, i32 top)
{
    return round_half_away(static_cast<float>(BAR_BOTTOM) - v * BAR_SPAN / static_cast<float>(top));
}

void limit_line(i32 y, u16 colour)
{
    draw_hline(LIMIT_X0, LIMIT_X1, y, COLOR_WHITE);
    draw_hline(LIMIT_X0, LIMIT_X1, y + 1, COLOR_WHITE);
    const u16 fg = fg_color;
    fg_color = colour;
    draw_dotted_hline(LIMIT_X0, LIMIT_X1, y);
    draw_dotted_hline(LIMIT_X0 + 1, LIMIT_X1, y + 1);
    fg_color = fg;
}

void limit_label(i32 y, float limit, u16 colour)
{
    char text[32];
    fg_color = colour;
    text_draw(LIMIT_LABEL_X, y - LIMIT_LABEL_DY, format_sig(limit, 5, text), TF_HCENTER);
}

void draw_bar_graph()
{
    VibrometerState& s = vibrometer;
    if (results.stamp == s.last_stamp && results.tick == s.last_tick) return;
    s.last_stamp = results.stamp;
    s.last_tick = results.tick;
    for (int i = HISTORY - 1; i > 0; --i) s.history[i] = s.history[i - 1];
    const float current = velocity(*s.record);
    s.history[0] = current;
    float m = s.history[0];
    for (int i = 1; i < HISTORY; ++i)
        if (s.history[i] > m) m = s.history[i];

    // Whole mm/s; a value beyond any scale (a damaged stored record, or not
    // a number) stands at the top of the largest one.
    i32 e = round_half_away(std::ceil(std::fmin(m, BAR_SCALE_MAX)));
    if (s.alarm_idx != 0) {
        const i32 a = static_cast<i32>(std::ceil(CLASS_LIMITS[s.alarm_idx]));
        if (a > e) e = a;
    }
    if (s.bar_top < e) {
        s.bar_top = e;
        s.bar_redraw = 1;
    }
    if (2 * e < s.bar_top) {
        s.bar_top = round_half_away(BAR_SHRINK * static_cast<float>(s.bar_top));
        s.bar_redraw = 1;
    }
    if (s.bar_top < 1) s.bar_top = 1;
    if (std::fabs(s.last_bar_max - m) < BAR_STEP && !s.bar_redraw) return;
    s.bar_redraw = 0;
    s.last_bar_max = m;

    draw_image(BAR_FRAME_X, BAR_FRAME_Y, IMG_BAR_FRAME);
    const i32 y_now = bar_y(current, s.bar_top);
    fill_rect(BAR_X0, y_now < BAR_TOP_Y ? BAR_TOP_Y : y_now, BAR_X1, BAR_BOTTOM,
              grade_colour(static_cast<u32>(grade_value(current, s.warn_idx, s.alarm_idx))));
    const i32 y_peak = bar_y(m, s.bar_top);
    if (y_peak >= BAR_TOP_Y) draw_hline(PEAK_X0, PEAK_X1, y_peak, COLOR_BLACK);

    const i32 y_alarm = s.alarm_idx != 0 ? bar_y(CLASS_LIMITS[s.alarm_idx], s.bar_top) : BAR_TOP_Y;
    const i32 y_warn = s.warn_idx != 0 ? bar_y(CLASS_LIMITS[s.warn_idx], s.bar_top) : BAR_BOTTOM;
    if (s.alarm_idx != 0) limit_line(y_alarm, COLOR_RED);
    if (s.warn_idx != 0) limit_line(y_warn, COLOR_WARNING);

    const u16 fg = fg_color, bg = bg_color;
    const u8 font = font_current;
    font_select(3);
    bg_color = COLOR_BACKGROUND;
    if (s.warn_idx != 0 && y_alarm + LIMIT_LABEL_DY < y_warn)
        limit_label(y_warn, CLASS_LIMITS[s.warn_idx], COLOR_WARNING);
    if (s.alarm_idx != 0) limit_label(y_alarm, CLASS_LIMITS[s.alarm_idx], COLOR_RED);
    fg_color = fg;
    bg_color = bg;
    font_select(font);
}

void full_redraw(bool allow_data)
{
    VibrometerState& s = vibrometer;
    fill_rect(0, 20, 319, 215, COLOR_BACKGROUND);
    draw_image(PLOT_PANEL_X, PLOT_PANEL_Y, IMG_PLOT_PANEL);
    draw_image(VIB_PANEL_X, VIB_PANEL_Y, IMG_VIBRO_PANEL);
    s.has_data = allow_data && s.record->valid != 0 && results.valid != 0;
    s.last_stamp = NO_STAMP;
    s.last_tick = NO_STAMP;
    s.last_value = s.last_temperature = s.last_bar_max = -1.0f;
    for (float& h : s.history) h = 0;
    s.bar_top = 1;
    panel_redraw = 1;
    s.bar_redraw = 1;
    draw_bar_graph();
    draw_image(CAPTION_X, CAPTION_Y, IMG_CAPTION_ACCEL + static_cast<int>(s.vib_quantity));
    draw_run_indicators();
    if (allow_data) set_enter_label();
    update_key_visibility();
    status_mode_icons(s.vib_mode, s.vib_quantity);
}

void draw_values()
{
    draw_bar_graph();
    draw_main_value();
    draw_temperature();
}

void store_settings()
{
    const VibrometerState& s = vibrometer;
    settings.plot_mode = s.vib_mode;
    settings.plot_quantity = s.vib_quantity;
    settings.plot_cursor_freq = plot_cursor_freq(&s.plot);
    settings.warn_idx = s.warn_idx;
    settings.alarm_idx = s.alarm_idx;
}

void limits_step(int step)
{
    VibrometerState& s = vibrometer;
    s.warn_idx = static_cast<u32>(static_cast<int>(s.warn_idx) + step);
    s.alarm_idx = static_cast<u32>(static_cast<int>(s.alarm_idx) + step);
}

void enter_screen_frame()
{
    screen_enter(""_cp);
    font_select(4);
    softbar_init(&g_keys, KEY_MOD);
}

}  // namespace

void vibrometer_reset()
{
    VibrometerState& s = vibrometer;
    std::memset(&s.live, 0, sizeof s.live);
    s.record = nullptr;
    s.vib_mode = VIB_MODE_WAVEFORM;
    s.vib_quantity = 1;
    s.warn_idx = WARN_DEFAULT;
    s.alarm_idx = ALARM_DEFAULT;
    s.running = 0;
    s.has_data = 0;
    s.last_value = s.last_temperature = s.last_bar_max = -1.0f;
    s.last_stamp = s.last_tick = NO_STAMP;
    for (float& h : s.history) h = 0;
    s.bar_top = 1;
    s.bar_redraw = 1;
    std::memset(&s.plot, 0, sizeof s.plot);
    g_viewing = false;
    meas_set_viewer(MEAS_KIND_VIBROMETER, vibrometer_view);
}

void vibrometer_screen()
{
    VibrometerState& s = vibrometer;
    if (s.record == nullptr) {
        s.record = &s.live;
        std::memset(s.record, 0, sizeof *s.record);
    } else if (results.valid != 0) {
        fill_record(*s.record);
    } else {
        std::memset(s.record, 0, sizeof *s.record);
    }
    load_settings();

    enter_screen_frame();
    softbar_set(&g_keys, SLOT_ENTER, "Пуск"_cp, "Зап"_cp);
    softbar_set(&g_keys, SLOT_UP, "Спек"_cp, "Норм+"_cp);
    softbar_set(&g_keys, SLOT_DOWN, "Един"_cp, "Норм-"_cp);
    softbar_set(&g_keys, SLOT_LEFT, "<<<", ">-<");
    softbar_set(&g_keys, SLOT_RIGHT, ">>>", "<+>");
    s.has_data = 0;
    update_key_visibility();

    set_running(false);
    full_redraw(true);

    PlotView* pv = &s.plot;
    plot_init(pv, PLOT_X0, PLOT_Y0, PLOT_X1, PLOT_Y1);
    plot_set_group(pv, VIB_GROUP);
    plot_set_source(pv, s.vib_mode, s.vib_quantity);
    plot_set_cursor_freq(pv, settings.plot_cursor_freq);
    plot_reset_markers(pv);
    plot_add_marker(pv, 2.0f, "2x");
    plot_add_marker(pv, 3.0f, "3x");
    plot_set_min_scale(pv, MIN_SCALE);
    plot_invalidate(pv);
    meas_start(VIB_REQUEST);

    for (;;) {
        frame_status();
        u32 raw = key_poll_raw();
        while (s.vib_mode <= VIB_MODE_SPECTRUM) {
            const u32 k = raw & 0xFFFF;
            if (k != KEY_LEFT && k != KEY_RIGHT && k != (KEY_SHIFT | KEY_LEFT) && k != (KEY_SHIFT | KEY_RIGHT)) break;
            plot_handle_key(pv, raw);
            raw = key_poll_raw();
        }
        const u32 key = raw & 0xFFFF;
        if (key == KEY_ESC || power_off_flag) {
            set_running(false);
            break;
        }
        switch (key) {
        case KEY_ENTER:
            set_running(!s.running);
            s.last_stamp = 0;
            s.last_value = s.last_temperature = s.last_bar_max = -1.0f;
            panel_redraw = 1;
            plot_invalidate(pv);
            break;
        case KEY_DOWN:
            s.vib_quantity = (s.vib_quantity + 1) % QUANTITY_COUNT_VIB;
            plot_set_source(pv, s.vib_mode, s.vib_quantity);
            full_redraw(true);
            break;
        case KEY_UP:
            s.vib_mode = s.vib_mode == VIB_MODE_WAVEFORM   ? VIB_MODE_SPECTRUM
                         : s.vib_mode == VIB_MODE_SPECTRUM ? VIB_MODE_SHOCK
                                                           : VIB_MODE_WAVEFORM;
            plot_set_source(pv, s.vib_mode, s.vib_quantity);
            full_redraw(true);
            break;
        case KEY_SHIFT | KEY_UP:
            if (s.alarm_idx < ALARM_LIMIT_MAX) {
                limits_step(1);
                plot_invalidate(pv);
                full_redraw(true);
            }
            break;
        case KEY_SHIFT | KEY_DOWN:
            if (s.alarm_idx >= 2) {
                limits_step(-1);
                plot_invalidate(pv);
                full_redraw(true);
            }
            break;
        case KEY_SHIFT | KEY_ENTER:
            set_running(false);
            vibrometer_save();
            break;
        case KEY_MOD:
            if (s.vib_mode <= VIB_MODE_SPECTRUM) plot_set_cursor(pv, plot_find_peak(pv));
            break;
        default: break;
        }

        meas_step();
        if (s.running) {
            busy_mark();
            fill_record(*s.record);
            s.record->filled_count = 1;
            s.has_data = static_cast<u8>(results.valid & 0xFF) != 0;
            update_key_visibility();
        } else {
            busy_release();
        }

        softbar_update(&g_keys);
        if (s.vib_mode <= VIB_MODE_SPECTRUM)
            plot_draw(pv);
        else
            shock_panel_draw();
        draw_values();
        idle_yield();
    }
    store_settings();
    busy_release();
}

bool vibrometer_save()
{
    VibrometerState& s = vibrometer;
    if (!s.has_data || s.record == nullptr || s.record->valid == 0) return false;
    if (!archive_wait()) return false;
    s.record->format = RECORD_FORMAT;
    s.record->stamp = results.stamp;
    rms_table_seal(s.record);
    return meas_save(MEAS_KIND_VIBROMETER, s.record->stamp, s.record, sizeof(RmsTableRecord), nullptr, 0, nullptr, 0,
                     false) != 0;
}

void vibrometer_view(RmsTableRecord* loaded)
{
    VibrometerState& s = vibrometer;
    if (!rms_table_verify(loaded)) {
        msg_box("Ошибка !"_cp, "Ошибка в файле замера !"_cp, nullptr, nullptr, true, false);
        return;
    }
    if (loaded->valid == 0) return;
    s.record = loaded;
    load_settings();
    s.vib_mode = VIB_MODE_SHOCK;

    enter_screen_frame();
    g_viewing = true;
    softbar_set(&g_keys, SLOT_ENTER, "Закр"_cp, nullptr);
    softbar_set(&g_keys, SLOT_UP, nullptr, "Норм+"_cp);
    softbar_set(&g_keys, SLOT_DOWN, "Един"_cp, "Норм-"_cp);
    softbar_set(&g_keys, SLOT_LEFT, nullptr, nullptr);
    softbar_set(&g_keys, SLOT_RIGHT, nullptr, nullptr);
    full_redraw(false);

    for (;;) {
        const u16 key = key_poll();
        if (key == KEY_ESC || key == KEY_ENTER || key == KEY_RIGHT || power_off_flag) break;
        if (key == KEY_DOWN) {
            s.vib_quantity = (s.vib_quantity + 1) % QUANTITY_COUNT_VIB;
            full_redraw(false);
        } else if (key == (KEY_SHIFT | KEY_UP) && s.alarm_idx < ALARM_LIMIT_MAX) {
            limits_step(1);
            full_redraw(false);
        } else if (key == (KEY_SHIFT | KEY_DOWN) && s.alarm_idx > 1) {
            limits_step(-1);
            full_redraw(false);
        }
        softbar_update(&g_keys);
        draw_values();
        idle_yield();
    }
    g_viewing = false;
    s.record = &s.live;
}
