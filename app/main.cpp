// Stand-in main routine: a specimen of the eight fonts and the text effects,
// and a row of seven key boxes, the box of the last key taken filled (red
// when it was shifted). Returns at power-off.
#include "analysis/format.h"
#include "analysis/stamp.h"
#include "gfx/cp1251.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/session.h"

namespace {

struct FontLine {
    u8 font;
    i32 y;
    const char* text;
};

void draw_specimen()
{
    bg_color = COLOR_BACKGROUND;
    fg_color = COLOR_BLACK;
    lcd_clear();
    static const FontLine lines[] = {
        {1, 2, "1 5x6 Главное меню. Замер сохранен. Latin ABC 0123456789 \x18\x19\x1a\x1b"_cp},
        {2, 10, "2 6x8 Виброметр: СКЗ виброскорости. Set 25ёC \x1e\x1f"_cp},
        {3, 18, "3 8x8  Архив объектов. Route 1 \x18\x19\x10\x11"_cp},
        {4, 27, "4 8x16 Спектр Ускорение м/сЅ Іі Qq"_cp},
        {5, 44, "5 Фильтр Hz=1000"_cp},
        {6, 61, "6 12.34 мм/с"_cp},
        {7, 78, "7 8x12 Объект Ёё Ж Щ ы ю Я; Gjpqy"_cp},
        {8, 91, "8 8x14 Настройки Mod \x18\x19 25ёC м/сЅ"_cp},
    };
    // Every line fits the width: the primitives do not clip.
    for (const auto& l : lines) {
        font_select(l.font);
        text_draw(2, l.y, l.text, 0);
    }
    // Effects: outline, shadow, inverse, underline, xor and the rotations.
    font_select(4);
    fg_color = COLOR_WHITE;
    outline_color = COLOR_DARK_BLUE;
    text_draw(6, 109, "Контур"_cp, TF_OUTLINE);
    fg_color = COLOR_RED;
    outline_color = COLOR_GREY;
    text_draw(66, 108, "Тень"_cp, TF_SHADOW_DR | TF_TRANSPARENT);
    fg_color = COLOR_BLACK;
    bg_color = COLOR_LIGHT_GREY;
    text_draw(106, 108, "Инверсия"_cp, TF_INVERSE);
    bg_color = COLOR_BACKGROUND;
    font_select(8);
    text_draw(190, 109, "Подчеркнутый"_cp, TF_UNDERLINE | TF_TRANSPARENT);
    font_select(2);
    fg_color = COLOR_BLUE;
    text_draw(84, 134, "Вверх ногами"_cp, TF_ROT_180 | TF_VCENTER | TF_TRANSPARENT);
    text_draw(96, 156, "Вверх"_cp, TF_ROT_CCW | TF_TRANSPARENT);
    text_draw(112, 128, "Вниз"_cp, TF_ROT_CW | TF_TRANSPARENT);
    fg_color = COLOR_BLACK;
    font_select(6);
    char value[32];
    text_draw(316, 131, format_fixed(-9.96, 6, 1, value), TF_RIGHT | TF_TRANSPARENT);
    // Bottom bar: date and time from the clock.
    fill_rect(0, 222, 319, 239, COLOR_DARK_BLUE);
    fg_color = COLOR_WHITE;
    font_select(8);
    const u32 now = pack_now();
    char date[9], time[9];
    text_draw(4, 224, "Тест шрифтов"_cp, TF_TRANSPARENT);
    text_draw(316, 224, format_date(now, date), TF_RIGHT | TF_TRANSPARENT);
    text_draw(240, 224, format_time(now, time), TF_RIGHT | TF_TRANSPARENT);
    fg_color = COLOR_BLACK;
}

void draw_keys(u16 last)
{
    static const char* const names[] = {"Mod", "Esc", "Ent", "\x18", "\x19", "\x1b", "\x1a"};
    // Boxes for Mod, Esc, Enter, Up, Down, Left, Right.
    for (int k = 1; k <= 7; ++k) {
        const int x0 = 14 + (k - 1) * 42;
        u16 fill = COLOR_WHITE;
        if ((last & 0x7F) == k) fill = (last & KEY_SHIFT) ? COLOR_RED : COLOR_GOOD;
        fill_rect(x0, 160, x0 + 36, 200, fill);
        draw_rect(x0, 160, x0 + 36, 200, COLOR_BLACK);
        font_select(3);
        fg_color = fill == COLOR_WHITE ? COLOR_BLACK : COLOR_WHITE;
        text_draw_span(x0, 184, 37, names[k - 1], TF_TRANSPARENT);
        fg_color = COLOR_BLACK;
    }
}

}  // namespace

int instrument_main()
{
    keys_reset();
    draw_specimen();
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
