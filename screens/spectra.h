// The spectra and signals screen: the time signal or the spectrum of
// acceleration, velocity or displacement in a large plot, optionally with
// the shock-pulse plot and the marker plot below, the velocity RMS and the
// temperature in the status line; acquisition with averaging, stop after N
// and auto-record; saving and loading the spectra record of the archive.
#pragma once
#include "archive/measurement.h"
#include "base/types.h"
#include "gfx/frame.h"
#include "screens/plot.h"

// Layouts: bit 0 the shock-pulse plot, bit 1 the marker plot.
enum : u32 {
    SPECTRA_LAYOUT_MAIN = 0,
    SPECTRA_LAYOUT_SHOCK = 1,
    SPECTRA_LAYOUT_MARKER = 2,
    SPECTRA_LAYOUT_ALL = 3,
};
constexpr u32 SPECTRA_LAYOUT_SHOCK_BIT = 1, SPECTRA_LAYOUT_MARKER_BIT = 2;

// Screen state (one instance), kept between visits in the settings block:
// kind, quantity, layout and the main plot's cursor frequency.
struct SpectraState {
    u32 view_kind;      // 0 time signal, 1 spectrum
    u32 view_quantity;  // 0 A, 1 V, 2 D
    u32 view_layout;    // SPECTRA_LAYOUT_...
    u8 running;         // acquisition on
    u32 shown_valid;    // the result store's valid flag, taken each pass
    float last_rms;     // values last printed; -1 forces a reprint
    float last_temp;
    PlotView main;    // group 1, view_kind / view_quantity
    PlotView shock;   // group 3, shock-pulse signal or spectrum
    PlotView marker;  // group 0, marker channel
    SoftKeyBar keys;
};
extern SpectraState spectra;

// The screen; returns when the user leaves or on power-off.
void spectra_screen();
// Full redraw of the screen: frame, mode icons, soft keys (the run keys when
// with_run, else the viewer's "close"), and empty plots of the layout.
void spectra_draw(int with_run);
// Picks the layout: values above 3 become 0, then the next layout upward
// (wrapping to 0) whose plots are all available; the marker plot needs the
// sensor with marker. Returns the layout now in use.
u32 spectra_set_layout(u32 layout);
// Saves the shown measurement (the record of kind/quantity of the display
// group, with the shock-pulse and marker records of the layout) as an
// archive measurement. Returns the new measurement's id, or 0 when nothing
// was saved.
u32 spectra_save(u32 kind, u32 quantity, u32 layout, bool silent);
// Loads a stored spectra record and its section 2 into the result store for
// display. Returns 1 when loaded; 0 when the record is empty, damaged (the
// error box is shown) or holds no main record; the store is then untouched.
int spectra_load(SpectraRecord* header, const i32* data, u32 data_bytes);
// Shows a spectra record loaded from the archive (kinds 0..3) with its
// section 2: the plots it holds, the stored RMS and temperature; nothing is
// measured or stored. Returns at once for an empty or damaged record.
void stored_spectra_view(SpectraRecord* record, const i32* data, u32 data_bytes);
// State at power-on.
void spectra_reset();
