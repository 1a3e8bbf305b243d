// The settings block: one 292-byte record shared by all screens, kept at
// offset 4 of the parameter memory with a checksum.
#pragma once
#include <cstddef>

#include "base/types.h"

struct SettingsBlock {
    u8 last_main_item;     // main-menu item running at the last save; 204 = none
    u8 last_special_item;  // the same for the special-measurements menu
    u8 power_off_delay;    // 0 off, 1 10 min, 2 30 min
    u8 backlight_delay;    // 0 off, 1 1 min, 2 5 min
    u32 volume;            // 0..100 in steps of 10
    u32 current_object;    // file id of the current archive object
    u32 reserved_12;
    u32 plot_mode;
    u32 plot_quantity;
    u32 plot_layout;
    float plot_cursor_freq;
    u32 warn_idx;
    u32 alarm_idx;
    u32 meas_params_changed;  // set whenever the measurement parameters change
    u32 sensor;
    u32 meas_mode;
    u32 meas_quantity;
    u32 signal_step_idx;
    u32 signal_duration_idx;
    u32 signal_samples_idx;
    u32 spectrum_step_idx;
    u32 spectrum_fmax_idx;
    u32 spectrum_lines_idx;
    u32 averaging_idx;
    u32 autostart_idx;
    u8 reserved_88[64];
    u32 spectra_flags[4];   // per-item values 0..2 of the spectra screens
    char bearing_name[24];  // selected bearing designation
    char sensor_model[24];
    float sensor_sens_1;
    float sensor_sens_2;
    u32 last_route;
    u32 last_route_item;
    u8 reserved_232[58];
    u16 checksum;
};

static_assert(sizeof(SettingsBlock) == 292);
static_assert(offsetof(SettingsBlock, volume) == 4);
static_assert(offsetof(SettingsBlock, current_object) == 8);
static_assert(offsetof(SettingsBlock, plot_mode) == 16);
static_assert(offsetof(SettingsBlock, plot_cursor_freq) == 28);
static_assert(offsetof(SettingsBlock, meas_params_changed) == 40);
static_assert(offsetof(SettingsBlock, autostart_idx) == 84);
static_assert(offsetof(SettingsBlock, spectra_flags) == 152);
static_assert(offsetof(SettingsBlock, bearing_name) == 168);
static_assert(offsetof(SettingsBlock, sensor_model) == 192);
static_assert(offsetof(SettingsBlock, sensor_sens_1) == 216);
static_assert(offsetof(SettingsBlock, last_route) == 224);
static_assert(offsetof(SettingsBlock, last_route_item) == 228);
static_assert(offsetof(SettingsBlock, checksum) == 290);

constexpr u32 SETTINGS_OFFSET = 4;
constexpr u32 SETTINGS_SIZE = sizeof(SettingsBlock);
constexpr u8 MENU_ITEM_NONE = 204;

extern SettingsBlock settings;

void settings_defaults();
void settings_save();
// Loads the stored block (defaults when no valid copy is found), then
// sanitises it.
void settings_load();
// Replaces every value outside its range by its default (a text without its
// terminating NUL counts as out of range); values in range stay exactly as
// they are. Returns how many values were replaced.
int settings_sanitise(SettingsBlock* block);
void settings_save_if_changed();
