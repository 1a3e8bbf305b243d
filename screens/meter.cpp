#include "screens/meter.h"

#include <cmath>

#include "analysis/format.h"
#include "analysis/measures.h"
#include "analysis/rounding.h"
#include "analysis/signal.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/settings.h"
#include "screens/status.h"

namespace {

// Places on the screen.
constexpr i32 AREA_Y0 = 20, AREA_Y1 = 215;
constexpr i32 LOWER_PANEL_X = 0, LOWER_PANEL_Y = 149;
constexpr i32 VALUE_PANEL_X = 18, VALUE_PANEL_Y = 22;
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
constexpr float BAR_SHRINK = 0.7f;
constexpr float BAR_STEP = 0.1f;
constexpr float BAR_SCALE_MAX = 1.0e6f;  // mm/s, the largest top of the bar graph's scale

constexpr u32 GRADE_ALARM = 3, GRADE_WARNING = 2;
constexpr u32 NO_STAMP = 0xFFFFFFFFu;
constexpr float FORGOTTEN = -1.0f;
constexpr int QUANTITY_TEMPERATURE = 4;  // format of the temperature

void draw_image(i32 x, i32 y, int index)
{
    image_draw_plain(x, y, image_set[index]);
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

}  // namespace

void meter_limits_from_settings(u32* warn_idx, u32* alarm_idx)
{
    *warn_idx = settings.warn_idx > WARN_LIMIT_MAX ? WARN_DEFAULT : settings.warn_idx;
    *alarm_idx = settings.alarm_idx > ALARM_LIMIT_MAX ? ALARM_DEFAULT : settings.alarm_idx;
}

void meter_forget(MeterDisplay* m)
{
    m->last_stamp = m->last_tick = NO_STAMP;
    m->last_value = m->last_temperature = m->last_bar_max = FORGOTTEN;
    for (float& h : m->history) h = 0;
    m->bar_top = 1;
    m->bar_redraw = 1;
}

void meter_forget_values(MeterDisplay* m)
{
    m->last_stamp = 0;
    m->last_value = m->last_temperature = m->last_bar_max = FORGOTTEN;
}

void meter_draw_panels()
{
    fill_rect(0, AREA_Y0, LCD_WIDTH - 1, AREA_Y1, COLOR_BACKGROUND);
    draw_image(LOWER_PANEL_X, LOWER_PANEL_Y, IMG_PLOT_PANEL);
    draw_image(VALUE_PANEL_X, VALUE_PANEL_Y, IMG_VIBRO_PANEL);
}

void meter_draw_run_lamps(bool running)
{
    const int index = running ? IMG_VIBRO_RUNNING : IMG_VIBRO_STOPPED;
    draw_image(RUN_X, RUN_Y1, index);
    draw_image(RUN_X, RUN_Y2, index);
}

void meter_draw_caption(u32 quantity)
{
    draw_image(CAPTION_X, CAPTION_Y, IMG_CAPTION_ACCEL + static_cast<int>(quantity));
}

void meter_draw_bar(MeterDisplay* m, float velocity, u32 warn_idx, u32 alarm_idx)
{
    if (results.stamp == m->last_stamp && results.tick == m->last_tick) return;
    m->last_stamp = results.stamp;
    m->last_tick = results.tick;
    for (int i = METER_HISTORY - 1; i > 0; --i) m->history[i] = m->history[i - 1];
    m->history[0] = velocity;
    float peak = m->history[0];
    for (int i = 1; i < METER_HISTORY; ++i)
        if (m->history[i] > peak) peak = m->history[i];

    // Whole mm/s; a value beyond any scale (a damaged stored record, or not
    // a number) stands at the top of the largest one.
    i32 e = round_half_away(std::ceil(std::fmin(peak, BAR_SCALE_MAX)));
    if (alarm_idx != 0) {
        const i32 a = static_cast<i32>(std::ceil(CLASS_LIMITS[alarm_idx]));
        if (a > e) e = a;
    }
    if (m->bar_top < e) {
        m->bar_top = e;
        m->bar_redraw = 1;
    }
    if (2 * e < m->bar_top) {
        m->bar_top = round_half_away(BAR_SHRINK * static_cast<float>(m->bar_top));
        m->bar_redraw = 1;
    }
    if (m->bar_top < 1) m->bar_top = 1;
    if (std::fabs(m->last_bar_max - peak) < BAR_STEP && !m->bar_redraw) return;
    m->bar_redraw = 0;
    m->last_bar_max = peak;

    draw_image(BAR_FRAME_X, BAR_FRAME_Y, IMG_BAR_FRAME);
    const i32 y_now = bar_y(velocity, m->bar_top);
    fill_rect(BAR_X0, y_now < BAR_TOP_Y ? BAR_TOP_Y : y_now, BAR_X1, BAR_BOTTOM,
              grade_colour(static_cast<u32>(grade_value(velocity, warn_idx, alarm_idx))));
    const i32 y_peak = bar_y(peak, m->bar_top);
    if (y_peak >= BAR_TOP_Y) draw_hline(PEAK_X0, PEAK_X1, y_peak, COLOR_BLACK);

    const i32 y_alarm = alarm_idx != 0 ? bar_y(CLASS_LIMITS[alarm_idx], m->bar_top) : BAR_TOP_Y;
    const i32 y_warn = warn_idx != 0 ? bar_y(CLASS_LIMITS[warn_idx], m->bar_top) : BAR_BOTTOM;
    if (alarm_idx != 0) limit_line(y_alarm, COLOR_RED);
    if (warn_idx != 0) limit_line(y_warn, COLOR_WARNING);

    const u16 fg = fg_color, bg = bg_color;
    const u8 font = font_current;
    font_select(3);
    bg_color = COLOR_BACKGROUND;
    if (warn_idx != 0 && y_alarm + LIMIT_LABEL_DY < y_warn) limit_label(y_warn, CLASS_LIMITS[warn_idx], COLOR_WARNING);
    if (alarm_idx != 0) limit_label(y_alarm, CLASS_LIMITS[alarm_idx], COLOR_RED);
    fg_color = fg;
    bg_color = bg;
    font_select(font);
}

void meter_draw_value(MeterDisplay* m, float value, u32 quantity, float velocity, u32 warn_idx, u32 alarm_idx)
{
    if (value == m->last_value) return;
    m->last_value = value;
    m->bar_redraw = 1;
    if (value < 0) value = 0;
    char text[32];
    format_quantity(text, static_cast<int>(quantity), value);
    draw_digits(BIG_DIGITS, text, graded_strip(IMG_DIGITS_GREEN, grade_value(velocity, warn_idx, alarm_idx)));
}

void meter_draw_temperature(MeterDisplay* m, float celsius)
{
    if (celsius == m->last_temperature) return;
    m->last_temperature = celsius;
    char text[32];
    format_quantity(text, QUANTITY_TEMPERATURE, temperature_shown(celsius));
    draw_digits(TEMP_DIGITS, text, graded_strip(IMG_TEMP_DIGITS_GREEN, grade_temperature(celsius)));
}
