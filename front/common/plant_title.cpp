#include "front/common/plant_title.h"

#include <filesystem>

#include "analysis/plant_source.h"

std::string plant_probe_text(const std::string& no_point)
{
    if (!plant_source_loaded()) return {};
    const Plant& plant = plant_source_plant();
    std::string t = "plant: " + (plant.name.empty() ? std::filesystem::path(plant.file).filename().string() : plant.name) +
                    ", ";
    if (plant_source_walking()) {
        const std::string& p = plant_source_walk_point();
        return t + (plant_source_walk_in_plant() ? "probe on " + p + " (route)"
                                                 : "route point " + p + " not in the plant: its noise floor");
    }
    if (plant_source_point().empty()) return t + no_point;
    return t + "probe on " + plant_source_point();
}
