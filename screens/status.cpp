#include "screens/status.h"

#include <cmath>
#include <cstdio>

#include "analysis/format.h"
#include "analysis/rounding.h"
#include "base/cp1251.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/settings.h"

namespace {

constexpr i32 ICON_Y = 3;
constexpr i32 KIND_X = 4, QUANTITY_X = 21, DISPLAY_X = 38, SENSOR_X = 55;
constexpr i32 ICON_QUANTITY[3] = {IMG_MODE_ACCEL_X, IMG_MODE_VELOCITY_X, IMG_MODE_DISPLACEMENT_X};
// By the spectrum display setting 0, 1, 2.
constexpr i32 ICON_DISPLAY[3] = {IMG_MODE_LINEAR_X, IMG_MODE_LOG_X, IMG_MODE_DB_X};
constexpr u32 SENSOR_EXTERNAL = 2;
constexpr float PRINT_STEP = 0.1f;
constexpr float RMS_LIMIT = 999.0f;
constexpr float TEMPERATURE_LOWEST = -99.0f, TEMPERATURE_HIGHEST = 999.0f;
constexpr u32 GRADE_ALARM = 3, GRADE_WARNING = 2;

// The icon at strip offset `offset`, or the title bar behind the cell.
void icon_cell(i32 x, i32 offset)
{
    const u16* strip = image_set[IMG_MODE_ICONS];
    if (offset >= 0 && strip)
        image_draw_part(x, ICON_Y, offset, 0, IMG_MODE_ICON_W, IMG_MODE_ICON_H, strip);
    else if (image_set[IMG_TITLE_BAR])
        image_draw_part(x, ICON_Y, x, ICON_Y, IMG_MODE_ICON_W, IMG_MODE_ICON_H, image_set[IMG_TITLE_BAR]);
}

bool changed(float value, float* last)
{
    if (std::fabs(value - *last) < PRINT_STEP) return false;
    *last = value;
    return true;
}

void print_colours()
{
    font_select(3);
    fg_color = COLOR_DARK_BLUE;
    bg_color = COLOR_BACKGROUND;
}

}  // namespace

u16 grade_colour(u32 grade)
{
    if (grade == GRADE_ALARM) return COLOR_RED;
    if (grade == GRADE_WARNING) return COLOR_WARNING;
    return COLOR_GOOD;
}

void status_mode_icons(u32 view, u32 quantity)
{
    const u8 mode = image_mode;
    image_mode = 0;
    icon_cell(KIND_X, view == STATUS_VIEW_SIGNAL     ? IMG_MODE_SIGNAL_X
                      : view == STATUS_VIEW_SPECTRUM ? IMG_MODE_SPECTRUM_X
                      : view == STATUS_VIEW_SHOCK    ? IMG_MODE_SHOCK_X
                                                     : -1);
    icon_cell(QUANTITY_X, quantity < 3 ? ICON_QUANTITY[quantity] : -1);
    i32 display = -1;
    if (view == STATUS_VIEW_SPECTRUM && quantity < 3) {
        const u32 setting = settings.spectra_flags[quantity];
        display = ICON_DISPLAY[setting < 3 ? setting : 0];
    }
    icon_cell(DISPLAY_X, display);
    icon_cell(SENSOR_X, settings.sensor == SENSOR_EXTERNAL ? IMG_MODE_EXTERNAL_X : -1);
    image_mode = mode;
}

void status_rms_print(float value, float* last)
{
    if (value >= RMS_LIMIT) value = RMS_LIMIT;
    if (!changed(value, last)) return;
    const u8 font = font_current;
    print_colours();
    fill_rect(72, 3, 142, 16, COLOR_BACKGROUND);
    text_draw(75, 7, "СКЗ="_cp, 0);
    char text[32];
    text_draw(107, 7, format_quantity(text, 1, value), 0);
    font_select(font);
}

float temperature_shown(float celsius)
{
    if (celsius > TEMPERATURE_HIGHEST) return TEMPERATURE_HIGHEST;
    if (celsius < TEMPERATURE_LOWEST) return TEMPERATURE_LOWEST;
    return celsius;
}

void status_temp_print(float celsius, float* last)
{
    celsius = temperature_shown(celsius);
    if (!changed(celsius, last)) return;
    const u8 font = font_current;
    print_colours();
    fill_rect(144, 3, 189, 16, COLOR_BACKGROUND);
    char text[32];
    std::snprintf(text, sizeof text, "%3dёC"_cp, static_cast<int>(round_half_away(celsius)));
    text_draw(147, 7, text, 0);
    font_select(font);
}
