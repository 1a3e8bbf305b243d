#include "host/settings.h"

#include <cstring>

#include "base/cp1251.h"
#include "host/fram.h"
#include "base/checksum.h"

SettingsBlock settings;

namespace {

constexpr u32 CHECKSUM_FIELD = offsetof(SettingsBlock, checksum);

}  // namespace

void settings_defaults()
{
    std::memset(&settings, 0, sizeof settings);
    settings.last_main_item = MENU_ITEM_NONE;
    settings.last_special_item = MENU_ITEM_NONE;
    settings.volume = 100;
    settings.plot_quantity = 1;
    settings.warn_idx = 7;
    settings.alarm_idx = 8;
    settings.meas_params_changed = 1;
    settings.sensor = 1;
    settings.meas_mode = 2;
    settings.meas_quantity = 1;
    settings.signal_step_idx = 1;
    settings.signal_duration_idx = 2;
    settings.signal_samples_idx = 2;
    settings.spectrum_step_idx = 3;
    settings.spectrum_fmax_idx = 3;
    settings.spectrum_lines_idx = 2;
    settings.averaging_idx = 2;
    settings.autostart_idx = 1;
    std::memcpy(settings.sensor_model, "ДЛ-470Б"_cp, cp_length<"ДЛ-470Б">);
    settings.sensor_sens_1 = 140.0f;
    settings.sensor_sens_2 = 140.0f;
}

void settings_save()
{
    checksum_store(&settings, SETTINGS_SIZE, CHECKSUM_FIELD);
    param_write_verified(SETTINGS_OFFSET, &settings, SETTINGS_SIZE);
}

void settings_load()
{
    settings_defaults();
    SettingsBlock stored;
    if (param_read_checked(SETTINGS_OFFSET, &stored, SETTINGS_SIZE, CHECKSUM_FIELD)) {
        settings = stored;
        settings.meas_params_changed = 1;
        return;
    }
    settings_save();
}

void settings_save_if_changed()
{
    SettingsBlock stored;
    if (param_read_checked(SETTINGS_OFFSET, &stored, SETTINGS_SIZE, CHECKSUM_FIELD)) {
        // Compare with the checksum the RAM block would carry.
        SettingsBlock current = settings;
        checksum_store(&current, SETTINGS_SIZE, CHECKSUM_FIELD);
        if (std::memcmp(&stored, &current, SETTINGS_SIZE) == 0) return;
    }
    settings_save();
}
