// The plot view: one waveform or spectrum of the result store drawn into a
// rectangle of the screen, with a 1-2-5 grid and labels, an automatic
// amplitude full scale, a cursor with its readout, harmonic and bearing
// markers tied to the cursor frequency, zoom around the cursor and the
// averaging progress of spectra. Screens own their views and call
// plot_draw in every pass; a view redraws only when something changed.
#pragma once
#include "base/types.h"

struct SignalRecord;

constexpr u32 PLOT_KINDS = 4;            // 0 waveform, 1 spectrum, 2 shock-pulse waveform, 3 its spectrum
constexpr u32 PLOT_CURSOR_SLOTS = 4;     // slot k is the cursor of kind k
constexpr u32 PLOT_SLOTS = 20;           // the cursors and up to 16 markers
constexpr u32 PLOT_LABEL_BYTES = 16;     // marker label with its terminating zero
constexpr u32 PLOT_LABEL_THRESHOLD = 5;  // percent of full scale a marker must exceed
constexpr i32 PLOT_MIN_ZOOM = 32;        // narrowest view in points
constexpr i32 PLOT_MARKER_STACK = 11;    // pixels between stacked marker labels

// Label column width in pixels: narrow plots, and plots 401 px wide or more.
constexpr i32 PLOT_LABEL_COLUMN = 36;
constexpr i32 PLOT_LABEL_COLUMN_WIDE = 39;
constexpr i32 PLOT_WIDE_FROM = 401;  // x1 - x0 from which the wide layout applies

// Colours of the plot (RGB565).
enum : u16 {
    PLOT_COLOR_AREA = 0x0000,
    PLOT_COLOR_FRAME = 0xD69A,  // frame and label column
    PLOT_COLOR_GRID = 0x8410,
    PLOT_COLOR_TRACE = 0xFFE0,
    PLOT_COLOR_ZERO = 0xFFFF,
    PLOT_COLOR_LABEL = 0xF81F,          // grid labels
    PLOT_COLOR_LABEL_OUTLINE = 0xFFE0,  // around grid labels, the unit and the averaging count
    PLOT_COLOR_UNIT = 0x001F,           // unit label, averaging count, cursor readout
    PLOT_COLOR_CURSOR = 0xF800,
    PLOT_COLOR_MARKER = 0x0500,
    PLOT_COLOR_PEAK_BOX = 0x07E0,
    PLOT_COLOR_READOUT_OUTLINE = 0xFFFF,  // around the cursor readout and marker labels
};

struct PlotSlot {
    u8 recompute;  // derive the index from the frequency at the next drawing
    u8 moved;      // index changed by keys: derive the frequency
    float freq;    // x value in s or Hz
    i32 index;     // sample or bin
    float amplitude;
    float multiplier;  // 1.0 for the cursors; a marker's factor on the cursor frequency
    char label[PLOT_LABEL_BYTES];
    i32 screen_x, screen_y;  // -1 = not on screen
    i32 box_left, box_top, box_right, box_bottom;
};

struct PlotView {
    i32 x0, y0, x1, y1;  // rectangle, inclusive
    i32 plot_left;
    i32 plot_width;
    u32 kind;                                          // source kind 0..3
    u32 quantity;                                      // source quantity 0..3
    i32 group;                                         // source channel group, -1 = none
    float y_scale;                                     // amplitude full scale in physical units, 0 = not yet set
    i32 view_start[PLOT_KINDS], view_end[PLOT_KINDS];  // visible [start, end) per kind, -1 = unset
    i32 data_start, data_end;                          // [0, count) of the record, -1 = unset
    float min_scale;                                   // lower bound of y_scale, 0 = none
    u32 slot_count;
    PlotSlot slots[PLOT_SLOTS];
    u32 label_threshold;
    u8 font_scale;  // 1: axis labels in font 1; 2: font 2
    u8 labels_on;
    u8 dirty;
    u32 seen_stamp, seen_tick;
};

// Rows of the plot area, computed from the rectangle, the labels and the kind.
struct PlotGeometry {
    i32 half;    // amplitude height in pixels (each way for waveforms)
    i32 top;     // first row of the plot area
    i32 centre;  // zero line; for spectra the baseline
    i32 bottom;  // last row of the plot area
};

// Sets up a view on the rectangle: no source group, kind 0, quantity 0, no markers.
void plot_init(PlotView* pv, i32 x0, i32 y0, i32 x1, i32 y1);
// Moves the view to the rectangle (label column and axis font follow its width).
void plot_set_rect(PlotView* pv, i32 x0, i32 y0, i32 x1, i32 y1);
// Forgets the zoom of every kind and the record's range.
void plot_reset_ranges(PlotView* pv);
// Shows channel group `group` (-1 = none); the full scale starts afresh.
void plot_set_group(PlotView* pv, i32 group);
// Shows record kind `kind` of quantity `quantity`; the full scale starts afresh.
void plot_set_source(PlotView* pv, u32 kind, u32 quantity);
// Sets the lowest full scale (0 = none).
void plot_set_min_scale(PlotView* pv, float v);
// Removes all markers.
void plot_reset_markers(PlotView* pv);
// Adds a marker at `multiplier` times the cursor frequency; ignored when all 16 are used.
void plot_add_marker(PlotView* pv, float multiplier, const char* label);
// Puts both spectrum cursors at frequency f (f <= 0 keeps their frequency).
void plot_set_cursor_freq(PlotView* pv, float f);
// Returns the cursor frequency of the spectrum view (slot 1).
float plot_cursor_freq(const PlotView* pv);
// Returns the x (s or Hz) of the current kind's cursor, a move by keys since
// the last drawing included; -1.0 when it has no place yet.
float plot_cursor_x(const PlotView* pv);
// Returns the x of the largest point in view (index x dx), -1.0 without a record.
float plot_find_peak(PlotView* pv);
// Puts the cursor of the current kind at x (x < 0 keeps its place).
void plot_set_cursor(PlotView* pv, float x);
// Copies the four cursors of `src`.
void plot_copy_cursors(PlotView* dst, const PlotView* src);
// Switches the axis labels (and the room they take) on or off.
void plot_show_labels(PlotView* pv, u8 on);
// Takes the zoom, data range and cursor frequency of `src`'s matching kind.
void plot_follow(PlotView* pv, const PlotView* src);
// Cursor and zoom keys; `key` is the raw key word. Returns 1 when the key
// was one of them (Left, Right, Shift+Left, Shift+Right), 0 otherwise.
int plot_handle_key(PlotView* pv, u32 key);
// Asks for a full redraw at the next plot_draw.
void plot_invalidate(PlotView* pv);
// Draws the view when it changed (or the empty frame when there is no record).
void plot_draw(PlotView* pv);
// Draws the empty frame when the view changed or last showed a record.
void plot_draw_empty(PlotView* pv);

// Returns the geometry of the view as the next drawing uses it.
PlotGeometry plot_geometry(const PlotView* pv);
// Returns 1 for the spectrum kinds 1 and 3.
int plot_is_spectrum(u32 kind);
// Returns the pixel column of point i, counted from plot_left, in the current view.
i32 plot_px(const PlotView* pv, i32 i);
// Returns the half-bin offset of spectra in the current view (0 for waveforms).
i32 plot_half_bin(const PlotView* pv);
// Returns the cursor step of a raw key word: 1, 10 or 50 by its repeat count.
i32 plot_key_step(u32 key);
// Returns the record the view shows (derived on demand), or nullptr.
SignalRecord* plot_record(const PlotView* pv);
