#include "app/placeholder.h"

#include <cstring>

#include "base/cp1251.h"
#include "base/text.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "host/device.h"

void placeholder_screen(const char* title)
{
    screen_enter(title);
    const u8 font = font_current;
    font_select(4);
    fg_color = COLOR_DARK_BLUE;
    text_draw(160, 70, title, TF_HCENTER);
    fg_color = COLOR_BLACK;
    text_draw(160, 100, "Экран в разработке"_cp, TF_HCENTER);
    text_draw(160, 180, "Esc - выход"_cp, TF_HCENTER);
    font_select(font);
    for (;;) {
        frame_status();
        const u16 k = key_poll();
        if (k == KEY_ESC || power_off_flag) break;
        if (k != KEY_NONE) {
            // The code of the last key taken, for checking the keypad.
            font_select(4);
            fg_color = COLOR_BLACK;
            bg_color = COLOR_BACKGROUND;
            char line[32];
            std::strcpy(line, "Клавиша: "_cp);
            int_to_text(k, 5, line + std::strlen(line));
            text_draw(160, 130, line, TF_HCENTER);
            font_select(font);
        }
        idle_yield();
    }
}

void route_screen()
{
    placeholder_screen("Сбор данных по маршруту"_cp);
}
