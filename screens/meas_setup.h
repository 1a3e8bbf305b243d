// The measurement setup screen: sensor, quantity, mode, the coupled spectrum
// and signal geometry, averaging and auto-record.
#pragma once

constexpr int MEAS_SETUP_UNCHANGED = 0;  // left without storing, or nothing differed
constexpr int MEAS_SETUP_STORED = 1;     // changed values were stored and saved

// The fields of the screen's form, by the numbers the form returns.
enum MeasSetupField : int {
    SETUP_FIELD_SENSOR = 1,
    SETUP_FIELD_QUANTITY = 2,
    SETUP_FIELD_MODE = 3,
    SETUP_FIELD_SPECTRUM_STEP = 4,
    SETUP_FIELD_FMAX = 5,
    SETUP_FIELD_LINES = 6,
    SETUP_FIELD_SIGNAL_STEP = 7,
    SETUP_FIELD_DURATION = 8,
    SETUP_FIELD_SAMPLES = 9,
    SETUP_FIELD_AVERAGING = 10,
    SETUP_FIELD_AUTOSTART = 11,
    SETUP_FIELD_STORE = 12,    // plain item: Enter stores
    SETUP_FIELD_BEARING = 13,  // plain item (hot key Mod): the bearing choice
};

// Measurement modes of the mode bar.
enum : unsigned {
    MEAS_MODE_SPECTRUM_1000 = 1,  // spectrum 1000 Hz: the geometry is fixed
    MEAS_MODE_SPECTRUM = 2,
    MEAS_MODE_SIGNAL = 3,
};

// The spectrum and signal geometry as 1-based list indices.
struct MeasGeometry {
    int spectrum_step;  // 1 0.25 Hz, 2 1 Hz, 3 2.5 Hz, 4 10 Hz
    int fmax;           // 1 400 Hz, 2 1 kHz, 3 4 kHz
    int lines;          // 1 400, 2 1600
    int signal_step;    // 1 0.1 ms, 2 0.4 ms, 3 1 ms
    int duration;       // 1 0.1 s, 2 0.4 s, 3 1 s, 4 4 s
    int samples;        // 1 1024, 2 4096
};

// Returns `g` made consistent after the list of form field `changed`
// (SETUP_FIELD_SPECTRUM_STEP .. SETUP_FIELD_SAMPLES) took its new value: the
// other list of the same set is adjusted first, then the other set follows;
// any other field number returns `g` unchanged.
MeasGeometry meas_geometry_couple(MeasGeometry g, int changed);

// Returns MEAS_SETUP_STORED when the user stored changed settings (the
// changed flag is set, the settings saved and the result store cleared),
// MEAS_SETUP_UNCHANGED otherwise.
int meas_setup_screen();
