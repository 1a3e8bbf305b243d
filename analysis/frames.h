// The converter's raw frames: what the measuring module acquires and its
// file source delivers, and what the signal records are built from; and the
// calibration set that makes physical units of their counts.
#pragma once
#include "base/types.h"

// Zero level of the vibration channels' converter words (mid-range).
constexpr u16 MID_SCALE = 16384;

struct VibFrame {
    u16 w[7];  // 0 acceleration, 1 velocity, 2 displacement, 3..6 marker
};
static_assert(sizeof(VibFrame) == 14);

// Raw frames of one acquisition: `count` samples `dt` seconds apart, taken
// at `stamp` and `tick`.
struct FrameBlock {
    const VibFrame* frames;
    u32 count;
    float dt;
    u32 stamp;
    u32 tick;
};

// One calibration set of the vibration channels, physical unit per count:
// acceleration (m/s²), velocity (mm/s), displacement (µm).
using CalibrationSet = float[3];
