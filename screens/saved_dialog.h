// The dialog after a save: "Замер сохранен" with the measurement's label;
// Enter or Esc closes it, Down starts and stops a voice note stored with the
// measurement.
#pragma once
#include "storage/fs.h"

// Shows the dialog over the screen for the measurement of `h` (its id) and
// returns when it is closed or at power-off; colours, image mode and font
// are put back.
void meas_saved_dialog(const char* label, const FileHandle* h);
