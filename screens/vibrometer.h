// The vibrometer: the live overall value of the vibration channel group in
// large digits (acceleration peak, velocity RMS or displacement
// peak-to-peak), the temperature, a velocity bar graph with the severity
// limits, and below either the waveform, the spectrum or the shock-pulse
// panel. The same screen shows a vibrometer record from the archive.
#pragma once
#include "archive/measurement.h"
#include "base/types.h"
#include "screens/meter.h"
#include "screens/plot.h"
#include "screens/status.h"

// Lower display: 0 waveform, 1 spectrum, 3 shock-pulse panel.
// They are the status line's kinds of display.
enum : u32 {
    VIB_MODE_WAVEFORM = STATUS_VIEW_SIGNAL,
    VIB_MODE_SPECTRUM = STATUS_VIEW_SPECTRUM,
    VIB_MODE_SHOCK = STATUS_VIEW_SHOCK,
};

// Screen state (one instance).
struct VibrometerState {
    u32 vib_mode;
    u32 vib_quantity;  // 0 acceleration, 1 velocity, 2 displacement
    u32 warn_idx;      // indices into CLASS_LIMITS
    u32 alarm_idx;
    u8 running;
    u8 has_data;             // a measurement is on screen
    RmsTableRecord* record;  // the record shown; null until the screen is first entered
    RmsTableRecord live;     // the screen's own record
    MeterDisplay meter;      // redraw caches and the bar graph
    PlotView plot;
};
extern VibrometerState vibrometer;

// The live screen; returns on Esc or power-off.
void vibrometer_screen();
// Shows a vibrometer record loaded from the archive (kind 4); nothing is
// stored.
void vibrometer_view(RmsTableRecord* loaded);
// Saves the frozen reading as a kind-4 measurement: true when saved.
bool vibrometer_save();
// State at power-on.
void vibrometer_reset();
