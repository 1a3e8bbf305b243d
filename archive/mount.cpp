#include "archive/mount.h"

#include "archive/changes.h"
#include "archive/objects.h"
#include "base/cp1251.h"
#include "gfx/dialog.h"
#include "gfx/framebuffer.h"
#include "host/device.h"
#include "host/hostif.h"
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
            archive_changed(ARCHIVE_CHANGE_MOUNTED, 0);
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

void archive_mount_reset()
{
    archive_state = ARCHIVE_NOT_STARTED;
}
