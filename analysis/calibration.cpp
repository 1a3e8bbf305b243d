#include "analysis/calibration.h"

#include <cmath>
#include <cstring>

#include "base/checksum.h"
#include "host/fram.h"

CalibrationBlock calibration_block;

namespace {

void fill_defaults(CalibrationBlock* b)
{
    std::memset(b, 0, sizeof *b);
    b->defaults_filled = CALIBRATION_DEFAULTS;
    b->zero_level[0] = CALIBRATION_ZERO_LOW;
    b->zero_level[1] = CALIBRATION_ZERO_HIGH;
    b->table = MEAS_CALIBRATION_DEFAULT;
    b->reference[0] = b->reference[1] = CALIBRATION_REFERENCE;
}

// Larger factors are no calibration of these sensors: their products would
// leave the range of the values the screens convert to integers.
constexpr float SCALE_MAX = 1000.0f;

bool usable_scale(float f)
{
    return std::isfinite(f) && f > 0.0f && f <= SCALE_MAX;
}

// Replaces unusable scale factors of a stored table by the defaults, so
// that no measured value becomes infinite, not a number or too large to
// draw.
void sanitise(MeasCalibration* t)
{
    const MeasCalibration& d = MEAS_CALIBRATION_DEFAULT;
    for (int s = 0; s < 2; ++s)
        for (int q = 0; q < 3; ++q)
            if (!usable_scale(t->set[s][q])) t->set[s][q] = d.set[s][q];
    if (!usable_scale(t->marker_scale)) t->marker_scale = d.marker_scale;
    if (!usable_scale(t->shock_scale)) t->shock_scale = d.shock_scale;
}

}  // namespace

void calibration_reset()
{
    std::memset(&calibration_block, 0, sizeof calibration_block);
}

int calibration_load()
{
    CalibrationBlock& b = calibration_block;
    const int stored = param_read_checked(CALIBRATION_OFFSET, &b, CALIBRATION_SIZE, CALIBRATION_CHECKSUM_AT);
    if (stored) {
        b.defaults_filled = CALIBRATION_STORED;
        sanitise(&b.table);
    } else {
        fill_defaults(&b);
        calibration_save();
    }
    meas_calibration = b.table;
    return stored;
}

int calibration_save()
{
    CalibrationBlock& b = calibration_block;
    b.defaults_filled = CALIBRATION_STORED;
    checksum_store(&b, CALIBRATION_SIZE, CALIBRATION_CHECKSUM_AT);
    return param_write_verified(CALIBRATION_OFFSET, &b, CALIBRATION_SIZE);
}
