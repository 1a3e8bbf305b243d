// The program update: the messages of the procedure in which a desktop
// program sends new software. Nothing is transferred here; each message
// waits for a key.
#include "app/settings_screens.h"
#include "base/cp1251.h"
#include "gfx/dialog.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "host/device.h"

namespace {

constexpr i32 BOX_AREA_Y0 = 32;

// Clears the area below the title and shows a message without buttons.
void waiting_box(const char* line1, const char* line2, const char* line3)
{
    bg_color = COLOR_BACKGROUND;
    clear_rect(0, BOX_AREA_Y0, LCD_WIDTH - 1, LCD_HEIGHT - 1);
    msg_box("Внимание !"_cp, line1, line2, line3, false, false);
    idle_yield();
    key_wait();
    busy_release();
}

}  // namespace

void update_screen()
{
    outline_color = COLOR_WHITE;
    bg_color = COLOR_BACKGROUND;
    fg_color = COLOR_BLACK;
    lcd_clear();
    frame_title("Обновление программы    "_cp);
    if (msg_box("Внимание !"_cp, "Для обновления программного"_cp, "обеспечения нажмите Ent."_cp, "Esc - Отмена."_cp,
                true, true) == MSG_CANCELLED)
        return;
    busy_mark();  // the archive job stays still during the transfer
    waiting_box("Нажмите Start"_cp, "в программе на компьютере."_cp, "Ждите завершения обновления..."_cp);
    waiting_box("Программа обновлена успешно."_cp, "Прибор будет выключен"_cp, "через 10 секунд."_cp);
}
