// Measurement setups the measuring tests use, by their sample rates.
#pragma once
#include "base/types.h"

enum class SetupRate {
    Hz1024,   // signal mode: 1024 samples 1 ms apart
    Hz2560,   // spectrum 1000 Hz: 1024 samples
    Hz10240,  // spectrum 4 kHz, 1600 lines: 4096 samples
};

// Makes `s` the measurement setup (and marks the setup changed).
void use_setup(SetupRate s);

// The measuring module as at power-on with the default settings, the
// internal sensor, the default calibration and an empty result store; the
// random generator seeded with `seed`; setup `s`.
void measuring_fresh(SetupRate s, u32 seed);
