// The bearing selection screen: a list of the catalogue's designations with
// the chosen row's dimensions and defect-frequency factors beside it.
#pragma once

constexpr int BEARING_SELECT_CANCELLED = 0;  // Esc: the setting is unchanged
constexpr int BEARING_SELECT_DONE = 1;       // a bearing was chosen, or power-off

// Returns BEARING_SELECT_DONE when Enter chose a row (its name is stored in
// the settings and saved) or the power-off flag was set, and
// BEARING_SELECT_CANCELLED on Esc.
int bearing_select_screen();
