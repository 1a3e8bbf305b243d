// The measurement settings that the measuring module and the signal
// processing read. They live in the settings block; this accessor is the one
// place that knows where.
#pragma once
#include "host/types.h"

struct MeasSettingsView {
    u32 meas_params_changed;  // set when the measurement setup changed
    u32 sensor;               // 1 internal, 2 external, 3 internal with marker (4 as 3)
    u32 meas_mode;            // 1 spectrum 1000 Hz, 2 spectrum, 3 signal
    u32 signal_step_idx;
    u32 signal_samples_idx;
    u32 spectrum_fmax_idx;
    u32 spectrum_lines_idx;
    u32 averaging_idx;
};

// The live settings fields used by the measuring code.
MeasSettingsView& meas_settings();
// Puts the fields back to the settings block's defaults.
void meas_settings_defaults();
