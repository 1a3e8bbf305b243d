// The sensor calibration block of the parameter memory: the scale factors
// and zero levels the measuring module works with, kept at offset 1024 with
// a checksum and loaded once at start-up.
#pragma once
#include <cstddef>

#include "analysis/meas_module.h"
#include "base/types.h"

constexpr u32 CALIBRATION_OFFSET = 1024;
constexpr u32 CALIBRATION_SIZE = 272;
constexpr u32 CALIBRATION_CHECKSUM_AT = 270;

// Zero levels of the converter channels: the vibration channels' mid-scale
// and the full 16-bit mid-scale.
constexpr u32 CALIBRATION_ZERO_LOW = 16384;
constexpr u32 CALIBRATION_ZERO_HIGH = 32768;
// Default of the two reference values at the end of the table.
constexpr float CALIBRATION_REFERENCE = 140.0f;

// Values of `defaults_filled`.
enum : u32 { CALIBRATION_STORED = 0, CALIBRATION_DEFAULTS = 1 };

// The stored block, little-endian; unlisted bytes 0.
struct CalibrationBlock {
    u32 defaults_filled;  // CALIBRATION_DEFAULTS right after the defaults were filled in, else CALIBRATION_STORED
    u32 zero_level[2];    // CALIBRATION_ZERO_LOW, CALIBRATION_ZERO_HIGH
    MeasCalibration table;
    float reference[2];  // CALIBRATION_REFERENCE each; stored only, nothing reads them
    u8 reserved[214];
    u16 checksum;  // checksum16 of the 272 bytes with this field 0
};
static_assert(sizeof(MeasCalibration) == 36);
static_assert(sizeof(CalibrationBlock) == CALIBRATION_SIZE);
static_assert(offsetof(CalibrationBlock, table) == 12);
static_assert(offsetof(CalibrationBlock, reference) == 48);
static_assert(offsetof(CalibrationBlock, checksum) == CALIBRATION_CHECKSUM_AT);

extern CalibrationBlock calibration_block;

// Reads the block up to 8 times until its checksum matches; when it never
// does, fills in the defaults and saves them. Scale factors that are not
// numbers above 0 and up to 1000 are replaced by their defaults. The measuring
// module then works with the block's table. Returns 1 when a stored block
// was used, 0 when the defaults were.
int calibration_load();
// Marks the block as stored, seals it and writes it with verification:
// returns 1 when the written block reads back the same, else 0.
int calibration_save();
// An all-zero block (state at power-on).
void calibration_reset();
