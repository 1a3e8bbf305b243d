// The measuring module's plant source: the signal of one measuring point of
// a virtual plant in place of the synthesised one, made at the sample rate
// of the current measurement setup, endless and without seams. The
// vibration becomes converter counts through the inverse of the active
// calibration, clipped at the converter's range, as with a recorded file;
// the shock-pulse input and the temperature come from the same model.
// Everything after the converter stays the instrument's own.
#pragma once
#include <string>
#include <vector>

#include "analysis/frames.h"
#include "analysis/plant.h"

// Makes `plant` the plant in use, with the point at `point_path`
// ("group/machine/point") under the probe outside a route ("" for none:
// outside a route the other sources measure), from the next record on;
// returns "" or one line that says what is wrong, and then leaves
// everything as it was.
std::string plant_source_open(const Plant& plant, const std::string& point_path);
// The seed of the synthesis of the point at `point_path`: every point sounds
// its own way, the same from run to run.
u64 plant_point_seed(const std::string& point_path);
// Puts the probe on another point of the plant in use outside a route ("":
// on none); "" or one line, as plant_source_open.
std::string plant_source_choose(const std::string& point_path);
// The plant put away: back to the other sources.
void plant_source_close();
// True while a plant is in use (with or without a point).
bool plant_source_loaded();
// True while a plant point (or, on a route, the plant's noise floor) is the
// source.
bool plant_source_active();
// The point chosen outside a route ("" when none).
const std::string& plant_source_point();
// The plant in use (empty when none).
const Plant& plant_source_plant();
// Whether the plant in use has a point at `path`.
bool plant_source_holds(const std::string& path);
// Counts the plants opened and closed: a screen that looked at the plant
// in use sees by it that another one came (or none).
u32 plant_source_generation();

// The route walk. While the route screen has a route with points of the
// plant, the point under its cursor (its path in the route, "group/machine/
// point") is the source; a route point the plant does not hold measures the
// plant's noise floor alone (a spot with no machine: white acceleration
// noise of `noise_floor`, 35 °C, no marker pulses). Nothing happens without a
// plant. Staying on the same point keeps its signal running on.
void plant_source_walk(const std::string& route_point_path);
// The walk has left the route: the point chosen outside it again.
void plant_source_walk_end();
bool plant_source_walking();
// The route point under the cursor ("" when not walking), and whether the
// plant holds it.
const std::string& plant_source_walk_point();
bool plant_source_walk_in_plant();
// The route points not in the plant that records were made of, in the order
// first measured (since the plant was opened).
const std::vector<std::string>& plant_source_walk_missing();

// Power-on: the plant and the point chosen (host configuration) stay; a
// walk ends; the synthesis starts again at the next record.
void plant_source_reset();

// For the measuring module's tasks, as the file source's (`scale`: the
// calibration set in use, physical units per converter count): each returns
// false, touching nothing, when no plant point is the source.
bool plant_source_vibration(VibFrame* frames, u32 count, float dt, const CalibrationSet& scale);
bool plant_source_shock(u16* buffer, u32 count, float dt, const CalibrationSet& scale);
bool plant_source_temperature(float* celsius);
// Samples clipped at the converter's range since the plant was opened.
u64 plant_source_clipped();
