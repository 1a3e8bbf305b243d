// The measurement setup screen: sensor, quantity, mode, the coupled spectrum
// and signal geometry, averaging and auto-record.
#pragma once

constexpr int MEAS_SETUP_UNCHANGED = 0;  // left without storing, or nothing differed
constexpr int MEAS_SETUP_STORED = 1;     // changed values were stored and saved

// Returns MEAS_SETUP_STORED when the user stored changed settings (the
// changed flag is set, the settings saved and the result store cleared),
// MEAS_SETUP_UNCHANGED otherwise.
int meas_setup_screen();
