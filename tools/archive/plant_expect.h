// What the instrument should read at a point of a virtual plant: the
// overall value of the point's quantity over its band, derived from the
// plant's model (the fault components' lines and the broadband parts, the
// way the plant source synthesises them at the setup's sample rate), and
// the lines and defect frequencies a trainer looks for in its spectrum.
// The same overall value from a measured record, for the grade.
#pragma once
#include <string>
#include <vector>

#include "analysis/plant.h"
#include "base/types.h"
#include "tools/archive/plant_route.h"

// The band of a point's overall value: velocity from 10 Hz to 1000 Hz (the
// instrument's overall band) or to the spectrum's end when lower,
// acceleration from 10 Hz to the spectrum's end (where the bearings ring),
// displacement from 10 Hz to 300 Hz (the instrument's displacement band)
// or to the spectrum's end.
struct OverallBand {
    double lo_hz, hi_hz;
};
OverallBand overall_band(u32 quantity, double fmax);

// A line of the point's spectrum: its peak amplitude in the point's
// quantity, as the spectrum's readout shows it.
struct ExpectedLine {
    double hz;
    double amplitude;
};
// A defect frequency of a bearing fault or a multiple of it, and its name.
struct ExpectedMarker {
    double hz;
    std::string label;  // "BPFO", "BPFI", "2BSF" (twice the ball spin), "FTF"
    int multiple;       // 1 for the defect frequency itself
};

struct PlantExpectation {
    u32 quantity = 0;  // Q_A, Q_V, Q_D
    OverallBand band{};
    double overall = 0;    // RMS over the band, in the quantity's unit
    double tonal = 0;      // the share of the lines (RMS)
    double broadband = 0;  // the share of impacts, noise and the noise floor (RMS), as the averaging reads it
    std::vector<ExpectedLine> lines;
    std::vector<ExpectedMarker> markers;
};

// The expectation at `point` of `machine`, whose path is `path`, measured
// with `setup`.
PlantExpectation plant_expect(const Plant& plant, const PlantMachine& machine, const PlantPoint& point,
                              const std::string& path, const PlantPointSetup& setup);

// The overall value of a measured main record over `band`: for a spectrum
// (peak amplitudes of the Hamming window, as stored) the root of the sum of
// the squared line amplitudes in the band over 2 × the window's power gain;
// for a time signal the same over the lines of its spectrum without a
// window (the way the instrument's band values take it). `data` is the
// record's raw data (samples, or re/im pairs), `scale` its unit per raw
// unit. -1 when the record holds too little to tell.
double measured_overall(bool spectrum, const i32* data, u32 count, double dx, double scale, const OverallBand& band);
// The peak amplitude of each line of a measured record, as the plot view
// shows a spectrum (for a time signal: its spectrum without a window).
std::vector<double> measured_lines(bool spectrum, const i32* data, u32 count, double dx, double scale, double* line_hz);

// The unit of a quantity ("m/s²", "mm/s", "µm").
const char* quantity_unit(u32 quantity);
// Its name ("acceleration", ...).
const char* quantity_name(u32 quantity);
