#include "screens/shock_panel.h"

#include "analysis/format.h"
#include "analysis/rounding.h"
#include "analysis/shock.h"
#include "base/cp1251.h"
#include "base/text.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "screens/status.h"

u8 panel_redraw = 1;
u8 panel_empty = 0;

namespace {

constexpr i32 PLOT_PANEL_X = 0, PLOT_PANEL_Y = 149;
constexpr i32 SHOCK_PANEL_X = 4, SHOCK_PANEL_Y = 154;
constexpr i32 VALUES_X = 65, VALUES_Y = 153, VALUES_W = 205, VALUES_H = 58;

// Outlines: white around the dark blue values, as the plot readouts have
// it (black would merge with the dark blue); black around the large values
// in their grade colours.
constexpr u16 VALUE_OUTLINE = COLOR_WHITE, GRADED_OUTLINE = COLOR_BLACK;

u32 g_stamp = 0;
u32 g_tick = 0;

void draw_panels()
{
    image_draw_plain(PLOT_PANEL_X, PLOT_PANEL_Y, image_set[IMG_PLOT_PANEL]);
    image_draw_plain(SHOCK_PANEL_X, SHOCK_PANEL_Y, image_set[IMG_SHOCK_PANEL]);
}

void text_at(i32 x, i32 y, const char* text, u8 font, u32 flags)
{
    font_select(font);
    text_draw(x, y, text, flags);
}

void number_at(i32 x, i32 y, float value, u8 font, u32 flags)
{
    char text[16];
    text_at(x, y, int_to_text(round_half_away(value), 3, text), font, flags);
}

void graded_number(i32 x, i32 y, const char* text, u32 grade)
{
    fg_color = grade_colour(grade);
    outline_color = GRADED_OUTLINE;
    text_at(x, y, text, 6, TF_OUTLINE);
}

void draw_values()
{
    const ShockPulseResult& r = shock_result;
    fill_rect(VALUES_X, VALUES_Y, VALUES_X + VALUES_W - 1, VALUES_Y + VALUES_H - 1, COLOR_BACKGROUND);
    fg_color = COLOR_DARK_BLUE;
    bg_color = COLOR_BACKGROUND;
    text_at(64, 157, "dBm/dBc", 4, 0);
    text_at(64, 186, "LR/HR", 4, 0);
    text_at(174, 157, "Пик-Ф"_cp, 4, 0);
    text_at(174, 186, "Эксц."_cp, 4, 0);
    text_at(64, 174, "dBm      dBc", 2, 0);
    text_at(64, 203, "COND     CODE", 2, 0);
    outline_color = VALUE_OUTLINE;
    number_at(86, 174, r.dbm, 2, TF_OUTLINE);
    number_at(140, 174, r.dbc, 2, TF_OUTLINE);
    char text[32];
    text_at(92, 203, int_to_text(static_cast<i32>(r.cond_number), 2, text), 2, TF_OUTLINE | TF_TRANSPARENT);
    const char letter[2] = {static_cast<char>(r.zone_letter), 0};
    text_at(146, 203, letter, 2, TF_OUTLINE | TF_TRANSPARENT);

    graded_number(124, 155, int_to_text(round_half_away(r.delta_mc), 3, text), r.cond_code);
    graded_number(124, 184, int_to_text(round_half_away(r.delta_lh), 3, text), r.zone);
    graded_number(220, 155, format_sig(r.crest, 3, text), r.stats_valid);
    const float k = r.kurtosis < 0 ? static_cast<float>(round_half_away(r.kurtosis)) : r.kurtosis;
    graded_number(220, 184, format_sig(k, 3, text), r.kurtosis_grade);
}

}  // namespace

void shock_panel_reset()
{
    panel_redraw = 1;
    panel_empty = 0;
    g_stamp = 0;
    g_tick = 0;
}

void shock_panel_draw()
{
    const u16 fg = fg_color, bg = bg_color, outline = outline_color;
    const u8 font = font_current;
    if (panel_redraw) {
        draw_panels();
        panel_redraw = 0;
        panel_empty = 1;
        g_stamp = 0;
        g_tick = 0;
    }
    if (shock_result.valid) {
        if (shock_result.stamp != g_stamp || shock_result.tick != g_tick) {
            draw_values();
            g_stamp = shock_result.stamp;
            g_tick = shock_result.tick;
            panel_empty = 0;
        }
    } else if (!panel_empty) {
        draw_panels();
        panel_empty = 1;
    }
    fg_color = fg;
    bg_color = bg;
    outline_color = outline;
    font_select(font);
}
