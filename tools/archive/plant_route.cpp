#include "tools/archive/plant_route.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "tools/archive/json.h"
#include "tools/archive/route_io.h"
#include "tools/archive/text.h"

namespace {

// Where a velocity spectrum ends, and where the acceleration spectrum of the
// bearing points ends (the instrument's upper frequencies).
constexpr i32 FMAX_VELOCITY = 1000, FMAX_SLOW = 400, FMAX_ACCELERATION = 4000;
// A machine slower than this whose lines all lie below SLOW_TOP_HZ gets the
// finer 400 Hz spectrum.
constexpr double SLOW_RPM = 1000, SLOW_TOP_HZ = 320;

std::string point_where(size_t g, size_t m, size_t p)
{
    return "$.groups[" + std::to_string(g) + "].machines[" + std::to_string(m) + "].points[" + std::to_string(p) + "]";
}

const char* quantity_word(u32 q)
{
    return q == ROUTE_QUANTITY_ACCELERATION ? "acceleration" : "velocity";
}

}  // namespace

PlantPointSetup plant_point_setup(const Plant& plant, const PlantMachine& machine, const PlantPoint& point)
{
    PlantPointSetup s;
    const double shaft = machine.rpm / 60.0;
    double top = 0;  // the highest tonal line
    bool broadband = false;
    for (const PlantComponent& c : point.components) {
        if (plant_fault_in_acceleration(c.kind)) {
            broadband = true;
            continue;
        }
        for (const PlantLine& l : plant_lines(c, point.direction, plant.line_hz))
            top = std::max(top, plant_line_hz(l, shaft));
    }
    if (broadband) {
        s.quantity = ROUTE_QUANTITY_ACCELERATION;
        s.fmax = FMAX_ACCELERATION;
        s.why = "bearing fault or noise: acceleration up to 4000 Hz";
    } else if (top > FMAX_VELOCITY) {
        s.quantity = ROUTE_QUANTITY_ACCELERATION;
        s.fmax = FMAX_ACCELERATION;
        s.why = "lines above 1000 Hz: acceleration up to 4000 Hz";
    } else if (machine.rpm < SLOW_RPM && top < SLOW_TOP_HZ) {
        s.fmax = FMAX_SLOW;
        s.why = "a slow machine (below 1000 rpm): velocity up to 400 Hz";
    } else {
        s.why = "shaft, vane, gear or electrical lines: velocity up to 1000 Hz";
    }
    return s;
}

std::string plant_route_name(const Plant& plant)
{
    if (!plant.name.empty()) return plant.name;
    return std::filesystem::path(plant.file).stem().string();
}

bool plant_route_json(const Plant& plant, const std::string& name, std::string* json, std::string* error)
{
    // Every name is checked here, so that a fault names the plant's JSON path.
    std::string cp, why;
    auto fits = [&](const std::string& utf8, const std::string& where) {
        if (route_name_from_utf8(utf8, &cp, &why)) return true;
        *error = plant.file + ": " + where + ": " + why;
        return false;
    };
    if (!fits(name, plant.name.empty() ? std::string("the route's name (the file's name)") : "$.name")) return false;
    size_t items = 1;
    for (const PlantGroup& g : plant.groups) {
        items += 1 + g.machines.size();
        for (const PlantMachine& m : g.machines) items += m.points.size();
    }
    if (items > ROUTE_MAX_ITEMS) {
        *error = plant.file + ": " + std::to_string(items - 1) +
                 " groups, machines and points; a route holds at most " + std::to_string(ROUTE_MAX_ITEMS - 1) +
                 " besides the route item";
        return false;
    }
    JsonWriter w;
    w.begin_object();
    w.value("name", name);
    w.begin_array("items");
    for (size_t gi = 0; gi < plant.groups.size(); ++gi) {
        const PlantGroup& g = plant.groups[gi];
        if (!fits(g.name, "$.groups[" + std::to_string(gi) + "].name")) return false;
        w.begin_object().value("group", g.name).begin_array("items");
        for (size_t mi = 0; mi < g.machines.size(); ++mi) {
            const PlantMachine& m = g.machines[mi];
            if (!fits(m.name, "$.groups[" + std::to_string(gi) + "].machines[" + std::to_string(mi) + "].name"))
                return false;
            w.begin_object().value("group", m.name).begin_array("items");
            for (size_t pi = 0; pi < m.points.size(); ++pi) {
                const PlantPoint& p = m.points[pi];
                if (!fits(p.name, point_where(gi, mi, pi) + ".name")) return false;
                const PlantPointSetup s = plant_point_setup(plant, m, p);
                w.begin_object()
                    .value("point", p.name)
                    .value("type", s.spectrum ? "spectrum" : "waveform")
                    .value("quantity", quantity_word(s.quantity))
                    .value("lines", s.lines)
                    .value("fmin", s.fmin)
                    .value("fmax", s.fmax)
                    .value("averages", s.averages)
                    .end();
            }
            w.end().end();
        }
        w.end().end();
    }
    w.end().end();
    *json = w.text();
    return true;
}

bool plant_route_build(const Plant& plant, const std::string& name, RouteBuffer* buf, std::string* error)
{
    std::string json;
    if (!plant_route_json(plant, name, &json, error)) return false;
    if (!route_from_json(json, name, buf, error)) {
        *error = plant.file + ": " + *error;
        return false;
    }
    return true;
}

std::string route_item_path(const RouteBuffer& buf, u32 i)
{
    std::string path;
    for (i32 p = static_cast<i32>(i); p > 0 && static_cast<u32>(p) < buf.header.count; p = buf.items[p].parent) {
        const RouteItem& it = buf.items[p];
        const std::string name = cp1251_to_utf8(std::string(it.name, strnlen(it.name, ROUTE_NAME_SIZE)));
        path = path.empty() ? name : name + "/" + path;
        if (it.parent >= p) break;  // (a tree's parent comes first)
    }
    return path;
}
