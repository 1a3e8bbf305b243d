// The instrument's main routine: start-up in a fixed order, the background
// mounting of the archive, then the main menu until power-off.
#include "analysis/calibration.h"
#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "app/reset.h"
#include "app/startup.h"
#include "archive/mount.h"
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
    calibration_load();
    results_reset();
    meas_init();
    bearing_catalogue_load();
    meas_prepare_sensor();
    meas_set_paced(true);
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
