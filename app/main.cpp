// The instrument's main routine: start-up in a fixed order, the background
// mounting of the archive, then the main menu until power-off.
#include "analysis/meas_module.h"
#include "analysis/signal.h"
#include "app/placeholder.h"
#include "app/reset.h"
#include "app/startup.h"
#include "archive/objects.h"
#include "base/cp1251.h"
#include "gfx/dialog.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/hostif.h"
#include "host/session.h"
#include "host/settings.h"
#include "screens/bearings.h"
#include "storage/dir.h"
#include "storage/fs.h"

u8 archive_state = ARCHIVE_NOT_STARTED;

namespace {

void show_flash_error(int r)
{
    if (r == FS_INIT_AREA_TOO_SMALL)
        msg_box("Ошибка !"_cp, "Ошибка при распределении"_cp, "FLASH памяти прибора"_cp,
                "Необходимо очистить FLASH память !"_cp, true, false);
    else
        msg_box("Ошибка !"_cp, "Ошибка инициализации"_cp, "flash памяти прибора"_cp, "Обратитесь к производителю !"_cp,
                true, false);
}

}  // namespace

void archive_step()
{
    switch (archive_state) {
    case ARCHIVE_NOT_STARTED: {
        const int r = fs_init();
        if (r == FS_OK) {
            archive_state = ARCHIVE_SCANNING;
            fs_dir_reset();
        } else {
            archive_state = ARCHIVE_FAILED;
            show_flash_error(r);
        }
        break;
    }
    case ARCHIVE_SCANNING:
        if (!fs_ready()) {
            archive_state = ARCHIVE_FAILED;
        } else if (fs_scan_step() == 0) {
            fs_mount_finish();
            obj_after_mount();
            archive_tree_init();
            archive_state = ARCHIVE_MOUNTED;
        }
        break;
    default: break;
    }
}

int archive_idle()
{
    return archive_state == ARCHIVE_MOUNTED || archive_state == ARCHIVE_FAILED;
}

int archive_wait()
{
    if (archive_state == ARCHIVE_SCANNING || archive_state == ARCHIVE_NOT_STARTED) {
        screen_save();
        msg_box("Внимание !"_cp, "Поиск и загрузка файлов..."_cp, "Пожалуйста, подождите..."_cp, nullptr, false, false);
        idle_yield();
        while (archive_state == ARCHIVE_SCANNING || archive_state == ARCHIVE_NOT_STARTED) {
            archive_step();
            if (power_off_flag) break;
            host().pump();
            host().sleep_1ms();
        }
        screen_restore();
        idle_yield();
    }
    return archive_state == ARCHIVE_MOUNTED;
}

void idle_job()
{
    const u8 font = font_current;
    if (!busy_flag) archive_step();
    font_select(font);
}

void startup_init()
{
    rand_seed(host().random_seed());
    static const u32 keys[EDITOR_KEY_COUNT] = {KEY_ENTER, KEY_ESC,  KEY_LEFT, KEY_RIGHT, KEY_UP,   KEY_DOWN,
                                               KEY_NONE,  KEY_NONE, KEY_NONE, KEY_NONE,  KEY_NONE, KEY_NONE,
                                               KEY_NONE,  KEY_NONE, KEY_NONE, KEY_NONE};
    editor_keys_set(keys);
    settings_load();
    keys_reset();
    images_unpack_all();
    // The loading frame on a cleared screen rather than on a black one.
    bg_color = COLOR_BACKGROUND;
    lcd_clear();
    frame_title("Загрузка..."_cp);
    frame_bottom();
    idle_yield();
    archive_step();
    results_reset();
    meas_init();
    bearing_catalogue_load();
    meas_prepare_sensor();
}

int instrument_main()
{
    system_reset();
    startup_init();
    idle_callback = idle_job;
    main_menu();
    settings_save_if_changed();
    delay_ms(10);
    return 1;
}
