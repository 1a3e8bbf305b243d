// Routes made from a virtual plant (analysis/plant.h): the route item named
// after the plant, then its groups, machines and points as items of levels
// 1, 2 and 3 with the same names, so that a route point's path (the names
// from level 1 down joined by "/") is the plant point's path. Each point
// gets the measurement settings its faults call for.
#pragma once
#include <string>

#include "analysis/plant.h"
#include "archive/route.h"
#include "base/types.h"

// The settings of a route point, as the route file keeps them.
struct PlantPointSetup {
    bool spectrum = true;
    u32 quantity = ROUTE_QUANTITY_VELOCITY;  // ROUTE_QUANTITY_...
    i32 lines = 1600, fmin = 10, fmax = 1000, averages = 4;
    const char* why = "";  // what decided them, for the trainer
};

// The settings a point is measured with: a velocity spectrum up to 1000 Hz
// (400 Hz on a machine slower than 1000 rpm whose lines all lie below 320 Hz)
// for shaft-related, vane, electrical and gear faults within the velocity
// band; an acceleration spectrum up to 4000 Hz where bearing faults, noise
// or lines above 1000 Hz are expected. Always 1600 lines and 4 averages.
PlantPointSetup plant_point_setup(const Plant& plant, const PlantMachine& machine, const PlantPoint& point);

// The route's name: the plant's "name", else the file's name without its
// folder and extension.
std::string plant_route_name(const Plant& plant);

// The route of `plant` named `name` (UTF-8) as route JSON (the format of
// route import), or false with `error` naming the plant file and the JSON
// path of a name that does not fit a route (more than 63 bytes in
// Windows-1251, a character it lacks, a control character) or a plant with
// more items than a route holds.
bool plant_route_json(const Plant& plant, const std::string& name, std::string* json, std::string* error);

// Builds that route into `buf` (as route import does). true, or false with
// `error` as above.
bool plant_route_build(const Plant& plant, const std::string& name, RouteBuffer* buf, std::string* error);

// The path of route item `i` (the item names from level 1 down joined by
// "/", as UTF-8): for a point of a route made from a plant, the plant
// point's path.
std::string route_item_path(const RouteBuffer& buf, u32 i);
