// Stand-in main routine: a test pattern drawn with the primitives and a row
// of seven key boxes, the box of the last key taken filled (red when it was
// shifted). Returns at power-off.
#include "gfx/framebuffer.h"
#include "host/device.h"
#include "host/session.h"

namespace {

void draw_pattern()
{
    bg_color = COLOR_BACKGROUND;
    fg_color = COLOR_BLACK;
    lcd_clear();
    fill_rect(0, 0, 319, 17, COLOR_DARK_BLUE);
    fill_rect(0, 222, 319, 239, COLOR_DARK_BLUE);
    // Colour bars of the palette in use.
    static const u16 bars[] = {COLOR_BLACK, COLOR_DARK_BLUE, COLOR_BLUE, COLOR_GOOD, COLOR_WARNING,
                               COLOR_RED, COLOR_MAGENTA, COLOR_DARK_GREY, COLOR_GREY, COLOR_LIGHT_GREY,
                               COLOR_WHITE};
    for (int i = 0; i < 11; ++i) fill_rect(10 + i * 27, 24, 10 + i * 27 + 24, 44, bars[i]);
    draw_etched_frame(8, 52, 150, 140, 1);
    draw_round_rect(170, 52, 310, 140, COLOR_BLUE);
    for (int i = 0; i <= 8; ++i) draw_line(14 + i * 16, 58, 144 - i * 16, 134);
    draw_rect(190, 70, 290, 120, COLOR_BLACK);
    fill_inside(190, 70, 290, 120, COLOR_LIGHT_GREY);
    draw_dotted_hline(180, 300, 95);
    draw_dashed_vline(240, 60, 132);
    draw_dotted_vline(200, 60, 132);
    draw_dashed_hline(180, 300, 128);
}

void draw_keys(u16 last)
{
    // Boxes for Mod, Esc, Enter, Up, Down, Left, Right.
    for (int k = 1; k <= 7; ++k) {
        const int x0 = 14 + (k - 1) * 42;
        u16 fill = COLOR_WHITE;
        if ((last & 0x7F) == k) fill = (last & KEY_SHIFT) ? COLOR_RED : COLOR_GOOD;
        fill_rect(x0, 160, x0 + 36, 200, fill);
        draw_rect(x0, 160, x0 + 36, 200, COLOR_BLACK);
        // k small bars tell the boxes apart without text.
        for (int i = 0; i < k; ++i) fill_rect(x0 + 4 + i * 4, 190, x0 + 5 + i * 4, 196, COLOR_BLACK);
    }
}

}  // namespace

int instrument_main()
{
    keys_reset();
    draw_pattern();
    draw_keys(KEY_NONE);
    idle_yield();
    while (!power_off_flag) {
        const u16 k = key_poll();
        if (k != KEY_NONE && !power_off_flag) draw_keys(k);
        idle_yield();
    }
    delay_ms(10);
    return 1;
}
