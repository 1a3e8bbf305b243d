// The instrument settings: the settings menu with the program version, the
// power state and the free archive space; the device settings (date, time,
// power-off and backlight delays); the volume; the program update.
#pragma once
#include "base/types.h"

// The program version shown in the settings menu: 3.29.
constexpr int PROGRAM_VERSION_MAJOR = 3, PROGRAM_VERSION_MINOR = 29;

// Items of the settings menu, by the numbers its poll returns.
enum SettingsMenuItem : int {
    SETTINGS_ITEM_MEASUREMENT = 1,  // the measurement setup
    SETTINGS_ITEM_PARAMETERS = 2,   // device settings
    SETTINGS_ITEM_VOLUME = 3,
    SETTINGS_ITEM_UPDATE = 4,
};

// Returns the free share of the archive in whole percent, rounded to the
// nearest: 0 when the total is 0, never above 100.
u32 free_space_percent(u32 free_bytes, u32 total_bytes);

// The settings menu; returns on Esc or power-off.
void settings_menu();
// Date, time and the two delays; returns on Esc (nothing saved), on Enter
// on a delay or on the last field (both delays saved) or at power-off.
void device_settings_screen();
// The volume in steps of 10; returns on Enter (saved) or Esc (not saved).
void volume_screen();
// The messages of the program update, each advanced by any key; returns
// when they end or the first is cancelled.
void update_screen();
