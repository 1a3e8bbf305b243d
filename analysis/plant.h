// A virtual plant: groups of machines, each with its running speed, its
// bearings and its measuring points, and at every point the vibration the
// machine's faults give there, as a sum of components with a severity in
// physical units. Read from a versioned JSON file (plant.schema.json in
// examples/plants describes it); a file is taken whole or not at all.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "base/types.h"

// The version of the plant file format this program reads.
constexpr u32 PLANT_FORMAT_VERSION = 1;

// The band in which a component's severity (velocity RMS) is measured:
// the instrument's overall band.
constexpr double PLANT_BAND_LO_HZ = 10;
constexpr double PLANT_BAND_HI_HZ = 1000;

// Defaults of the optional fields.
constexpr double PLANT_LINE_HZ_DEFAULT = 50;
constexpr double PLANT_TEMPERATURE_DEFAULT = 35;
constexpr double PLANT_NOISE_FLOOR_DEFAULT = 0.02;   // m/s² RMS, broadband, at every point
constexpr double PLANT_RESONANCE_HZ_DEFAULT = 3000;  // structural resonance the impacts ring at
constexpr double PLANT_DAMPING_DEFAULT = 0.05;       // its damping ratio
constexpr double PLANT_SLIP_DEFAULT = 0.01;          // random slip, share of the impact period (1 sigma)
constexpr double PLANT_MODULATION_DEFAULT = 0.5;     // inner-race / rolling-element modulation depth
constexpr double PLANT_SIDEBAND_DEFAULT = 0.3;       // gear: first sideband against the mesh line

enum class PlantDirection { Vertical, Horizontal, Axial };

enum class PlantFault {
    Unbalance,
    Misalignment,
    Looseness,
    BentShaft,
    OuterRace,
    InnerRace,
    RollingElement,
    Cage,
    GearMesh,
    VanePass,
    Electrical,
    Noise,
};

// A bearing's defect frequencies as multiples of the shaft frequency.
struct PlantBearingFactors {
    double ftf = 0;   // cage
    double bpfo = 0;  // outer race
    double bpfi = 0;  // inner race
    double bsf = 0;   // rolling-element spin
};

struct PlantComponent {
    PlantFault kind = PlantFault::Unbalance;
    // Velocity RMS in mm/s in the overall band; for the bearing faults and
    // noise the acceleration RMS in m/s² (their energy lies above the band).
    double severity = 0;
    std::string bearing;  // bearing faults: the machine's bearing designation
    PlantBearingFactors factors;
    double resonance_hz = PLANT_RESONANCE_HZ_DEFAULT;
    double damping = PLANT_DAMPING_DEFAULT;
    double slip = PLANT_SLIP_DEFAULT;
    double modulation = PLANT_MODULATION_DEFAULT;
    u32 teeth = 0;   // gear mesh
    u32 blades = 0;  // vane pass
    double sideband = PLANT_SIDEBAND_DEFAULT;
};

struct PlantPoint {
    std::string name;
    PlantDirection direction = PlantDirection::Vertical;
    double temperature = PLANT_TEMPERATURE_DEFAULT;  // °C
    std::vector<PlantComponent> components;
};

struct PlantMachine {
    std::string name;
    double rpm = 0;
    double drift_rpm = 0;       // slow drift: rpm ± drift_rpm ...
    double drift_period_s = 0;  // ... over this period (0: steady)
    std::vector<std::string> bearings;
    std::vector<PlantPoint> points;
};

struct PlantGroup {
    std::string name;
    std::vector<PlantMachine> machines;
};

struct Plant {
    std::string file;
    std::string name;
    double line_hz = PLANT_LINE_HZ_DEFAULT;
    double noise_floor = PLANT_NOISE_FLOOR_DEFAULT;
    std::vector<PlantGroup> groups;
};

// Finds the defect factors of a bearing designation; false when the
// catalogue has no such bearing. The caller passes the instrument's
// catalogue lookup.
using PlantBearingLookup = std::function<bool(const std::string& designation, PlantBearingFactors* out)>;

// Reads the plant file at `path` into `out`: "" or one line naming the file,
// the JSON path and what is wrong ("plant.json: $.groups[0].machines[1].rpm:
// must be a number above 0"); `out` is untouched on a failure.
std::string plant_load(const std::string& path, const PlantBearingLookup& lookup, Plant* out);
// The same from text already read; `file` names it in the messages.
std::string plant_parse(const std::string& text, const std::string& file, const PlantBearingLookup& lookup, Plant* out);

// A point's path: "group/machine/point".
std::string plant_point_path(const PlantGroup& g, const PlantMachine& m, const PlantPoint& p);
// Every point's path in file order.
std::vector<std::string> plant_point_paths(const Plant& plant);
// The point at `path` and its machine, or false.
bool plant_find_point(const Plant& plant, const std::string& path, const PlantMachine** machine,
                      const PlantPoint** point);

// The name of a fault kind in the file ("unbalance", "outer_race", ...).
const char* plant_fault_name(PlantFault kind);
// True for the kinds whose severity is an acceleration (bearing faults, noise).
bool plant_fault_in_acceleration(PlantFault kind);

// One line of a tonal component: at `order` times the shaft frequency, or at
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
