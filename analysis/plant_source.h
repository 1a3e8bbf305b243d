// The measuring module's plant source: the signal of one measuring point of
// a virtual plant in place of the synthesised one, made at the sample rate
// of the current measurement setup, endless and without seams. The
// vibration becomes converter counts through the inverse of the active
// calibration, clipped at the converter's range, as with a recorded file;
// the shock-pulse input and the temperature come from the same model.
// Everything after the converter stays the instrument's own.
#pragma once
#include <string>

#include "analysis/frames.h"
#include "analysis/plant.h"


// Makes the point at `point_path` ("group/machine/point") of `plant` the
// source from the next record on; returns "" or one line that says what is
// wrong, and then leaves the source as it was.
std::string plant_source_open(const Plant& plant, const std::string& point_path);
// The seed of the synthesis of the point at `point_path`: every point sounds
// its own way, the same from run to run.
u64 plant_point_seed(const std::string& point_path);
// Back to the other sources.
void plant_source_close();
// True while a plant point is the source.
bool plant_source_active();
// The point's path ("" when none).
const std::string& plant_source_point();
// The plant in use (empty when none).
const Plant& plant_source_plant();

// Power-on: the plant and point (host configuration) stay; the synthesis
// starts again at the next record.
void plant_source_reset();

// For the measuring module's tasks, as the file source's (`scale`: the
// calibration set in use, physical units per converter count): each returns
// false, touching nothing, when no plant point is the source.
bool plant_source_vibration(VibFrame* frames, u32 count, float dt, const CalibrationSet& scale);
bool plant_source_shock(u16* buffer, u32 count, float dt, const CalibrationSet& scale);
bool plant_source_temperature(float* celsius);
// Samples clipped at the converter's range since the point was chosen.
u64 plant_source_clipped();
