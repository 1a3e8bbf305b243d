// The special RMS measurement for the Орлина system: a table of 14 points
// in 3 directions (vertical, transverse, axial), each cell holding the
// acceleration peak, velocity RMS, displacement peak-to-peak and the
// temperature of one measurement. The selected cell's value is shown in
// large digits with the velocity bar graph and the temperature; the table
// below shows 4 points wide with their values and the others narrow with a
// square of their grade. The table is saved as a kind-5 measurement and
// shown again from the archive.
#pragma once
#include "archive/measurement.h"
#include "base/types.h"
#include "screens/meter.h"

// Requests of the screen: vibration, temperature and processing.
constexpr u32 RMS_REQUEST = 74;

// Labels of the directions: vertical, transverse, axial.
extern const char* const RMS_DIRECTION_NAMES[RMS_DIRECTIONS];
// Table geometry: point column x, widths, direction rows.
constexpr u32 RMS_WIDE_POINTS = 4;
constexpr i32 RMS_TABLE_X = 19;
constexpr i32 RMS_WIDE_W = 38, RMS_NARROW_W = 10;
constexpr i32 RMS_ROW_Y = 165, RMS_ROW_PITCH = 16;

// Screen state (one instance).
struct RmsState {
    RmsTableRecord* record;  // the table shown; null until the screen is first entered
    RmsTableRecord live;     // the screen's own table
    u32 cur_point;           // selected cell: point 0..13
    u32 cur_dir;             // and direction 0..2
    u32 first_point;         // first of the wide points, 0..10
    u32 quantity;            // 0 acceleration, 1 velocity, 2 displacement
    u32 warn_idx, alarm_idx;
    u8 running;
    u8 has_data;            // the table holds a measurement that can be saved
    MeterDisplay meter;     // the large value, temperature and bar graph
    float last_cell_value;  // of the selected cell as the table shows it; -1 forces a redraw
    u8 table_redraw;
};
extern RmsState rms;

// Returns the x of point p's column with `first` the first wide point.
i32 rms_point_x(u32 p, u32 first);

// The live screen; returns on Esc or power-off.
void rms_screen();
// Shows a table loaded from the archive (kind 5); nothing is stored.
void rms_view(RmsTableRecord* loaded);
// Saves the table as a kind-5 measurement (filled_count = the filled
// cells): true when saved.
bool rms_save();
// State at power-on.
void rms_reset();
