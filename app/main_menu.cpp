// The main menu and the special-measurements menu.
#include "app/settings_screens.h"
#include "app/startup.h"
#include "base/cp1251.h"
#include "gfx/dialog.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/menu.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/browser.h"
#include "screens/rms.h"
#include "screens/route_screen.h"
#include "screens/spectra.h"
#include "screens/vibrometer.h"

namespace {

void menu_screen_draw(IconMenu* menu, const char* title)
{
    screen_enter(title);
    menu_layout_draw(menu);
}

void wrong_clock_box(const char* line1, const char* line2)
{
    outline_color = COLOR_WHITE;
    bg_color = COLOR_BACKGROUND;
    fg_color = COLOR_BLACK;
    lcd_clear();
    frame_title("");
    frame_bottom();
    msg_box("Ошибка !"_cp, line1, line2, "", true, false);
    device_settings_screen();
}

void run_main_item(int choice)
{
    switch (choice) {
    case 1: vibrometer_screen(); break;
    case 2: spectra_screen(); break;
    case 3: route_screen(); break;
    case 4: special_menu(); break;
    case 5: {
        const u32 before = settings.current_object;
        archive_browser();
        if (settings.current_object != before) settings_save();
        break;
    }
    case 6: settings_menu(); break;
    default: break;
    }
}

}  // namespace

void clock_check()
{
    u16 y, mo, d, h, mi, s;
    rtc_read(&y, &mo, &d, &h, &mi, &s);
    if (y < 11 || y > 90 || mo > 12 || d > 31) wrong_clock_box("Неверная дата !"_cp, "Введите правильную дату"_cp);
    if (h >= 24 || mi >= 60 || s >= 60) wrong_clock_box("Неверное время !"_cp, "Введите правильное время"_cp);
}

void main_menu()
{
    clock_check();
    static IconMenu menu;
    menu_init(&menu);
    menu_caption(&menu, 24, 220, 5, menu_caption_drawer);
    static const char* const names[6] = {
        "Виброметр               "_cp, "Спектры и сигналы       "_cp, "Сбор данных по маршруту "_cp,
        "Специальные измерения   "_cp, "Просмотр замеров        "_cp, "Настройки прибора       "_cp,
    };
    for (int i = 0; i < 6; ++i)
        menu_add(&menu, image_set[IMG_MENU_VIBROMETER_SEL + 2 * i], image_set[IMG_MENU_VIBROMETER + 2 * i], names[i],
                 KEY_NONE);
    for (;;) {
        bool first_pass = true;
        int choice = settings.last_main_item;
        menu_select(&menu, static_cast<u32>(choice));
        for (;;) {
            if (choice >= 1 && choice <= 4) {
                settings.last_main_item = static_cast<u8>(choice);
                run_main_item(choice);
                if (power_off_flag) return;  // the item stays stored: resumed at the next start
                settings.last_main_item = MENU_ITEM_NONE;
                break;
            }
            if (choice == 5 || choice == 6) {
                run_main_item(choice);
                if (power_off_flag) return;
                break;
            }
            choice = menu_poll(&menu, nullptr);
            if (power_off_flag) return;
            if (first_pass) {
                first_pass = false;
                menu_screen_draw(&menu, "Главное меню"_cp);
            }
            frame_status();
            idle_yield();
        }
    }
}

void special_menu()
{
    static IconMenu menu;
    menu_init(&menu);
    menu_caption(&menu, 24, 220, 5, menu_caption_drawer);
    menu_add(&menu, image_set[IMG_MENU_RMS_TABLE_SEL], image_set[IMG_MENU_RMS_TABLE], "Измерение СКЗ для Орлины"_cp,
             KEY_NONE);
    for (;;) {
        bool first_pass = true;
        int choice = settings.last_special_item;
        menu_select(&menu, static_cast<u32>(choice));
        while (choice != 1) {
            frame_status();
            choice = menu_poll(&menu, nullptr);
            if (choice == 0) return;
            if (first_pass) {
                first_pass = false;
                menu_screen_draw(&menu, "Специальные измерения   "_cp);
            }
            if (power_off_flag) return;
            idle_yield();
        }
        settings.last_special_item = 1;
        rms_screen();
        if (power_off_flag) return;
        settings.last_special_item = MENU_ITEM_NONE;
    }
}
