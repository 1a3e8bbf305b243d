// The upper part that the vibrometer and the RMS table share: the panels,
// the run lamps, the quantity caption, one value in large digits coloured
// by the velocity's grade, the temperature in small digits and the velocity
// bar graph with the two severity limits. Each element is drawn only when
// what it shows has changed.
#pragma once
#include "base/types.h"

// Highest usable limit indices into CLASS_LIMITS and the defaults that
// replace stored indices beyond them (4.5 and 7.1 mm/s).
constexpr u32 WARN_LIMIT_MAX = 11, ALARM_LIMIT_MAX = 12;
constexpr u32 WARN_DEFAULT = 7, ALARM_DEFAULT = 8;

// Redraw caches and the bar graph's history of one screen.
constexpr int METER_HISTORY = 8;
struct MeterDisplay {
    float last_value;  // -1 forces a redraw
    float last_temperature;
    float last_bar_max;
    u32 last_stamp, last_tick;     // of the result the bar graph last took
    float history[METER_HISTORY];  // velocities, newest first
    i32 bar_top;                   // full scale of the bar, at least 1
    u8 bar_redraw;
};

// Returns the warning and alarm indices of the settings, each beyond its
// range replaced by its default.
void meter_limits_from_settings(u32* warn_idx, u32* alarm_idx);

// Forgets everything drawn, the bar history and its full scale.
void meter_forget(MeterDisplay* m);
// Forgets the drawn values and the result last taken; the bar history stays.
void meter_forget_values(MeterDisplay* m);

// Clears the area between the bars and draws the lower panel at (0, 149)
// and the value panel at (18, 22).
void meter_draw_panels();
// The running or stopped lamp at (44, 86) and (44, 33).
void meter_draw_run_lamps(bool running);
// The caption picture of quantity 0..2 at (7, 76).
void meter_draw_caption(u32 quantity);

// Takes `velocity` into the history once per new result of the store and
// redraws the bar at (274, 42) when its maximum or full scale changed.
void meter_draw_bar(MeterDisplay* m, float velocity, u32 warn_idx, u32 alarm_idx);
// Draws `value` of `quantity` in the large digits graded by `velocity`,
// unless it is the value drawn last (then the bar is asked to redraw too).
void meter_draw_value(MeterDisplay* m, float value, u32 quantity, float velocity, u32 warn_idx, u32 alarm_idx);
// Draws the temperature in the small digits graded by itself, unless it is
// the one drawn last.
void meter_draw_temperature(MeterDisplay* m, float celsius);
