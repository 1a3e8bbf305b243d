// The signal of one measuring point of a plant, synthesised sample by sample
// at a chosen rate, endless and without seams: acceleration, velocity and
// displacement as the instrument's converters see them, the shock-pulse
// input and the once-per-revolution marker.
#pragma once
#include <vector>

#include "analysis/plant.h"

class PlantSynth {
public:
    // Sets the synthesis of `point` on `machine` up at `rate` samples per
    // second, from the start; `seed` chooses the random phases, slips and
    // noise (the same seed gives the same signal).
    void setup(const Plant& plant, const PlantMachine& machine, const PlantPoint& point, double rate, u64 seed);
    // The next `count` samples: acceleration in m/s², velocity in mm/s,
    // displacement in µm, the shock-pulse input (the envelope of the
    // structural ringing, m/s²) and the marker (1 during the first tenth of
    // each revolution). Any output may be nullptr.
    void generate(u32 count, float* a, float* v, float* d, float* shock, u8* marker);
    double rate() const { return rate_; }
    // The shaft frequency now, Hz.
    double shaft_hz() const;
    // The tonal lines as set up: frequency at the running speed (Hz) and
    // velocity phasor (mm/s peak); lines of several components at one
    // frequency add with these phases.
    struct Line {
        double hz, re, im;
    };
    std::vector<Line> lines() const;

private:
    struct Tone {
        double order, hz;  // as PlantLine
        double amp;        // velocity, mm/s peak
        double c, s;       // phasor
    };
    struct Impacts {
        double factor;      // defect frequency / shaft frequency
        double mod_order;   // modulation at this multiple of the shaft (0: none)
        double modulation;  // depth
        double slip;
        double gain;   // impact size, m/s² peak of the ringing
        double next;   // samples to the next impact
        double r, a1;  // the ringing: y = a1 y1 - r² y2 + sin(w) x
        double sinw;
        double y1 = 0, y2 = 0;
        double envelope = 0;
        bool vibrates;  // the ringing lies below the converter's band edge
    };
    struct Ringing {  // broadband noise through the structural resonance
        double gain, r, a1, y1 = 0, y2 = 0;
    };

    double uniform();
    double gauss_fast();
    double gauss();
    double shaft_hz_at(u64 sample) const;

    double rate_ = 0, dt_ = 0;
    double rpm_ = 0, drift_rpm_ = 0, drift_period_ = 0;
    double floor_ = 0;
    u64 sample_ = 0;
    double shaft_phase_ = 0;  // revolutions, fraction
    double shaft_turns_ = 0;  // revolutions in all (for the modulations)
    std::vector<Tone> tones_;
    std::vector<Impacts> impacts_;
    std::vector<Ringing> ringing_;
    double ia_ = 0, iv_ = 0, id_ = 0, iv1_ = 0;  // integrators of the broadband part
    double leak_ = 1;
    u64 rng_ = 1;
};
