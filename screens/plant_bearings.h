// The bearing catalogue as the plant files use it: a designation's defect
// factors from the instrument's own catalogue.
#pragma once
#include <string>

#include "analysis/plant.h"

// The factors of the bearing named `designation`: from the catalogue when it
// is loaded, otherwise from the built-in table (a plant may be read before
// the instrument starts). False when there is no such bearing.
bool plant_bearing_lookup(const std::string& designation, PlantBearingFactors* out);
