// Scalar measures over the result store: band values of acceleration,
// velocity and displacement, severity grading, temperature, the spectrum
// averaging ring and two estimators of the special measurements.
#pragma once
#include "base/types.h"

// Band value history: per group and quantity A, V, D the last 4 values,
// newest first, and one shared count of filled entries.
extern float band_history[4][3][4];
extern u32 band_history_count;

// Band values and averaging back to their state at power-on.
void measures_reset();
// Empties the result store and forgets the band values and the shock-pulse
// result: nothing of the previous measurement is left to show.
void results_reset();
// Forgets the band values of earlier passes.
void band_values_clear();
void update_band_values_all();
float meas_band_value(u32 group, u32 quantity);
// Grade of a velocity against the class limits of the warning and alarm
// indexes: 1 good, 2 warning, 3 alarm (an index of 0, or of 13 and up, sets no limit).
int grade_value(float v, u32 warn_index, u32 alarm_index);
// Grade of a temperature, °C: 1 good, 2 warning from 80, 3 alarm from 100.
int grade_temperature(float t);
// The result group the screens show: always 1, the vibration channels.
u32 display_group();

// Averaging target of the unlimited choice: every pass since the start counts.
constexpr u32 AVG_UNLIMITED = 999;
// Passes the spectra are averaged over by the setting: 1 (none), 4, 10 or AVG_UNLIMITED.
u32 avg_target();
void avg_push();
// Passes held for the average, up to avg_target().
u32 avg_count();
float avg_line(u32 group, u32 quantity, u32 line);
void avg_clear();

float crossing_rate(const i32* samples, u32 n, u32* first, u32* last, u32* periods);
// 1 with *a and *b fitted, 0 (both 0) without a frequency, a period or samples.
int tone_fit(const i32* samples, u32 first, u32 last, float freq_hz, float dt, float* a, float* b);
