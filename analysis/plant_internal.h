// The lines of the tonal fault models, shared by the plant file's checks
// and the synthesis.
#pragma once
#include <vector>

#include "analysis/plant.h"

// One line of a component: at `order` times the shaft frequency, or at
// `hz` when `order` is 0; `weight` relative to the component's other lines.
struct PlantLine {
    double order;
    double hz;
    double weight;
};

// The lines of a tonal component (empty for bearing faults and noise).
std::vector<PlantLine> plant_lines(const PlantComponent& c, PlantDirection direction, double line_hz);
// Frequency of a line at shaft frequency `shaft_hz`.
inline double plant_line_hz(const PlantLine& l, double shaft_hz)
{
    return l.order > 0 ? l.order * shaft_hz : l.hz;
}
// Velocity amplitude (mm/s, peak) of weight 1, so that the lines of `lines`
// that lie in the overall band at `shaft_hz` have a velocity RMS of
// `severity`; 0 when none lies in the band.
double plant_line_scale(const std::vector<PlantLine>& lines, double shaft_hz, double severity);
