// The settings menu: four items, the logo, the program version, the power
// state and the free archive space once the archive is mounted.
#include <cstdio>

#include "app/settings_screens.h"
#include "archive/mount.h"
#include "base/cp1251.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/menu.h"
#include "gfx/text.h"
#include "host/device.h"
#include "screens/meas_setup.h"
#include "storage/fs.h"

namespace {

constexpr u8 TEXT_FONT = 4;
constexpr i32 LOGO_X = 118, LOGO_Y = 138;
constexpr i32 VERSION_X = 208, VERSION_Y = 170;
constexpr i32 POWER_X = 80, FREE_X = 240, STATE_Y = 198;
constexpr i32 CAPTION_X = 24, CAPTION_Y = 220;
constexpr u8 CAPTION_FONT = 5;
constexpr u32 LABEL_FLAGS = TF_OUTLINE | TF_TRANSPARENT | TF_HCENTER;
constexpr u32 BOX_FLAGS = TF_OUTLINE | TF_HCENTER;  // on a cleared box
constexpr u32 PERCENT = 100;

// The emulated instrument has no charger: it always runs on its battery.
constexpr bool CHARGING = false;

void draw_menu_screen(IconMenu* menu)
{
    screen_enter("Настройки прибора       "_cp);
    image_draw(LOGO_X, LOGO_Y, image_set[IMG_LOGO]);
    fg_color = COLOR_DARK_BLUE;
    outline_color = COLOR_WHITE;
    const u8 font = font_current;
    font_select(TEXT_FONT);
    char text[40];
    std::snprintf(text, sizeof text, "Версия: %1d.%-2d"_cp, PROGRAM_VERSION_MAJOR, PROGRAM_VERSION_MINOR);
    text_draw(VERSION_X, VERSION_Y, text, LABEL_FLAGS);
    if (CHARGING)
        std::snprintf(text, sizeof text, "%s", " Питание: Зарядка "_cp);
    else
        std::snprintf(text, sizeof text, "  Питание: %d%%  "_cp, static_cast<int>(BATTERY_LEVEL));
    text_draw(POWER_X, STATE_Y, text, LABEL_FLAGS);
    text_draw(FREE_X, STATE_Y, "Свободно: ..."_cp, LABEL_FLAGS);
    font_select(font);
    bg_color = COLOR_BACKGROUND;
    fg_color = COLOR_WHITE;
    draw_etched_frame(0, BOTTOM_BAR_Y, LCD_WIDTH - 1, LCD_HEIGHT - 1, 1);
    fg_color = COLOR_BLACK;
    menu_layout_draw(menu);
}

void draw_free_space()
{
    const u8 font = font_current;
    fg_color = COLOR_DARK_BLUE;
    bg_color = COLOR_BACKGROUND;
    outline_color = COLOR_WHITE;
    font_select(TEXT_FONT);
    char text[40];
    std::snprintf(text, sizeof text, " Свободно: %u%% "_cp,
                  static_cast<unsigned>(free_space_percent(fs_free_bytes(), fs_total_bytes())));
    text_draw(FREE_X, STATE_Y, text, BOX_FLAGS);
    font_select(font);
}

void run_item(int item)
{
    switch (item) {
    case SETTINGS_ITEM_MEASUREMENT: meas_setup_screen(); break;
    case SETTINGS_ITEM_PARAMETERS: device_settings_screen(); break;
    case SETTINGS_ITEM_VOLUME: volume_screen(); break;
    case SETTINGS_ITEM_UPDATE: update_screen(); break;
    default: break;
    }
}

}  // namespace

u32 free_space_percent(u32 free_bytes, u32 total_bytes)
{
    if (total_bytes == 0) return 0;
    const u64 p = (2 * PERCENT * static_cast<u64>(free_bytes) + total_bytes) / (2 * static_cast<u64>(total_bytes));
    return p > PERCENT ? PERCENT : static_cast<u32>(p);
}

void settings_menu()
{
    IconMenu menu;
    menu_init(&menu);
    menu_caption(&menu, CAPTION_X, CAPTION_Y, CAPTION_FONT, menu_caption_drawer);
    menu_add(&menu, image_set[IMG_MENU_MEAS_SETUP_SEL], image_set[IMG_MENU_MEAS_SETUP], "Настройка измерения     "_cp,
             KEY_NONE);
    menu_add(&menu, image_set[IMG_MENU_PARAMETERS_SEL], image_set[IMG_MENU_PARAMETERS], "Настройки параметров    "_cp,
             KEY_NONE);
    menu_add(&menu, image_set[IMG_MENU_VOLUME_SEL], image_set[IMG_MENU_VOLUME], "Настройка громкости     "_cp,
             KEY_NONE);
    menu_add(&menu, image_set[IMG_MENU_UPDATE_SEL], image_set[IMG_MENU_UPDATE], "Обновление программы    "_cp,
             KEY_NONE);
    for (;;) {
        draw_menu_screen(&menu);
        bool free_shown = false;
        for (;;) {
            frame_status();
            if (!free_shown && archive_idle()) {
                draw_free_space();
                free_shown = true;
            }
            const i32 choice = menu_poll(&menu, nullptr);
            if (choice == POLL_ESC || power_off_flag) return;
            if (choice >= SETTINGS_ITEM_MEASUREMENT && choice <= SETTINGS_ITEM_UPDATE) {
                run_item(choice);
                if (power_off_flag) return;
                break;  // the menu is drawn again
            }
            idle_yield();
        }
    }
}
