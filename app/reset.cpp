#include "app/reset.h"

#include "app/startup.h"
#include "archive/objects.h"
#include "gfx/dialog.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "host/sound.h"
#include "screens/bearings.h"
#include "storage/dir.h"
#include "storage/fs.h"

void system_reset()
{
    device_reset();
    snd_reset();
    settings_defaults();

    framebuffer_reset();
    text_reset();
    dialog_reset();

    fs_reset();
    dir_reset();

    obj_reset();

    bearing_catalogue_clear();

    archive_state = ARCHIVE_NOT_STARTED;
}
