// Pieces of the status line that the measuring screens share: the mode
// icons of the shown kind and quantity, the velocity RMS print and the
// temperature print.
#pragma once
#include "base/types.h"

// Colour of a severity grade: 3 alarm red, 2 warning yellow, else good green.
u16 grade_colour(u32 grade);

// Kinds of display for the mode icons.
enum : u32 { STATUS_VIEW_SIGNAL = 0, STATUS_VIEW_SPECTRUM = 1, STATUS_VIEW_SHOCK = 3 };

// Draws the mode icons at y 3: the kind icon at x 4 (signal, spectrum or the
// shock-pulse panel), the quantity icon (0 A, 1 V, 2 D) at x 21, in spectrum
// view the icon of the quantity's spectrum display setting at x 38, and the
// external-sensor icon at x 55 when the sensor setting is 2. Cells without an
// icon show the title bar.
void status_mode_icons(u32 view, u32 quantity);

// Prints "СКЗ=" and the velocity value (999 at most) at (75, 7) when it
// differs from *last by 0.1 or more; *last remembers the printed value
// (screens set it to -1 to have the next value printed).
void status_rms_print(float value, float* last);
// Prints the rounded temperature "%3dёC" at (147, 7) under the same rule,
// held to its box as temperature_shown holds it.
void status_temp_print(float celsius, float* last);

// Three places hold a printed temperature: `celsius` held to -99 .. 999 °C,
// so that an absurd reading (a damaged record, a wrong signal file) shows
// the end it lies beyond instead of running out of its box.
float temperature_shown(float celsius);
