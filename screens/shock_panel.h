// The shock-pulse panel of the vibrometer's lower display: the values of
// the latest shock-pulse analysis with their grades.
#pragma once
#include "base/types.h"

// Set by the vibrometer to have the whole panel drawn again.
extern u8 panel_redraw;
// The empty panel is on screen.
extern u8 panel_empty;

// Draws the panel: the panel pictures when a full redraw was asked for,
// the values when the result is new, the empty panel once it is not valid.
void shock_panel_draw();
// No panel on screen, a full redraw due (state at power-on).
void shock_panel_reset();
