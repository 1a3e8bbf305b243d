// The screen loop of the spectra and signals screen, one pass at a time.
#pragma once
#include "base/types.h"

enum SpectraPass { SPECTRA_PASS_ON, SPECTRA_PASS_RESTART, SPECTRA_PASS_LEAVE };

// Entry: the state restored from the settings, acquisition off, the plots
// set up afresh with the stored cursor frequency and layout.
void spectra_enter();
// Full redraw with the run keys and the measurement request of the screen.
void spectra_start();
// One pass of the loop after the cursor keys: `key` handled, one
// measurement step, the plots and the values drawn. Returns whether the
// loop goes on, restarts after a redraw or ends.
SpectraPass spectra_pass(u32 key);
