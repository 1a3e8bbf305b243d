#include "app/reset.h"

#include "analysis/calibration.h"
#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/plant_source.h"
#include "analysis/shock.h"
#include "analysis/signal.h"
#include "analysis/signal_source.h"
#include "archive/changes.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "gfx/dialog.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/fram.h"
#include "host/settings.h"
#include "host/sound.h"
#include "screens/archive_tree.h"
#include "screens/bearings.h"
#include "screens/browser.h"
#include "screens/rms.h"
#include "screens/route_choice.h"
#include "screens/route_screen.h"
#include "screens/route_tree.h"
#include "screens/shock_panel.h"
#include "screens/spectra.h"
#include "screens/vibrometer.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"

void system_reset()
{
    device_reset();
    snd_reset();
    fram_reset();
    settings_defaults();

    framebuffer_reset();
    text_reset();
    dialog_reset();

    nand_reset();
    fs_reset();
    dir_reset();

    signal_reset();
    measures_reset();
    shock_reset();
    meas_reset();
    calibration_reset();
    signal_source_reset();
    plant_source_reset();

    obj_reset();
    archive_changes_reset();
    route_reset();

    archive_tree_reset();
    archive_browser_reset();  // installs the archive's change listener
    bearing_catalogue_clear();
    shock_panel_reset();
    vibrometer_reset();
    spectra_reset();
    rms_reset();
    route_tree_reset();
    route_choice_reset();
    route_screen_reset();

    archive_mount_reset();
}
