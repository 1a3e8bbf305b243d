// Signal records and the result store: time signals and spectra of the
// vibration, marker and shock-pulse channels, derived on demand by FFT,
// integration and differentiation; band values, grading and averaging.
#pragma once
#include "base/types.h"

struct FrameBlock;

enum : u32 { REC_EMPTY = 0, REC_ACQUIRED = 1, REC_COMPUTED = 2 };
enum : u32 { KIND_W = 0, KIND_S = 1, KIND_E = 2, KIND_B = 3 };
enum : u32 { Q_A = 0, Q_V = 1, Q_D = 2, Q_N = 3 };

constexpr u32 RESULT_GROUPS = 4;
constexpr u32 RESULT_KINDS = 4;
constexpr u32 RESULT_SLOTS = 5;      // quantity slots; slot 4 stays empty
constexpr u32 RECORD_VALUES = 8192;  // i32 values in a record buffer (32 KB)
constexpr u32 RECORD_PAIRS = RECORD_VALUES / 2;

struct SignalRecord {
    u32 type;  // REC_EMPTY, REC_ACQUIRED, REC_COMPUTED
    u32 stamp;
    u32 kind;      // KIND_W, KIND_S, KIND_E, KIND_B
    u32 quantity;  // Q_A, Q_V, Q_D, Q_N
    u32 count;     // samples or spectrum lines
    float x0;
    float dx;
    float x_last;
    i32 peak;
    float scale;  // physical units per raw unit
    i32* data;    // own 32 KB buffer: samples, or (re, im) pairs
    u32 data_bytes;
    u32 tick;
};

struct SignalGroup {
    u32 active;
    u32 cal_set;
    float fmax;
    float band_start;
    SignalRecord rec[RESULT_KINDS][RESULT_SLOTS];
};

struct ResultStore {
    u32 valid;
    u32 stamp;
    u32 tick;
    u32 busy;
    u32 group_count;
    u32 flags;
    float rotation_hz;
    SignalGroup group[RESULT_GROUPS];
};

extern ResultStore results;

// Window of the spectra derived on demand: 0 none, 1 Hamming (the setting
// in use), 2 Hann. The band values compute their spectra without a window.
extern u32 window_mode;
// Window tables, 8193 entries each, built on first use.
const u32* window_table(u32 mode);
// Amplitude correction of a window: 1.856 Hamming, 2 Hann, 1 none.
float window_factor(u32 mode);

extern const char* const DERIVE_RECIPES[33];
extern const float CLASS_LIMITS[13];

// The store and the window back to their state at power-on.
void signal_reset();
// Empties every record of the store, each keeping its buffer (the measures
// clear the rest of a measurement's results: results_reset).
void result_store_clear();
SignalRecord* record_at(u32 group, u32 kind, u32 quantity);
// 1 with *rec the record, held or derived now; 0 when it is neither held nor derivable.
int meas_get_record(u32 group, u32 kind, u32 quantity, SignalRecord** rec);
// Empties the spectrum cell (group, kind, quantity) and makes its next
// derivation the transform of the time record of the kind before it with
// `window`, whatever the recipes say, even in an inactive group: a spectrum
// that the acquisition owes but nobody may ask for, computed when asked.
void defer_spectrum(u32 group, u32 kind, u32 quantity, u32 window);
// The time record that the empty spectrum cell (group, kind, quantity) would
// be derived from by a plain transform, with the window it would take;
// nullptr when the cell is not empty or its derivation takes another way.
const SignalRecord* spectrum_source(u32 group, u32 kind, u32 quantity, u32* window);

// Builds the acquired time record of one word column of the raw frames: the
// column's mean (the marker's: marker_zero) is its zero, `scale` is the
// unit per count.
void build_time_record(const FrameBlock& frames, u32 column, SignalRecord* rec, u32 quantity, float scale,
                       u32 marker_zero);

float x_at(const SignalRecord* rec, u32 i);
// Index of the point nearest to x, always one of the record's points: below
// x0 the first, at or past x_last the last. -1 for an empty record, and with
// a non-zero tolerance when that point is not closer to x than it.
int index_of(const SignalRecord* rec, float x, float tolerance);
u64 line_power(const SignalRecord* rec, u32 i);
void copy_record(const SignalRecord* src, SignalRecord* dst);
// 1 for acceleration, velocity and displacement, else 0 (the marker).
int is_vibration_quantity(const SignalRecord* rec);

// The record operations of the derivation; 1 done, 0 refused. The
// derivation takes its spectra with the window of `window_mode`. A
// spectrum's buffer receives all pairs of the transform (as far as it holds
// them); with `lines_only` only the record's lines, for a private work record
// that nobody reads beyond them.
int spectrum_of(const SignalRecord* in, SignalRecord* out, u32 window, bool lines_only = false);
int integrate_record(const SignalRecord* in, SignalRecord* out);
int differentiate_record(const SignalRecord* in, SignalRecord* out);

// Empties a record, keeping its buffer.
void clear_record(SignalRecord* rec);
// Largest |re| or |im| of lines from_line .. lines - 1.
i32 pair_peak(const i32* pairs, u32 from_line, u32 lines);

// Number of spectrum lines of an n-point transform.
inline u32 spectrum_lines(u32 n)
{
    return n * 100 / 256 + 1;
}
